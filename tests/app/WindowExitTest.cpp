// The window's exit over a long list, in a process of its own: what it saves is whole
// afterwards, and a kill at any moment of the exit leaves each file as it was or as the
// exit wrote it, never cut short.
#include <gtest/gtest.h>

#include <QThread>

#include <csignal>
#include <string>

#include "base/InstanceLink.h"
#include "base/Text.h"
#include "support/SignalProcess.h"
#include "support/TempDir.h"
#include "support/WindowProcess.h"

using namespace qb;
using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WindowProcess;
using qbtest::WriteFile;

namespace {

constexpr int kRows = 100000;

std::string LongList() {
  std::string text;
  text.reserve(kRows * 40);
  for (int i = 0; i < kRows; ++i)
    text += qb::Format("10.%d.%d.%d:%d@%s$%s#r%d\r\n", i % 200, (i / 200) % 250, i / 50000, 1000 + i % 50000,
                       i % 3 ? "HTTP" : "SOCKS5", i % 4 ? "未验证" : "1.5", i);
  return text;
}

TEST(WindowExit, EveryFileIsWholeAfterTheExitAndAfterAKillDuringIt) {
  if (!WindowProcess::Built()) GTEST_SKIP() << "not built: " << WindowProcess::Program().toStdString();
  const std::string list = LongList();
  const std::string settings =
      "本地@http://127.0.0.1:9/feature.html%QuillberryFeature$1\r\n"
      "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\n";
  // -2: told to stop while it still loads the list, -1: once it runs, and the exit runs
  // to its end; otherwise the process is killed that many milliseconds after it was
  // told to stop, once it ran: in the middle of its saves.
  for (const int killAfterMs : {-2, -1, 0, 1, 3, 6, 10, 20, 40}) {
    SCOPED_TRACE(killAfterMs);
    TempDir data;
    WriteFile(data.File("Setting.dat"), settings);
    WriteFile(data.File("Proxies.pro"), list);
    WriteFile(data.File("quillberry.INI"), "[Quillberry]\nFavoriteProxies=\" 3 99999\"\n");
    WindowProcess window;
    ASSERT_TRUE(window.Start(data.Path())) << "the window never opened its server";
    const std::string windowState =
        window.Env().value("XDG_CONFIG_HOME").toStdString() + "/Quillberry/window.ini";

    if (killAfterMs > -2) {
      // Its event loop answers: the list is loaded and the window shown.
      const auto shown =
          qb::AskRunningWindow(window.SocketPath(), {{qb::link::kShow, QByteArray()}, {}}, 20000);
      ASSERT_TRUE(shown && shown->Verb() == qb::link::kDir);
    }
    ASSERT_TRUE(qbtest::SignalProcess(window.Process(), SIGTERM));
    if (killAfterMs >= 0) {
      QThread::msleep(static_cast<unsigned long>(killAfterMs));
      window.Process().kill();
    }
    ASSERT_TRUE(window.Process().waitForFinished(20000));
    if (killAfterMs < 0) {
      // A stop asked for while the list loads is taken up once the window runs.
      EXPECT_EQ(window.Process().exitStatus(), QProcess::NormalExit);
      EXPECT_EQ(window.Process().exitCode(), 0);
      EXPECT_EQ(ReadFile(data.File(".quillberry.lock")), "<missing>");
      EXPECT_NE(ReadFile(windowState).find("[Window]"), std::string::npos) << ReadFile(windowState);
    } else {
      // Not yet written, or written whole.
      const std::string state = ReadFile(windowState);
      EXPECT_TRUE(state == "<missing>" || state.find("ProxyColumns") != std::string::npos) << state;
    }
    // Each row writes back as it was read, so the file saved at the exit is the one the
    // window was started on, byte for byte, whether or not the save was reached.
    const std::string saved = ReadFile(data.File("Proxies.pro"));
    EXPECT_EQ(saved.size(), list.size());
    EXPECT_TRUE(saved == list) << "the list file differs from the rows the window held";
    EXPECT_EQ(ReadFile(data.File("Setting.dat")), settings);
    EXPECT_NE(ReadFile(data.File("quillberry.INI")).find("FavoriteProxies=\" 3 99999\""), std::string::npos)
        << ReadFile(data.File("quillberry.INI"));
  }
}

}  // namespace
