// platsim translate from the outside: output, --json, and what bad input does
// (message and exit code). Needs the platsim program of this build.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Outcome {
  int status;
  std::string out;  // standard output and error together
};

std::string Platsim() {
  return std::string(TIV_BINARY_DIR) + "/tools/platsim/platsim";
}

Outcome Exec(const std::string& args) {
  Outcome r{-1, ""};
  FILE* f = popen((Platsim() + " " + args + " 2>&1").c_str(), "r");
  if (f == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.out.append(buf, n);
  const int st = pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128;
  return r;
}

class PlatsimTranslate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(Platsim().c_str(), X_OK) != 0) GTEST_SKIP() << "platsim not built";
  }
};

TEST_F(PlatsimTranslate, BothDirectionsOnTheDefaultPlatform) {
  const Outcome sys = Exec("translate sys 0x723456789");
  EXPECT_EQ(sys.status, 0) << sys.out;
  EXPECT_NE(sys.out.find("socket 0, die 1, channel 2"), std::string::npos) << sys.out;
  EXPECT_NE(sys.out.find("normalized address  0x00000000B8D15B89"), std::string::npos) << sys.out;
  const Outcome norm = Exec("translate norm 0xB8D15B89 --socket 0 --die 1 --channel 2");
  EXPECT_EQ(norm.status, 0) << norm.out;
  EXPECT_NE(norm.out.find("system address      0x0000000723456789"), std::string::npos) << norm.out;
}

TEST_F(PlatsimTranslate, JsonAndTrace) {
  const Outcome r = Exec("--json translate sys 0x1000 --trace");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("\"normalizedAddress\": \"0x0000000000000000\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"channel\": 2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"register\": \"SystemFabricIdMask0\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"messages\""), std::string::npos) << r.out;
}

TEST_F(PlatsimTranslate, BadInputEndsWithAMessageAndNonZeroExit) {
  struct Row {
    const char* args;
    const char* message;
  };
  const Row rows[] = {
      {"translate sys zz", "not a number"},
      {"translate sys 0x1 --bogus", "--bogus"},
      {"translate sys 0x1000000000000", "is not DRAM"},
      {"translate sys 0xC0000000", "MMIO hole"},
      {"translate norm 0x100 --channel 4", "no channel 4"},
      {"translate norm 0x100 --socket 2 --channel 0", "no socket 2"},
      {"translate norm 0x100 --die 7 --channel 0", "no die 7"},
      {"translate norm 0x100", "--channel is required"},
      {"translate norm 0x1000000000 --channel 1", "outside that channel's DRAM"},
      {"translate norm 0x100 --channel 99999999999999999999", "out of range"},
  };
  for (const Row& r : rows) {
    const Outcome run = Exec(r.args);
    EXPECT_NE(run.status, 0) << r.args;
    EXPECT_LT(run.status, 128) << r.args;  // an exit, not a crash
    EXPECT_NE(run.out.find(r.message), std::string::npos) << r.args << "\n" << run.out;
  }
}

}  // namespace
