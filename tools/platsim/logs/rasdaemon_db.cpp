// rasdaemon's database: the machine-check banks it recorded (mce_record), the
// EDAC memory controller events (mc_event) and the firmware-first extended
// log (extlog_event). Columns are read by name: older versions lack some,
// and a missing optional column is no fault. The database is opened
// read-only, and as immutable when the medium itself is read-only (SQLite
// then cannot create its lock files beside it).
#include "tools/common/hex_text.h"
#include "tools/platsim/logs/log_text.h"
#include "tools/platsim/records/cper_layout.h"

#include <sqlite3.h>

#include <cstring>
#include <map>
#include <memory>

namespace platsim::logs {

namespace {

struct DbClose {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbClose>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

[[noreturn]] void Fail(const std::string& file, sqlite3* db, const std::string& what) {
  throw UserError("'" + file + "': " + what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// Escapes a path for a file: URI (percent-encodes what a URI reserves).
std::string UriPath(const std::string& file) {
  std::string out;
  for (const unsigned char c : file) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      static const char* kHex = "0123456789ABCDEF";
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

Db Open(const std::string& file, bool immutable) {
  sqlite3* raw = nullptr;
  int rc;
  if (immutable)
    rc = sqlite3_open_v2(("file:" + UriPath(file) + "?immutable=1").c_str(), &raw,
                         SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
  else
    rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) Fail(file, raw, "cannot open the database");
  sqlite3_busy_timeout(raw, 1000);  // rasdaemon holds its locks briefly
  return db;
}

std::vector<std::string> Tables(sqlite3* db, int& rc) {
  std::vector<std::string> names;
  sqlite3_stmt* raw = nullptr;
  rc = sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &raw,
                          nullptr);
  Stmt s(raw);
  if (rc != SQLITE_OK) return names;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW)
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(raw, 0)));
  if (rc == SQLITE_DONE) rc = SQLITE_OK;
  return names;
}

// A table's columns by name. A row asks for the same few names a million
// times: each name (a literal of this file) is looked up once, then found by
// its address.
class Columns {
 public:
  void Add(std::string name, int index) { byName_.emplace(std::move(name), index); }
  bool Contains(const char* name) const { return Index(name) >= 0; }
  int Index(const char* name) const {
    for (const auto& c : cache_)
      if (c.first == name) return c.second;
    const auto it = byName_.find(std::string_view(name));
    const int i = it == byName_.end() ? -1 : it->second;
    cache_.emplace_back(name, i);
    return i;
  }

 private:
  std::map<std::string, int, std::less<>> byName_;
  mutable std::vector<std::pair<const char*, int>> cache_;
};

// One row, its columns by name.
class Row {
 public:
  Row(sqlite3_stmt* s, const Columns& cols) : s_(s), cols_(cols) {}
  bool Has(const char* name) const {
    const int i = cols_.Index(name);
    return i >= 0 && sqlite3_column_type(s_, i) != SQLITE_NULL;
  }
  std::optional<uint64_t> U64(const char* name) const {
    if (!Has(name)) return std::nullopt;
    return static_cast<uint64_t>(sqlite3_column_int64(s_, cols_.Index(name)));
  }
  std::optional<int64_t> I64(const char* name) const {
    if (!Has(name)) return std::nullopt;
    return sqlite3_column_int64(s_, cols_.Index(name));
  }
  std::string Text(const char* name) const {
    if (!Has(name)) return "";
    const unsigned char* t = sqlite3_column_text(s_, cols_.Index(name));
    return t ? reinterpret_cast<const char*>(t) : "";
  }
  std::span<const uint8_t> Blob(const char* name) const {
    if (!Has(name)) return {};
    const int i = cols_.Index(name);
    const void* p = sqlite3_column_blob(s_, i);
    const int n = sqlite3_column_bytes(s_, i);
    return {static_cast<const uint8_t*>(p), static_cast<size_t>(n)};
  }

 private:
  sqlite3_stmt* s_;
  const Columns& cols_;
};

class DbReader {
 public:
  DbReader(const std::string& file, const std::string& name, sqlite3* db)
      : file_(file), fileRef_(std::make_shared<const std::string>(file)), name_(name), db_(db) {}

  template <typename F>
  void Each(const std::string& table, std::initializer_list<const char*> required, F&& f) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, ("SELECT * FROM " + table + " ORDER BY rowid").c_str(), -1, &raw,
                           nullptr) != SQLITE_OK)
      Fail(file_, db_, "cannot read table " + table);
    Stmt s(raw);
    Columns cols;
    for (int i = 0; i < sqlite3_column_count(raw); ++i) cols.Add(sqlite3_column_name(raw, i), i);
    for (const char* r : required)
      if (!cols.Contains(r))
        throw UserError("'" + file_ + "': table " + table + " has no column " + r +
                        ", which rasdaemon's tables have");
    int rc;
    uint64_t n = 0;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
      const Row row(raw, cols);
      const uint64_t id = row.U64("id").value_or(++n);
      n = id;
      f(row, id);
    }
    if (rc != SQLITE_DONE) Fail(file_, db_, "cannot read table " + table);
  }

  // Room for a table's rows, so that a large table is not copied as the list grows.
  void Reserve(LogRead& out, const std::string& table) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, ("SELECT count(*) FROM " + table).c_str(), -1, &raw, nullptr) !=
        SQLITE_OK)
      return;
    Stmt s(raw);
    if (sqlite3_step(raw) == SQLITE_ROW)
      out.errors.reserve(out.errors.size() + static_cast<size_t>(sqlite3_column_int64(raw, 0)));
  }

  MemoryError Start(const Row& row, const std::string& table, uint64_t id) {
    MemoryError m;
    m.file = fileRef_;
    m.line = id;
    auto& head = heads_[table];
    if (!head) head = std::make_shared<const std::string>(name_ + " " + table + " id ");
    m.where = head;
    m.numbered = true;
    const std::string source = m.Source();
    const std::string ts = row.Text("timestamp");
    if (!ts.empty()) {
      m.time = ParseTimeText(ts);
      if (!m.time) bad_time_.push_back(source + ": time stamp '" + ts + "' not read");
    }
    return m;
  }

  void Mce(LogRead& out) {
    Reserve(out, "mce_record");
    Each("mce_record", {"status", "bank"}, [&](const Row& row, uint64_t id) {
      MemoryError m = Start(row, "mce_record", id);
      if (!m.time && row.Has("walltime")) m.time = row.I64("walltime");
      McaFields f;
      f.cpu = static_cast<uint32_t>(row.U64("cpu").value_or(0));
      f.bank = static_cast<uint32_t>(*row.U64("bank"));
      f.status = *row.U64("status");
      if (row.Has("socketid")) f.socket = static_cast<uint32_t>(*row.U64("socketid"));
      if (row.Has("apicid")) f.apic = static_cast<uint32_t>(*row.U64("apicid"));
      f.addr = row.U64("addr");
      f.misc = row.U64("misc");
      if (row.Has("synd")) f.synd = row.U64("synd");
      if (row.Has("ipid")) f.ipid = row.U64("ipid");
      if ((f.status & kMciStatusVal) == 0) {
        out.unparsed.push_back(Unparsed{
            file_, id, m.Source(),
            "bank status " + tools::Hex64(f.status) + " has VAL (bit 63) clear", m.Source()});
        return;
      }
      m.severity = (f.status & kMciStatusUc) ? Severity::kUncorrected : Severity::kCorrected;
      if (f.addr && (f.status & kMciStatusAddrv)) m.address = f.addr;
      m.mca = f;
      m.message = Shared(row.Text("error_msg"));
      out.errors.push_back(std::move(m));
    });
  }

  void McEvent(LogRead& out) {
    Reserve(out, "mc_event");
    Each("mc_event", {"err_type", "address"}, [&](const Row& row, uint64_t id) {
      MemoryError m = Start(row, "mc_event", id);
      const std::string type = row.Text("err_type");
      if (type == "Corrected") {
        m.severity = Severity::kCorrected;
      } else if (type == "Uncorrected" || type == "Fatal" || type == "Deferred") {
        m.severity = Severity::kUncorrected;
      } else {
        out.unparsed.push_back(
            Unparsed{file_, id, m.Source(),
                     "err_type '" + type + "' is none of Corrected, Uncorrected, Deferred, Fatal",
                     m.Source()});
        return;
      }
      m.address = row.U64("address");
      const auto count = row.U64("err_count");
      if (count && *count >= 1 && *count <= UINT32_MAX) m.count = static_cast<uint32_t>(*count);
      std::string message = row.Text("err_msg");
      if (!row.Text("label").empty())
        message += (message.empty() ? "" : " at ") + row.Text("label");
      m.message = Shared(std::move(message));
      out.errors.push_back(std::move(m));
    });
  }

  void Extlog(LogRead& out) {
    Reserve(out, "extlog_event");
    Each("extlog_event", {"severity", "address"}, [&](const Row& row, uint64_t id) {
      MemoryError m = Start(row, "extlog_event", id);
      const uint64_t sev = row.U64("severity").value_or(~0ULL);
      if (sev > 3) {
        out.unparsed.push_back(Unparsed{file_, id, m.Source(),
                                        "severity " + std::to_string(static_cast<int64_t>(sev)) +
                                            " is none of 0 (recoverable), 1 (fatal), 2 "
                                            "(corrected), 3 (informational)",
                                        m.Source()});
        return;
      }
      m.severity = sev >= 2 ? Severity::kCorrected : Severity::kUncorrected;
      m.address = row.U64("address");
      const auto cper = row.Blob("cper_data");
      if (!cper.empty()) {
        CompactLocation c = DecodeCompactMemoryError(cper);
        if (!c.location) {
          out.unparsed.push_back(
              Unparsed{file_, id, m.Source(), "cper_data: " + c.fault, m.Source()});
          return;
        }
        m.location = std::make_shared<const CperLocation>(*c.location);
      }
      m.message = Shared(row.Text("fru_text"));
      out.errors.push_back(std::move(m));
    });
  }

  std::vector<std::string> bad_time_;

 private:
  // Rows repeat their texts ("memory read error"): one copy of a text its
  // predecessor had too; none of an empty one.
  std::shared_ptr<const std::string> Shared(std::string text) {
    if (text.empty()) return nullptr;
    if (!last_text_ || *last_text_ != text)
      last_text_ = std::make_shared<const std::string>(std::move(text));
    return last_text_;
  }
  std::shared_ptr<const std::string> last_text_;
  std::map<std::string, std::shared_ptr<const std::string>> heads_;  // "NAME TABLE id "

  std::string file_;
  std::shared_ptr<const std::string> fileRef_;  // the errors' file, shared
  std::string name_;
  sqlite3* db_;
};

uint16_t U16(std::span<const uint8_t> b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

}  // namespace

CompactLocation DecodeCompactMemoryError(std::span<const uint8_t> blob) {
  // u64 validation bits; u16 node, card, module, bank, device, row, column,
  // bit position; u64 requestor, responder, target ids; u16 rank, memory
  // array handle, memory device handle (54 bytes); newer kernels add the
  // extended byte (row bits 17:16 in its bits 1:0).
  constexpr size_t kBase = 54, kExtended = 55;
  CompactLocation out;
  if (blob.size() != kBase && blob.size() != kExtended) {
    out.fault = std::to_string(blob.size()) + " bytes, expected " + std::to_string(kBase) +
                " (or " + std::to_string(kExtended) + " with the extended byte)";
    return out;
  }
  uint64_t valid = 0;
  for (unsigned i = 0; i < 8; ++i) valid |= static_cast<uint64_t>(blob[i]) << (8 * i);
  const auto bit = [valid](unsigned b) { return (valid >> b) & 1; };
  CperLocation loc;
  using namespace records;
  if (bit(kMemNode)) loc.node = U16(blob, 8);
  if (bit(kMemCard)) loc.card = U16(blob, 10);
  if (bit(kMemModule)) loc.module = U16(blob, 12);
  if (bit(kMemBank))
    loc.bank = U16(blob, 14);
  else if (bit(kMemBankAddress))
    loc.bank = U16(blob, 14) & 0xFF;
  if (bit(kMemDevice)) loc.device = U16(blob, 16);
  if (bit(kMemRow)) {
    uint32_t row = U16(blob, 18);
    if (blob.size() == kExtended && bit(kMemExtendedRow)) row |= (blob[54] & 3u) << 16;
    loc.row = row;
  }
  if (bit(kMemColumn)) loc.column = U16(blob, 20);
  if (bit(kMemBitPosition)) loc.bitPosition = U16(blob, 22);
  if (bit(kMemRank)) loc.rank = U16(blob, 48);
  out.location = loc;
  return out;
}

LogRead ReadRasdaemonDb(const std::string& file, const std::string& name) {
  Db db = Open(file, false);
  int rc;
  std::vector<std::string> tables = Tables(db.get(), rc);
  if (rc == SQLITE_CANTOPEN || rc == SQLITE_READONLY || rc == SQLITE_IOERR ||
      (rc & 0xFF) == SQLITE_CANTOPEN) {
    // A read-only medium: no lock or journal file can be made beside it.
    db = Open(file, true);
    tables = Tables(db.get(), rc);
  }
  if (rc != SQLITE_OK) Fail(file, db.get(), "cannot read the database");
  const auto has = [&tables](const char* t) {
    for (const auto& n : tables)
      if (n == t) return true;
    return false;
  };
  std::string missing;
  for (const char* t : {"mce_record", "mc_event", "extlog_event"})
    if (!has(t)) missing += std::string(missing.empty() ? "" : ", ") + t;
  if (!has("mce_record") && !has("mc_event") && !has("extlog_event"))
    throw UserError("'" + file +
                    "' is an SQLite database, but not rasdaemon's: it has none of "
                    "the tables " +
                    missing);
  LogRead out;
  DbReader r(file, name, db.get());
  if (has("mce_record")) r.Mce(out);
  if (has("mc_event")) r.McEvent(out);
  if (has("extlog_event")) r.Extlog(out);
  if (!missing.empty()) out.notes.push_back(name + ": no table " + missing + " (none read)");
  for (auto& n : r.bad_time_) out.notes.push_back(std::move(n));
  return out;
}

}  // namespace platsim::logs
