#include "FuzzSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "proxy/ProxyListModel.h"

namespace qbfuzz {

namespace {

struct Scratch {
  std::string path;
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qbfuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) Fail("cannot make a scratch directory", pattern);
    path = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::string& ScratchDir() {
  static Scratch scratch;
  return scratch.path;
}

std::string WriteScratchFile(const std::string& name, std::string_view bytes) {
  const std::string path = ScratchDir() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail("cannot write a scratch file", path);
  return path;
}

std::vector<Row> RowsOf(const qb::CProxyListModel& list) {
  std::vector<Row> rows;
  rows.reserve(list.RowCount());
  for (int i = 0; i < list.RowCount(); ++i) {
    const qb::CProxyEntry& e = *list.Entry(i);
    rows.push_back({e.Addr(), e.Port(), std::string(e.Type()), e.TimeStatus(), std::string(e.Remark())});
  }
  return rows;
}

void Fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "property failed: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

}  // namespace qbfuzz

#include "base/Prompt.h"

namespace qbfuzz {

namespace {

class SilentPrompt : public qb::IUserPrompt {
 public:
  qb::MsgResult Message(const std::string&, const std::string&, qb::MsgIcon,
                        qb::MsgButtons buttons) override {
    return buttons == qb::MsgButtons::YesNo ? qb::MsgResult::No : qb::MsgResult::Ok;
  }
  std::optional<std::string> OpenFile(const qb::FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const qb::FileDialogSpec&) override { return std::nullopt; }
};

}  // namespace

void SilencePrompts() {
  static SilentPrompt prompt;
  qb::SetPrompt(&prompt);
}

}  // namespace qbfuzz
