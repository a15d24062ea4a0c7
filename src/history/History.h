// The verification history: every result of every run, kept in an embedded SQLite
// database beside the proxy list. The list file stays the authority on which proxies
// exist; the history only adds what the list cannot hold (how often a proxy worked,
// how fast it usually is), so losing it loses statistics and nothing else.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
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

class CHistoryStore {
 public:
  struct OpenReport {
    bool created = false;
    // A damaged file was moved here and an empty history made in its place.
    std::string movedAside;
    std::string reason;
  };

  // Opens (creating or migrating) the history at path. A file that is no database,
  // has a schema this program does not know (a newer one among them) or cannot be read
  // is moved aside and an empty history made instead; nullptr only when not even that
  // is possible (the report says why).
  static std::unique_ptr<CHistoryStore> Open(
      const std::string& path, OpenReport* report = nullptr,
      std::span<const HistoryMigration> migrations = HistoryMigrations());
  ~CHistoryStore();
  CHistoryStore(const CHistoryStore&) = delete;
  CHistoryStore& operator=(const CHistoryStore&) = delete;

  // Writes the records in one transaction. False when the write failed (nothing kept).
  bool Append(std::span<const HistoryRecord> records);
  // Deletes the results older than keepDays before now; returns how many.
  std::int64_t Thin(std::int64_t now, int keepDays);
  // Thin at most once a day: the time of the last thinning is kept in the database.
  void ThinIfDue(std::int64_t now, int keepDays);

  // Scores of the named proxies (those without history are left out).
  std::unordered_map<std::string, ProxyScore> Scores(const std::vector<std::string>& proxies);
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

  sqlite3* Handle() const { return m_db; }
  const std::string& Path() const { return m_path; }

 private:
  CHistoryStore(sqlite3* db, std::string path) : m_db(db), m_path(std::move(path)) {}
  bool Exec(const char* sql);
  sqlite3_stmt* Prepare(const char* sql);
  std::optional<ProxyScore> ScoreOf(std::int64_t proxyId, const std::string& name);

  sqlite3* m_db = nullptr;
  std::string m_path;
};

// Gathers results as a run hands them in and writes them in batches: one transaction
// per kBatchSize results or per second, whichever comes first, and whatever is left at
// Flush (the end of a run). Runs on the thread that owns the run; a batch of 500 costs
// that thread a few milliseconds (see bench/VerifyFarmBench.cpp).
class CHistoryRecorder {
 public:
  static constexpr std::size_t kBatchSize = 500;
  static constexpr std::chrono::milliseconds kBatchAge{1000};

  explicit CHistoryRecorder(CHistoryStore& store) : m_store(store) {}
  ~CHistoryRecorder() { Flush(); }
  void Add(HistoryRecord record);
  void Flush();
  std::size_t Pending() const { return m_buffer.size(); }
  CHistoryStore& Store() const { return m_store; }

 private:
  CHistoryStore& m_store;
  std::vector<HistoryRecord> m_buffer;
  std::chrono::steady_clock::time_point m_firstBuffered;
};

// The seconds since the epoch, UTC.
std::int64_t HistoryNow();

// A point in the past, as a command line names it: a span before now ("90m", "36h",
// "7d", "2w"; a bare number is hours), or a date or time "2026-12-01",
// "2026-12-01T08:30" (local time; a trailing "Z" makes it UTC). The UTC seconds, or
// nullopt for anything else, a negative span among it.
std::optional<std::int64_t> ParseHistorySince(std::string_view text, std::int64_t now);

}  // namespace qb
