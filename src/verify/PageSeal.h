// A judge page that says what it should look like, so that a proxy that changes it on
// the way is caught.
//
// The check sends a fresh random token in kSealHeader; a judge that knows the header
// puts one line in front of its page:
//
//   <!-- qb-seal TOKEN LENGTH SHA256 H1,H2,...,Hn -->
//
// LENGTH and SHA256 (hex) cover every byte after that line; Hi is the first 8 hex
// digits of the SHA-256 of the i-th line after it (each with its line feed). The whole
// digest says whether anything changed; the line digests say where, and whether lines
// were added or the page only grew at its end. A proxy that does not know the scheme
// cannot make a changed page fit it; one that does could, which only HTTPS rules out.
// The token makes a page answered for another request (a cache's copy) stand out.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "verify/VerifyTask.h"

namespace qb {

inline constexpr const char* kSealHeader = "X-Quillberry-Seal";

// A new token: 32 random hex digits.
std::string NewSealToken();
// Whether a header value may be sealed with: 16 to 64 hex digits, nothing else (a
// value of any other form would forge the seal line's fields).
bool IsSealToken(std::string_view token);

// The page with its seal line in front.
std::string SealPage(std::string_view page, std::string_view token);

// SHA-256 of the bytes, 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

// The body as it arrived, against its seal. nullopt: the body carries no seal line at
// all (a judge that does not seal, or any other page), so nothing can be said. A sealed
// body that is exactly what its judge sent gives an empty Tamper-less answer: Intact.
struct SealCheck {
  bool intact = false;
  VerifyResult::Tamper tamper;  // when not intact
};
std::optional<SealCheck> CheckSealedBody(std::string_view body, std::string_view token);

// A page that seals nothing (any site's) can still be held against what the site sends
// without a proxy. The run fetches it so once, directly, when the user asks for it (it
// tells the site the user's own address); the first check that needs it fetches it
// and the others wait for its answer, as with the user's own addresses.
class CReferencePages {
 public:
  // Known fills page (nullopt: the direct fetch failed, so nothing can be said); Mine
  // makes the caller the one that fetches (it must answer with Learn); Busy: ask again.
  enum class Claim { Known, Mine, Busy };
  Claim Ask(const std::string& url, std::optional<std::string>& page);
  void Learn(const std::string& url, std::optional<std::string> page);

 private:
  std::mutex m_lock;
  std::map<std::string, std::optional<std::string>> m_known;
  std::set<std::string> m_asking;
};

// Where two pages first differ: nullopt when they are the same.
std::optional<VerifyResult::Tamper> FirstDifference(std::string_view came, std::string_view expected);

}  // namespace qb
