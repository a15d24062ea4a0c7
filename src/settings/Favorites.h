// The favourite marks of the proxy list: their text in the profile, and the automatic
// choice after a verification run over the whole list.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace qb {

class CProxyEntry;
class CProxyListModel;
class CSettings;
struct ProxyScore;

// " %d" for every ticked row, in index order: " 0 3 7"; empty when none is ticked.
std::string FavoritesText(const CProxyListModel& list);
// Ticks the rows a favourites text names. White space at both ends is ignored; the
// pieces between single blanks are read from left to right as by atoi, and an empty
// piece (two blanks in a row) ends the reading. Indexes without a row change nothing;
// rows not named keep their tick.
void ApplyFavoritesText(CProxyListModel& list, std::string_view text);

// The profile: $XDG_CONFIG_HOME/<executable name>.INI (~/.config when the variable
// is unset), section "Quillberry", key "FavoriteProxies".
std::string FavoritesProfilePath();
// The profile that keeps the marks of the list in dataDir. Marks are row positions,
// so they must never cross lists: the default data directory uses defaultProfile (the
// documented per-user file), any other directory a file of the same name inside it.
std::string FavoritesProfileFor(const std::string& dataDir, const std::string& defaultProfile);
// The favourites text the profile at iniPath holds (section "Quillberry", key
// "FavoriteProxies"); empty when it holds none or cannot be read.
std::string ReadFavoritesProfile(const std::string& iniPath);
// Sets the favourites text in the profile at iniPath, keeping every other line of it,
// and writes it whole and atomically. False when it could not be written.
bool WriteFavoritesProfile(const std::string& iniPath, std::string_view text);
// The profile's text with the favourites text set (what WriteFavoritesProfile
// writes).
std::string WithFavoritesText(std::string_view profile, std::string_view text);

// The proxy lines of the ticked rows, fastest first by their verification time; rows
// without a time (not verified, or failed) follow in list order. The failover script
// lists them after the proxy it is made for.
// leftOut, when given, names rows that never stand there (proxies caught tampering).
using RowLeftOut = std::function<bool(const CProxyEntry&)>;
std::vector<std::string> FavoriteProxyLines(const CProxyListModel& list, const RowLeftOut& leftOut = {});

// After a run over the whole list, sorted by time: when m_bAutoAddToFavorite is set,
// the fastest m_nFavorites HTTP and HTTPS rows under 60 seconds become the ticked rows.
// Rows of other types that answered in time keep their tick until the last favourite
// is chosen; every other row is unticked.
// Rows leftOut names are unticked whatever their time.
void ChooseFavorites(CProxyListModel& list, const CSettings& settings, const RowLeftOut& leftOut = {});
// The same choice ranked by the history (Options.ini [History] FavoritesByScore=1):
// of the HTTP and HTTPS rows under 60 seconds in this run, the m_nFavorites with the
// highest uptime over their latest checks become the ticked rows, a lower median time
// first among equal uptimes, then the list's order. A row without history ranks last.
// The other rows are treated as by ChooseFavorites.
void ChooseFavoritesByScore(CProxyListModel& list, const CSettings& settings,
                            const std::unordered_map<std::string, ProxyScore>& scores,
                            const RowLeftOut& leftOut = {});

}  // namespace qb
