// Proxy judges: pages that echo the request they received, in the common form
// "NAME = value" one per line (REMOTE_ADDR for the connection's address, HTTP_<HEADER>
// for each header). Fetched through a proxy, such a page tells where the proxy
// connected from (its exit address) and which headers it added on the way, and from
// those how well it hides the user.
//
// A verification resource needs no mark to be a judge: any page that holds a
// "REMOTE_ADDR = <IP address>" line is read as one, so Setting.dat keeps its
// name@URL%feature form and any public or private judge works with any feature string
// (every judge prints "REMOTE_ADDR", which makes a natural one).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qb {

// The text every page of the built-in judge holds, so that a program that knows
// nothing of judges can use it as a plain resource with this as its feature.
inline constexpr const char* kJudgeFeature = "QuillberryJudge";

// What a judge received.
struct JudgeRequest {
  std::string remoteAddr;
  int remotePort = 0;
  std::string method;
  std::string uri;
  std::string protocol;
  // In the order received, names as sent.
  std::vector<std::pair<std::string, std::string>> headers;
};

// The judge's HTML page for a request. Each value stays on its line: markup and
// control characters are escaped, so that no header can end the page early or forge
// a line.
std::string RenderJudgePage(const JudgeRequest& request);

// "X-Forwarded-For" as a judge names it: "HTTP_X_FORWARDED_FOR".
std::string JudgeHeaderName(std::string_view header);

// What a judge page says it saw.
struct JudgeView {
  std::string remoteAddr;
  // The HTTP_* lines: (name without "HTTP_", value), in page order.
  std::vector<std::pair<std::string, std::string>> headers;
};

// Reads a page line by line, as the verification worker receives it.
class JudgePageReader {
 public:
  void TakeLine(std::string_view line);
  // A page with a "REMOTE_ADDR = <IP address>" line.
  bool IsJudge() const { return !m_view.remoteAddr.empty(); }
  const JudgeView& View() const { return m_view; }
  void Reset() { m_view = {}; }

 private:
  void TakeField(std::string_view text);
  JudgeView m_view;
};

// The whole page at once; nullopt when it is no judge page.
std::optional<JudgeView> ParseJudgePage(std::string_view page);

enum class Anonymity { Transparent, Anonymous, Elite };
// "transparent", "anonymous", "elite".
const char* AnonymityName(Anonymity a);

// The canonical text of an IPv4 or IPv6 address (an IPv4-mapped IPv6 one as IPv4,
// brackets and an IPv4 ":port" removed); empty when the text is no address.
std::string NormalizeAddress(std::string_view text);
// Every address that stands in a header value, canonical.
std::vector<std::string> AddressesIn(std::string_view value);
// Whether a header (judge name without "HTTP_") is one that proxies add about
// themselves or their client: Via, Forwarded, X-Forwarded-For, X-Real-IP, Client-IP,
// Proxy-Connection, X-Proxy-ID, and any name with FORWARD, PROXY or CLIENT_IP in it.
bool IsProxyHeader(std::string_view name);

// Transparent: one of the user's own addresses stands in a header value (the target's
// own Host, X-Forwarded-Host, Referer and Origin and Forwarded's host= aside), or is
// the exit address itself; anonymous: none does, but a proxy header is there; elite:
// neither.
Anonymity ClassifyJudgeView(const JudgeView& view, const std::vector<std::string>& ownAddresses);

// The addresses of this machine's network interfaces, canonical, loopback ones left
// out: a header naming 127.0.0.1 usually comes from the proxy's own host. A judge on
// loopback still finds them, through the direct request.
std::vector<std::string> InterfaceAddresses();

// The user's own addresses for one run, learned once per judge URL and shared by the
// run's workers: what the judge saw on a direct request (no proxy), and the interface
// addresses. The first worker that needs them asks; the others wait for its answer.
class COwnAddresses {
 public:
  // What a direct request found: the judge's REMOTE_ADDR (empty when it failed), and
  // whether the answer is final (false for a request that was cut short by an abort,
  // so that the next worker asks again).
  struct Probe {
    std::string remoteAddr;
    bool settled = true;
  };
  std::vector<std::string> For(const std::string& judgeUrl, const std::function<Probe()>& direct);

  // The same without waiting, for a caller that runs many tasks on one thread: Known
  // fills the addresses; Mine makes the caller the one that asks (it must answer with
  // Learn); Busy means another task is asking, so ask again later.
  enum class Claim { Known, Mine, Busy };
  Claim Ask(const std::string& judgeUrl, std::vector<std::string>& addresses);
  // The answer of the task that got Mine; returns the addresses to use.
  std::vector<std::string> Learn(const std::string& judgeUrl, const Probe& probe);

 private:
  std::mutex m_lock;
  std::condition_variable m_learnt;
  std::map<std::string, std::vector<std::string>> m_known;
  std::set<std::string> m_asking;
};

}  // namespace qb
