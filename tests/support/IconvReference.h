// The C library's converter from GB18030 as the measure of the legacy decoder: the
// decoder's own short ways must give the converter's text, byte for byte.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace qbtest {

class IconvReference {
 public:
  IconvReference() : m_cd(iconv_open("UTF-8", "GB18030")) {}
  ~IconvReference() {
    if (Ok()) iconv_close(m_cd);
  }
  IconvReference(const IconvReference&) = delete;
  IconvReference& operator=(const IconvReference&) = delete;

  // False when this C library has no GB18030 converter.
  bool Ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

  // One pass of the converter over the whole text, a byte it cannot take replaced by
  // U+FFFD. Starts from the initial state, whatever an earlier text left.
  std::string Decode(std::string_view in) {
    iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char* src = const_cast<char*>(in.data());
    std::size_t left = in.size();
    while (left > 0) {
      char buf[256];
      char* dst = buf;
      std::size_t room = sizeof buf;
      const std::size_t rc = iconv(m_cd, &src, &left, &dst, &room);
      out.append(buf, static_cast<std::size_t>(dst - buf));
      if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
        out += "\xEF\xBF\xBD";
        ++src;
        --left;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
      }
    }
    return out;
  }

 private:
  iconv_t m_cd;
};

}  // namespace qbtest
