#include "settings/Favorites.h"

#include <QDir>
#include <QSettings>
#include <QString>

#include <algorithm>
#include <utility>

#include "base/Files.h"
#include "base/ProgramDir.h"
#include "base/Text.h"
#include "history/History.h"
#include "proxy/ProxyListModel.h"
#include "settings/Settings.h"

namespace qb {

namespace {

const char* const kProfileSection = "Quillberry";
const char* const kFavoritesKey = "FavoriteProxies";

std::string ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "") + "/.config";
}

}  // namespace

std::string FavoritesText(const CProxyListModel& list) {
  std::string text;
  for (int row = 0; row < list.RowCount(); ++row) {
    if (list.IsFavorite(row)) text += qb::Format(" %d", row);
  }
  return text;
}

void ApplyFavoritesText(CProxyListModel& list, std::string_view text) {
  std::string_view rest = qb::Trim(text);
  while (true) {
    const std::size_t blank = rest.find(' ');
    const std::string_view piece = qb::Trim(rest.substr(0, blank));
    if (piece.empty()) return;
    list.SetFavorite(qb::CAtoi(piece), true);
    if (blank == std::string_view::npos) return;
    rest = rest.substr(blank + 1);
  }
}

std::string FavoritesProfilePath() {
  std::string exe = ExecutablePath();
  const std::size_t slash = exe.rfind('/');
  if (slash != std::string::npos) exe = exe.substr(slash + 1);
  if (exe.empty()) exe = "quillberry";
  return ConfigHome() + "/" + exe + ".INI";
}

std::string FavoritesProfileFor(const std::string& dataDir, const std::string& defaultProfile) {
  if (IsDefaultDataDir(dataDir)) return defaultProfile;
  const std::size_t slash = defaultProfile.rfind('/');
  return qb::JoinPath(dataDir,
                      slash == std::string::npos ? defaultProfile : defaultProfile.substr(slash + 1));
}

std::string ReadFavoritesProfile(const std::string& iniPath) {
  QSettings profile(QString::fromStdString(iniPath), QSettings::IniFormat);
  profile.beginGroup(kProfileSection);
  const QVariant value = profile.value(kFavoritesKey);
  // A hand-written value with commas comes back from the INI reader as a list.
  const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                                : value.toString();
  return text.toStdString();
}

std::string WithFavoritesText(std::string_view profile, std::string_view text) {
  // The value is written as the INI reader reads it back: blanks at its ends are
  // kept inside quotes.
  std::string value(text);
  if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) value = "\"" + value + "\"";
  const std::string line = std::string(kFavoritesKey) + "=" + value + "\r\n";
  const std::string header = std::string("[") + kProfileSection + "]";
  std::string out;
  bool inSection = false, written = false;
  qb::ForEachLine(profile, [&](std::string_view raw) {
    const std::string_view t = qb::Trim(raw);
    if (t.starts_with('[')) {
      if (inSection && !written) {
        out += line;
        written = true;
      }
      // Section and key names are matched as the INI reader matches them: exactly.
      inSection = t == header;
    } else if (inSection) {
      const std::size_t eq = t.find('=');
      if (eq != std::string_view::npos && qb::Trim(t.substr(0, eq)) == kFavoritesKey) {
        if (!written) out += line;
        written = true;
        return;
      }
    }
    out.append(raw).append("\r\n");
  });
  if (!written) {
    if (!inSection) out.append(header).append("\r\n");
    out += line;
  }
  return out;
}

bool WriteFavoritesProfile(const std::string& iniPath, std::string_view text) {
  const std::string old = qb::ReadWholeFile(iniPath).value_or(std::string());
  const std::size_t slash = iniPath.rfind('/');
  if (slash != std::string::npos && slash > 0)
    QDir().mkpath(QString::fromStdString(iniPath.substr(0, slash)));
  return qb::WriteFileAtomically(iniPath, WithFavoritesText(old, text));
}

std::vector<std::string> FavoriteProxyLines(const CProxyListModel& list, const RowLeftOut& leftOut) {
  std::vector<std::pair<double, int>> timed;
  std::vector<int> untimed;
  for (int row = 0; row < list.RowCount(); ++row) {
    if (!list.IsFavorite(row)) continue;
    const CProxyEntry* e = list.Entry(row);
    if (leftOut && leftOut(*e)) continue;
    if (IsTimeText(e->TimeStatus())) {
      timed.emplace_back(qb::CAtof(e->TimeStatus()), row);
    } else {
      untimed.push_back(row);
    }
  }
  std::stable_sort(timed.begin(), timed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> lines;
  for (const auto& [time, row] : timed) lines.push_back(list.GetProxyLine(row));
  for (const int row : untimed) lines.push_back(list.GetProxyLine(row));
  return lines;
}

void ChooseFavorites(CProxyListModel& list, const CSettings& settings, const RowLeftOut& leftOut) {
  if (!settings.m_bAutoAddToFavorite || list.RowCount() == 0) return;
  int chosen = 0;
  for (int row = 0; row < list.RowCount(); ++row) {
    const CProxyEntry* e = list.Entry(row);
    const bool timed = IsTimeText(e->TimeStatus());
    if (!timed || qb::CAtof(e->TimeStatus()) >= 60 || chosen >= settings.m_nFavorites ||
        (leftOut && leftOut(*e))) {
      list.SetFavorite(row, false);
      continue;
    }
    const std::string type = qb::AsciiUpper(e->Type());
    if (type.empty() || type == "HTTP" || type == "HTTPS") {
      list.SetFavorite(row, true);
      ++chosen;
    }
  }
}

}  // namespace qb

namespace qb {

void ChooseFavoritesByScore(CProxyListModel& list, const CSettings& settings,
                            const std::unordered_map<std::string, ProxyScore>& scores,
                            const RowLeftOut& leftOut) {
  if (!settings.m_bAutoAddToFavorite || list.RowCount() == 0) return;
  struct Candidate {
    int row;
    double uptime;
    double median;
  };
  std::vector<Candidate> candidates;
  for (int row = 0; row < list.RowCount(); ++row) {
    const CProxyEntry* e = list.Entry(row);
    const std::string type = qb::AsciiUpper(e->Type());
    const bool web = type.empty() || type == "HTTP" || type == "HTTPS";
    if (!IsTimeText(e->TimeStatus()) || qb::CAtof(e->TimeStatus()) >= 60 || (leftOut && leftOut(*e))) {
      list.SetFavorite(row, false);
      continue;
    }
    if (!web) continue;
    Candidate c{row, -1.0, 1e300};
    if (const auto it = scores.find(list.GetProxyLine(row)); it != scores.end()) {
      c.uptime = it->second.Uptime();
      c.median = it->second.medianSeconds.value_or(1e300);
    }
    candidates.push_back(c);
  }
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    if (a.uptime != b.uptime) return a.uptime > b.uptime;
    return a.median < b.median;
  });
  const std::size_t keep = static_cast<std::size_t>(std::max(0, settings.m_nFavorites));
  for (std::size_t i = 0; i < candidates.size(); ++i) list.SetFavorite(candidates[i].row, i < keep);
}

}  // namespace qb
