// A proxy judge to run on a host of one's own: a small HTTP server that answers every
// GET (and HEAD) with the judge page for the request (see Judge.h). One thread of its
// own around poll; each connection sends one request and is closed after the answer.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/OpResult.h"

namespace qb {

class CJudgeServer {
 public:
  // host: an IPv4 or IPv6 address, which alone is listened on, or "localhost": both
  // 127.0.0.1 and ::1 on one port (127.0.0.1 alone on a machine without IPv6), so that
  // a proxy can be judged over each family. Port 0 takes any port free on both.
  CJudgeServer(std::string host, int port);
  ~CJudgeServer();
  CJudgeServer(const CJudgeServer&) = delete;
  CJudgeServer& operator=(const CJudgeServer&) = delete;

  qb::OpResult Start();
  void Stop();
  // The bound port; 0 while not running.
  int Port() const { return m_port; }
  // What it listens on, "127.0.0.1:8898" and "[::1]:8898"; empty while not running.
  std::vector<std::string> Listening() const;
  // Requests answered with a page, and ones refused for bad input.
  std::uint64_t Served() const { return m_served.load(); }
  std::uint64_t Refused() const { return m_refused.load(); }

  // A request's head larger than this is refused with 431.
  static constexpr std::size_t kMaxHead = 16384;
  // A client that has not sent its whole head after this long is closed.
  static constexpr int kIdleMs = 10000;
  // Connections held at once; one more is closed as soon as it is taken.
  static constexpr std::size_t kMaxClients = 256;

 private:
  struct Client;
  void Run();
  void Accept(int listen);
  // Binds every address of the host to one port; the sockets stay in m_listen.
  qb::OpResult Bind(const std::vector<std::string>& addresses, int port);
  // False when the client is done (answered or gone) and may be closed.
  bool Read(Client& c);
  bool Write(Client& c);
  void Answer(Client& c);

  std::string m_host;
  int m_requestedPort = 0;
  int m_port = 0;
  std::vector<std::string> m_addresses;  // the bound addresses, bare
  std::vector<int> m_listen;
  int m_wake[2] = {-1, -1};
  std::atomic<bool> m_stop{false};
  std::atomic<std::uint64_t> m_served{0};
  std::atomic<std::uint64_t> m_refused{0};
  std::vector<Client*> m_clients;
  std::thread m_thread;
};

}  // namespace qb
