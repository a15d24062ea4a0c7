// Rows another program adds to Proxies.pro while the window verifies are never lost:
// every save of the window takes them in first, in one read, merge and write that
// checks the file's identity, and the rows of a file put in the list's place between
// that look and the save are found in the file the save displaces.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTest>

#include <set>
#include <string>

#include "app/MainDlg.h"
#include "proxy/ProxyListModel.h"
#include "settings/VerifySource.h"
#include "support/LoopbackPeers.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedPrompt.h"
#include "support/TempDir.h"
#include "support/TestWindow.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "verify/VerifyControl.h"

using namespace qb;
using qbtest::Peer;
using qbtest::Peers;
using qbtest::ReadFile;
using qbtest::TempDir;
using qbtest::WriteFile;

namespace {

// Another program adding rows: one every `gap` seconds, either appended to the file or
// written as a new file renamed over it, as editors and scripts do. It prints "done"
// when the last is written.
const char* const kWriter = R"(
import os, sys, time
path, count, gap, how = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
for i in range(count):
    line = "10.9.%d.%d:8080@HTTP$未验证#behind %d\r\n" % (i // 250, i % 250 + 1, i)
    if how == "append":
        with open(path, "a", encoding="utf-8") as f:
            f.write(line)
    else:
        try:
            with open(path, encoding="utf-8", newline="") as f:
                text = f.read()
        except FileNotFoundError:
            text = ""
        with open(path + ".new", "w", encoding="utf-8", newline="") as f:
            f.write(text + line)
        os.replace(path + ".new", path)
    time.sleep(gap)
print("done", flush=True)
)";

std::set<std::string> BehindRows(const std::string& text) {
  std::set<std::string> out;
  std::size_t at = 0;
  while ((at = text.find("#behind ", at)) != std::string::npos) {
    const std::size_t end = text.find_first_of("\r\n", at);
    out.insert(text.substr(at + 1, end - at - 1));
    at = end;
  }
  return out;
}

class RowsBehind : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override {
    dlg.reset();
    EXPECT_TRUE(CVerifyControl::DrainWorkers(3000));
  }
  TempDir data, config;
  ScopedEnv xdg{"XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path())};
  qbtest::ScriptedPrompt prompt;
  qbtest::TestWindow dlg;
};

TEST_P(RowsBehind, EveryRowAnotherProgramAddsDuringARunIsKept) {
  QB_REQUIRE_PEER(Peer::Origin);
  const auto& p = Peers();
  // A run of a few seconds: 25 rows whose proxy never answers, each given up after its
  // one-second time-out, five at a time. Leading zeros and the types make them 25
  // rows of one silent proxy.
  std::string list;
  const char* types[] = {"HTTP", "HTTPS", "SOCKS4", "SOCKS5", "GOPHER"};
  for (int i = 0; i < 25; ++i)
    list += "127.0.0.1:" + std::string(static_cast<std::size_t>(i % 5), '0') +
            std::to_string(p.SilentPort()) + "@" + types[i / 5] + "$未验证#mine " + std::to_string(i) +
            "\r\n";
  WriteFile(data.File("Proxies.pro"), list);
  WriteFile(data.File("Setting.dat"),
            EncodeVerifySourceText("本地", p.OriginUrl("/feature.html"), p.Feature()) +
                "$1\r\nm_nThreadNumber=5\r\nm_nConTimeout=1\r\nm_nVerifyTimeout=1\r\n"
                "m_bAutoAddToFavorite=1\r\nm_bAutoTimingVerify=0\r\nm_bAutoRun=0\r\nm_bMinimize=0\r\n");
  MainDlgOptions o;
  o.platform = std::make_unique<CRecordingProxyPlatform>();
  o.applyAutoRun = false;
  o.forceNoTray = true;
  dlg = qbtest::OpenTestWindow(data.Path(), config.File("q.INI"), std::move(o));

  QProcess writer;
  writer.start("/usr/bin/python3",
               {"-c", kWriter, QString::fromStdString(data.File("Proxies.pro")), "200", "0.03", GetParam()});
  ASSERT_TRUE(writer.waitForStarted(5000));
  dlg->OnVerifyAll();
  ASSERT_FALSE(dlg->Verifier().IsIdle());
  // The run ends while the other program still writes; a second run follows, so that
  // saves of the window meet its rows again and again.
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Verifier().IsIdle(); }, 30000));
  dlg->OnVerifyAll();
  ASSERT_TRUE(QTest::qWaitFor([&] { return writer.state() == QProcess::NotRunning; }, 30000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return dlg->Verifier().IsIdle(); }, 30000));
  EXPECT_EQ(writer.readAllStandardOutput().trimmed(), "done");
  // What came after the last save is taken in when the window looks again.
  dlg->Dir().CheckFilesNow();
  QTest::qWait(300);
  ASSERT_TRUE(dlg->Dir().SaveList());

  std::set<std::string> expected;
  for (int i = 0; i < 200; ++i) expected.insert("behind " + std::to_string(i));
  const std::string file = ReadFile(data.File("Proxies.pro"));
  EXPECT_EQ(BehindRows(file), expected);
  std::set<std::string> shown;
  for (int r = 0; r < dlg->Dir().List().RowCount(); ++r) {
    const std::string remark(dlg->Dir().List().Entry(r)->Remark());
    if (remark.rfind("behind ", 0) == 0) shown.insert(remark);
  }
  EXPECT_EQ(shown, expected);
  // And the window's own rows are all there with their results.
  EXPECT_EQ(dlg->Dir().List().RowCount(), 25 + 200);
}

INSTANTIATE_TEST_SUITE_P(AppendedOrReplaced, RowsBehind, ::testing::Values("append", "replace"));

}  // namespace
