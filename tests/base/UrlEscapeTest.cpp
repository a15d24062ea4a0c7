#include <gtest/gtest.h>

#include "base/Text.h"
#include "sources/PageFetch.h"

namespace {

// Only what cannot stand in a request line is escaped; an escape already written, and
// every other printable byte, goes out as the user wrote it.
TEST(UrlEscape, EscapesOnlyWhatCannotStandInARequestLine) {
  EXPECT_EQ(qb::EscapeUnsafeUrlBytes(""), "");
  EXPECT_EQ(qb::EscapeUnsafeUrlBytes("/a b\t中?q=%20&x#y"), "/a%20b%09%E4%B8%AD?q=%20&x#y");
  EXPECT_EQ(qb::EscapeUnsafeUrlBytes(std::string("\x01\x7F~!", 4)), "%01%7F~!");

  // A source's address gets its scheme only when it has none, in any letter case.
  EXPECT_EQ(qb::SourceRequestUrl("HTTP://x/a b"), "HTTP://x/a%20b");
  EXPECT_EQ(qb::SourceRequestUrl("x/ä"), "http://x/%C3%A4");
}

}  // namespace
