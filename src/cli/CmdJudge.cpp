// quillberry-cli judge: a proxy judge for verification resources.
#include <csignal>
#include <cstdio>

#include <optional>
#include <string>

#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "settings/Options.h"
#include "verify/Judge.h"
#include "verify/JudgeServer.h"

namespace qb::cli {

namespace {

constexpr int kDefaultJudgePort = 8898;

constexpr const char* kJudgeUsage =
    QT_TRANSLATE_NOOP("QuillberryHelp",
                      "Usage: quillberry-cli judge [--listen ADDRESS:PORT]\n"
                      "\n"
                      "Runs a proxy judge: an HTTP server that answers every GET with a page echoing\n"
                      "the request it received, one line per item: REMOTE_ADDR = the address the\n"
                      "connection came from, REMOTE_PORT, REQUEST_METHOD, REQUEST_URI,\n"
                      "SERVER_PROTOCOL, and HTTP_<NAME> = value for each header (X-Forwarded-For as\n"
                      "HTTP_X_FORWARDED_FOR). The page also holds the text \"QuillberryJudge\".\n"
                      "\n"
                      "Use its URL as the HTTP verification resource, with the feature string\n"
                      "REMOTE_ADDR (or QuillberryJudge): verifying then also tells each working proxy's\n"
                      "exit address and anonymity (transparent, anonymous or elite). Any other judge\n"
                      "page of this form works the same way. Run it on a host outside your own network\n"
                      "to judge public proxies.\n"
                      "\n"
                      "--listen ADDRESS:PORT  where to listen (default localhost:8898; port 0 takes any\n"
                      "                       free one). localhost is both 127.0.0.1 and [::1] on one\n"
                      "                       port, so that a judge URL naming localhost judges each\n"
                      "                       proxy over IPv4 and IPv6; an address is listened on\n"
                      "                       alone. Only loopback serves this computer alone; any\n"
                      "                       other address must be named here\n"
                      "\n"
                      "Prints the addresses it listens on, then runs until Ctrl-C or SIGTERM.\n"
                      "Exit status: 0 after Ctrl-C or SIGTERM; 1 when the address cannot be listened on;\n"
                      "2 for bad arguments.");

std::optional<ListenAddress> ParseJudgeListen(const std::string& text) {
  // Port 0 (any free port) is allowed here, unlike in the endpoint's setting.
  if (text.size() > 2 && text.substr(text.size() - 2) == ":0") {
    std::optional<ListenAddress> a = ParseListenAddress(text.substr(0, text.size() - 1) + "1");
    if (a) a->port = 0;
    return a;
  }
  return ParseListenAddress(text);
}

}  // namespace

int RunJudge(const QStringList& args, const std::string&) {
  if (WantsHelp(args)) {
    Out(Help(kJudgeUsage));
    return kExitOk;
  }
  ListenAddress listen{"localhost", kDefaultJudgePort};
  for (int i = 0; i < args.size(); ++i) {
    QString a = args[i];
    QString value;
    if (a.startsWith("--listen=")) {
      value = a.mid(9);
    } else if (a == "--listen") {
      if (i + 1 >= args.size()) {
        Err("judge: --listen needs a value");
        return kExitUsage;
      }
      value = args[++i];
    } else {
      Err("judge: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli judge --help' for usage.");
      return kExitUsage;
    }
    const std::optional<ListenAddress> parsed = ParseJudgeListen(value.toStdString());
    if (!parsed) {
      Err("judge: --listen needs ADDRESS:PORT with a port from 0 to 65535, not " + value.toStdString());
      return kExitUsage;
    }
    listen = *parsed;
  }

  // The signals are taken by this thread alone; the server's thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  CJudgeServer server(listen.host, listen.port);
  if (const OpResult started = server.Start(); !started) {
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
    return ReportFailure("judge", started);
  }
  std::string where;
  for (const std::string& address : server.Listening()) where += (where.empty() ? "" : " and ") + address;
  Out("judge: listening on " + where);
  if (!IsLoopbackHost(listen.host)) Err("judge: this address may be reachable from the network");
  std::fflush(stdout);

  int sig = 0;
  while (sig != SIGINT && sig != SIGTERM) sigwait(&stopSignals, &sig);
  server.Stop();
  pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
  return kExitOk;
}

}  // namespace qb::cli
