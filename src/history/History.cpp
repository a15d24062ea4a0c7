#include "history/History.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QUrl>

#include <sqlite3.h>

#include <sys/stat.h>
#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>

#include "base/Files.h"
#include "base/Text.h"
#include "proxy/VerifyStatus.h"

namespace qb {

namespace {

// Names and places are kept apart from the results so that a result row holds small
// integers only; a row then costs about as much as its index entry.
constexpr HistoryMigration kMigrations[] = {
    {1,
     "CREATE TABLE proxy("
     "  id INTEGER PRIMARY KEY,"
     "  name TEXT NOT NULL UNIQUE,"
     "  anonymity TEXT,"
     "  exit_address TEXT);"
     "CREATE TABLE resource("
     "  id INTEGER PRIMARY KEY,"
     "  url TEXT NOT NULL UNIQUE);"
     "CREATE TABLE result("
     "  id INTEGER PRIMARY KEY,"
     "  proxy_id INTEGER NOT NULL REFERENCES proxy(id),"
     "  at INTEGER NOT NULL,"
     "  resource_id INTEGER REFERENCES resource(id),"
     "  code INTEGER NOT NULL,"
     "  status TEXT NOT NULL,"
     "  seconds REAL,"
     "  anonymity TEXT,"
     "  exit_address TEXT);"
     "CREATE INDEX result_by_proxy ON result(proxy_id, at);"
     "CREATE TABLE meta("
     "  key TEXT PRIMARY KEY,"
     "  value) WITHOUT ROWID;"},
};

// Columns added beside the schema rather than by a new version of it: an older version
// of the program, which names the columns it writes, uses such a file as it is, where
// a newer version number would make it move the file aside.
struct HistoryAddition {
  const char* table;
  const char* column;
  const char* type;
};
constexpr HistoryAddition kAdditions[] = {
    // What the check could tell of whether the proxy tampers (a TrustWord; NULL for
    // unchecked), and the certificate an https:// resource presented through it.
    {"result", "trust", "TEXT"},
    {"result", "cert_sha256", "TEXT"},
    {"proxy", "trust", "TEXT"},
};

// Tables the current schema must have; a file that claims the version without them is
// not ours.
constexpr const char* kRequiredTables[] = {"proxy", "resource", "result", "meta"};

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) m_stmt = nullptr;
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return m_stmt != nullptr; }
  sqlite3_stmt* get() const { return m_stmt; }
  void Bind(int i, std::int64_t v) { sqlite3_bind_int64(m_stmt, i, v); }
  void Bind(int i, double v) { sqlite3_bind_double(m_stmt, i, v); }
  void Bind(int i, const std::string& v) {
    sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void BindTextOrNull(int i, const std::string& v) {
    if (v.empty()) {
      sqlite3_bind_null(m_stmt, i);
    } else {
      Bind(i, v);
    }
  }
  int Step() { return sqlite3_step(m_stmt); }
  void Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
  }
  std::int64_t Int(int c) const { return sqlite3_column_int64(m_stmt, c); }
  double Real(int c) const { return sqlite3_column_double(m_stmt, c); }
  bool Null(int c) const { return sqlite3_column_type(m_stmt, c) == SQLITE_NULL; }
  std::string Text(int c) const {
    const auto* p = sqlite3_column_text(m_stmt, c);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, c)))
             : std::string();
  }

 private:
  sqlite3_stmt* m_stmt = nullptr;
};

bool ExecOn(sqlite3* db, const char* sql, std::string* error = nullptr) {
  char* msg = nullptr;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &msg);
  if (rc != SQLITE_OK && error) *error = msg ? msg : sqlite3_errstr(rc);
  sqlite3_free(msg);
  return rc == SQLITE_OK;
}

// What an SQLite error says about the file. A disk that is full shows as an I/O error
// when it is the journal's shared memory that cannot be made, and only the system's
// error tells the two apart.
HistoryProblem ProblemOf(int code, int systemError = 0) {
  if (systemError == ENOSPC || systemError == EDQUOT) return HistoryProblem::Full;
  switch (code & 0xFF) {
    case SQLITE_OK:
      return HistoryProblem::None;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return HistoryProblem::Busy;
    case SQLITE_FULL:
      return HistoryProblem::Full;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return HistoryProblem::Damaged;
    default:
      return HistoryProblem::Unreadable;
  }
}

bool HasTable(sqlite3* db, const char* table) {
  Statement q(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
  if (!q) return false;
  q.Bind(1, std::string(table));
  return q.Step() == SQLITE_ROW;
}

// The columns of a table of the main database.
std::unordered_set<std::string> ColumnsOf(sqlite3* db, const char* table) {
  std::unordered_set<std::string> out;
  const std::string sql = std::string("SELECT name FROM pragma_table_info('") + table + "', 'main')";
  Statement q(db, sql.c_str());
  if (!q) return out;
  while (q.Step() == SQLITE_ROW) out.insert(q.Text(0));
  return out;
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
  const std::string sql = std::string("SELECT 1 FROM pragma_table_info('") + table + "') WHERE name=?1";
  Statement q(db, sql.c_str());
  if (!q) return false;
  q.Bind(1, std::string(column));
  return q.Step() == SQLITE_ROW;
}

struct Prepared {
  HistoryProblem problem = HistoryProblem::None;
  std::string reason;
};
Prepared FailedOn(sqlite3* db) {
  return {ProblemOf(sqlite3_extended_errcode(db), sqlite3_system_errno(db)), sqlite3_errmsg(db)};
}

// Brings the database to the newest version of migrations (for a reader, only checks
// that it is one this program can read). What keeps it from being used, if anything.
Prepared PrepareSchema(sqlite3* db, std::span<const HistoryMigration> migrations, bool write) {
  std::string error;
  // The first read tells a database from any other file.
  // Statements are finished before the journal mode changes: an open one holds a read
  // transaction, in which the mode cannot change.
  int current = 0;
  {
    Statement version(db, "PRAGMA user_version");
    if (!version || version.Step() != SQLITE_ROW) return FailedOn(db);
    current = static_cast<int>(version.Int(0));
  }
  const int newest = migrations.empty() ? 0 : migrations.back().version;
  if (current > newest)
    return {HistoryProblem::Damaged,
            "schema version " + std::to_string(current) + " is newer than this program's"};
  if (current == 0) {
    // A version-0 file must be empty: anything in it was made by someone else.
    Statement any(db, "SELECT count(*) FROM sqlite_master");
    if (!any || any.Step() != SQLITE_ROW) return FailedOn(db);
    if (any.Int(0) != 0) return {HistoryProblem::Damaged, "the file holds tables of another program"};
  }
  if (write) {
    if (!ExecOn(db, "PRAGMA journal_mode=WAL", &error))
      return {ProblemOf(sqlite3_extended_errcode(db), sqlite3_system_errno(db)), error};
    ExecOn(db, "PRAGMA synchronous=NORMAL");
    for (const HistoryMigration& m : migrations) {
      if (m.version <= current) continue;
      const std::string sql = std::string("BEGIN IMMEDIATE;") + m.sql +
                              ";PRAGMA user_version=" + std::to_string(m.version) + ";COMMIT;";
      if (!ExecOn(db, sql.c_str(), &error)) {
        const HistoryProblem problem = ProblemOf(sqlite3_extended_errcode(db), sqlite3_system_errno(db));
        ExecOn(db, "ROLLBACK");
        return {problem, "migration to version " + std::to_string(m.version) + " failed: " + error};
      }
    }
    for (const HistoryAddition& a : kAdditions) {
      if (!HasTable(db, a.table) || HasColumn(db, a.table, a.column)) continue;
      const std::string sql =
          std::string("ALTER TABLE ") + a.table + " ADD COLUMN " + a.column + " " + a.type;
      if (!ExecOn(db, sql.c_str(), &error))
        return {ProblemOf(sqlite3_extended_errcode(db), sqlite3_system_errno(db)),
                std::string("adding ") + a.table + "." + a.column + " failed: " + error};
    }
  }
  for (const char* table : kRequiredTables) {
    Statement t(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1");
    if (!t) return FailedOn(db);
    t.Bind(1, std::string(table));
    const int rc = t.Step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FailedOn(db);
    // A reader of an empty (new) file finds no tables: there is nothing recorded yet.
    if (rc != SQLITE_ROW && (write || current != 0))
      return {HistoryProblem::Damaged, std::string("table ") + table + " is missing"};
  }
  return {};
}

// SQLite's quick check of the pages: what it found first, or nothing when sound.
Prepared QuickCheck(sqlite3* db) {
  Statement check(db, "PRAGMA quick_check(1)");
  if (!check) return FailedOn(db);
  if (check.Step() != SQLITE_ROW) return FailedOn(db);
  const std::string verdict = check.Text(0);
  if (verdict == "ok") return {};
  return {HistoryProblem::Damaged, verdict};
}

sqlite3* OpenWith(const std::string& name, int flags, Prepared& failure) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(name.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    failure = {ProblemOf(rc, db ? sqlite3_system_errno(db) : 0),
               db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)};
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, CHistoryStore::kDefaultWaitMs);
  return db;
}

sqlite3* OpenFile(const std::string& path, bool write, Prepared& failure) {
  // A link at the history's name is never followed: SQLite would make or change the
  // database wherever it points.
  constexpr int kCommon = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
  if (write) return OpenWith(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | kCommon, failure);
  sqlite3* db = OpenWith(path, SQLITE_OPEN_READONLY | kCommon, failure);
  if (!db) return nullptr;
  // In a directory that cannot be written, the journal's shared memory cannot be made
  // and the first read fails: the file is then read as it stands, which is all a
  // reader there can want.
  bool readable = false;
  {
    Statement probe(db, "PRAGMA user_version");
    readable = probe && probe.Step() == SQLITE_ROW;
  }
  if (readable) return db;
  const int code = sqlite3_extended_errcode(db) & 0xFF;
  if (code != SQLITE_CANTOPEN && code != SQLITE_READONLY) {
    failure = FailedOn(db);
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_close(db);
  const std::string uri =
      "file:" + QUrl::toPercentEncoding(QString::fromStdString(path), "/").toStdString() + "?immutable=1";
  return OpenWith(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | kCommon, failure);
}

// Copies what can still be read of a damaged history into a new one, table by table
// and row by row, stopping a table at its first unreadable row. The results copied.
std::int64_t Salvage(sqlite3* into, const std::string& damaged) {
  const std::string uri =
      "file:" + QUrl::toPercentEncoding(QString::fromStdString(damaged), "/").toStdString() + "?immutable=1";
  Statement attach(into, "ATTACH DATABASE ?1 AS old");
  if (!attach) return 0;
  attach.Bind(1, uri);
  if (attach.Step() != SQLITE_DONE) return 0;
  // Only a history of this program's own schema is copied: another program's tables
  // or a newer schema's columns are not results this one can read.
  bool same = false;
  {
    Statement theirs(into, "PRAGMA old.user_version");
    Statement ours(into, "PRAGMA main.user_version");
    same = theirs && ours && theirs.Step() == SQLITE_ROW && ours.Step() == SQLITE_ROW &&
           theirs.Int(0) == ours.Int(0);
  }
  if (!same) {
    ExecOn(into, "DETACH DATABASE old");
    return 0;
  }
  std::int64_t results = 0;
  ExecOn(into, "BEGIN");
  for (const char* table : {"proxy", "resource", "result", "meta"}) {
    const std::string from = std::string("SELECT * FROM old.") + table;
    Statement read(into, from.c_str());
    if (!read) continue;
    // By name, and only the columns this file has: either may have columns added
    // beside the schema's, and the damaged file's names are never put into SQL.
    const std::unordered_set<std::string> ours = ColumnsOf(into, table);
    std::vector<int> taken;
    std::string names, values;
    for (int c = 0; c < sqlite3_column_count(read.get()); ++c) {
      const std::string name = sqlite3_column_name(read.get(), c);
      const auto known = ours.find(name);
      if (known == ours.end()) continue;
      names += (taken.empty() ? "" : ",") + *known;
      values += taken.empty() ? "?" : ",?";
      taken.push_back(c);
    }
    if (taken.empty()) continue;
    const std::string insert =
        std::string("INSERT OR IGNORE INTO main.") + table + "(" + names + ") VALUES(" + values + ")";
    Statement write(into, insert.c_str());
    if (!write) continue;
    while (read.Step() == SQLITE_ROW) {
      for (std::size_t i = 0; i < taken.size(); ++i)
        sqlite3_bind_value(write.get(), static_cast<int>(i) + 1, sqlite3_column_value(read.get(), taken[i]));
      if (write.Step() == SQLITE_DONE && std::string_view(table) == "result") ++results;
      write.Reset();
    }
  }
  ExecOn(into, "COMMIT");
  ExecOn(into, "DETACH DATABASE old");
  return results;
}

void KeepPrivate(const std::string& path) {
  for (const std::string& p : {path, path + "-wal", path + "-shm"}) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
      ::chmod(p.c_str(), st.st_mode & 0700);
  }
}

// Moves path (and the journal files beside it) aside; the new name, or empty.
std::string MoveAside(const std::string& path) {
  namespace fs = std::filesystem;
  const std::string target = qb::FreeDamagedName(path);
  std::error_code ec;
  fs::rename(path, target, ec);
  if (ec) return {};
  for (const char* side : {"-wal", "-shm"}) {
    std::error_code ignored;
    if (fs::exists(path + side, ignored)) fs::rename(path + side, target + side, ignored);
  }
  return target;
}

}  // namespace

CHistoryStore::CHistoryStore(sqlite3* db, std::string path)
    : m_db(db),
      m_path(std::move(path)),
      m_trustColumns(HasColumn(db, "result", "trust") && HasColumn(db, "result", "cert_sha256") &&
                     HasColumn(db, "proxy", "trust")) {}

std::span<const HistoryMigration> HistoryMigrations() {
  return kMigrations;
}

std::int64_t HistoryNow() {
  return static_cast<std::int64_t>(std::time(nullptr));
}

void ScoreChecks(ProxyScore& score, std::span<const std::pair<bool, double>> newestFirst) {
  const std::size_t n = std::min<std::size_t>(newestFirst.size(), kScoreWindow);
  std::vector<double> times;
  score.checks = static_cast<int>(n);
  score.successes = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!newestFirst[i].first) continue;
    ++score.successes;
    times.push_back(newestFirst[i].second);
  }
  score.medianSeconds.reset();
  if (times.empty()) return;
  std::sort(times.begin(), times.end());
  const std::size_t mid = times.size() / 2;
  score.medianSeconds = times.size() % 2 ? times[mid] : (times[mid - 1] + times[mid]) / 2.0;
}

const char* HistoryProblemName(HistoryProblem problem) {
  switch (problem) {
    case HistoryProblem::None:
      return "";
    case HistoryProblem::Busy:
      return "busy";
    case HistoryProblem::Full:
      return "full";
    case HistoryProblem::Damaged:
      return "damaged";
    case HistoryProblem::Unreadable:
      return "unreadable";
  }
  return "";
}

std::unique_ptr<CHistoryStore> CHistoryStore::Open(const std::string& path, OpenReport* report,
                                                   std::span<const HistoryMigration> migrations, Mode mode) {
  OpenReport local;
  OpenReport& r = report ? *report : local;
  r = {};
  const bool write = mode == Mode::Write;
  struct stat st {};
  const bool present = ::lstat(path.c_str(), &st) == 0;
  r.created = !present;
  if (present && S_ISLNK(st.st_mode)) {
    r.problem = HistoryProblem::Unreadable;
    r.reason = path + " " + kLinkRefused;
    return nullptr;
  }
  if (!present && !write) return nullptr;  // nothing recorded yet; nothing is made

  Prepared failure;
  sqlite3* db = OpenFile(path, write, failure);
  if (db) {
    // The results name the proxies a user relies on: the database and its journals
    // are the user's alone (SQLite gives the journals the database's mode).
    if (write) KeepPrivate(path);
    failure = PrepareSchema(db, migrations, write);
    // Damage inside the pages shows only when they are read: a history small enough
    // is checked whole at every open, a larger one by `history --check`.
    if (failure.problem == HistoryProblem::None && present && st.st_size <= kCheckAtOpenBytes)
      failure = QuickCheck(db);
    if (failure.problem == HistoryProblem::None)
      return std::unique_ptr<CHistoryStore>(new CHistoryStore(db, path));
    sqlite3_close(db);
  }
  r.problem = failure.problem;
  r.reason = failure.reason;
  // Only damage moves the file; a busy, full or unreadable history stays as it is,
  // and a reader never moves anything.
  if (failure.problem != HistoryProblem::Damaged || !write || !present) return nullptr;
  const std::string why = r.reason;
  std::unique_ptr<CHistoryStore> rebuilt = Rebuild(path, &r, migrations);
  r.reason = r.reason.empty() ? why : why + "; " + r.reason;
  return rebuilt;
}

std::unique_ptr<CHistoryStore> CHistoryStore::Rebuild(const std::string& path, OpenReport* report,
                                                      std::span<const HistoryMigration> migrations) {
  OpenReport local;
  OpenReport& r = report ? *report : local;
  r.movedAside = MoveAside(path);
  if (r.movedAside.empty()) {
    r.problem = HistoryProblem::Unreadable;
    r.reason = "cannot move " + path + " aside";
    return nullptr;
  }
  r.created = true;
  Prepared failure;
  sqlite3* db = OpenFile(path, true, failure);
  if (db) {
    KeepPrivate(path);
    failure = PrepareSchema(db, migrations, true);
    if (failure.problem != HistoryProblem::None) {
      sqlite3_close(db);
      db = nullptr;
    }
  }
  if (!db) {
    r.problem = failure.problem;
    r.reason = failure.reason;
    return nullptr;
  }
  r.salvaged = Salvage(db, r.movedAside);
  r.problem = HistoryProblem::None;
  r.reason.clear();
  return std::unique_ptr<CHistoryStore>(new CHistoryStore(db, path));
}

std::vector<std::string> CHistoryStore::Check() {
  std::vector<std::string> found;
  Statement check(m_db, "PRAGMA integrity_check");
  if (!check) return {sqlite3_errmsg(m_db)};
  int rc = 0;
  while ((rc = check.Step()) == SQLITE_ROW) {
    const std::string line = check.Text(0);
    if (line != "ok") found.push_back(line);
  }
  if (rc != SQLITE_DONE) found.emplace_back(sqlite3_errmsg(m_db));
  return found;
}

HistoryWrite CHistoryStore::Failure() const {
  return {ProblemOf(sqlite3_extended_errcode(m_db), sqlite3_system_errno(m_db)), sqlite3_errmsg(m_db)};
}

CHistoryStore::~CHistoryStore() {
  sqlite3_close(m_db);
}

bool CHistoryStore::Exec(const char* sql) {
  return ExecOn(m_db, sql);
}

HistoryWrite CHistoryStore::Append(std::span<const HistoryRecord> records, int waitMs) {
  return Write(records, /*skipRecorded=*/false, nullptr, waitMs);
}

HistoryWrite CHistoryStore::AppendNew(std::span<const HistoryRecord> records, std::int64_t* added,
                                      int waitMs) {
  return Write(records, /*skipRecorded=*/true, added, waitMs);
}

HistoryWrite CHistoryStore::Write(std::span<const HistoryRecord> records, bool skipRecorded,
                                  std::int64_t* added, int waitMs) {
  if (added) *added = 0;
  if (records.empty()) return {};
  sqlite3_busy_timeout(m_db, waitMs);
  if (!Exec("BEGIN IMMEDIATE")) {
    const HistoryWrite failed = Failure();
    sqlite3_busy_timeout(m_db, kDefaultWaitMs);
    return failed;
  }
  sqlite3_busy_timeout(m_db, kDefaultWaitMs);
  Statement addProxy(m_db, "INSERT INTO proxy(name) VALUES(?1) ON CONFLICT(name) DO NOTHING");
  Statement findProxy(m_db, "SELECT id FROM proxy WHERE name=?1");
  Statement addResource(m_db, "INSERT INTO resource(url) VALUES(?1) ON CONFLICT(url) DO NOTHING");
  Statement findResource(m_db, "SELECT id FROM resource WHERE url=?1");
  // A result recorded after the fact (merged from another machine) is not the latest
  // when the history holds a later one; a run's own results always are, and spare
  // every row that look.
  Statement latest(m_db, skipRecorded ? "UPDATE proxy SET anonymity=?2, exit_address=?3 WHERE id=?1"
                                        " AND NOT EXISTS (SELECT 1 FROM result WHERE proxy_id=?1 AND at>?4)"
                                      : "UPDATE proxy SET anonymity=?2, exit_address=?3 WHERE id=?1");
  // Through result_by_proxy: a check is the same check when its proxy, time and
  // resource are.
  Statement recorded(m_db, "SELECT 1 FROM result WHERE proxy_id=?1 AND at=?2 AND resource_id IS ?3 LIMIT 1");
  Statement insert(m_db,
                   m_trustColumns
                       ? "INSERT INTO result(proxy_id, at, resource_id, code, status, seconds, anonymity,"
                         " exit_address, trust, cert_sha256) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"
                       : "INSERT INTO result(proxy_id, at, resource_id, code, status, seconds, anonymity,"
                         " exit_address) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  // The latest verdict, as the anonymity: a check that could not tell leaves it.
  Statement latestTrust(m_db, !m_trustColumns ? "SELECT 1"
                              : skipRecorded
                                  ? "UPDATE proxy SET trust=?2 WHERE id=?1"
                                    " AND NOT EXISTS (SELECT 1 FROM result WHERE proxy_id=?1 AND at>?3)"
                                  : "UPDATE proxy SET trust=?2 WHERE id=?1");
  bool ok =
      addProxy && findProxy && addResource && findResource && latest && recorded && insert && latestTrust;
  std::int64_t inserted = 0;
  // A run checks every proxy against the same one or two resources.
  std::unordered_map<std::string, std::int64_t> resources;
  auto idOf = [&](Statement& add, Statement& find, const std::string& name) -> std::int64_t {
    add.Bind(1, name);
    const int rc = add.Step();
    add.Reset();
    if (rc != SQLITE_DONE) return -1;
    find.Bind(1, name);
    const std::int64_t id = find.Step() == SQLITE_ROW ? find.Int(0) : -1;
    find.Reset();
    return id;
  };
  for (const HistoryRecord& rec : records) {
    if (!ok) break;
    const std::int64_t proxyId = idOf(addProxy, findProxy, rec.proxy);
    std::int64_t resourceId = -1;
    if (!rec.resource.empty()) {
      // Never a password: the resource is kept without the log-on its URL may carry.
      const std::string url = qb::UrlWithoutLogOn(rec.resource);
      auto it = resources.find(url);
      if (it == resources.end()) it = resources.emplace(url, idOf(addResource, findResource, url)).first;
      resourceId = it->second;
      if (resourceId < 0) ok = false;
    }
    if (proxyId < 0) ok = false;
    if (!ok) break;
    if (skipRecorded) {
      recorded.Bind(1, proxyId);
      recorded.Bind(2, rec.when);
      if (resourceId >= 0) recorded.Bind(3, resourceId);
      const int rc = recorded.Step();
      recorded.Reset();
      if (rc == SQLITE_ROW) continue;
      if (rc != SQLITE_DONE) {
        ok = false;
        break;
      }
    }
    insert.Bind(1, proxyId);
    insert.Bind(2, rec.when);
    if (resourceId >= 0) insert.Bind(3, resourceId);
    insert.Bind(4, static_cast<std::int64_t>(rec.code));
    insert.Bind(5, rec.status);
    if (rec.code == VERIFY_OK) insert.Bind(6, rec.seconds);
    insert.BindTextOrNull(7, rec.anonymity);
    insert.BindTextOrNull(8, rec.exitAddress);
    const bool verdict = m_trustColumns && !rec.trust.empty() && rec.trust != TrustWord(Trust::Unchecked);
    if (m_trustColumns) {
      if (verdict) insert.Bind(9, rec.trust);
      insert.BindTextOrNull(10, rec.certSha256);
    }
    ok = insert.Step() == SQLITE_DONE;
    insert.Reset();
    if (ok) ++inserted;
    if (ok && !(rec.anonymity.empty() && rec.exitAddress.empty())) {
      latest.Bind(1, proxyId);
      latest.BindTextOrNull(2, rec.anonymity);
      latest.BindTextOrNull(3, rec.exitAddress);
      if (skipRecorded) latest.Bind(4, rec.when);
      ok = latest.Step() == SQLITE_DONE;
      latest.Reset();
    }
    if (ok && verdict) {
      latestTrust.Bind(1, proxyId);
      latestTrust.Bind(2, rec.trust);
      if (skipRecorded) latestTrust.Bind(3, rec.when);
      ok = latestTrust.Step() == SQLITE_DONE;
      latestTrust.Reset();
    }
  }
  if (ok && Exec("COMMIT")) {
    if (added) *added = inserted;
    return {};
  }
  const HistoryWrite failed = Failure();
  Exec("ROLLBACK");
  return failed;
}

std::int64_t CHistoryStore::Thin(std::int64_t now, int keepDays) {
  if (keepDays <= 0) return 0;
  const std::int64_t cutoff = now - static_cast<std::int64_t>(keepDays) * 86400;
  // Per proxy through its index, so that a thinning reads only what it deletes and the
  // proxies' index entries, never the whole table.
  Statement del(m_db,
                "DELETE FROM result WHERE id IN (SELECT r.id FROM proxy p CROSS"
                " JOIN result r ON r.proxy_id = p.id AND r.at < ?1)");
  if (!del) return 0;
  del.Bind(1, cutoff);
  if (del.Step() != SQLITE_DONE) return 0;
  const std::int64_t removed = sqlite3_changes64(m_db);
  Exec("DELETE FROM proxy WHERE NOT EXISTS (SELECT 1 FROM result WHERE result.proxy_id = proxy.id)");
  return removed;
}

std::int64_t CHistoryStore::ThinIfDue(std::int64_t now, int keepDays) {
  Statement last(m_db, "SELECT value FROM meta WHERE key='thinned'");
  if (last && last.Step() == SQLITE_ROW && now - last.Int(0) < 86400 && now >= last.Int(0)) return 0;
  const std::int64_t removed = Thin(now, keepDays);
  Statement mark(m_db, "INSERT OR REPLACE INTO meta(key, value) VALUES('thinned', ?1)");
  if (!mark) return removed;
  mark.Bind(1, now);
  mark.Step();
  return removed;
}

std::optional<ProxyScore> CHistoryStore::ScoreOf(std::int64_t proxyId, const std::string& name) {
  Statement recent(
      m_db,
      "SELECT code, seconds, at, status FROM result WHERE proxy_id=?1 ORDER BY at DESC, id DESC LIMIT ?2");
  if (!recent) return std::nullopt;
  recent.Bind(1, proxyId);
  recent.Bind(2, static_cast<std::int64_t>(kScoreWindow));
  ProxyScore score;
  score.proxy = name;
  std::vector<std::pair<bool, double>> checks;
  while (recent.Step() == SQLITE_ROW) {
    if (checks.empty()) {
      score.lastWhen = recent.Int(2);
      score.lastStatus = recent.Text(3);
    }
    checks.emplace_back(recent.Int(0) == VERIFY_OK, recent.Real(1));
  }
  if (checks.empty()) return std::nullopt;
  ScoreChecks(score, checks);
  Statement info(m_db, m_trustColumns ? "SELECT (SELECT count(*) FROM result WHERE proxy_id=?1), anonymity,"
                                        " exit_address, trust FROM proxy WHERE id=?1"
                                      : "SELECT (SELECT count(*) FROM result WHERE proxy_id=?1), anonymity,"
                                        " exit_address, NULL FROM proxy WHERE id=?1");
  if (info) {
    info.Bind(1, proxyId);
    if (info.Step() == SQLITE_ROW) {
      score.totalChecks = info.Int(0);
      score.anonymity = info.Text(1);
      score.exitAddress = info.Text(2);
      score.trust = info.Text(3);
    }
  }
  return score;
}

std::unordered_map<std::string, ProxyScore> CHistoryStore::Scores(const std::vector<std::string>& proxies) {
  std::unordered_map<std::string, ProxyScore> out;
  Statement find(m_db, "SELECT id FROM proxy WHERE name=?1");
  if (!find) return out;
  Exec("BEGIN");
  for (const std::string& name : proxies) {
    find.Bind(1, name);
    const bool found = find.Step() == SQLITE_ROW;
    const std::int64_t id = found ? find.Int(0) : -1;
    find.Reset();
    if (!found) continue;
    if (auto score = ScoreOf(id, name)) out.emplace(name, std::move(*score));
  }
  Exec("COMMIT");
  return out;
}

void CHistoryStore::EachScore(const char* sql, const std::function<bool(const std::string&)>& wanted,
                              const std::function<void(ProxyScore&&)>& take) {
  std::vector<std::pair<std::int64_t, std::string>> ids;
  {
    Statement all(m_db, sql);
    if (!all) return;
    while (all.Step() == SQLITE_ROW) {
      std::string name = all.Text(1);
      if (wanted(name)) ids.emplace_back(all.Int(0), std::move(name));
    }
  }
  Exec("BEGIN");
  for (const auto& [id, name] : ids) {
    if (auto score = ScoreOf(id, name)) take(std::move(*score));
  }
  Exec("COMMIT");
}

std::unordered_map<std::string, ProxyScore> CHistoryStore::ScoresWhere(
    const std::function<bool(const std::string&)>& wanted) {
  std::unordered_map<std::string, ProxyScore> out;
  EachScore("SELECT id, name FROM proxy", wanted, [&out](ProxyScore&& score) {
    std::string name = score.proxy;
    out.emplace(std::move(name), std::move(score));
  });
  return out;
}

std::int64_t CHistoryStore::ProxyCountBound() {
  // Each proxy has an id of its own, counted from 1, so the largest is a bound; it is
  // read from the end of the table's tree.
  Statement last(m_db, "SELECT max(id) FROM proxy");
  if (!last || last.Step() != SQLITE_ROW) return std::numeric_limits<std::int64_t>::max();
  return last.Int(0);
}

std::vector<ProxyScore> CHistoryStore::AllScores() {
  std::vector<ProxyScore> out;
  EachScore(
      "SELECT id, name FROM proxy ORDER BY name", [](const std::string&) { return true; },
      [&out](ProxyScore&& score) { out.push_back(std::move(score)); });
  return out;
}

std::vector<HistoryRecord> CHistoryStore::Results(const std::string& proxy, int limit) {
  std::vector<HistoryRecord> out;
  const bool typed = proxy.find('@') != std::string::npos;
  const std::string sql =
      std::string("SELECT p.name, r.at, s.url, r.code, r.status, r.seconds, r.anonymity, r.exit_address, ") +
      (m_trustColumns ? "r.trust, r.cert_sha256" : "NULL, NULL") +
      " FROM result r JOIN proxy p ON p.id = r.proxy_id LEFT JOIN resource s ON s.id = r.resource_id"
      " WHERE p.name = ?1 OR (?2 AND substr(p.name, 1, length(?1) + 1) = ?1 || '@')"
      " ORDER BY r.at DESC, r.id DESC LIMIT ?3";
  Statement q(m_db, sql.c_str());
  if (!q) return out;
  q.Bind(1, proxy);
  q.Bind(2, static_cast<std::int64_t>(typed ? 0 : 1));
  q.Bind(3, static_cast<std::int64_t>(limit > 0 ? limit : -1));
  while (q.Step() == SQLITE_ROW) {
    HistoryRecord rec;
    rec.proxy = q.Text(0);
    rec.when = q.Int(1);
    // Also of results an older version kept with the log-on in the URL.
    rec.resource = qb::UrlWithoutLogOn(q.Text(2));
    rec.code = static_cast<int>(q.Int(3));
    rec.status = q.Text(4);
    rec.seconds = q.Real(5);
    rec.anonymity = q.Text(6);
    rec.exitAddress = q.Text(7);
    rec.trust = q.Text(8);
    rec.certSha256 = q.Text(9);
    out.push_back(std::move(rec));
  }
  return out;
}

std::int64_t CHistoryStore::ResultCount() {
  Statement q(m_db, "SELECT count(*) FROM result");
  return q && q.Step() == SQLITE_ROW ? q.Int(0) : 0;
}

std::vector<std::string> CHistoryStore::ProxiesCheckedSince(std::int64_t since) {
  std::vector<std::string> out;
  // Through the index on (proxy_id, at): one probe per known proxy, never a scan of
  // every result.
  Statement q(m_db,
              "SELECT name FROM proxy p WHERE EXISTS"
              " (SELECT 1 FROM result r WHERE r.proxy_id = p.id AND r.at >= ?1)");
  if (!q) return out;
  q.Bind(1, since);
  while (q.Step() == SQLITE_ROW) out.push_back(q.Text(0));
  return out;
}

std::unordered_set<std::string> CHistoryStore::TamperingProxies() {
  std::unordered_set<std::string> out;
  if (!m_trustColumns) return out;
  Statement q(m_db, "SELECT name FROM proxy WHERE trust IN (?1, ?2)");
  if (!q) return out;
  q.Bind(1, std::string(TrustWord(Trust::TlsIntercepted)));
  q.Bind(2, std::string(TrustWord(Trust::Modified)));
  while (q.Step() == SQLITE_ROW) out.insert(q.Text(0));
  return out;
}

std::optional<std::int64_t> ParseHistorySince(std::string_view text, std::int64_t now) {
  const QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
  if (t.isEmpty()) return std::nullopt;
  static const QRegularExpression span(QStringLiteral("^(\\d+(?:\\.\\d+)?)([mhdw]?)$"));
  if (const QRegularExpressionMatch m = span.match(t); m.hasMatch()) {
    const double count = m.captured(1).toDouble();
    const QString unit = m.captured(2);
    const double seconds = unit == "m" ? 60.0 : unit == "d" ? 86400.0 : unit == "w" ? 7 * 86400.0 : 3600.0;
    // Beyond the epoch is no point any history can hold.
    if (count * seconds > static_cast<double>(now)) return 0;
    return now - static_cast<std::int64_t>(count * seconds + 0.5);
  }
  QDateTime when;
  if (t.size() == 10) {
    const QDate day = QDate::fromString(t, Qt::ISODate);
    if (day.isValid()) when = day.startOfDay();
  } else {
    when = QDateTime::fromString(t, Qt::ISODate);
  }
  if (!when.isValid()) return std::nullopt;
  return when.toSecsSinceEpoch();
}

void CHistoryRecorder::Add(HistoryRecord record) {
  if (m_buffer.empty()) m_firstBuffered = std::chrono::steady_clock::now();
  m_buffer.push_back(std::move(record));
  const auto now = std::chrono::steady_clock::now();
  if ((m_buffer.size() >= kBatchSize || now - m_firstBuffered >= kBatchAge) && now >= m_nextTry)
    Flush(kRunWaitMs);
}

HistoryWrite CHistoryRecorder::Flush(int waitMs) {
  return Write(waitMs, false);
}

HistoryWrite CHistoryRecorder::Finish() {
  return Write(CHistoryStore::kDefaultWaitMs, true);
}

HistoryWrite CHistoryRecorder::Write(int waitMs, bool last) {
  if (m_buffer.empty()) return {};
  const HistoryWrite written = m_store.Append(m_buffer, waitMs);
  if (written) {
    m_buffer.clear();
    return written;
  }
  m_lastProblem = written;
  // A history another program holds is tried again with the next batch, within
  // bounds; anything else (a full disk, damage) would fail the same way again.
  if (!last && written.problem == HistoryProblem::Busy && m_buffer.size() < kMaxHeld) {
    m_nextTry = std::chrono::steady_clock::now() + kBatchAge;
    return written;
  }
  m_lost += m_buffer.size();
  m_buffer.clear();
  return written;
}

}  // namespace qb
