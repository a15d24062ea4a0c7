// The proxy line parser. Whatever it accepts is a proxy the list can hold: its fields
// written in the normal form (all four separators, as the extractor hands lines
// over) parse again to the same five fields, and written as a list file line they
// read back the same whenever the file form takes them. Its shortcut for the normal
// form must agree with the general path on every line. A row made of any five texts
// (the input cut at '\x01') gives each of them back byte for byte, however it keeps
// them, and names the same proxy as another row exactly when their keys are equal.
// A key packed straight from a line is the key packed from the fields the parser
// splits it into, and two lines pack to the same word only for the same key.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"
#include "proxy/PackedProxyKey.h"
#include "proxy/ProxyEntry.h"

using qb::ProxyFields;

namespace {

std::string Show(const ProxyFields& f) {
  return f.addr + "|" + f.port + "|" + f.type + "|" + f.timeStatus + "|" + f.remark;
}

bool Same(const ProxyFields& a, const ProxyFields& b) {
  return a.addr == b.addr && a.port == b.port && a.type == b.type && a.timeStatus == b.timeStatus &&
         a.remark == b.remark;
}

// The five fields of a row cut from any bytes, and the same row with its address,
// port and type in other letter cases.
void CheckStoredRow(std::string_view bytes) {
  std::string f[5];
  for (int i = 0; i < 5; ++i) {
    const std::size_t cut = i < 4 ? bytes.find('\x01') : std::string_view::npos;
    f[i].assign(bytes.substr(0, cut));
    bytes = cut == std::string_view::npos ? std::string_view() : bytes.substr(cut + 1);
  }
  const qb::CProxyEntry e(f[0], f[1], f[2], f[3], f[4]);
  const std::string shown = f[0] + "|" + f[1] + "|" + f[2] + "|" + f[3] + "|" + f[4];
  if (e.Addr() != f[0] || e.Port() != f[1] || e.Type() != f[2] || e.TimeStatus() != f[3] ||
      e.Remark() != f[4])
    qbfuzz::Fail("a row gives back other fields", shown);
  std::string line = f[0] + ":" + f[1] + "@" + f[2];
  if (!f[3].empty()) line += "$" + f[3];
  if (!f[4].empty()) line += "#" + f[4];
  if (qb::FormatFileLine(e) != line) qbfuzz::Fail("a row writes another file line", shown);
  const double rank = e.StatusRank(), want = qb::TimeStatusRank(f[3]);
  if (!(rank == want || (rank != rank && want != want)) || e.PortNumber() != qb::CAtoi(f[1]) ||
      e.HasTime() != qb::IsTimeText(f[3]))
    qbfuzz::Fail("a row orders differently from its texts", shown);

  const std::string upper[3] = {qb::AsciiUpper(f[0]), qb::AsciiUpper(f[1]), qb::AsciiUpper(f[2])};
  const qb::CProxyEntry other(upper[0], upper[1], upper[2], "", "");
  if (!e.SameKey(other) || !other.SameKey(e) || e.KeyHash() != other.KeyHash())
    qbfuzz::Fail("a row and its upper-cased key are different proxies", shown);
  const qb::CProxyEntry changed(f[0] + "0", f[1], f[2], "", "");
  if (e.SameKey(changed)) qbfuzz::Fail("rows of different keys are the same proxy", shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  CheckStoredRow(line);
  ProxyFields fast;
  ProxyFields general;
  const bool accepted = qb::ParseProxyLine(line, fast);
  const bool acceptedGeneral = qb::ParseProxyLineGeneral(line, general.addr, general.port, general.type,
                                                         general.timeStatus, general.remark);
  if (accepted != acceptedGeneral) qbfuzz::Fail("the shortcut and the general parser disagree", line);
  if (!accepted) return 0;
  // Packing is one to one: a packed key's fields as numbers pack the same, and no
  // other type packs to the same word.
  if (const std::uint64_t packed = qb::PackedProxyKey(fast); packed != 0) {
    const std::uint32_t address = static_cast<std::uint32_t>(packed >> 24);
    const std::string written = std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 255) +
                                "." + std::to_string(address >> 8 & 255) + "." +
                                std::to_string(address & 255);
    const unsigned port = static_cast<unsigned>(packed >> 8 & 0xFFFF);
    if (written != fast.addr || std::to_string(port) != fast.port)
      qbfuzz::Fail("a packed key holds another address or port than its fields", line);
    const std::string type = qb::AsciiUpper(fast.type);
    if (qb::PackedProxyKeyOf(address, port, type) != packed)
      qbfuzz::Fail("a packed key's numbers pack otherwise", line);
    if (qb::PackedProxyKeyOf(address, port, type == "FTP" ? "HTTP" : "FTP") == packed)
      qbfuzz::Fail("two types pack to one key", line);
  }
  if (!Same(fast, general)) qbfuzz::Fail("the shortcut and the general parser split differently", line);

  const qb::CProxyEntry entry(fast.addr, fast.port, fast.type, fast.timeStatus, fast.remark);
  const std::string normal =
      fast.addr + ":" + fast.port + "@" + fast.type + "$" + fast.timeStatus + "#" + fast.remark;
  ProxyFields again;
  if (!qb::ParseProxyLine(normal, again)) qbfuzz::Fail("the normal form of accepted fields is refused", line);
  if (!Same(again, fast)) {
    qbfuzz::Fail("the normal form parses to other fields", Show(fast) + " -> " + Show(again));
  }
  // The list file form refuses fields the program never writes (a padded or empty
  // field); what it takes must come back whole.
  ProxyFields fromFile;
  if (qb::ParseFileLine(qb::FormatFileLine(entry), fromFile) && !Same(fromFile, fast)) {
    qbfuzz::Fail("the list file form reads back other fields", Show(fast) + " -> " + Show(fromFile));
  }
  // The line the list shows and copies ("address:port@type") names the same proxy.
  ProxyFields shown;
  if (!qb::ParseProxyLine(qb::FormatProxyLine(entry), shown)) qbfuzz::Fail("a shown line is refused", line);
  if (qb::ProxyKey(shown.addr, shown.port, shown.type) != qb::ProxyKey(fast.addr, fast.port, fast.type)) {
    qbfuzz::Fail("the shown line names another proxy", line);
  }
  return 0;
}
