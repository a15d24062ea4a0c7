// Decoding legacy text takes a short way for ASCII and two-byte characters and leaves
// the rest to the C library's converter; the result must be the converter's own, byte
// for byte, whatever the mix, so the converter itself is the measure here.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "base/Text.h"
#include "support/IconvReference.h"

namespace {

// A converter of its own for every text, so that none carries state from the one before.
std::string ConverterDecode(const std::string& in) {
  qbtest::IconvReference converter;
  EXPECT_TRUE(converter.Ok());
  return converter.Decode(in);
}

// Texts of ASCII, two-byte characters (some with trail bytes that are letters or '@'),
// four-byte sequences, bytes outside GB18030, and characters cut short, in any order.
std::string RandomLegacyText(std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 9), lead(0x81, 0xFE), trail(0x40, 0xFE), digit(0x30, 0x39),
      ascii(0x20, 0x7E), length(0, 40), any(0, 255);
  std::string s;
  for (int n = length(rng); n > 0; --n) {
    switch (kind(rng)) {
      case 0:
      case 1:
      case 2:
        s += static_cast<char>(ascii(rng));
        break;
      case 3:
      case 4:
      case 5:
        s += static_cast<char>(lead(rng));
        s += static_cast<char>(trail(rng));
        break;
      case 6:  // a four-byte sequence
        s += static_cast<char>(lead(rng));
        s += static_cast<char>(digit(rng));
        s += static_cast<char>(lead(rng));
        s += static_cast<char>(digit(rng));
        break;
      case 7:  // a lead byte alone, or before a digit
        s += static_cast<char>(lead(rng));
        if (any(rng) % 2) s += static_cast<char>(digit(rng));
        break;
      case 8:
        s += static_cast<char>(any(rng));
        break;
      default:
        s += any(rng) % 2 ? '\n' : ' ';
        break;
    }
  }
  return s;
}

TEST(LegacyDecode, GivesTheConvertersTextForEveryMix) {
  std::mt19937 rng(20261208);
  for (int i = 0; i < 20000; ++i) {
    const std::string text = RandomLegacyText(rng);
    std::string appended = "kept:";
    qb::AppendDecodedLegacy(text, appended);
    const std::string expected = ConverterDecode(text);
    ASSERT_EQ(appended, "kept:" + expected) << "text " << i;
    if (!qb::IsValidUtf8(text)) {
      ASSERT_EQ(qb::DecodeLegacyLine(text), expected) << "text " << i;
    }
  }
}

TEST(LegacyDecode, EveryTwoByteCharacterAndTheFourByteOnes) {
  std::string all;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      all += static_cast<char>(lead);
      all += static_cast<char>(trail);
    }
  }
  // A few four-byte characters among them: U+0080, a CJK extension, U+10000.
  all +=
      "\x81\x30\x81\x30"
      "\x82\x35\x87\x38"
      "\x90\x30\x81\x30";
  std::string decoded;
  qb::AppendDecodedLegacy(all, decoded);
  EXPECT_EQ(decoded, ConverterDecode(all));
  EXPECT_EQ(qb::DecodeLegacyLine("\xB2\xE2\xCA\xD4 1.2.3.4:80"), "测试 1.2.3.4:80");
}

}  // namespace
