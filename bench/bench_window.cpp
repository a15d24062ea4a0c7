// The main window with big lists: start-up with a long Proxies.pro, a header-click sort
// of a million rows, a paste of ten megabytes, and selecting and scrolling a
// million-row view. Every figure is wall time until the window has painted again.
//
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_window [--startup-rows N] [--rows N]
//      [--paste-mb N] [--repeat N]
// The real program's start to idle and its exit are bench/window_process.py's.
// Prints one line per measurement; the figures go into the closing notes, never into
// timed tests.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/MainDlg.h"
#include "base/Files.h"
#include "base/Prompt.h"
#include "datadir/DataDir.h"
#include "proxy/ProxyListModel.h"
#include "sysproxy/RecordingProxyPlatform.h"
#include "ui/Resources.h"
#include "ui/SortListCtrl.h"

using namespace qb;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Every message is answered at once and noted, so that no box waits for a person.
class SilentPrompt : public qb::IUserPrompt {
 public:
  qb::MsgResult Message(const std::string& text, const std::string& caption, qb::MsgIcon,
                        qb::MsgButtons buttons) override {
    std::fprintf(stderr, "  (message %s: %s)\n", caption.c_str(), text.c_str());
    return buttons == qb::MsgButtons::YesNo ? qb::MsgResult::Yes : qb::MsgResult::Ok;
  }
  std::optional<std::string> OpenFile(const qb::FileDialogSpec&) override { return std::nullopt; }
  std::optional<std::string> SaveFile(const qb::FileDialogSpec&) override { return std::nullopt; }
};

// Rows as a day's list has them: dotted addresses, common ports, a type, a time or a
// status, a remark on some. Addresses are from the documentation ranges and below;
// nothing is ever contacted.
std::string ProxyFileText(int n, unsigned seed) {
  static const char* kTypes[] = {"HTTP", "HTTP", "HTTP", "HTTPS", "SOCKS4", "SOCKS5"};
  static const char* kStatus[] = {"未验证", "连接失败", "超时", "不匹配", "", ""};
  static const int kPorts[] = {80, 3128, 8080, 8000, 1080, 8888, 9050};
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(static_cast<std::size_t>(n) * 44);
  char buf[160];
  for (int i = 0; i < n; ++i) {
    const unsigned a = 1 + rng() % 223, b = rng() % 256;
    const unsigned c = (static_cast<unsigned>(i) >> 8) & 0xFF, d = static_cast<unsigned>(i) & 0xFF;
    const char* status = kStatus[rng() % 6];
    char time[16];
    if (!*status) {
      std::snprintf(time, sizeof time, "%.1f", static_cast<double>(rng() % 300) / 10.0);
      status = time;
    }
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%d@%s$%s%s\r\n", a, b, c, d, kPorts[rng() % 7],
                  kTypes[rng() % 6], status, (i % 3 == 0) ? "#中国 北京" : "");
    out += buf;
  }
  return out;
}

// About targetBytes of text as people paste it: proxies among words, one per line,
// some with a type, the rest bare.
std::string PasteText(std::size_t targetBytes, int proxyEvery, unsigned seed) {
  std::mt19937 engine(seed);
  auto rng = [&engine] { return static_cast<unsigned>(engine()); };
  std::string out;
  out.reserve(targetBytes + 200);
  char buf[200];
  int i = 0;
  while (out.size() < targetBytes) {
    if (i % proxyEvery == 0) {
      std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u%s\n", 1 + rng() % 223, rng() % 256, rng() % 256,
                    rng() % 256, 80 + rng() % 9000, (i % 4 == 0) ? "@HTTPS" : "");
    } else {
      std::snprintf(buf, sizeof buf,
                    "<tr><td>line %d of the page</td><td>nothing to see, %u visits</td></tr>\n", i,
                    rng() % 100000);
    }
    out += buf;
    ++i;
  }
  return out;
}

struct BenchDir {
  QTemporaryDir tmp;
  std::string path = tmp.path().toStdString() + "/";
  BenchDir() {
    qb::WriteFileAtomically(path + "Setting.dat",
                            "local@http://127.0.0.1:9/feature.html%Feature$1\r\n"
                            "m_bMinimize=0\r\nm_bAutoRun=0\r\nm_bAutoTimingVerify=0\r\n");
  }
};

// The window over its directory, as the program opens them: the directory outlives
// the window.
struct BenchWindow {
  std::unique_ptr<qb::DataDir> dir;
  std::unique_ptr<CMainDlg> dlg;
  CMainDlg* operator->() const { return dlg.get(); }
  CMainDlg* get() const { return dlg.get(); }
  void reset() {
    dlg.reset();
    dir.reset();
  }
};

BenchWindow OpenWindow(const BenchDir& dir) {
  MainDlgOptions o;
  o.platform = std::make_unique<CRecordingProxyPlatform>();
  o.applyAutoRun = false;
  o.forceNoTray = true;
  qb::DataDir::OpenOptions options;
  options.favoritesProfile = dir.path + "bench.INI";
  BenchWindow w;
  w.dir = qb::DataDir::Open(dir.path, qb::DataDir::Access::Write, nullptr, options);
  w.dlg = std::make_unique<CMainDlg>(*w.dir, std::move(o));
  return w;
}

// Until the window is on screen and has painted everything once.
void WaitShownAndPainted(QWidget* w) {
  const auto until = Clock::now() + std::chrono::seconds(10);
  while ((!w->windowHandle() || !w->windowHandle()->isExposed()) && Clock::now() < until) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  QCoreApplication::processEvents();
  w->repaint();
}

// Events pending from a command (deferred layout, the coalesced status line), then a
// full repaint of the window: what the user waits for.
void Settle(QWidget* w) {
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  w->repaint();
}

void ClickHeader(CSortListCtrl* view, int column) {
  QHeaderView* h = view->horizontalHeader();
  const QPointF p(h->sectionViewportPosition(column) + h->sectionSize(column) / 2.0, h->height() / 2.0);
  const QPointF g = h->viewport()->mapToGlobal(p);
  QMouseEvent press(QEvent::MouseButtonPress, p, g, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(h->viewport(), &press);
  QMouseEvent release(QEvent::MouseButtonRelease, p, g, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(h->viewport(), &release);
}

// A line of /proc/self/status in KiB ("VmRSS:", "VmHWM:"), 0 when not there.
long ResidentKib(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, std::strlen(field)) == 0) kib = std::atol(line + std::strlen(field));
  }
  std::fclose(f);
  return kib;
}

// Starts VmHWM again from the present resident size.
void ResetPeakResident() {
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Runs a measurement repeat times and prints the median and the worst.
void Report(const char* what, double target, int repeat, const std::function<double()>& once) {
  std::vector<double> t;
  for (int i = 0; i < repeat; ++i) t.push_back(once());
  const double med = Median(t);
  const double worst = *std::max_element(t.begin(), t.end());
  std::printf("%-52s median %7.3f s  worst %7.3f s%s%s\n", what, med, worst,
              target > 0 ? (med <= target ? "  (target " : "  MISSED (target ") : "",
              target > 0 ? (std::to_string(target).substr(0, 3) + " s)").c_str() : "");
  std::fflush(stdout);
}

int Arg(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  qb::InitResources();
  SilentPrompt prompt;
  qb::SetPrompt(&prompt);

  const int startupRows = Arg(argc, argv, "--startup-rows", 100000);
  const int bigRows = Arg(argc, argv, "--rows", 1000000);
  const int pasteMb = Arg(argc, argv, "--paste-mb", 10);
  const int repeat = std::max(1, Arg(argc, argv, "--repeat", 3));
  std::printf("platform %s, %d rows at start-up, %d rows for the big list, %d MB paste\n",
              qPrintable(QGuiApplication::platformName()), startupRows, bigRows, pasteMb);

  // --- Start-up with a long list: construct the window (settings, list file, favourites,
  // sources) and show it until it has painted.
  {
    BenchDir dir;
    qb::WriteFileAtomically(dir.path + "Proxies.pro", ProxyFileText(startupRows, 1));
    char what[96];
    std::snprintf(what, sizeof what, "start-up, %d rows, until shown", startupRows);
    Report(what, 1.5, repeat, [&] {
      const auto t = Clock::now();
      auto dlg = OpenWindow(dir);
      dlg->show();
      WaitShownAndPainted(dlg.get());
      const double s = Seconds(t);
      if (dlg->Dir().List().RowCount() != startupRows)
        std::printf("  rows loaded: %d\n", dlg->Dir().List().RowCount());
      return s;
    });
  }

  // --- A million rows: start-up, header-click sorts, select all and scrolling.
  {
    BenchDir dir;
    qb::WriteFileAtomically(dir.path + "Proxies.pro", ProxyFileText(bigRows, 2));
    auto t = Clock::now();
    auto dlg = OpenWindow(dir);
    dlg->show();
    WaitShownAndPainted(dlg.get());
    char what[96];
    std::snprintf(what, sizeof what, "start-up, %d rows, until shown", dlg->Dir().List().RowCount());
    std::printf("%-52s %7.3f s\n", what, Seconds(t));

    CSortListCtrl* view = dlg->ListView();
    static const char* kColumn[] = {"type", "address", "port", "time/status", "remark"};
    for (int column : {1, 3, 2, 0, 4}) {
      for (int click = 0; click < 2; ++click) {
        std::snprintf(what, sizeof what, "header click, %s %s", kColumn[column],
                      click == 0 ? "ascending" : "descending");
        Report(what, 1.5, 1, [&] {
          const auto t0 = Clock::now();
          ClickHeader(view, column);
          Settle(dlg.get());
          return Seconds(t0);
        });
      }
    }

    // The selection follows its rows through a sort. A paste or an import leaves its
    // new rows selected as one block; the first sort scatters that block over the list,
    // and the next sort has to carry every scattered row.
    auto sortWithSelection = [&](const char* label, int column) {
      std::snprintf(what, sizeof what, "header click, %s, %s", kColumn[column], label);
      Report(what, 1.5, 1, [&] {
        const int selected = dlg->Dir().List().SelectedCount();
        const auto t0 = Clock::now();
        ClickHeader(view, column);
        Settle(dlg.get());
        const double s = Seconds(t0);
        if (dlg->Dir().List().SelectedCount() != selected) std::printf("  the sort changed the selection!\n");
        return s;
      });
    };
    dlg->OnSelectAll();
    Settle(dlg.get());
    // The resident size while the sorts carry every row's selection: the peak (reset
    // before, so that it is this sort's) and what stays after.
    const long rssBefore = ResidentKib("VmRSS:");
    ResetPeakResident();
    sortWithSelection("every row selected", 0);
    sortWithSelection("every row selected", 0);
    std::printf("%-52s %7ld MiB before, peak %ld MiB, after %ld MiB\n",
                "resident, type sorts with every row selected", rssBefore / 1024,
                ResidentKib("VmHWM:") / 1024, ResidentKib("VmRSS:") / 1024);
    sortWithSelection("every row selected", 3);
    dlg->Dir().List().selectionModel()->clearSelection();
    const int rowCount = dlg->Dir().List().RowCount();
    dlg->Dir().List().selectionModel()->select(
        QItemSelection(dlg->Dir().List().index(rowCount / 2, 0), dlg->Dir().List().index(rowCount - 1, 4)),
        QItemSelectionModel::Select);
    Settle(dlg.get());
    sortWithSelection("last half selected as a block", 1);
    sortWithSelection("that half scattered", 2);
    sortWithSelection("that half scattered", 4);
    // Every visible cell asks the selection model, which looks through its ranges one
    // by one: a scattered selection makes each repaint cost its number of ranges.
    std::snprintf(what, sizeof what, "page step + repaint, %d scattered ranges",
                  static_cast<int>(dlg->Dir().List().selectionModel()->selection().size()));
    Report(what, 0, repeat, [&] {
      QScrollBar* bar = view->verticalScrollBar();
      const auto t0 = Clock::now();
      bar->setValue(bar->value() + bar->pageStep());
      QCoreApplication::processEvents();
      view->viewport()->repaint();
      return Seconds(t0);
    });
    dlg->Dir().List().selectionModel()->clearSelection();

    Report("select all (command) + repaint", 0, repeat, [&] {
      dlg->Dir().List().selectionModel()->clearSelection();
      Settle(dlg.get());
      const auto t0 = Clock::now();
      dlg->OnSelectAll();
      Settle(dlg.get());
      return Seconds(t0);
    });
    Report("Ctrl+A in the view + repaint", 0, repeat, [&] {
      dlg->Dir().List().selectionModel()->clearSelection();
      Settle(dlg.get());
      const auto t0 = Clock::now();
      view->selectAll();
      Settle(dlg.get());
      return Seconds(t0);
    });
    Report("scroll to end + repaint (all selected)", 0, repeat, [&] {
      view->scrollToTop();
      Settle(dlg.get());
      const auto t0 = Clock::now();
      view->scrollToBottom();
      Settle(dlg.get());
      return Seconds(t0);
    });
    Report("100 page steps + repaint each (per step)", 0, repeat, [&] {
      QScrollBar* bar = view->verticalScrollBar();
      bar->setValue(bar->maximum() / 2);
      Settle(dlg.get());
      const auto t0 = Clock::now();
      for (int i = 0; i < 100; ++i) {
        bar->setValue(bar->value() + bar->pageStep());
        QCoreApplication::processEvents();
        view->viewport()->repaint();
      }
      return Seconds(t0) / 100;
    });
    Report("click one row near the end (select + status line)", 0, repeat, [&] {
      const auto t0 = Clock::now();
      const QModelIndex i = dlg->Dir().List().index(dlg->Dir().List().RowCount() - 3, 1);
      view->selectionModel()->setCurrentIndex(
          i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      Settle(dlg.get());
      return Seconds(t0);
    });
    Report("status line with every row selected", 0, repeat, [&] {
      dlg->OnSelectAll();
      Settle(dlg.get());
      const auto t0 = Clock::now();
      dlg->UpdateStatusLine();
      return Seconds(t0);
    });
    // The filter field: the rows matched, hidden in the view, and the window repainted.
    dlg->Dir().List().selectionModel()->clearSelection();
    for (const char* text : {"socks5", "no such text", ""}) {
      std::snprintf(what, sizeof what, "filter \"%s\" applied + repaint", text);
      Report(what, 1.0, 1, [&] {
        {
          // Applied here, not a moment later by the field's timer.
          const QSignalBlocker quiet(dlg->FilterField());
          dlg->FilterField()->setText(QString::fromUtf8(text));
        }
        const auto t0 = Clock::now();
        dlg->ApplyFilter();
        Settle(dlg.get());
        return Seconds(t0);
      });
    }
    // The window's own exit, as its close box asks for it (no tray here), then what the
    // program does after its event loop: the window and the directory destroyed. A few
    // favourites are ticked, and the rows are sorted: their marks are saved as places in
    // the file's order.
    for (int r = 0; r < dlg->Dir().List().RowCount(); r += 100000) dlg->Dir().List().SetFavorite(r, true);
    t = Clock::now();
    dlg->close();
    const double closed = Seconds(t);
    dlg.reset();
    std::printf("%-52s %7.3f s (closing %.3f s)\n", "window with the big list closed and destroyed",
                Seconds(t), closed);
  }

  // --- Paste of a big text into a window with an empty list: the extraction, the new
  // rows (selected), the list file and the repaint.
  for (int every : {1, 8}) {
    const std::string text = PasteText(static_cast<std::size_t>(pasteMb) << 20, every, 3);
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
    char what[96];
    std::snprintf(what, sizeof what, "paste %d MB, a proxy on %s", pasteMb,
                  every == 1 ? "every line" : "every 8th line");
    int rows = 0;
    Report(what, 2.0, repeat, [&] {
      BenchDir dir;
      auto dlg = OpenWindow(dir);
      dlg->show();
      WaitShownAndPainted(dlg.get());
      const auto t0 = Clock::now();
      QAbstractButton* paste = dlg->Button(1046);
      paste->click();
      Settle(dlg.get());
      const double s = Seconds(t0);
      rows = dlg->Dir().List().RowCount();
      return s;
    });
    std::printf("  %d rows added\n", rows);
  }
  qb::SetPrompt(nullptr);
  return 0;
}
