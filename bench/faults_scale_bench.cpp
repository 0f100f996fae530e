// platsim faults at fleet scale, end to end: a rasdaemon database (0.6.8's
// tables) of 1,000,000 mce_record rows read by ReadLogs, then placed and
// classified on the built-in platform. The goal is 5 s on one core and
// 500 MB of memory. Each run is a child process pinned to one core, so that
// its peak resident size (getrusage) is its own and not the benchmark
// program's: the child starts with the parent's few resident megabytes,
// which the figure includes.
#include "tests/platsim/logs/rasdaemon_schema.h"
#include "tools/platsim/faults/fault_analysis.h"
#include "tools/platsim/logs/memory_error.h"

#include <benchmark/benchmark.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>

namespace {

constexpr size_t kRows = 1000000;

// A database of kRows corrected memory read errors over `distinct` addresses
// below 3 GiB, a second apart from 2026-12-01 10:00:00 UTC, written once per
// run of the program and removed at its end.
struct BenchDb {
  std::string file;
  ~BenchDb() { std::remove(file.c_str()); }
};

const std::string& DatabaseOf(size_t distinct) {
  static std::map<size_t, BenchDb> made;
  BenchDb& db = made[distinct];
  if (!db.file.empty()) return db.file;
  db.file = "/tmp/tiv_bench_rasdaemon_" + std::to_string(::getpid()) + "_" +
            std::to_string(distinct) + ".db";
  std::remove(db.file.c_str());
  sqlite3* raw = nullptr;
  sqlite3_open(db.file.c_str(), &raw);
  sqlite3_exec(raw, platsim_test::kSchema, nullptr, nullptr, nullptr);
  sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(raw,
                     "INSERT INTO mce_record (id, timestamp, mcgcap, mcgstatus, status, addr, "
                     "misc, ip, tsc, walltime, cpu, cpuid, apicid, socketid, cs, bank, cpuvendor, "
                     "bank_name, error_msg, mcgstatus_msg, mcistatus_msg, mcastatus_msg, "
                     "user_action, mc_location) VALUES (?, ?, 0x1c, 0, ?, ?, 0xd012000101000000, "
                     "0, ?, ?, ?, 0xa20f10, ?, 0, 0, 5, 2, 'Unified Memory Controller (bank=5)', "
                     "'memory read error', '', 'Error_overflow CECC', '', '', '')",
                     -1, &s, nullptr);
  std::mt19937_64 rng(1);
  std::vector<uint64_t> pool(distinct);
  for (uint64_t& a : pool) a = (rng() % (3ULL << 30)) & ~uint64_t{63};
  constexpr int64_t kDec1 = 1796119200;  // 2026-12-01 10:00:00 UTC
  for (size_t i = 0; i < kRows; ++i) {
    const time_t t = static_cast<time_t>(kDec1 + static_cast<int64_t>(i));
    tm u{};
    gmtime_r(&t, &u);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S +0000", &u);
    const int cpu = static_cast<int>(rng() % 64);
    sqlite3_bind_int64(s, 1, static_cast<int64_t>(i + 1));
    sqlite3_bind_text(s, 2, stamp, -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 3,
                       static_cast<int64_t>(0x9c20000000010134ULL));  // VAL, OVER, EN, ADDRV, MISCV
    sqlite3_bind_int64(s, 4, static_cast<int64_t>(pool[rng() % distinct]));
    sqlite3_bind_int64(s, 5, static_cast<int64_t>(i) * 1000003);
    sqlite3_bind_int64(s, 6, t);
    sqlite3_bind_int(s, 7, cpu);
    sqlite3_bind_int(s, 8, cpu * 2);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  return db.file;
}

struct Measured {
  double readSeconds = 0, totalSeconds = 0;
  long peakKb = 0;
  uint64_t errors = 0, faults = 0;
  bool ok = false;
};

// Reads and classifies in a child process pinned to the core it runs on.
Measured RunChild(const std::string& file) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(static_cast<unsigned>(::sched_getcpu()), &one);
    ::sched_setaffinity(0, sizeof one, &one);
    Measured m;
    const auto t0 = std::chrono::steady_clock::now();
    platsim::GlobalOptions opts;
    const platsim::logs::LogRead read = platsim::logs::ReadLogs({file}, opts, {});
    const auto t1 = std::chrono::steady_clock::now();
    platsim::TranslateSession session(opts);
    platsim::faults::Locator locator(session);
    const auto a = platsim::faults::Analyze(locator, read.errors, platsim::faults::FaultOptions{});
    const auto t2 = std::chrono::steady_clock::now();
    m.readSeconds = std::chrono::duration<double>(t1 - t0).count();
    m.totalSeconds = std::chrono::duration<double>(t2 - t0).count();
    m.errors = read.errors.size();
    for (const auto& d : a.dimms) m.faults += d.faults.size();
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    m.peakKb = ru.ru_maxrss;
    m.ok = true;
    const ssize_t w = ::write(fds[1], &m, sizeof m);
    ::_exit(w == sizeof m ? 0 : 1);
  }
  ::close(fds[1]);
  Measured m;
  if (pid < 0 || ::read(fds[0], &m, sizeof m) != sizeof m) m.ok = false;
  ::close(fds[0]);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  return m;
}

void ReadAndClassifyDatabase(benchmark::State& state) {
  const std::string& file = DatabaseOf(static_cast<size_t>(state.range(0)));
  Measured m;
  for (auto _ : state) {
    m = RunChild(file);
    if (!m.ok) {
      state.SkipWithError("the child process failed");
      return;
    }
    state.SetIterationTime(m.totalSeconds);
  }
  state.counters["errors"] = static_cast<double>(m.errors);
  state.counters["faults"] = static_cast<double>(m.faults);
  state.counters["read_s"] = m.readSeconds;
  state.counters["total_s"] = m.totalSeconds;
  state.counters["peak_MB"] = static_cast<double>(m.peakKb) / 1024.0;
}
// Errors on a few thousand faulty cells (a fleet machine's log) and a million
// distinct addresses (the worst case).
BENCHMARK(ReadAndClassifyDatabase)
    ->Arg(4096)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
