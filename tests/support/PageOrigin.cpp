#include "support/PageOrigin.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qbtest {

namespace {

class Connection : public QObject {
 public:
  Connection(QTcpSocket* socket, std::shared_ptr<PageOrigin::State> state)
      : QObject(socket), m_socket(socket), m_state(std::move(state)) {
    connect(socket, &QTcpSocket::readyRead, this, &Connection::Read);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
  }

 private:
  void Read() {
    if (m_answered) {
      m_socket->readAll();
      return;
    }
    m_head += m_socket->readAll().toStdString();
    const std::size_t end = m_head.find("\r\n\r\n");
    if (end == std::string::npos) return;
    m_answered = true;
    const std::size_t sp1 = m_head.find(' ');
    const std::size_t sp2 = m_head.find(' ', sp1 + 1);
    const std::string path = m_head.substr(sp1 + 1, sp2 - sp1 - 1);
    OriginPage page{"<html><body>not found</body></html>\r\n", OriginPage::Whole, 404};
    {
      std::lock_guard<std::mutex> g(m_state->lock);
      m_state->heads[path].push_back(m_head.substr(0, end));
      m_state->order.push_back(path);
      if (auto it = m_state->pages.find(path); it != m_state->pages.end()) page = it->second;
    }
    std::string reply = "HTTP/1.1 " + std::to_string(page.status) + " X\r\nContent-Type: text/html\r\n";
    if (page.mode == OriginPage::Whole)
      reply += "Content-Length: " + std::to_string(page.body.size()) + "\r\n";
    reply += "Connection: close\r\n\r\n" + page.body;
    m_socket->write(reply.data(), static_cast<qint64>(reply.size()));
    switch (page.mode) {
      case OriginPage::Whole:
        m_socket->disconnectFromHost();
        break;
      case OriginPage::Stall:
        break;
      case OriginPage::Drip: {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { m_socket->write("x"); });
        timer->start(page.intervalMs);
        break;
      }
      case OriginPage::Endless:
        connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::Fill);
        Fill();
        break;
    }
  }

  void Fill() {
    static const QByteArray filler = QByteArray(1023, 'f') + '\n';
    while (m_socket->bytesToWrite() < (1 << 20)) {
      for (int i = 0; i < 256; ++i) m_socket->write(filler);
    }
  }

  QTcpSocket* m_socket;
  std::shared_ptr<PageOrigin::State> m_state;
  std::string m_head;
  bool m_answered = false;
};

}  // namespace

PageOrigin::PageOrigin() {
  m_thread.setObjectName("PageOrigin");
  m_thread.start();
  m_context = new QObject();
  m_context->moveToThread(&m_thread);
  QMetaObject::invokeMethod(
      m_context,
      [this] {
        auto* server = new QTcpServer(m_context);
        std::shared_ptr<State> state = m_state;
        QObject::connect(server, &QTcpServer::newConnection, server, [server, state] {
          while (QTcpSocket* s = server->nextPendingConnection()) new Connection(s, state);
        });
        if (server->listen(QHostAddress::LocalHost, 0)) m_port = server->serverPort();
      },
      Qt::BlockingQueuedConnection);
}

PageOrigin::~PageOrigin() {
  QMetaObject::invokeMethod(
      m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
  m_thread.quit();
  m_thread.wait();
}

std::string PageOrigin::HostPath(const std::string& path) const {
  return "127.0.0.1:" + std::to_string(m_port) + path;
}

void PageOrigin::Serve(const std::string& path, OriginPage page) {
  std::lock_guard<std::mutex> g(m_state->lock);
  m_state->pages[path] = std::move(page);
}

int PageOrigin::Hits(const std::string& path) const {
  std::lock_guard<std::mutex> g(m_state->lock);
  auto it = m_state->heads.find(path);
  return it == m_state->heads.end() ? 0 : static_cast<int>(it->second.size());
}

std::string PageOrigin::LastRequestHead(const std::string& path) const {
  std::lock_guard<std::mutex> g(m_state->lock);
  auto it = m_state->heads.find(path);
  return it == m_state->heads.end() ? std::string() : it->second.back();
}

std::vector<std::string> PageOrigin::RequestOrder() const {
  std::lock_guard<std::mutex> g(m_state->lock);
  return m_state->order;
}

int DeadLoopbackPort() {
  // Bound but never listening, and kept bound for the whole run, so connections are
  // refused and no other program can take the port meanwhile.
  static const int port = [] {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return 1;
    return static_cast<int>(ntohs(a.sin_port));
  }();
  return port;
}

}  // namespace qbtest
