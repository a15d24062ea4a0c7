#include "endpoint/ControlApi.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include "base/Text.h"
#include "endpoint/Net.h"
#include "endpoint/PoolMetrics.h"
#include "proxy/GeoLocation.h"
#include "proxy/ListExport.h"

namespace qb {

namespace {

using Clock = std::chrono::steady_clock;

// A query's whole number: digits alone, no sign, no spaces.
std::optional<std::size_t> WholeNumber(const std::string& text) {
  std::size_t n = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return n;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 202:
      return "Accepted";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 411:
      return "Length Required";
    case 413:
      return "Content Too Large";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
    default:
      return "Error";
  }
}

std::string JsonText(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

ControlApi::Answer JsonAnswer(int status, const QJsonObject& object) {
  return {status, "application/json", JsonText(object), {}};
}

ControlApi::Answer ErrorAnswer(int status, const std::string& error) {
  return JsonAnswer(status, QJsonObject{{"error", QString::fromStdString(error)}});
}

std::string Serialize(const ControlApi::Answer& a) {
  std::string head = "HTTP/1.1 " + std::to_string(a.status) + " " + Reason(a.status) + "\r\n";
  head += "Content-Type: " + a.contentType + "\r\n";
  head += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
  head += "Cache-Control: no-store\r\nConnection: close\r\n";
  for (const std::string& h : a.headers) head += h + "\r\n";
  return head + "\r\n" + a.body;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes a form or query component ('+' is a space); nullopt for a broken escape or a
// decoded control character, which no upstream line, type or country holds.
std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      c = ' ';
    } else if (c == '%') {
      const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
      if (hi < 0 || lo < 0) return std::nullopt;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
    out += c;
  }
  return out;
}

// "a=1&b=2" into its pairs; nullopt when a part cannot be decoded or a name repeats
// (which of two values was meant cannot be told).
std::optional<std::map<std::string, std::string>> ParseForm(std::string_view text) {
  std::map<std::string, std::string> out;
  while (!text.empty()) {
    const size_t amp = text.find('&');
    const std::string_view part = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (part.empty()) continue;
    const size_t eq = part.find('=');
    const auto name = Unescape(part.substr(0, eq));
    const auto value = Unescape(eq == std::string_view::npos ? std::string_view() : part.substr(eq + 1));
    if (!name || !value || name->empty() || out.count(*name)) return std::nullopt;
    out.emplace(*name, *value);
  }
  return out;
}

// The pool's answer is written by hand rather than through QJsonObject: for a pool of
// 1,000 that took 60 ms of the API's thread (a map per upstream, every number a
// double), where writing the text straight takes a fraction of that.
void JsonNumber(std::string& out, double value) {
  char buf[32];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, ec == std::errc() ? end : buf);
}

void AppendUpstream(std::string& out, const UpstreamState& u) {
  auto key = [&](const char* name) {
    if (out.back() != '{') out += ',';
    out += '"';
    out += name;
    out += "\":";
  };
  auto text = [&](const char* name, const std::string& value) {
    key(name);
    if (value.empty()) {
      out += "null";
    } else {
      AppendJsonString(out, value);
    }
  };
  auto number = [&](const char* name, double value, bool known) {
    key(name);
    if (known) {
      JsonNumber(out, value);
    } else {
      out += "null";
    }
  };
  auto count = [&](const char* name, uint64_t value) {
    key(name);
    out += std::to_string(value);
  };
  out += '{';
  text("line", u.line);
  text("type", u.type);
  text("state", u.state);
  number("latency", u.latency, u.latency > 0);
  number("uptime", u.uptime, u.uptime >= 0);
  count("failures", static_cast<uint64_t>(std::max(u.failures, 0)));
  number("last_check_ago_ms", static_cast<double>(u.lastCheckAgoMs), u.lastCheckAgoMs >= 0);
  text("exit_address", u.exitAddress);
  text("country", u.country);
  text("anonymity", u.anonymity);
  text("trust", u.trust);
  text("network", u.network);
  count("connections", u.connections);
  count("failures_total", u.failuresTotal);
  count("bytes_up", u.bytesUp);
  count("bytes_down", u.bytesDown);
  out += '}';
}

ControlApi::Answer UpstreamAnswer(const UpstreamState& u) {
  ControlApi::Answer a;
  AppendUpstream(a.body, u);
  a.body += '\n';
  return a;
}

// "addr:port@type" with the type in upper case, as the pool names its lines; the
// address part is the row's canonical text already and is left as given.
std::string CanonicalLine(const std::string& line) {
  const size_t at = line.rfind('@');
  if (at == std::string::npos) return line;
  return line.substr(0, at + 1) + AsciiUpper(line.substr(at + 1));
}

bool CountryMatches(const std::string& wanted, const std::string& country) {
  if (AsciiLower(wanted) == AsciiLower(country)) return true;
  // A two-letter code also finds the country the location source named in Chinese.
  return wanted.size() == 2 && AsciiUpper(wanted) == CountryCodeOfChineseName(country);
}

}  // namespace

bool TokensMatch(const std::string& presented, const std::string& expected) {
  // Every byte of the longer one is looked at whatever the others hold, and the length
  // counts as one more difference, so the time tells nothing of where they part.
  const size_t n = std::max(presented.size(), expected.size());
  unsigned char diff = presented.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char a = i < presented.size() ? presented[i] : 0;
    const unsigned char b = i < expected.size() ? expected[i] : 0;
    diff |= a ^ b;
  }
  return diff == 0 && !expected.empty();
}

ControlApi::Answer ControlApi::Handle(const std::string& method, const std::string& target,
                                      const std::string& contentType, const std::string& body,
                                      const std::string& authorization) {
  const size_t q = target.find('?');
  const std::string path = target.substr(0, q);
  auto query =
      ParseForm(q == std::string::npos ? std::string_view() : std::string_view(target).substr(q + 1));
  if (!query) return ErrorAnswer(400, "the query cannot be read");

  if (!m_config.token.empty()) {
    std::string presented;
    if (auto t = query->find("token"); t != query->end()) presented = t->second;
    constexpr std::string_view kBearer = "Bearer ";
    if (authorization.size() > kBearer.size() &&
        AsciiLower(authorization.substr(0, kBearer.size())) == "bearer ")
      presented = std::string(Trim(std::string_view(authorization).substr(kBearer.size())));
    if (!TokensMatch(presented, m_config.token)) {
      Answer a = ErrorAnswer(401, "a token is needed: Authorization: Bearer TOKEN");
      a.headers.push_back("WWW-Authenticate: Bearer realm=\"quillberry\"");
      return a;
    }
  }
  query->erase("token");

  struct Route {
    const char* path;
    const char* method;
  };
  static constexpr Route kRoutes[] = {{"/pool", "GET"},      {"/count", "GET"},  {"/get", "GET"},
                                      {"/mark-bad", "POST"}, {"/check", "POST"}, {"/metrics", "GET"}};
  const Route* route = nullptr;
  for (const Route& r : kRoutes) {
    if (path == r.path) route = &r;
  }
  if (!route) return ErrorAnswer(404, "no such path");
  if (method != route->method) {
    Answer a = ErrorAnswer(405, std::string("use ") + route->method);
    a.headers.push_back(std::string("Allow: ") + route->method);
    return a;
  }

  // Each route takes these parameters and no others: a misspelt one is an error, not
  // a filter silently left out.
  auto unexpected = [&](std::initializer_list<const char*> allowed) -> std::optional<std::string> {
    // Not a structured binding: clang does not let the inner lambda capture one.
    for (const auto& parameter : *query) {
      const auto& name = parameter.first;
      if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; })) return name;
    }
    return std::nullopt;
  };

  // The counts and the metrics read only the upstreams in use: a pool of millions would
  // otherwise be described whole at every scrape.
  if (path == "/count" || path == "/metrics") {
    if (auto name = unexpected({})) return ErrorAnswer(400, "unknown parameter: " + *name);
    const UpstreamSummary summary = m_pool.Summary();
    if (path == "/metrics") {
      return {
          200, "text/plain; version=0.0.4; charset=utf-8", m_metrics->Scrape(summary, m_pool.GetStats()), {}};
    }
    std::map<std::string, int> states{{"ok", 0}, {"aside", 0}, {"unresolved", 0}};
    states["ok"] += static_cast<int>(summary.members - summary.used.size());
    for (const UpstreamState& u : summary.used) ++states[u.state];
    QJsonObject counts{{"total", static_cast<int>(summary.members)}};
    for (const auto& [state, n] : states) counts.insert(QString::fromStdString(state), n);
    return JsonAnswer(200, counts);
  }

  if (path == "/pool") {
    if (auto name = unexpected({"offset", "limit"})) return ErrorAnswer(400, "unknown parameter: " + *name);
    // A pool of millions is read a page at a time: each proxy described costs the
    // endpoint's loop its look-ups while the answer is made.
    std::size_t offset = 0, limit = std::numeric_limits<std::size_t>::max();
    for (const auto& [name, value] : {std::pair{"offset", &offset}, std::pair{"limit", &limit}}) {
      if (!query->count(name)) continue;
      const std::optional<std::size_t> n = WholeNumber((*query)[name]);
      if (!n) return ErrorAnswer(400, std::string(name) + " must be a whole number");
      *value = *n;
    }
    const UpstreamPage page = m_pool.Page(offset, limit);
    Answer a;
    a.body.reserve(page.upstreams.size() * 320 + 96);
    a.body = std::string("{\"policy\":\"") + PolicyName(m_pool.Policy()) +
             "\",\"total\":" + std::to_string(page.members) + ",\"offset\":" + std::to_string(page.offset) +
             ",\"upstreams\":[";
    for (const UpstreamState& u : page.upstreams) {
      if (a.body.back() != '[') a.body += ',';
      AppendUpstream(a.body, u);
    }
    a.body += "]}\n";
    return a;
  }

  if (path == "/get") {
    if (auto name = unexpected({"type", "country", "anonymity"}))
      return ErrorAnswer(400, "unknown parameter: " + *name);
    const std::string type = AsciiUpper((*query)["type"]);
    const std::string country = (*query)["country"];
    const std::string anonymity = AsciiLower((*query)["anonymity"]);
    if (!type.empty() && !IsEndpointType(type))
      return ErrorAnswer(400, "type must be HTTP, HTTPS, SOCKS4 or SOCKS5");
    if (!anonymity.empty() && anonymity != "transparent" && anonymity != "anonymous" && anonymity != "elite")
      return ErrorAnswer(400, "anonymity must be transparent, anonymous or elite");
    std::vector<UpstreamState> matches;
    for (UpstreamState& u : m_pool.Upstreams()) {
      if (u.state != "ok") continue;
      if (!type.empty() && u.type != type) continue;
      if (!country.empty() && !CountryMatches(country, u.country)) continue;
      if (!anonymity.empty() && u.anonymity != anonymity) continue;
      matches.push_back(std::move(u));
    }
    if (matches.empty()) return ErrorAnswer(404, "no usable upstream matches");
    size_t pick = 0;
    switch (m_pool.Policy()) {
      case EndpointPolicy::Failover:
        break;  // the first in the pool's order, as the endpoint would take it
      case EndpointPolicy::RoundRobin:
        pick = m_nextPick++ % matches.size();
        break;
      case EndpointPolicy::Fastest: {
        // An upstream not measured yet comes after every measured one.
        auto rank = [](const UpstreamState& u) {
          return u.latency > 0 ? u.latency : std::numeric_limits<double>::infinity();
        };
        pick = std::min_element(matches.begin(), matches.end(),
                                [&](const auto& a, const auto& b) { return rank(a) < rank(b); }) -
               matches.begin();
        break;
      }
    }
    return UpstreamAnswer(matches[pick]);
  }

  // The two actions: their upstream from the query, a form or a JSON body.
  std::map<std::string, std::string> params = *query;
  const std::string mediaType =
      AsciiLower(std::string(Trim(std::string_view(contentType).substr(0, contentType.find(';')))));
  if (!body.empty()) {
    if (mediaType == "application/json") {
      QJsonParseError error{};
      const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
      if (error.error != QJsonParseError::NoError || !doc.isObject())
        return ErrorAnswer(400, "the body is not a JSON object");
      const QJsonObject object = doc.object();
      for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
          return ErrorAnswer(400, "\"" + it.key().toStdString() + "\" must be a string");
        if (params.count(it.key().toStdString()))
          return ErrorAnswer(400, "\"" + it.key().toStdString() + "\" given twice");
        params[it.key().toStdString()] = it.value().toString().toStdString();
      }
    } else if (mediaType == "application/x-www-form-urlencoded" || mediaType.empty()) {
      const auto form = ParseForm(body);
      if (!form) return ErrorAnswer(400, "the form cannot be read");
      for (const auto& [name, value] : *form) {
        if (params.count(name)) return ErrorAnswer(400, name + " given twice");
        params[name] = value;
      }
    } else {
      return ErrorAnswer(415, "send the upstream as a form or as JSON");
    }
  }
  for (const auto& [name, value] : params) {
    if (name != "line") return ErrorAnswer(400, "unknown parameter: " + name);
  }
  const std::string line = CanonicalLine(params["line"]);
  if (path == "/mark-bad") {
    if (line.empty()) return ErrorAnswer(400, "name the upstream: line=ADDRESS:PORT@TYPE");
    if (!m_pool.MarkBad(line)) return ErrorAnswer(404, "no such upstream in the pool");
    return JsonAnswer(200, QJsonObject{{"marked", QString::fromStdString(line)}});
  }
  if (!m_pool.CheckNow(line)) {
    // The endpoint says no both for a line it lacks and when it has nothing to check
    // with; only the first is the caller's mistake.
    if (!line.empty() && !m_pool.Has(line)) return ErrorAnswer(404, "no such upstream in the pool");
    return ErrorAnswer(
        409, "health checks are off: the endpoint has no http:// verification resource to check with");
  }
  return JsonAnswer(
      202, QJsonObject{{"checking", line.empty() ? QJsonValue("all") : QString::fromStdString(line)}});
}

// The connections: one request each, read, answered, and closed.
class ControlApi::Server {
 public:
  Server(ControlApi& api, const ControlApiConfig& config) : m_api(api), m_config(config) {}
  ~Server() {
    Stop();
    for (Client& c : m_clients) close(c.fd);
    if (m_listen >= 0) close(m_listen);
    if (m_wake >= 0) close(m_wake);
  }

  OpResult Start(int& port) {
    const ListenAddress& listen = m_config.listen;
    const std::string where = HostPort(listen.host, listen.port);
    std::string error;
    m_listen = ListenSocket(listen.host, listen.port, 128, port, error);
    if (m_listen < 0) return OpResult::Failure(OpStatus::ListenFailed, where, error);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_thread = std::thread([this] { Run(); });
    return OpResult::Success();
  }

  void Stop() {
    if (!m_thread.joinable()) return;
    m_stop = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(m_wake, &one, sizeof one);
    m_thread.join();
  }

 private:
  enum class Phase { Reading, Writing, Draining };
  struct Client {
    int fd = -1;
    Phase phase = Phase::Reading;
    std::string in, out;
    size_t sent = 0;
    Clock::time_point deadline;
  };

  void Run() {
    // The process's signals are for its main thread.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    std::vector<pollfd> fds;
    while (!m_stop) {
      fds.clear();
      fds.push_back({m_wake, POLLIN, 0});
      fds.push_back(
          {m_listen,
           static_cast<short>(m_clients.size() < static_cast<size_t>(m_config.maxClients) ? POLLIN : 0), 0});
      Clock::time_point next = Clock::now() + std::chrono::seconds(1);
      for (const Client& c : m_clients) {
        fds.push_back({c.fd, static_cast<short>(c.phase == Phase::Writing ? POLLOUT : POLLIN), 0});
        next = std::min(next, c.deadline);
      }
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
      const int n = poll(fds.data(), fds.size(), static_cast<int>(std::clamp<int64_t>(wait + 1, 0, 1000)));
      if (n < 0 && errno != EINTR) break;
      const Clock::time_point now = Clock::now();
      // The clients first, by their place in fds; accepting after keeps those places.
      for (size_t i = 0; i < m_clients.size(); ++i) {
        const short revents = fds[i + 2].revents;
        if (revents) Serve(m_clients[i], revents);
        if (m_clients[i].fd >= 0 && now >= m_clients[i].deadline) Expire(m_clients[i]);
      }
      std::erase_if(m_clients, [](const Client& c) { return c.fd < 0; });
      if (fds[1].revents & POLLIN) Accept(now);
    }
  }

  void Accept(Clock::time_point now) {
    while (m_clients.size() < static_cast<size_t>(m_config.maxClients)) {
      const int fd = accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;
      Client c;
      c.fd = fd;
      c.deadline = now + std::chrono::milliseconds(m_config.requestTimeoutMs);
      m_clients.push_back(std::move(c));
    }
  }

  void Finish(Client& c) {
    close(c.fd);
    c.fd = -1;
  }

  void Answer(Client& c, const ControlApi::Answer& answer) {
    c.out = Serialize(answer);
    c.sent = 0;
    c.phase = Phase::Writing;
    c.deadline = Clock::now() + std::chrono::milliseconds(m_config.requestTimeoutMs);
    Write(c);
  }

  void Write(Client& c) {
    bool broken = false;
    if (Flush(c.fd, c.out, c.sent, broken)) {
      // What the client still sends is read and dropped for a moment, so that closing
      // with unread bytes does not reset the connection before the answer is read.
      shutdown(c.fd, SHUT_WR);
      c.phase = Phase::Draining;
      c.deadline = Clock::now() + std::chrono::milliseconds(std::min(m_config.requestTimeoutMs, 1000));
    } else if (broken) {
      Finish(c);
    }
  }

  void Expire(Client& c) {
    if (c.phase == Phase::Reading) {
      Answer(c, ErrorAnswer(408, "the request took too long"));
    } else {
      Finish(c);
    }
  }

  void Serve(Client& c, short revents) {
    if (c.phase == Phase::Writing) {
      if (revents & (POLLERR | POLLHUP | POLLNVAL)) return Finish(c);
      return Write(c);
    }
    char buf[4096];
    for (;;) {
      size_t got = 0;
      const Io io = Receive(c.fd, buf, sizeof buf, got);
      if (io == Io::Blocked) return;
      if (io != Io::Moved || c.phase == Phase::Draining) {
        if (io != Io::Moved) return Finish(c);
        continue;
      }
      c.in.append(buf, got);
      if (!Parse(c)) return;
    }
  }

  // Reads what arrived; false once the client was answered or closed.
  bool Parse(Client& c) {
    // Anything that does not start as an HTTP request (a TLS hello, a SOCKS greeting,
    // noise) is closed without a word: it would not read an HTTP answer.
    for (size_t i = 0; i < c.in.size() && i < 8; ++i) {
      const char ch = c.in[i];
      if (ch == ' ' && i > 0) break;
      if (ch < 'A' || ch > 'Z') {
        Finish(c);
        return false;
      }
    }
    const size_t headEnd = c.in.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
      if (c.in.size() > kMaxHead) {
        Answer(c, ErrorAnswer(431, "the request head is too large"));
        return false;
      }
      return true;
    }
    if (headEnd + 4 > kMaxHead) {
      Answer(c, ErrorAnswer(431, "the request head is too large"));
      return false;
    }
    const std::string_view head(c.in.data(), headEnd);
    const size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.rfind(' ');
    if (sp1 == std::string_view::npos || sp2 == sp1 ||
        requestLine.substr(sp2 + 1).substr(0, 7) != "HTTP/1." || requestLine.size() != sp2 + 9) {
      Answer(c, ErrorAnswer(400, "not an HTTP/1 request"));
      return false;
    }
    const std::string method(requestLine.substr(0, sp1));
    const std::string target(requestLine.substr(sp1 + 1, sp2 - sp1 - 1));
    if (target.empty() || target.front() != '/' || target.find(' ') != std::string::npos) {
      Answer(c, ErrorAnswer(400, "the target must be a path"));
      return false;
    }
    std::string contentType, authorization;
    std::optional<size_t> length;
    std::string_view rest = lineEnd == std::string_view::npos ? std::string_view() : head.substr(lineEnd + 2);
    while (!rest.empty()) {
      const size_t end = rest.find("\r\n");
      const std::string_view field = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
      const size_t colon = field.find(':');
      if (colon == std::string_view::npos || colon == 0) {
        Answer(c, ErrorAnswer(400, "a header line without a name"));
        return false;
      }
      const std::string name = AsciiLower(field.substr(0, colon));
      const std::string value(Trim(field.substr(colon + 1)));
      if (name == "content-type") {
        contentType = value;
      } else if (name == "authorization") {
        authorization = value;
      } else if (name == "transfer-encoding") {
        Answer(c, ErrorAnswer(411, "send the body with a Content-Length"));
        return false;
      } else if (name == "content-length") {
        size_t n = 0;
        const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (ec != std::errc() || ptr != value.data() + value.size() || value.empty() ||
            (length && *length != n)) {
          Answer(c, ErrorAnswer(400, "a bad Content-Length"));
          return false;
        }
        length = n;
      }
    }
    const size_t bodyLength = length.value_or(0);
    if (bodyLength > kMaxBody) {
      Answer(c, ErrorAnswer(413, "the body is too large"));
      return false;
    }
    if (c.in.size() < headEnd + 4 + bodyLength) return true;
    const std::string body = c.in.substr(headEnd + 4, bodyLength);
    Answer(c, m_api.Handle(method, target, contentType, body, authorization));
    return false;
  }

  ControlApi& m_api;
  const ControlApiConfig& m_config;
  int m_listen = -1, m_wake = -1;
  std::vector<Client> m_clients;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
};

ControlApi::ControlApi(ControlApiConfig config, PoolControl& pool)
    : m_config(std::move(config)), m_pool(pool), m_metrics(std::make_unique<PoolMetrics>()) {}

ControlApi::~ControlApi() {
  Stop();
}

OpResult ControlApi::Start() {
  if (m_server) return OpResult::Success();
  auto server = std::make_unique<Server>(*this, m_config);
  int port = 0;
  if (OpResult started = server->Start(port); !started) return started;
  m_server = std::move(server);
  m_port = port;
  return OpResult::Success();
}

void ControlApi::Stop() {
  m_server.reset();
  m_port = 0;
}

}  // namespace qb
