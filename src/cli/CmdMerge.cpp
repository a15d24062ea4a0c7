// quillberry-cli merge: the outputs of the shares of one verification made one list again.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Files.h"
#include "base/Parallel.h"
#include "base/ProxyHost.h"
#include "base/Text.h"
#include "base/Translate.h"
#include "cli/Cli.h"
#include "proxy/ListExport.h"
#include "proxy/ProxyCredentials.h"
#include "proxy/ProxyEntry.h"
#include "proxy/ProxyExtractor.h"
#include "proxy/ProxyId.h"
#include "proxy/ProxyListModel.h"
#include "settings/Favorites.h"
#include "ui/Messages.h"
#include "verify/VerifyControl.h"

namespace qb::cli {

namespace {

constexpr const char* kMergeUsage =
    QT_TRANSLATE_NOOP("QuillberryHelp",
                      "Usage: quillberry-cli merge [--format FORMAT] [--type TYPE] [--working] FILE...\n"
                      "       quillberry-cli [--data-dir DIR] merge --into-list FILE...\n"
                      "\n"
                      "Merges the outputs of verify runs (the shares of one list verified with --shard,\n"
                      "on one machine or several, and runs resumed with --resume) into one list. Each\n"
                      "FILE ('-' for standard input) holds, one per line and mixed, list-file lines\n"
                      "(verify's line format, with or without the judge's anonymity and exit address\n"
                      "after a tab), JSON objects (--format jsonl) and proxy URLs (--format url, read\n"
                      "as unverified); or it is a CSV output (--format csv, known by its header line)\n"
                      "or a JSON array (--format json, a FILE that begins with '['). The user and\n"
                      "password of an output written with --credentials are not read. Other lines,\n"
                      "records and objects (a line cut off when a run was stopped) are passed over and\n"
                      "counted on standard error.\n"
                      "\n"
                      "A proxy (its address, port and type, as the list tells duplicates apart) is one\n"
                      "row. Of its results the last one read wins, the FILEs read in the order given\n"
                      "and each from top to bottom, so that a later run given later replaces an earlier\n"
                      "one; but a row still unverified (\"未验证\") never replaces a result. The rows\n"
                      "are printed as a finished verification prints them: sorted by time, fastest\n"
                      "first, then the failures; rows of equal rank in the order first read.\n"
                      "\n"
                      "--format FORMAT  line (the list-file lines, the default), url, csv or json, as\n"
                      "                 for verify\n"
                      "--type TYPE      print only the rows of one type\n"
                      "--working        print only the rows whose status is a measured time\n"
                      "--into-list      instead of printing, write the rows into the data directory's\n"
                      "                 Proxies.pro: a proxy already in the list takes the merged\n"
                      "                 result (its remark stays), a new one is added; the list is then\n"
                      "                 sorted as after a verification. Every result of a jsonl line\n"
                      "                 that says when and against what it was checked (\"checked\" and\n"
                      "                 \"resource\", written by verify --format jsonl) is recorded in the\n"
                      "                 history at that time, once: a check the history already holds\n"
                      "                 (the same proxy, time and resource) is not recorded again.\n"
                      "                 Results without a time (other forms, older outputs) are not\n"
                      "                 recorded and are counted on standard error.\n"
                      "\n"
                      "Exit status: 0 done (also when no row was found); 2 bad usage or a FILE that\n"
                      "cannot be read; 3 Proxies.pro or the history could not be written (the old\n"
                      "list is kept; merging again records nothing twice); 4 the\n"
                      "data directory is open in the window or being written by another command\n"
                      "(nothing was changed; import the merged lines in the window instead).");

// When and against what a result was checked, as a jsonl line of verify says.
struct CheckMade {
  std::int64_t when = 0;
  std::string resource;
  std::string trust;  // a TrustWord other than "unchecked", or empty
  std::string cert;
};

struct MergedRow {
  ProxyFields fields;
  std::optional<ExportJudged> judged;
  std::optional<CheckMade> check;
};

// One host, one spelling: outputs of other machines or tools may write an IPv6
// address bare or unshortened, a name in capitals. Texts that are no host stay as
// they are (and are judged by the list file's reader).
void CanonicalHost(std::string& addr) {
  if (const std::optional<ProxyHost> host = ParseProxyHost(addr)) addr = host->text;
}

bool Unverified(const std::string& status) {
  return status.empty() || status == kStatusUnverified || status == kStatusVerifying;
}

// The fields as a row, when the list file could hold it: through the list file's own
// reader, so that a row read from CSV, JSON or a URL is one the list could have held.
std::optional<MergedRow> CheckedRow(ProxyFields f, std::optional<ExportJudged> judged) {
  f.type = qb::AsciiUpper(f.type);
  CanonicalHost(f.addr);
  // A quoted CSV field or a JSON string can hold a line end; a list line cannot, and a
  // printed row would fall apart into two.
  auto oneLine = [](const std::string& s) { return s.find_first_of("\r\n") == std::string::npos; };
  if (!oneLine(f.addr) || !oneLine(f.port) || !oneLine(f.type) || !oneLine(f.timeStatus) ||
      !oneLine(f.remark))
    return std::nullopt;
  if (judged && (!oneLine(judged->anonymity) || !oneLine(judged->exitAddress))) return std::nullopt;
  ProxyFields checked;
  std::string probe =
      f.addr + ":" + f.port + "@" + f.type + "$" + (f.timeStatus.empty() ? "-" : f.timeStatus);
  if (!f.remark.empty()) probe += "#" + f.remark;
  if (!ParseFileLine(probe, checked)) return std::nullopt;
  return MergedRow{std::move(f), std::move(judged), std::nullopt};
}

bool IsSha256Hex(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

// A jsonl line's object or an element of a JSON array. Both write the port as a number
// now; jsonl of older versions wrote it as a text, which is read as well. The state is
// made again from the status; a user name and password are not kept (merge stores no
// log-ons).
std::optional<MergedRow> RowOfJson(const QJsonObject& o) {
  auto field = [&o](const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? std::to_string(v.toInteger()) : v.toString().toStdString();
  };
  ProxyFields f{field("address"), field("port"), field("type"), field("status"), field("remark")};
  std::optional<ExportJudged> judged;
  if (o.contains("anonymity")) judged = ExportJudged{field("anonymity"), field("exit")};
  std::optional<MergedRow> row = CheckedRow(std::move(f), std::move(judged));
  // A time that is no whole positive number of seconds is no time: the result is then
  // one of an older output, not recorded.
  const QJsonValue checked = o.value(QLatin1String("checked"));
  if (row && checked.isDouble() && checked.toDouble() >= 1 && checked.toDouble() == checked.toInteger())
    row->check = CheckMade{checked.toInteger(), field("resource"), {}, {}};
  // A verdict of a word this version does not know is recorded as none.
  if (row && row->check) {
    const std::optional<Trust> trust = TrustFromWord(field("trust"));
    if (trust && *trust != Trust::Unchecked) row->check->trust = TrustWord(*trust);
    const std::string cert = field("cert_sha256");
    if (IsSha256Hex(cert)) row->check->cert = cert;
  }
  return row;
}

// The result code a row's status stands for: the inverse of the control's
// VerifyResultText. nullopt for a status that is no result (unverified, a user's own).
std::optional<int> CodeOfStatus(const std::string& status) {
  if (IsTimeText(status)) return VERIFY_OK;
  for (int code : {VERIFY_ERROR, VERIFY_UNSUPPORTED, VERIFY_PROXYFAILED, VERIFY_UNRESOLVED, VERIFY_PASSWORD,
                   VERIFY_MISMATCH, VERIFY_TIMEOUT, VERIFY_TLS_INTERCEPTED, VERIFY_MODIFIED})
    if (status == VerifyResultText(code, 0)) return code;
  return std::nullopt;
}

// A merged result as the history records it, when it says when it was checked.
std::optional<HistoryRecord> RecordOf(const MergedRow& row) {
  if (!row.check) return std::nullopt;
  const std::optional<int> code = CodeOfStatus(row.fields.timeStatus);
  if (!code) return std::nullopt;
  HistoryRecord rec;
  rec.proxy = row.fields.addr + ":" + row.fields.port;
  if (!row.fields.type.empty()) rec.proxy += "@" + row.fields.type;
  rec.when = row.check->when;
  rec.resource = row.check->resource;
  rec.code = *code;
  rec.status = row.fields.timeStatus;
  if (*code == VERIFY_OK) rec.seconds = std::strtod(row.fields.timeStatus.c_str(), nullptr);
  if (row.judged && *code == VERIFY_OK) {
    rec.anonymity = row.judged->anonymity;
    rec.exitAddress = row.judged->exitAddress;
  }
  rec.trust = row.check->trust;
  rec.certSha256 = row.check->cert;
  return rec;
}

// verify's --format url: "scheme://[user:password@]address:port" and nothing more.
// The importer's scanner reads it, so that the scheme means the type it means
// everywhere else; the URL says nothing of a result, so the row is unverified.
std::optional<MergedRow> RowOfUrl(std::string_view line) {
  const std::size_t sep = line.find("://");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  for (char c : line.substr(0, sep))
    if (!qb::IsDigit(static_cast<unsigned char>(c)) && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z'))
      return std::nullopt;
  std::string text(line);
  std::string found;
  int count = 0;
  auto take = [&](std::string_view l) {
    ++count;
    found = std::string(l);
  };
  ProxyFields f;
  // A host name is read only from a line that is one URL as a whole, which
  // ScanHostLine makes sure of itself.
  if (ScanHostLine(line, take) == 1) {
    if (!ParseProxyLine(found, f)) return std::nullopt;
    f.timeStatus.clear();
    f.remark.clear();
    return CheckedRow(std::move(f), std::nullopt);
  }
  ScanProxies(text.data(), text.size(), take);
  if (count != 1 || !ParseProxyLine(found, f)) return std::nullopt;
  // Only the whole line: a path or anything after the port is some other URL.
  const std::string tail = f.addr + ":" + f.port;
  if (line.size() < sep + 3 + tail.size() || line.substr(line.size() - tail.size()) != tail)
    return std::nullopt;
  const char before = line[line.size() - tail.size() - 1];
  if (before != '/' && before != '@') return std::nullopt;
  f.timeStatus.clear();
  f.remark.clear();
  return CheckedRow(std::move(f), std::nullopt);
}

// One line of an output: a jsonl object, a proxy URL or a list-file line (with the
// judge's two columns after a tab). nullopt for anything else.
std::optional<MergedRow> ReadRow(std::string_view line) {
  if (!line.empty() && line.front() == '{') {
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray(line.data(), static_cast<qsizetype>(line.size()))).object();
    return RowOfJson(o);
  }
  MergedRow row;
  const std::size_t tab = line.find('\t');
  const std::string_view proxy = line.substr(0, tab);
  if (!ParseFileLine(proxy, row.fields) && !ParseProxyLine(proxy, row.fields)) return RowOfUrl(line);
  CanonicalHost(row.fields.addr);
  if (tab != std::string_view::npos) {
    const std::string_view rest = line.substr(tab + 1);
    const std::size_t tab2 = rest.find('\t');
    row.judged =
        ExportJudged{std::string(rest.substr(0, tab2)),
                     tab2 == std::string_view::npos ? std::string() : std::string(rest.substr(tab2 + 1))};
  }
  return row;
}

// The columns of a CSV output, as its header names them: the writer adds the log-on
// columns with --credentials and the judge's after a run against a judge, and the
// state last (outputs of older versions have none; it is read back from the status).
struct CsvLayout {
  bool credentials = false;
  bool judged = false;
  bool state = false;
  std::size_t Columns() const { return 5 + (credentials ? 2 : 0) + (judged ? 2 : 0) + (state ? 1 : 0); }
};

std::optional<CsvLayout> CsvHeader(const std::vector<std::string>& fields) {
  static const char* const kBase[] = {"address", "port", "type", "status", "remark"};
  if (fields.size() < 5) return std::nullopt;
  for (std::size_t i = 0; i < 5; ++i)
    if (fields[i] != kBase[i]) return std::nullopt;
  CsvLayout layout;
  std::size_t i = 5;
  if (i + 1 < fields.size() && fields[i] == "user" && fields[i + 1] == "password") {
    layout.credentials = true;
    i += 2;
  }
  if (i + 1 < fields.size() && fields[i] == "anonymity" && fields[i + 1] == "exit") {
    layout.judged = true;
    i += 2;
  }
  if (i < fields.size() && fields[i] == "state") {
    layout.state = true;
    ++i;
  }
  if (i != fields.size()) return std::nullopt;
  return layout;
}

// One CSV record from pos on, the inverse of CsvField: a field holding a comma, a quote
// or a line end is quoted with its quotes doubled, so a line end inside quotes belongs
// to the field. Records end in CR LF (as written) or LF. Returns false for a record
// that is no CSV (a quote inside a bare field, text after a closing quote, a quote
// never closed); pos then stands after the line end where it broke off, so the next
// record is read from a line start.
bool ReadCsvRecord(std::string_view text, std::size_t& pos, std::vector<std::string>& fields) {
  fields.clear();
  bool ok = true;
  auto skipLine = [&] {
    const std::size_t nl = text.find('\n', pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
  };
  for (;;) {
    std::string field;
    if (pos < text.size() && text[pos] == '"') {
      ++pos;
      for (;;) {
        if (pos >= text.size()) return false;
        const char c = text[pos++];
        if (c == '"') {
          if (pos < text.size() && text[pos] == '"') {
            field.push_back('"');
            ++pos;
            continue;
          }
          break;
        }
        field.push_back(c);
      }
    } else {
      while (pos < text.size() && text[pos] != ',' && text[pos] != '\r' && text[pos] != '\n') {
        if (text[pos] == '"') ok = false;
        field.push_back(text[pos++]);
      }
    }
    fields.push_back(std::move(field));
    if (pos >= text.size()) return ok;
    if (text[pos] == ',') {
      ++pos;
      continue;
    }
    if (text[pos] == '\n') {
      ++pos;
      return ok;
    }
    if (text[pos] == '\r' && (pos + 1 == text.size() || text[pos + 1] == '\n')) {
      pos += 2;
      if (pos > text.size()) pos = text.size();
      return ok;
    }
    skipLine();
    return false;
  }
}

// What a row that could not be read is called in the form it came in, and why.
struct PassedOver {
  const char* unit;
  const char* why;
};

// The rows of lines of any of the one-per-line forms. jsonArrayLines: the lines are
// those of a JSON array that did not parse whole, each object on a line of its own
// followed by a comma, between lines "[" and "]".
template <class Take>
PassedOver ReadLines(std::string_view text, bool jsonArrayLines, Take& take) {
  qb::ForEachLine(text, [&](std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) return;
    if (jsonArrayLines) {
      if (line == "[" || line == "]" || line == "[]") return;
      if (line.front() == '{' && line.back() == ',') line.remove_suffix(1);
    }
    take(ReadRow(line));
  });
  return {"line", "neither a proxy line nor a JSON object of one"};
}

// The records of a CSV output after its header, read from pos on.
template <class Take>
PassedOver ReadCsvRecords(std::string_view body, std::size_t pos, CsvLayout csv, Take& take) {
  std::vector<std::string> fields;
  while (pos < body.size()) {
    if (!ReadCsvRecord(body, pos, fields)) {
      take(std::nullopt);
      continue;
    }
    if (fields.size() == 1 && fields[0].find_first_not_of(' ') == std::string::npos) continue;
    // Outputs of several shares piped into one: each begins with its header.
    if (const std::optional<CsvLayout> again = CsvHeader(fields)) {
      csv = *again;
      continue;
    }
    if (fields.size() != csv.Columns()) {
      take(std::nullopt);
      continue;
    }
    std::optional<ExportJudged> judged;
    if (csv.judged) {
      const std::size_t j = 5 + (csv.credentials ? 2 : 0);
      if (!fields[j].empty() || !fields[j + 1].empty()) judged = ExportJudged{fields[j], fields[j + 1]};
    }
    take(CheckedRow(ProxyFields{std::move(fields[0]), std::move(fields[1]), std::move(fields[2]),
                                std::move(fields[3]), std::move(fields[4])},
                    std::move(judged)));
  }
  return {"record", "not a proxy row of the CSV header's columns"};
}

// The rows of one output in whichever form it is: a JSON array, a CSV output (known by
// its header), or lines.
template <class Take>
PassedOver ReadOutput(std::string_view text, const std::string& file, Take& take) {
  std::string_view body = text;
  // A file saved by a spreadsheet may begin with a byte order mark.
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  const std::size_t first = std::min(body.find_first_not_of(" \t\r\n"), body.size());
  // "[" then "{" or "]": a list line may begin with a bracketed IPv6 address.
  const std::size_t second = std::min(body.find_first_not_of(" \t\r\n", first + 1), body.size());
  if (first < body.size() && body[first] == '[' && second < body.size() &&
      (body[second] == '{' || body[second] == ']')) {
    QJsonParseError error;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
    if (error.error == QJsonParseError::NoError && doc.isArray()) {
      for (const QJsonValue& v : doc.array()) take(v.isObject() ? RowOfJson(v.toObject()) : std::nullopt);
      return {"element", "not a JSON object of a proxy"};
    }
    // The writer puts each object on a line of its own, so that an array cut off or
    // with one broken row still gives the rest, as a broken jsonl line would.
    Err(qb::Format("merge: %s is not a whole JSON array (%s at byte %d); read a line at a time", file.c_str(),
                   error.errorString().toStdString().c_str(), static_cast<int>(error.offset)));
    return ReadLines(text, true, take);
  }
  std::size_t pos = first;
  std::vector<std::string> header;
  if (ReadCsvRecord(body, pos, header)) {
    if (const std::optional<CsvLayout> csv = CsvHeader(header)) return ReadCsvRecords(body, pos, *csv, take);
  }
  return ReadLines(text, false, take);
}

// What reading a stretch of the outputs gave, in the order read: each row as the packed
// entry the list keeps, and its key hash; the judge's word of the few rows that carry one
// (only where it is printed); and, for --into-list, the checks to record.
struct ReadRows {
  std::vector<std::unique_ptr<CProxyEntry>> entries;
  // Their key hashes side by side: the merge looks slots up a few rows ahead, and the
  // hashes of those rows are then in the cache rather than in entries made elsewhere.
  std::vector<std::uint32_t> hashes;
  std::vector<std::pair<std::size_t, ExportJudged>> judged;  // by place in entries
  std::vector<HistoryRecord> checks;
  std::size_t untimed = 0;
  std::size_t passedOver = 0;
  bool failed = false;

  void Take(std::optional<MergedRow> row, bool intoList) {
    if (!row) {
      ++passedOver;
      return;
    }
    // Every result read, not only the one that wins its row: each is a check made.
    if (intoList && !Unverified(row->fields.timeStatus)) {
      if (std::optional<HistoryRecord> rec = RecordOf(*row)) {
        checks.push_back(std::move(*rec));
      } else {
        ++untimed;
      }
    }
    if (row->judged && !intoList) judged.emplace_back(entries.size(), std::move(*row->judged));
    entries.push_back(CProxyListModel::NewRow(row->fields));
    hashes.push_back(entries.back()->KeyHash());
  }
};

bool UnverifiedRow(const CProxyEntry& e) {
  return Unverified(e.TimeStatus());
}

// The merged rows in the order each proxy was first read, one per proxy: the packed
// entries the list keeps, in chunks that never move, so that nothing else has to say
// where each one is. A proxy is found again through a table of row numbers (four bytes
// a slot, at most 70 % full while rows come in) that compares the entries themselves.
// A proxy then costs its entry (32 bytes) and about 8 bytes of table while rows come
// in: 8.5 million proxies peak near 1.1 times their 359 MB file, where the list's own
// key set and a vector of row pointers took 1.9 times, and rows of five strings in a
// map of key texts about 15 times.
class MergedRows {
 public:
  // Of a proxy's results the last one read wins, but a row still unverified never
  // replaces a result. A row that wins takes the place of the one before whole (its
  // remark, the judge's word), in the place the proxy was first read.
  void Add(ReadRows& read) {
    const std::size_t n = read.entries.size();
    Reserve(m_size + n);
    // A table of millions of slots is far larger than the cache: each key's slot is
    // fetched a few keys ahead, and the entry its slot names a few keys after that.
    constexpr std::size_t kAhead = 8;
    for (std::size_t i = 0; i < n && i < 2 * kAhead; ++i) __builtin_prefetch(&m_slots[Home(read.hashes[i])]);
    auto judged = read.judged.begin();
    for (std::size_t i = 0; i < n; ++i) {
      if (i + 2 * kAhead < n) __builtin_prefetch(&m_slots[Home(read.hashes[i + 2 * kAhead])]);
      if (i + kAhead < n) {
        if (const std::uint32_t at = m_slots[Home(read.hashes[i + kAhead])]) __builtin_prefetch(&Row(at - 1));
      }
      ExportJudged* word = nullptr;
      if (judged != read.judged.end() && judged->first == i) word = &(judged++)->second;
      CProxyEntry& fresh = *read.entries[i];
      const std::uint32_t hash = read.hashes[i];
      std::size_t slot = Home(hash);
      CProxyEntry* known = nullptr;
      while (const std::uint32_t at = m_slots[slot]) {
        CProxyEntry& there = Row(at - 1);
        if (there.KeyHash() == hash && there.SameKey(fresh)) {
          known = &there;
          break;
        }
        slot = (slot + 1) & m_mask;
      }
      if (!known) {
        m_slots[slot] = static_cast<std::uint32_t>(m_size + 1);
        CProxyEntry& row = Append(std::move(fresh));
        if (word) m_judged.emplace(&row, std::move(*word));
        continue;
      }
      // The row found has the same key hash whatever case the new row writes its key
      // in: it stays where it is and takes the new fields.
      if (UnverifiedRow(fresh) && !UnverifiedRow(*known)) continue;
      *known = std::move(fresh);
      if (word) {
        m_judged.insert_or_assign(known, std::move(*word));
      } else if (!m_judged.empty()) {
        m_judged.erase(known);
      }
    }
    read.entries.clear();
    read.hashes.clear();
    read.judged.clear();
  }

  // Room for rows proxies at most 70 % full; the row numbers are placed again by the
  // hashes their entries keep.
  void Reserve(std::size_t rows) {
    std::size_t capacity = m_slots.empty() ? 1024 : m_slots.size();
    while (rows * 100 > capacity * kLoadPercent) capacity *= 2;
    if (capacity == m_slots.size()) return;
    if (capacity > std::size_t{1} << 32) std::abort();  // row numbers are 32 bits
    std::vector<std::uint32_t>(capacity, 0).swap(m_slots);
    m_mask = capacity - 1;
    m_shift = 64 - static_cast<unsigned>(__builtin_ctzll(capacity));
    for (std::size_t i = 0; i < m_size; ++i) {
      std::size_t slot = Home(Row(i).KeyHash());
      while (m_slots[slot] != 0) slot = (slot + 1) & m_mask;
      m_slots[slot] = static_cast<std::uint32_t>(i + 1);
    }
  }

  // The table is only needed while rows come in.
  void DoneReading() { std::vector<std::uint32_t>().swap(m_slots); }

  std::size_t size() const { return m_size; }
  CProxyEntry& operator[](std::size_t i) { return Row(i); }
  const CProxyEntry& operator[](std::size_t i) const { return Row(i); }
  const std::unordered_map<const CProxyEntry*, ExportJudged>& Judged() const { return m_judged; }

  // Hands each row on in order, its chunk let go as soon as its last row is gone.
  template <class Take>
  void TakeEach(Take take) {
    for (std::size_t i = 0; i < m_size; ++i) {
      take(std::move(Row(i)));
      if ((i + 1) % kChunkRows == 0 || i + 1 == m_size) m_chunks[i / kChunkRows].reset();
    }
    m_chunks.clear();
    m_size = 0;
  }

  // The places of the rows as a finished verification prints them (the list sorted by
  // its time column): by time, the fastest first, then the failures; equal ranks in the
  // order first read.
  std::vector<std::uint32_t> PrintOrder() const {
    const std::size_t n = m_size;
    // Most rows hold one of a few status words, whose rows keep the order they were
    // read in among themselves: only the times are sorted, then both are merged.
    // kind[i]: the place of row i's status rank among words, or kTime.
    constexpr std::uint8_t kTime = 255;
    std::vector<std::uint8_t> kind(n);
    std::vector<double> words;
    std::size_t timed = 0;
    // Whether every time is a whole number of milliseconds below 2^32, as every time a
    // check measures is: then a time sorts as that number, in half the memory.
    bool millis = true;
    for (std::size_t i = 0; i < n; ++i) {
      const CProxyEntry& e = (*this)[i];
      const double rank = e.StatusRank();
      if (e.HasTime()) {
        kind[i] = kTime;
        ++timed;
        millis = millis && Millis(rank).has_value();
        continue;
      }
      auto at = std::find(words.begin(), words.end(), rank);
      // The words rank as a handful of values (a user's own words all alike), far fewer
      // than a byte tells apart.
      if (at == words.end()) {
        if (words.size() + 1 >= kTime) std::abort();
        at = words.insert(words.end(), rank);
      }
      kind[i] = static_cast<std::uint8_t>(at - words.begin());
    }
    std::vector<std::uint8_t> byRank(words.size());
    for (std::size_t w = 0; w < words.size(); ++w) byRank[w] = static_cast<std::uint8_t>(w);
    std::sort(byRank.begin(), byRank.end(),
              [&](std::uint8_t a, std::uint8_t b) { return words[a] < words[b]; });

    // The times sorted, then merged with the rows of each word in rank order. The
    // times are counted first: a vector grown a row at a time would hold up to twice
    // them, at the moment the printing's memory peaks.
    auto merge = [&](auto key, auto rankOf) {
      using Key = decltype(key(0.0));
      struct Timed {
        Key rank;
        std::uint32_t place;
        bool operator<(const Timed& o) const { return rank < o.rank || (rank == o.rank && place < o.place); }
      } __attribute__((packed));
      std::vector<Timed> times;
      times.reserve(timed);
      for (std::size_t i = 0; i < n; ++i)
        if (kind[i] == kTime) times.push_back({key((*this)[i].StatusRank()), static_cast<std::uint32_t>(i)});
      std::sort(times.begin(), times.end());
      std::vector<std::uint32_t> order;
      order.reserve(n);
      auto t = times.begin();
      for (const std::uint8_t w : byRank) {
        for (std::size_t i = 0; i < n; ++i) {
          if (kind[i] != w) continue;
          // Before a word's row go the times that rank below it, and those that rank
          // alike but were read first.
          for (; t != times.end() &&
                 (rankOf(t->rank) < words[w] || (rankOf(t->rank) == words[w] && t->place < i));
               ++t)
            order.push_back(t->place);
          order.push_back(static_cast<std::uint32_t>(i));
        }
      }
      for (; t != times.end(); ++t) order.push_back(t->place);
      return order;
    };
    if (millis)
      return merge([](double rank) { return *Millis(rank); },
                   [](std::uint32_t ms) { return static_cast<double>(ms) / 1000; });
    return merge([](double rank) { return rank; }, [](double rank) { return rank; });
  }

  // A time as whole milliseconds, when that number over a thousand is the time itself
  // (the same double), so that the milliseconds order and tie exactly as the times do.
  static std::optional<std::uint32_t> Millis(double seconds) {
    if (!(seconds >= 0) || seconds * 1000 > 4294967295.0) return std::nullopt;
    const auto ms = static_cast<std::uint32_t>(std::llround(seconds * 1000));
    if (static_cast<double>(ms) / 1000 != seconds) return std::nullopt;
    return ms;
  }

 private:
  static constexpr std::size_t kChunkRows = 32768;
  static constexpr unsigned kLoadPercent = 70;
  static constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

  CProxyEntry& Row(std::size_t i) const { return m_chunks[i / kChunkRows][i % kChunkRows]; }
  std::size_t Home(std::uint32_t hash) const { return static_cast<std::size_t>((hash * kGolden) >> m_shift); }

  CProxyEntry& Append(CProxyEntry&& e) {
    if (m_size % kChunkRows == 0) m_chunks.push_back(std::make_unique<CProxyEntry[]>(kChunkRows));
    CProxyEntry& row = Row(m_size++);
    row = std::move(e);
    return row;
  }

  std::vector<std::unique_ptr<CProxyEntry[]>> m_chunks;
  std::size_t m_size = 0;
  std::vector<std::uint32_t> m_slots;  // a row's number + 1; 0: free
  std::size_t m_mask = 0;
  unsigned m_shift = 64;
  std::unordered_map<const CProxyEntry*, ExportJudged> m_judged;
};

// Whether a FILE that begins with head (all of it when whole) holds lines, read one at a
// time as ReadOutput would read the whole text, rather than a JSON array or a CSV
// output; nullopt when head is too short to tell. A CSV header is one line (no name in
// it holds a line end), so the first line and the first two characters that are no
// blank tell.
std::optional<bool> HoldsLines(std::string_view head, bool whole) {
  std::string_view body = head;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  const std::size_t first = body.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return whole ? std::optional<bool>(true) : std::nullopt;
  if (body[first] == '[') {
    const std::size_t second = body.find_first_not_of(" \t\r\n", first + 1);
    if (second == std::string_view::npos) return whole ? std::optional<bool>(true) : std::nullopt;
    if (body[second] == '{' || body[second] == ']') return false;
  }
  if (!whole && body.find('\n', first) == std::string_view::npos) return std::nullopt;
  std::size_t pos = first;
  std::vector<std::string> header;
  return !(ReadCsvRecord(body, pos, header) && CsvHeader(header));
}

// The rest of an open file; false (errno set) on a read error.
bool ReadWhole(int fd, std::string& text) {
  text.clear();
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buf, static_cast<std::size_t>(n));
  }
}

// How a FILE of lines is read: parts of this size, each by itself on one of a few
// threads, handed on in the file's order. A part holds its rows until they are merged,
// so parts stay small.
constexpr std::uint64_t kPartBytes = std::uint64_t{1} << 20;
constexpr std::size_t kHeadBytes = std::size_t{64} << 10;
// Rows a FILE read whole gathers before they are merged.
constexpr std::size_t kRowsPerBatch = 65536;
// The shortest line of a typical output ("1.2.3.4:80@HTTP$1.2" and its line end).
constexpr std::uint64_t kBytesPerRowAtLeast = 34;

// The lines of an open regular FILE, from its first byte, in parts on several threads;
// each line as ReadLines takes it. False on a read error.
template <class Use>
bool ReadLinesInParts(int fd, std::uint64_t size, bool intoList, Use use) {
  const std::size_t parts =
      static_cast<std::size_t>(std::max<std::uint64_t>(1, (size + kPartBytes - 1) / kPartBytes));
  const unsigned threads = qb::ThreadsFor(parts, 0, 4);
  auto make = [&](std::size_t i) {
    ReadRows part;
    const std::uint64_t end = i + 1 == parts ? kToEndOfFile : (i + 1) * kPartBytes;
    part.failed = !qb::ForEachLineInRange(fd, i * kPartBytes, end, [&](char* data, std::size_t n) {
      std::string_view line(data, n);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
      if (line.empty()) return;
      part.Take(ReadRow(line), intoList);
    });
    return part;
  };
  return qb::RunInOrder<ReadRows>(parts, threads, 2 * threads, make, [&](std::size_t, ReadRows& part) {
    if (part.failed) return false;
    use(part);
    return true;
  });
}

// Prints the rows as a finished verification prints them. The lines, URLs and CSV
// records of a chunk of rows depend on those rows alone, so chunks are formatted on a
// few threads and written in order; a JSON array's rows are written one after the
// other (each but the first after a comma).
void PrintRows(MergedRows& merged, const ExportOptions& output) {
  const MergedRows& rows = merged;
  const std::unordered_map<const CProxyEntry*, ExportJudged>& judged = merged.Judged();
  // Few rows carry the judge's word: which ones is found once in the order of the rows,
  // where the look-ups run through the rows in memory order, and not again in the
  // order printed.
  std::vector<bool> hasWord;
  if (!judged.empty()) {
    // A bit per hash of the entries that have one, so that a row without is told by a
    // bit in the cache rather than by the map's buckets.
    constexpr std::size_t kBits = std::size_t{1} << 24;
    auto bit = [](const CProxyEntry* e) {
      return static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(e) >> 4) * 0x9E3779B97F4A7C15ull >>
                                      40);
    };
    std::vector<bool> maybe(kBits, false);
    for (const auto& [e, word] : judged) maybe[bit(e)] = true;
    hasWord.assign(rows.size(), false);
    for (std::size_t i = 0; i < rows.size(); ++i)
      hasWord[i] = maybe[bit(&rows[i])] && judged.count(&rows[i]) != 0;
  }
  // An exporter of the options whose judged column reads the row at *place.
  auto exporterFor = [&](const std::uint32_t* place) {
    ExportOptions options = output;
    if (!judged.empty()) {
      // As verify prints them: only a row that works shows what the judge said.
      options.judged = [&judged, &hasWord, place](const CProxyEntry& e) -> std::optional<ExportJudged> {
        if (!hasWord[*place] || !e.HasTime()) return std::nullopt;
        const auto it = judged.find(&e);
        if (it == judged.end()) return std::nullopt;
        return it->second;
      };
    }
    return CListExporter(std::move(options));
  };

  const std::vector<std::uint32_t> order = merged.PrintOrder();
  constexpr std::size_t kRowsPerChunk = 16384;
  const std::size_t chunks = (order.size() + kRowsPerChunk - 1) / kRowsPerChunk;
  const bool oneByOne = output.format == ExportFormat::Json;
  const unsigned threads = oneByOne ? 1 : qb::ThreadsFor(chunks, 0, 4);
  std::uint32_t place = 0;
  CListExporter whole = exporterFor(&place);
  std::string out;
  whole.AppendBegin(out);
  OutRaw(out);
  auto format = [&](std::size_t c) {
    const std::size_t end = std::min(order.size(), (c + 1) * kRowsPerChunk);
    std::string text;
    text.reserve((end - c * kRowsPerChunk) * 48);
    if (oneByOne) {
      for (std::size_t i = c * kRowsPerChunk; i < end; ++i) whole.AppendRow(text, rows[place = order[i]]);
      return text;
    }
    std::uint32_t mine = 0;
    CListExporter part = exporterFor(&mine);
    // In the printed order each row is a random place in memory: entries are fetched
    // ahead, so that those misses overlap.
    constexpr std::size_t kAhead = 8;
    for (std::size_t i = c * kRowsPerChunk; i < end; ++i) {
      if (i + kAhead < end) __builtin_prefetch(&rows[order[i + kAhead]]);
      part.AppendRow(text, rows[mine = order[i]]);
    }
    return text;
  };
  qb::RunInOrder<std::string>(chunks, threads, 2 * threads, format, [](std::size_t, std::string& text) {
    OutRaw(text);
    return true;
  });
  out.clear();
  whole.AppendEnd(out);
  OutRaw(out);
}

}  // namespace

int RunMerge(const QStringList& args, const std::string& dataDir) {
  if (WantsHelp(args)) {
    Out(Help(kMergeUsage));
    return kExitOk;
  }
  qb::ExportOptions output;
  bool intoList = false;
  std::vector<std::string> files;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    const OutputOption taken = TakeOutputOption("merge", args, i, output);
    if (taken == OutputOption::Bad) return kExitUsage;
    if (taken == OutputOption::Taken) continue;
    if (a == "--into-list") {
      intoList = true;
    } else if (a.startsWith("-") && a != "-") {
      Err("merge: unknown option: " + a.toStdString());
      Err("Run 'quillberry-cli merge --help' for usage.");
      return kExitUsage;
    } else {
      files.push_back(a.toStdString());
    }
  }
  if (files.empty()) {
    Err("merge: give the outputs to merge (FILE..., '-' for standard input)");
    return kExitUsage;
  }
  if (output.includeCredentials) {
    Err("merge: --credentials: merge keeps no log-ons (it does not read those of its FILEs)");
    return kExitUsage;
  }
  if (intoList && (output.format != qb::ExportFormat::Lines || !output.type.empty() || output.workingOnly)) {
    Err("merge: --into-list prints nothing; --format, --type and --working do not go with it");
    return kExitUsage;
  }

  // Read first: a FILE that cannot be read changes nothing.
  MergedRows merged;
  // The table sized once for the shortest lines the FILEs could hold, instead of placed
  // again each time it doubles; it costs 4 bytes a slot, a sixth of the input at most.
  std::uint64_t bytes = 0;
  for (const std::string& file : files) {
    struct stat st {};
    if (file != "-" && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      bytes += static_cast<std::uint64_t>(st.st_size);
  }
  merged.Reserve(static_cast<std::size_t>(bytes / kBytesPerRowAtLeast));
  std::vector<HistoryRecord> checks;
  std::size_t untimed = 0;
  for (const std::string& file : files) {
    std::size_t passedOver = 0;
    auto use = [&](ReadRows& read) {
      merged.Add(read);
      passedOver += std::exchange(read.passedOver, 0);
      untimed += std::exchange(read.untimed, 0);
      checks.insert(checks.end(), std::make_move_iterator(read.checks.begin()),
                    std::make_move_iterator(read.checks.end()));
      read.checks.clear();
    };
    auto readFailed = [&](int code) {
      return ReportFailure("merge", qb::OpResult::Failure(qb::OpStatus::ReadFailed, file,
                                                          code != 0 ? std::strerror(code) : "read error"));
    };
    PassedOver what{"line", "neither a proxy line nor a JSON object of one"};
    bool done = false;
    std::string text;
    if (file == "-") {
      text = ReadStdin();
    } else {
      const qb::UniqueFd opened = qb::OpenToRead(file);
      struct stat st {};
      if (opened.get() < 0) return readFailed(errno);
      if (::fstat(opened.get(), &st) != 0) return readFailed(errno);
      if (S_ISDIR(st.st_mode)) return readFailed(EISDIR);
      if (S_ISREG(st.st_mode)) {
        // Outputs of lines, by far the largest, are read in parts and never held
        // whole; a CSV output or a JSON array is read whole, as its records may span
        // lines.
        std::string head(kHeadBytes, '\0');
        const ssize_t got = ::pread(opened.get(), head.data(), head.size(), 0);
        if (got < 0) return readFailed(errno);
        head.resize(static_cast<std::size_t>(got));
        const auto size = static_cast<std::uint64_t>(st.st_size);
        if (HoldsLines(head, size <= head.size()).value_or(false)) {
          errno = 0;
          if (!ReadLinesInParts(opened.get(), size, intoList, use)) return readFailed(errno);
          done = true;
        }
      }
      // The file already open, not its name again: a pipe (<(command)) is read once.
      if (!done && !ReadWhole(opened.get(), text)) return readFailed(errno);
    }
    if (!done) {
      ReadRows read;
      auto take = [&](std::optional<MergedRow> row) {
        read.Take(std::move(row), intoList);
        if (read.entries.size() >= kRowsPerBatch) use(read);
      };
      what = ReadOutput(text, file, take);
      use(read);
      std::string().swap(text);
    }
    if (passedOver > 0) {
      Err(qb::Format("merge: %zu %s%s of %s passed over (%s)", passedOver, what.unit,
                     passedOver == 1 ? "" : "s", file.c_str(), what.why));
    }
  }
  merged.DoneReading();
  // The threads that parsed the rows leave freed memory in arenas of their own; the
  // printing that follows is when the peak would come.
  malloc_trim(0);

  if (intoList) {
    DataDir::OpenReport report;
    const std::unique_ptr<DataDir> dir = OpenDataDirToWrite("merge", dataDir, report);
    if (!dir) return kExitBusy;
    if (report.holder == DataDir::Holder::Window)
      return RefuseForWindow("merge", *dir, report, "import the merged lines in the window");
    if (const qb::OpResult loaded = dir->LoadList(); !loaded) return ReportFailure("merge", loaded);
    CProxyListModel& list = dir->List();
    dir->RestoreFavorites();
    // The history first, in one transaction, then the list saved whole: a merge cut off
    // anywhere leaves each as it was or as it ends, and merging the same outputs again
    // completes the other without recording any check twice.
    int historyCode = kExitOk;
    std::int64_t recorded = 0;
    if (!checks.empty()) {
      const HistoryOpening opening = dir->OpenHistory();
      ReportHistoryOpening(*dir, opening);
      const HistoryWrite written = opening.open ? dir->History()->AppendNew(checks, &recorded)
                                                : HistoryWrite{opening.problem, opening.reason};
      if (!written) {
        Err("merge: " + HistoryLostText(static_cast<int>(checks.size()), written.problem,
                                        QString::fromStdString(written.reason),
                                        dir->FilePath(DataFile::History))
                            .toStdString());
        historyCode = kExitUnwritable;
      }
    }
    if (untimed > 0)
      Err(qb::Format("merge: %zu %s without the time of the check not recorded in the history", untimed,
                     untimed == 1 ? "result" : "results"));
    int updated = 0, added = 0;
    {
      CProxyListModel::BulkAppend bulk(list);
      CProxyListModel::PreparedRows fresh;
      merged.TakeEach([&](CProxyEntry&& r) {
        const int row = list.RowCount() > 0 ? list.FindRow(ProxyId(r)) : -1;
        if (row < 0) {
          fresh.AddEntry(std::make_unique<CProxyEntry>(std::move(r)));
        } else if (!UnverifiedRow(r)) {
          list.SetTimeStatus(row, r.TimeStatus());
          ++updated;
        }
      });
      added = list.AppendPrepared(fresh, 0);
    }
    list.SortRows(CProxyListModel::ColTimeStatus, true);
    if (const int code = ReportFailure("merge", dir->SaveList()); code != kExitOk) return code;
    dir->SaveFavorites();
    Out(qb::Format("%d %s updated, %d added to %s", updated, updated == 1 ? "row" : "rows", added,
                   dir->FilePath(DataFile::ProxyList).c_str()));
    if (!checks.empty() && historyCode == kExitOk)
      Out(qb::Format("%lld of %zu checks recorded in %s (the others were there already)",
                     static_cast<long long>(recorded), checks.size(),
                     dir->FilePath(DataFile::History).c_str()));
    return historyCode;
  }

  PrintRows(merged, output);
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace qb::cli
