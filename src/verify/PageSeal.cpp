#include "verify/PageSeal.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRandomGenerator>

#include <algorithm>
#include <vector>

#include "base/Text.h"

namespace qb {

namespace {

constexpr std::string_view kSealOpen = "<!-- qb-seal ";
constexpr std::string_view kSealClose = " -->";
constexpr std::size_t kLineHashDigits = 8;

bool IsHex(std::string_view s) {
  for (unsigned char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The lines of a text, each with its line feed (the last one may have none).
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t lf = text.find('\n', pos);
    lf = lf == std::string_view::npos ? text.size() : lf + 1;
    out.push_back(text.substr(pos, lf - pos));
    pos = lf;
  }
  return out;
}

std::string LineHash(std::string_view line) {
  return Sha256Hex(line).substr(0, kLineHashDigits);
}

std::string Cut(std::string_view bytes) {
  return std::string(bytes.substr(0, kTamperBytes));
}

std::vector<std::string_view> Split(std::string_view text, char by) {
  std::vector<std::string_view> out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t at = text.find(by, pos);
    out.push_back(text.substr(pos, at == std::string_view::npos ? std::string_view::npos : at - pos));
    if (at == std::string_view::npos) break;
    pos = at + 1;
  }
  return out;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
  const QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())), QCryptographicHash::Sha256);
  return digest.toHex().toStdString();
}

std::string NewSealToken() {
  quint32 words[4];
  QRandomGenerator::system()->fillRange(words);
  return QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex().toStdString();
}

bool IsSealToken(std::string_view token) {
  return token.size() >= 16 && token.size() <= 64 && IsHex(token);
}

std::string SealPage(std::string_view page, std::string_view token) {
  std::string hashes;
  for (std::string_view line : Lines(page)) {
    if (!hashes.empty()) hashes += ',';
    hashes += LineHash(line);
  }
  std::string out(kSealOpen);
  out += token;
  out += ' ';
  out += std::to_string(page.size());
  out += ' ';
  out += Sha256Hex(page);
  out += ' ';
  out += hashes.empty() ? std::string("-") : hashes;
  out += kSealClose;
  out += "\r\n";
  out += page;
  return out;
}

std::optional<SealCheck> CheckSealedBody(std::string_view body, std::string_view token) {
  const std::size_t open = body.find(kSealOpen);
  if (open == std::string_view::npos) return std::nullopt;
  std::size_t lineEnd = body.find('\n', open);
  if (lineEnd == std::string_view::npos) return std::nullopt;
  std::string_view seal = body.substr(open + kSealOpen.size(), lineEnd - open - kSealOpen.size());
  if (!seal.empty() && seal.back() == '\r') seal.remove_suffix(1);
  if (seal.size() < kSealClose.size() || seal.substr(seal.size() - kSealClose.size()) != kSealClose)
    return std::nullopt;
  seal.remove_suffix(kSealClose.size());
  const std::vector<std::string_view> fields = Split(seal, ' ');
  if (fields.size() != 4) return std::nullopt;

  SealCheck check;
  // Bytes before the seal line were put there on the way: the judge writes it first.
  if (open > 0) {
    check.tamper = {0, Cut(body.substr(0, open)), {}};
    return check;
  }
  // A seal made for another request is a page the proxy kept or made, not this answer.
  if (fields[0] != token) {
    check.tamper = {0, Cut(body.substr(0, lineEnd + 1)), {}};
    return check;
  }
  const std::string_view rest = body.substr(lineEnd + 1);
  const std::size_t length = static_cast<std::size_t>(qb::CAtoll(fields[1]));
  if (rest.size() == length && Sha256Hex(rest) == qb::AsciiLower(fields[2])) {
    check.intact = true;
    return check;
  }

  // Something changed: find the first line that differs, and whether lines came in
  // between the judge's own (the rest then fits again) or the page grew at its end.
  const std::vector<std::string_view> expected =
      fields[3] == "-" ? std::vector<std::string_view>{} : Split(fields[3], ',');
  const std::vector<std::string_view> came = Lines(rest);
  std::size_t offset = 0;
  std::size_t i = 0;
  while (i < came.size() && i < expected.size() && LineHash(came[i]) == expected[i])
    offset += came[i++].size();
  if (i == expected.size()) {
    // Every line of the judge's is there; whatever follows was added.
    check.tamper = {offset, Cut(rest.substr(offset)), {}};
    return check;
  }
  // Lines inserted: a later line that arrived fits the judge's line i.
  for (std::size_t j = i + 1; j < came.size(); ++j) {
    if (LineHash(came[j]) == expected[i]) {
      std::size_t inserted = 0;
      for (std::size_t k = i; k < j; ++k) inserted += came[k].size();
      check.tamper = {offset, Cut(rest.substr(offset, inserted)), {}};
      return check;
    }
  }
  // A line rewritten or removed: what arrived in its place. What the judge had there is
  // known only by its digest.
  check.tamper = {offset, i < came.size() ? Cut(came[i]) : std::string(), {}};
  return check;
}

CReferencePages::Claim CReferencePages::Ask(const std::string& url, std::optional<std::string>& page) {
  const std::lock_guard<std::mutex> lock(m_lock);
  if (const auto it = m_known.find(url); it != m_known.end()) {
    page = it->second;
    return Claim::Known;
  }
  return m_asking.insert(url).second ? Claim::Mine : Claim::Busy;
}

void CReferencePages::Learn(const std::string& url, std::optional<std::string> page) {
  const std::lock_guard<std::mutex> lock(m_lock);
  m_asking.erase(url);
  m_known[url] = std::move(page);
}

std::optional<VerifyResult::Tamper> FirstDifference(std::string_view came, std::string_view expected) {
  if (came == expected) return std::nullopt;
  const auto at = static_cast<std::size_t>(
      std::mismatch(came.begin(), came.end(), expected.begin(), expected.end()).first - came.begin());
  return VerifyResult::Tamper{at, Cut(came.substr(at)), Cut(expected.substr(at))};
}

}  // namespace qb
