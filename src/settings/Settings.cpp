#include "settings/Settings.h"

#include "base/Text.h"

namespace qb {

int g_nConnectTimeoutMs = kDefaultConnectTimeoutMs;
int g_nVerifyTimeoutMs = kDefaultVerifyTimeoutMs;

namespace {

// The keys in the order they are searched for in a line and written to the file.
struct SettingKey {
  const char* key;
  int CSettings::*field;
};
const SettingKey kKeys[] = {
    {"m_nThreadNumber", &CSettings::m_nThreadNumber},
    {"m_nConTimeout", &CSettings::m_nConTimeout},
    {"m_nVerifyTimeout", &CSettings::m_nVerifyTimeout},
    {"m_bAutoAddToFavorite", &CSettings::m_bAutoAddToFavorite},
    {"m_bAutoTimingVerify", &CSettings::m_bAutoTimingVerify},
    {"m_bAutoRun", &CSettings::m_bAutoRun},
    {"m_bMinimize", &CSettings::m_bMinimize},
    {"m_bAmbiguous", &CSettings::m_bAmbiguous},
    {"m_nAutoProxyConfig", &CSettings::m_nAutoProxyConfig},
    {"m_nFavorites", &CSettings::m_nFavorites},
};

// Splits a line at the first "@", the first "%" and the first "$", a field whose
// closing separator stands before its opening one being empty. Used for the odd lines
// whose separators are not in the order the program writes them.
void LegacySplit(std::string_view line, std::size_t at, std::size_t pct, std::size_t dollar,
                 std::string& name, std::string& url, std::string& feature, std::string& flag) {
  auto between = [&](std::size_t open, std::size_t close) -> std::string_view {
    if (close <= open) return {};
    return line.substr(open + 1, close - open - 1);
  };
  name = qb::Trim(line.substr(0, at));
  url = qb::Trim(between(at, pct));
  feature = qb::Trim(between(pct, dollar));
  flag = qb::Trim(line.substr(dollar + 1));
}

// A line holding "@", "%" and "$" is a resource. The tick follows the last "$" (the
// program writes nothing after it but the digit, so any "$" before it belongs to the
// texts); the texts before it are split by DecodeVerifySourceText.
void ReadResourceLine(CSettings& settings, std::string_view line) {
  const std::size_t at = line.find('@');
  const std::size_t dollar = line.rfind('$');
  std::string name, url, feature, flag;
  const bool inOrder = dollar > at && line.substr(at, dollar - at).find('%') != std::string_view::npos;
  if (inOrder) {
    DecodeVerifySourceText(line.substr(0, dollar), name, url, feature);
    flag = qb::Trim(line.substr(dollar + 1));
  } else {
    LegacySplit(line, at, line.find('%'), line.find('$'), name, url, feature, flag);
  }
  name = std::string(qb::SkipByteOrderMarks(name));
  if (GetUrlProtocol(url) == 0) url = "http://" + url;
  url = MendOlderHttpsUrl(std::move(url));
  settings.m_aVerifySources.push_back(
      {std::move(name), std::move(url), std::move(feature), flag == "0" ? 0 : 1});
}

void ReadSettingLine(CSettings& settings, std::string_view line) {
  for (const SettingKey& k : kKeys) {
    const std::size_t pos = line.find(k.key);
    if (pos == std::string_view::npos) continue;
    std::size_t value = pos + std::char_traits<char>::length(k.key);
    // The character after the key, normally "=", is skipped whatever it is.
    if (value < line.size()) value += qb::Utf8CharLength(line, value);
    settings.*k.field = value < line.size() ? qb::CAtoi(line.substr(value)) : 0;
    return;
  }
}

}  // namespace

std::vector<std::string> SettingLines(const CSettings& settings) {
  std::vector<std::string> lines;
  for (const SettingKey& k : kKeys) lines.push_back(qb::Format("%s=%d", k.key, settings.*k.field));
  return lines;
}

std::string FormatSettingsFile(const CSettings& settings) {
  std::string out;
  for (const CVerifySource& v : settings.m_aVerifySources) {
    out += EncodeVerifySourceText(v.m_sName, v.m_sUrl, v.m_sFeature);
    out += v.m_bChecked > 0 ? "$1\r\n" : "$0\r\n";
  }
  for (const std::string& line : SettingLines(settings)) {
    out += line;
    out += "\r\n";
  }
  return out;
}

void ApplyTimeouts(const CSettings& settings) {
  if (settings.m_nConTimeout >= kMinConTimeout && settings.m_nConTimeout <= kMaxConTimeout)
    g_nConnectTimeoutMs = 1000 * settings.m_nConTimeout;
  if (settings.m_nVerifyTimeout >= kMinVerifyTimeout && settings.m_nVerifyTimeout <= kMaxVerifyTimeout)
    g_nVerifyTimeoutMs = 1000 * settings.m_nVerifyTimeout;
}

void ReadSettingsText(CSettings& settings, std::string_view text) {
  if (settings.m_pSourceList) settings.m_pSourceList->BeginReset();
  settings.m_aVerifySources.clear();
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  qb::ForEachLine(text, [&](std::string_view raw) {
    const std::string line = qb::DecodeLegacyLine(raw);
    if (line.find('@') != std::string::npos && line.find('%') != std::string::npos &&
        line.find('$') != std::string::npos) {
      ReadResourceLine(settings, line);
    } else {
      ReadSettingLine(settings, line);
    }
  });
  if (settings.m_pSourceList) settings.m_pSourceList->EndReset();
}

}  // namespace qb
