// The verification history: every result of every run, kept in an embedded SQLite
// database beside the proxy list. The list file stays the authority on which proxies
// exist; the history only adds what the list cannot hold (how often a proxy worked,
// how fast it usually is), so losing it loses statistics and nothing else.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QtGlobal>

struct sqlite3;
struct sqlite3_stmt;

namespace qb {

// How many of a proxy's latest checks its uptime and median are taken over.
inline constexpr int kScoreWindow = 20;
inline constexpr int kDefaultKeepDays = 90;

// One verification result.
struct HistoryRecord {
  std::string proxy;      // "address:port@TYPE", as the list names the row
  std::int64_t when = 0;  // UTC seconds
  std::string resource;   // the URL checked through the proxy
  int code = 0;           // the worker's VerifyStatus
  std::string status;     // the row's text for the result
  double seconds = 0;     // measured time; meaningful when code is VERIFY_OK
  std::string anonymity;
  std::string exitAddress;
  // What the check could tell of whether the proxy tampers: a TrustWord other than
  // "unchecked", or empty. An https:// resource's certificate, as seen through it.
  std::string trust;
  std::string certSha256;
};

// What the history says about one proxy.
struct ProxyScore {
  std::string proxy;
  int checks = 0;     // of the latest kScoreWindow
  int successes = 0;  // among them
  std::optional<double> medianSeconds;
  std::int64_t totalChecks = 0;  // all kept
  std::int64_t lastWhen = 0;
  std::string lastStatus;
  std::string anonymity;  // from the latest result that carried one
  std::string exitAddress;
  std::string trust;  // the latest verdict a check could give (a TrustWord); empty for none
  double Uptime() const { return checks > 0 ? static_cast<double>(successes) / checks : 0.0; }
};

// The score of a proxy's latest checks: (ok, seconds) pairs in any order; only the
// first kScoreWindow count, the caller gives them newest first.
void ScoreChecks(ProxyScore& score, std::span<const std::pair<bool, double>> newestFirst);

// A step of the schema: applied in one transaction to a database whose user_version is
// version - 1, leaving it at version.
struct HistoryMigration {
  int version;
  const char* sql;
};
std::span<const HistoryMigration> HistoryMigrations();

// What kept the history from being opened or written. Only damage moves the file
// aside: a history that is busy, on a full disk or unreadable stays as it is.
enum class HistoryProblem {
  None,
  Busy,        // another program holds a write transaction on it
  Full,        // the disk (or the file's quota) is full
  Damaged,     // no database, another program's or a newer schema, or damage found inside it
  Unreadable,  // it cannot be opened or read (permissions, a link, an I/O error)
};
// "busy", "full", "damaged", "unreadable" (empty for None): the command line's word.
const char* HistoryProblemName(HistoryProblem problem);

// How a write went.
struct HistoryWrite {
  HistoryProblem problem = HistoryProblem::None;
  std::string reason;  // SQLite's words, when it failed
  explicit operator bool() const { return problem == HistoryProblem::None; }
};

class CHistoryStore {
 public:
  struct OpenReport {
    bool created = false;
    // A damaged file was moved here and an empty history made in its place.
    std::string movedAside;
    // How many of the damaged file's results could still be read into the new one.
    std::int64_t salvaged = 0;
    std::string reason;
    HistoryProblem problem = HistoryProblem::None;
  };
  // How it is opened: to record results (made and migrated when needed), or only to
  // read them (nothing is made or changed; works in a directory that is read-only).
  enum class Mode { Write, Read };
  // The largest history that is checked for damage inside at every open; a larger one
  // is checked by `history --check`.
  static constexpr std::int64_t kCheckAtOpenBytes = std::int64_t{16} << 20;

  // Opens the history at path. For Write, a missing file is made and an older schema
  // migrated; a file that is damaged (no database, another program's or a newer
  // schema, or damage that the check at open finds inside) is moved aside, what can
  // still be read of it is copied into a new one, and the report says so. A history
  // that is busy, on a full disk or unreadable is left as it is: nullptr, and the
  // report says which (a link at path is never followed: unreadable).
  static std::unique_ptr<CHistoryStore> Open(
      const std::string& path, OpenReport* report = nullptr,
      std::span<const HistoryMigration> migrations = HistoryMigrations(), Mode mode = Mode::Write);
  // Moves the history at path aside as damaged and makes a new one, with what can
  // still be read of the old one copied into it.
  static std::unique_ptr<CHistoryStore> Rebuild(
      const std::string& path, OpenReport* report = nullptr,
      std::span<const HistoryMigration> migrations = HistoryMigrations());
  ~CHistoryStore();
  CHistoryStore(const CHistoryStore&) = delete;
  CHistoryStore& operator=(const CHistoryStore&) = delete;

  // Writes the records in one transaction; on failure nothing is kept and the result
  // says why. waitMs is how long another program's write may hold it up.
  HistoryWrite Append(std::span<const HistoryRecord> records, int waitMs = kDefaultWaitMs);
  static constexpr int kDefaultWaitMs = 5000;
  // Append for results recorded after the fact (merged from the outputs of other
  // machines): a record whose proxy, time and resource the history already holds is
  // passed over, so that the same output merged twice counts once. added: how many
  // were written.
  HistoryWrite AppendNew(std::span<const HistoryRecord> records, std::int64_t* added = nullptr,
                         int waitMs = kDefaultWaitMs);
  // SQLite's full integrity check: empty when the history is sound, else what it found.
  std::vector<std::string> Check();
  // Deletes the results older than keepDays before now; returns how many.
  std::int64_t Thin(std::int64_t now, int keepDays);
  // Thin at most once a day: the time of the last thinning is kept in the database.
  // Returns how many results went (0 when it was not due).
  std::int64_t ThinIfDue(std::int64_t now, int keepDays);

  // Scores of the named proxies (those without history are left out).
  std::unordered_map<std::string, ProxyScore> Scores(const std::vector<std::string>& proxies);
  // The same for the proxies of the history whose name wanted accepts, found by going
  // through the history's names once rather than looking each name of a list up: for
  // a list longer than the history holds proxies.
  std::unordered_map<std::string, ProxyScore> ScoresWhere(
      const std::function<bool(const std::string&)>& wanted);
  // At least as many as the proxies the history holds, found without counting them.
  std::int64_t ProxyCountBound();
  // Scores of every proxy in the history, by name.
  std::vector<ProxyScore> AllScores();
  // Results of the proxies whose name is proxy, or starts with proxy + "@" when proxy
  // has no type; newest first, at most limit (0: all).
  std::vector<HistoryRecord> Results(const std::string& proxy, int limit);
  std::int64_t ResultCount();
  // The names of the proxies with at least one result at or after since (UTC seconds),
  // whatever it said: a run that resumes from the history passes over the proxies
  // that were checked recently, working or not.
  std::vector<std::string> ProxiesCheckedSince(std::int64_t since);
  // The names of the proxies whose latest verdict is that they tamper (Tampers).
  std::unordered_set<std::string> TamperingProxies();

  sqlite3* Handle() const { return m_db; }
  const std::string& Path() const { return m_path; }

 private:
  CHistoryStore(sqlite3* db, std::string path);
  bool Exec(const char* sql);
  HistoryWrite Write(std::span<const HistoryRecord> records, bool skipRecorded, std::int64_t* added,
                     int waitMs);
  HistoryWrite Failure() const;
  sqlite3_stmt* Prepare(const char* sql);
  std::optional<ProxyScore> ScoreOf(std::int64_t proxyId, const std::string& name);
  // The scores of the proxies a query of (id, name) lists and wanted accepts, in the
  // query's order, read in one transaction.
  void EachScore(const char* sql, const std::function<bool(const std::string&)>& wanted,
                 const std::function<void(ProxyScore&&)>& take);

  sqlite3* m_db = nullptr;
  std::string m_path;
  // The file has the trust columns (a reader of a file an older version made may not).
  bool m_trustColumns = false;
};

// Gathers results as a run hands them in and writes them in batches: one transaction
// per kBatchSize results or per second, whichever comes first, and whatever is left at
// Flush (the end of a run). Runs on the thread that owns the run; a batch of 500 costs
// that thread a few milliseconds (see bench/VerifyFarmBench.cpp).
//
// While a run goes on, a batch another program keeps out is kept and tried again with
// the next one, waiting only moments each time: the window must not freeze for it.
// The end of a run waits longer; what still cannot be written then is lost, counted,
// and said by the caller (Lost, LastProblem).
class CHistoryRecorder {
 public:
  static constexpr std::size_t kBatchSize = 500;
  static constexpr std::chrono::milliseconds kBatchAge{1000};
  static constexpr int kRunWaitMs = 100;
  // Kept while the history is busy: at most this many results.
  static constexpr std::size_t kMaxHeld = 100000;

  explicit CHistoryRecorder(CHistoryStore& store) : m_store(store) {}
  ~CHistoryRecorder() { Finish(); }
  void Add(HistoryRecord record);
  // Writes what is held, waiting up to waitMs for another program's write; a batch
  // still kept out stays held for the next try.
  HistoryWrite Flush(int waitMs = CHistoryStore::kDefaultWaitMs);
  // The end of a run: writes what is held, waiting the longer while; what still
  // cannot be written is lost and counted.
  HistoryWrite Finish();
  std::size_t Pending() const { return m_buffer.size(); }
  CHistoryStore& Store() const { return m_store; }
  // Results that could not be written since the last Forget, and why the last did not.
  std::size_t Lost() const { return m_lost; }
  const HistoryWrite& LastProblem() const { return m_lastProblem; }
  void Forget() {
    m_lost = 0;
    m_lastProblem = {};
  }

 private:
  HistoryWrite Write(int waitMs, bool last);

  CHistoryStore& m_store;
  std::vector<HistoryRecord> m_buffer;
  std::chrono::steady_clock::time_point m_firstBuffered;
  // After the history was found busy, the next try waits a while.
  std::chrono::steady_clock::time_point m_nextTry;
  std::size_t m_lost = 0;
  HistoryWrite m_lastProblem;
};

// The seconds since the epoch, UTC.
std::int64_t HistoryNow();

// A point in the past, as a command line names it: a span before now ("90m", "36h",
// "7d", "2w"; a bare number is hours), or a date or time "2026-12-01",
// "2026-12-01T08:30" (local time; a trailing "Z" makes it UTC). The UTC seconds, or
// nullopt for anything else, a negative span among it.
std::optional<std::int64_t> ParseHistorySince(std::string_view text, std::int64_t now);

}  // namespace qb
