// A small HTTP origin on 127.0.0.1 for the download tests: proxy-list pages, pages
// that stall, drip or never end. It runs on a thread of its own, so that it keeps
// serving while a test waits in an event loop or for a quillberry-cli process.
#pragma once

#include <QThread>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qbtest {

struct OriginPage {
  enum Mode {
    Whole,    // the body, then the connection closes
    Stall,    // the body, then nothing more while the connection stays open
    Drip,     // the body, then one "x" every intervalMs, for ever
    Endless,  // the body, then filler lines as fast as the client takes them, for ever
  };
  std::string body;
  Mode mode = Whole;
  int status = 200;
  int intervalMs = 50;
};

class PageOrigin {
 public:
  PageOrigin();
  ~PageOrigin();
  PageOrigin(const PageOrigin&) = delete;
  PageOrigin& operator=(const PageOrigin&) = delete;

  int Port() const { return m_port; }
  // "127.0.0.1:port" + path, without a scheme.
  std::string HostPath(const std::string& path) const;
  std::string Url(const std::string& path) const { return "http://" + HostPath(path); }

  void Serve(const std::string& path, OriginPage page);
  void Serve(const std::string& path, const std::string& body) { Serve(path, OriginPage{body}); }

  // Requests seen for a path, and the head of the last one.
  int Hits(const std::string& path) const;
  std::string LastRequestHead(const std::string& path) const;
  // Paths in the order they were requested.
  std::vector<std::string> RequestOrder() const;

  struct State {
    mutable std::mutex lock;
    std::map<std::string, OriginPage> pages;
    std::map<std::string, std::vector<std::string>> heads;
    std::vector<std::string> order;
  };

 private:
  std::shared_ptr<State> m_state = std::make_shared<State>();
  QThread m_thread;
  QObject* m_context = nullptr;  // lives in m_thread; owns the server
  int m_port = 0;
};

// A loopback port on which nothing listens: connections are refused at once.
int DeadLoopbackPort();

}  // namespace qbtest
