// The proxy line parser. Whatever it accepts is a proxy the list can hold: its fields
// written in the normal form (all four separators, as the extractor hands lines
// over) parse again to the same five fields, and written as a list file line they
// read back the same whenever the file form takes them. Its shortcut for the normal
// form must agree with the general path on every line.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/Text.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  ProxyFields fast;
  ProxyFields general;
  const bool accepted = qb::ParseProxyLine(line, fast);
  const bool acceptedGeneral = qb::ParseProxyLineGeneral(line, general.addr, general.port, general.type,
                                                         general.timeStatus, general.remark);
  if (accepted != acceptedGeneral) qbfuzz::Fail("the shortcut and the general parser disagree", line);
  if (!accepted) return 0;
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
