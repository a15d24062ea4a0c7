#include "app/ProxyApp.h"

#include <QLocale>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/MainDlg.h"
#include "app/SingleInstance.h"
#include "base/InstanceLink.h"
#include "base/Language.h"
#include "base/ProgramDir.h"
#include "base/Prompt.h"
#include "base/Translate.h"
#include "datadir/DataDir.h"
#include "ui/QtPrompt.h"
#include "ui/Resources.h"
#include "verify/VerifyControl.h"

namespace qb {

namespace {
qb::QtPrompt g_qtPrompt;
// How long a start waits for a command that writes the data directory to finish.
constexpr int kDataLockWaitMs = 5000;
}  // namespace

CProxyApp::CProxyApp(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName("Quillberry");
  setQuitOnLastWindowClosed(false);
}

CProxyApp::~CProxyApp() = default;

int CProxyApp::Run() {
  // From the start: a stop asked for while a long list loads would otherwise end the
  // process at once, its lock left behind; it is taken up once the window runs.
  WatchStopSignals();
  // --data-dir DIR, as for the command line; the last one given counts.
  const QStringList args = arguments();
  std::optional<std::string> dataDirOption;
  std::optional<std::string> languageOption;
  QString action;
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--data-dir" && i + 1 < args.size()) dataDirOption = args[i + 1].toStdString();
    if (args[i].startsWith(QLatin1String("--data-dir="))) dataDirOption = args[i].mid(11).toStdString();
    if (args[i] == "--lang" && i + 1 < args.size()) languageOption = args[i + 1].toStdString();
    if (args[i].startsWith(QLatin1String("--lang="))) languageOption = args[i].mid(7).toStdString();
    if (args[i] == "--verify-all") action = QStringLiteral("verify-all");
    if (args[i] == "--cancel-proxy") action = QStringLiteral("cancel-proxy");
  }
  // Before the first message box, which speaks the interface's language too.
  m_catalogues = std::make_unique<CLanguageCatalogues>(
      ChooseLanguage(languageOption, LanguageSetting(), QLocale::system().uiLanguages()));
  MainDlgOptions options;
  options.windowStateIni = WindowStatePath();
  std::string why;
  const std::string dataDirPath = ChooseDataDir(dataDirOption, &why);
  if (dataDirPath.empty()) {
    std::fprintf(stderr, "quillberry: cannot start: %s\n", why.c_str());
    qb::ShowMessage(qb::TrStd(QT_TRANSLATE_NOOP("Quillberry", "无法确定数据目录：")) + why, "Quillberry",
                    qb::MsgIcon::Error);
    return 1;
  }

  m_instance = std::make_unique<CSingleInstance>();
  const QString dataDir = QString::fromStdString(AbsoluteDataDir(dataDirPath));
  m_instance->SetDataDir(dataDir);
  // A desktop action without a directory is meant for the window the user sees.
  if (!action.isEmpty()) m_instance->SetAction(action, !dataDirOption);
  if (!m_instance->Claim()) {
    const QString running = m_instance->RunningDataDir();
    // A desktop action without a directory was meant for whichever list runs.
    const bool anyDir = !action.isEmpty() && !dataDirOption;
    if (!anyDir && !running.isEmpty() && running != dataDir) {
      // The running window was brought forward, but it shows another list than the
      // one asked for: say so rather than let the user edit the wrong list.
      std::fprintf(stderr,
                   "quillberry: already running with the data directory %s; its window was brought forward "
                   "(this start asked for %s)\n",
                   running.toLocal8Bit().constData(), dataDir.toLocal8Bit().constData());
      return kExitOtherDataDir;
    }
    if (!m_instance->Error().isEmpty()) {
      std::fprintf(stderr, "quillberry: cannot start: %s\n", m_instance->Error().toLocal8Bit().constData());
      return 1;
    }
    return 0;  // the running instance shows itself
  }

  // The list is this window's to write from now on: a command that would write it
  // hands its rows to this window instead (see Answer).
  DataDir::OpenReport report;
  DataDir::OpenOptions dirOptions;
  dirOptions.lockWaitMs = kDataLockWaitMs;
  dirOptions.waitForWindow = true;
  m_dir = DataDir::Open(dataDirPath, DataDir::Access::Write, &report, dirOptions);
  switch (report.holder) {
    case DataDir::Holder::Us:
    case DataDir::Holder::None:
      break;
    case DataDir::Holder::Window:
    case DataDir::Holder::Command: {
      std::fprintf(
          stderr,
          "quillberry: cannot start: the data directory %s is being written by %s; start again when it "
          "has finished\n",
          dataDirPath.c_str(), report.holderText.c_str());
      qb::ShowMessage(
          qb::Tr(QT_TRANSLATE_NOOP("Quillberry",
                                   "数据目录 %1 正在被 %2 写入。\n\n请等它结束后再启动 Quillberry。"))
              .arg(QString::fromStdString(dataDirPath), QString::fromStdString(report.holderText))
              .toStdString(),
          "Quillberry", qb::MsgIcon::Error);
      return kExitDataDirBusy;
    }
    case DataDir::Holder::NoLock:
      // A directory the lock cannot be made in cannot take the window's saves either;
      // each save says so when it fails.
      std::fprintf(stderr, "quillberry: %s\n", report.error.c_str());
      break;
  }

  m_curl = std::make_unique<qb::CurlGlobal>();
  if (!m_curl->Ok()) {
    qb::ShowMessage(QT_TRANSLATE_NOOP("Quillberry", "网络库初始化失败。"), "Quillberry", qb::MsgIcon::Error);
    return 1;
  }
  qb::SetPrompt(&g_qtPrompt);

  qb::InitResources();
  m_mainDlg = new CMainDlg(*m_dir, std::move(options));
  g_qtPrompt.SetParent(m_mainDlg);
  connect(m_instance.get(), &CSingleInstance::ShowRequested, m_mainDlg, &CMainDlg::OnShowDialog);
  m_instance->SetRequestHandler(
      [this, dataDir](const LinkMessage& request) { return Answer(request, dataDir); });
  connect(
      m_instance.get(), &CSingleInstance::OtherDataDirRequested, m_mainDlg,
      [dataDir](const QString& requested) {
        qb::ShowMessage(
            qb::Tr(QT_TRANSLATE_NOOP(
                       "Quillberry",
                       "Quillberry 已经在运行，它打开的数据目录是：\n%1\n\n这次启动要求的数据目录是：\n%2\n\n"
                       "请先退出正在运行的程序，再用该目录启动。"))
                .arg(dataDir, requested)
                .toStdString(),
            "Quillberry", qb::MsgIcon::Information);
      },
      Qt::QueuedConnection);
  connect(m_mainDlg, &CMainDlg::ExitRequested, this, &QApplication::quit);
  connect(this, &QGuiApplication::commitDataRequest, m_mainDlg,
          [this](QSessionManager&) { m_mainDlg->OnSessionEnd(); });
  connect(m_instance.get(), &CSingleInstance::ActionRequested, m_mainDlg, &CMainDlg::RunAction);
  if (action.isEmpty()) {
    m_mainDlg->StartUp();
  } else {
    // Started for one piece of work: the tray holds the program while it runs.
    m_mainDlg->StartUp(/*minimised=*/true);
    QTimer::singleShot(0, m_mainDlg, [this, action] { m_mainDlg->RunAction(action); });
  }

  const int code = exec();
  delete m_mainDlg;
  m_mainDlg = nullptr;
  qb::SetPrompt(nullptr);
  // The data directory lets go before any worker is waited for: a worker that keeps
  // the process a moment longer must not keep the lock.
  m_dir.reset();
  // Workers stuck in long requests must not hold the program: give them a moment to
  // see their abort, then leave without waiting for them.
  if (!CVerifyControl::DrainWorkers(1500)) std::_Exit(code);
  return code;
}

namespace {
int g_stopPipe[2] = {-1, -1};
void OnStopSignal(int sig) {
  const char c = static_cast<char>(sig);
  [[maybe_unused]] const ssize_t n = ::write(g_stopPipe[1], &c, 1);
}
}  // namespace

void CProxyApp::WatchStopSignals() {
  // The handler only writes a byte; the window's exit runs on the event loop.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_stopPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this, notifier] {
    char c = 0;
    if (::read(g_stopPipe[0], &c, 1) != 1) return;
    notifier->setEnabled(false);
    if (m_mainDlg) {
      m_mainDlg->OnTerminate();
    } else {
      quit();
    }
  });
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
}

LinkMessage CProxyApp::Answer(const LinkMessage& request, const QString& dataDir) {
  if (request.Verb() != link::kAdd || !m_mainDlg) return {{link::kRefused, link::kBadRequest}, {}};
  // Rows meant for another list must not land in this one.
  if (QString::fromUtf8(request.Field(1)) != dataDir)
    return {{link::kRefused, link::kOtherDir, dataDir.toUtf8()}, {}};
  // A line may carry its proxy's log-on after it: "line\tuser\tpassword" (a tab can
  // be in neither).
  std::vector<std::string> lines;
  FoundCredentialList logOns;
  lines.reserve(static_cast<std::size_t>(request.body.size()));
  for (const QByteArray& body : request.body) {
    const QList<QByteArray> fields = body.split('\t');
    lines.push_back(fields.front().toStdString());
    if (fields.size() == 3) {
      const ProxyCredentials logOn{fields[1].toStdString(), fields[2].toStdString()};
      const std::string key = CredentialsKeyOfLine(lines.back());
      if (!key.empty() && ValidCredentials(logOn)) logOns.emplace_back(key, logOn);
    }
  }
  qb::OpResult saved;
  const std::vector<std::string> added = m_mainDlg->AddHandedRows(lines, logOns, &saved);
  LinkMessage answer{{link::kAdded, QByteArray::number(static_cast<qsizetype>(added.size()))}, {}};
  // The rows are in the window's list even so; the command says that the file lags.
  if (!saved || request.Field(3) == link::kThenVerify)
    answer.header.push_back(saved ? QByteArray() : QByteArray::fromStdString(saved.Describe()));
  if (request.Field(3) == link::kThenVerify)
    answer.header.push_back(m_mainDlg->VerifyAllWhenIdle() ? link::kVerifying : link::kVerifyQueued);
  answer.body.reserve(static_cast<qsizetype>(added.size()));
  for (const std::string& line : added) answer.body.push_back(QByteArray::fromStdString(line));
  return answer;
}

}  // namespace qb
