// Runs the platsim program of this build as a user does: arguments through a
// shell (so tests can pipe and redirect), standard output and standard error
// kept apart or joined, and the exit code.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace platsim_test {

struct Run {
  int exit = -1;  // 128 and above: killed by a signal
  std::string out, err;
};

inline std::string Platsim() {
  return std::string(TIV_BINARY_DIR) + "/tools/platsim/platsim";
}

inline std::string Examples() {
  return std::string(TIV_SOURCE_DIR) + "/examples";
}

// A fresh directory for one test's files, removed with the object.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char tmpl[] = "/tmp/tiv_platsim_XXXXXX";
    path = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string Path(const std::string& name) const { return (path / name).string(); }
  std::string Write(const std::string& name, const std::string& text) const {
    const auto file = path / name;
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
  }
};

inline std::string Slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs `command` through the shell: its standard output and exit code (-1:
// no shell could be started; 128 and above: killed by a signal).
inline Run Shell(const std::string& command) {
  Run r;
  FILE* f = ::popen(command.c_str(), "r");
  if (f == nullptr) return r;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) r.out.append(buf, n);
  const int st = ::pclose(f);
  r.exit = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

// `args` follow the program name in a shell command line: "translate sys -
// < list.txt" works.
inline Run Exec(const std::string& args) {
  static const TempDir errors;
  const std::string errFile = (errors.path / "stderr").string();
  Run r = Shell(Platsim() + " " + args + " 2>" + errFile);
  r.err = Slurp(errFile);
  return r;
}

// The same with standard error joined to the output, as a terminal shows them.
inline Run ExecJoined(const std::string& args) {
  return Shell(Platsim() + " " + args + " 2>&1");
}

}  // namespace platsim_test
