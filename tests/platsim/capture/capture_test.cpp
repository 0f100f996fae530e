// platsim capture: a profile captured from a simulated platform answers as
// the original does; the window driven through configuration files equals
// the driver's own path and leaves the window as it found it; a tree that is
// not the fabric's is refused with nothing written.
#include "capture/platform_capture.h"
#include "sim/dram/channel_config_store.h"
#include "sim/mca/mca_banks.h"
#include "sim/profile/profile.h"
#include "sim/topology/topology_double.h"
#include "tests/platsim/platsim_run.h"
#include "tools/platsim/capture/config_space.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

using platsim_test::Exec;
using platsim_test::Slurp;
using platsim_test::TempDir;

// Lines that name the platform differ between a profile and its capture.
std::string WithoutPlatformLines(const std::string& text) {
  std::istringstream in(text);
  std::string line, out;
  while (std::getline(in, line))
    if (line.rfind("platform:", 0) != 0 && line.rfind("# platform:", 0) != 0 &&
        line.rfind("Address map of", 0) != 0)
      out += line + "\n";
  return out;
}

std::string ProfileArg(const std::string& profile) {
  return profile.empty() ? std::string() : "--profile " + profile + " ";
}

// 100,000 addresses: most below 68 GiB, where the example platforms keep
// their DRAM, the rest anywhere in the 48-bit space. The sanitizer build of
// platsim is ten times slower: there a tenth of them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TIV_CAPTURE_UNDER_ASAN 1
#endif
#endif
#ifdef TIV_CAPTURE_UNDER_ASAN
constexpr int kAddresses = 10000;
#else
constexpr int kAddresses = 100000;
#endif

std::string WriteAddresses(const TempDir& dir) {
  std::mt19937_64 random(20261210);
  std::string text;
  for (int i = 0; i < kAddresses; ++i) {
    const uint64_t a = random();
    text += std::to_string(i % 8 == 0 ? a >> 16 : a % 0x1100000000ULL) + "\n";
  }
  return dir.Write("addresses.txt", text);
}

struct RoundTrip {
  const char* name;
  std::string profile;  // empty: the built-in platform
};

TEST(CaptureRoundTrip, CapturedProfileAnswersAsTheOriginal) {
  const std::string examples = platsim_test::Examples();
  const RoundTrip cases[] = {
      {"built-in", ""},
      {"one socket, eight channels", examples + "/one-socket-eight-channels.json"},
      {"raw registers", examples + "/raw-registers.json"},
  };
  TempDir dir;
  const std::string addresses = WriteAddresses(dir);
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string captured = dir.Path("captured.json");
    const auto cap =
        Exec("capture --simulate " + (c.profile.empty() ? "-" : c.profile) + " -o " + captured);
    ASSERT_EQ(cap.exit, 0) << cap.err;
    EXPECT_NE(cap.err.find("captured "), std::string::npos) << cap.err;
    for (const char* command : {"translate sys --input ", "map"}) {
      const std::string args = std::string(command) + (command[0] == 't' ? addresses : "");
      const auto original = Exec(ProfileArg(c.profile) + args);
      const auto again = Exec(ProfileArg(captured) + args);
      EXPECT_EQ(original.exit, again.exit) << command << again.err;
      EXPECT_GT(original.out.size(), 1000u) << command;
      EXPECT_TRUE(WithoutPlatformLines(original.out) == WithoutPlatformLines(again.out))
          << command << ": the captured profile answers differently";
    }
  }
}

// The round trip above must notice a capture that misses a register: drop
// the first DRAM base register of a block that holds a map, and the
// translations differ.
TEST(CaptureRoundTrip, MissingRegisterChangesTheAnswers) {
  TempDir dir;
  const std::string captured = dir.Path("captured.json");
  ASSERT_EQ(Exec("capture --simulate -o " + captured).exit, 0);
  std::istringstream in(Slurp(captured));
  std::string line, pruned;
  bool dropped = false;
  while (std::getline(in, line)) {
    if (!dropped && line.find("\"offset\": \"0x110\", \"instance\": 0,") != std::string::npos &&
        line.find("\"value\": \"0x00000000\"") == std::string::npos) {
      dropped = true;
      continue;
    }
    pruned += line + "\n";
  }
  ASSERT_TRUE(dropped);
  const std::string missing = dir.Write("missing.json", pruned);
  const std::string addresses = WriteAddresses(dir);
  const auto original = Exec("translate sys --input " + addresses);
  const auto again = Exec("--profile " + missing + " translate sys --input " + addresses);
  EXPECT_FALSE(WithoutPlatformLines(original.out) == WithoutPlatformLines(again.out));
}

bool Append(void* context, const char* text, size_t n) {
  static_cast<std::string*>(context)->append(text, n);
  return true;
}

// The Linux path's window (access value to F4x5C, data from F4x98), run over
// the simulator's configuration space, reads what the driver's own path
// reads, and puts every node's access-address register back.
TEST(CaptureWindow, ConfigFilePathEqualsTheDriversPathAndRestoresTheWindow) {
  const std::string profiles[] = {"", platsim_test::Examples() + "/raw-registers.json"};
  for (const std::string& profile : profiles) {
    SCOPED_TRACE(profile);
    sim::Platform p;
    sim::profile::Load(
        profile.empty() ? sim::profile::Default() : sim::profile::Parse(Slurp(profile), profile),
        p);
    capture::Identification id;
    id.tool = "test";
    id.version = "0";
    id.source = "simulation";
    std::string ecam, files;
    const auto direct = capture::CaptureProfile(capture::EcamFabricPort(), id, {}, {&ecam, Append});
    platsim::SimConfigSpace space(p);
    for (uint8_t device = 0x18; device < 0x20; ++device)
      space.Write32(device, 4, 0x5C, 0xC0DE0000u + device);
    {
      platsim::WindowPort window(space);
      const auto viaFiles = capture::CaptureProfile(window.Port(), id, {}, {&files, Append});
      EXPECT_EQ(viaFiles.registers, direct.registers);
      EXPECT_TRUE(window.Restore());
    }
    EXPECT_EQ(direct.status, capture::CaptureStatus::Ok);
    EXPECT_GT(direct.registers, 40u);
    EXPECT_TRUE(ecam == files);
    for (uint8_t device = 0x18; device < 0x18 + direct.nodes; ++device) {
      uint32_t v = 0;
      space.Read32(device, 4, 0x5C, &v);
      EXPECT_EQ(v, 0xC0DE0000u + device) << "device " << int(device);
    }
  }
}

// Fake sysfs trees of plain files: a file answers every window read with
// the dword at 0x98, and the access-address dword must read as before.
struct FakeTree {
  const char* name;
  uint32_t vendor;      // 0: no device
  size_t size;          // bytes of the config file
  bool readOnly;        // the capture runs without root
  std::string options;  // more of the command line
  const char* message;  // expected in the error; null: succeeds
  const char* note;     // the captured section's note, when it succeeds
};

void WriteConfig(const std::string& file, uint32_t vendor, size_t size) {
  std::vector<uint8_t> bytes(size, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4 && at + i < size; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, vendor);
  put(0x5C, 0xA5A55A5A);
  put(0x98, 0x00000003);
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

TEST(CaptureSysfs, FakeTrees) {
  const std::string board = platsim_test::Examples() + "/one-socket-eight-channels.json";
  TempDir files;
  const std::string noTable = files.Write("fabric-only.json", "{\"fabric\": []}");
  const FakeTree cases[] = {
      {"fabric node 0", 0x14501022, 4096, false, "", nullptr, "fabric registers only"},
      {"with a board's channel table", 0x14501022, 4096, false, "--channel-config " + board,
       nullptr, "channel configuration and processors from"},
      {"a channel-config profile without a table", 0x14501022, 4096, false,
       "--channel-config " + noTable, "no channel configuration in it", nullptr},
      {"no device", 0, 0, false, "", "0000:00:18.4/config does not exist", nullptr},
      {"another vendor", 0x00008086, 4096, false, "",
       "has vendor id 0x8086, not the fabric's 0x1022", nullptr},
      {"short read (not root)", 0x14501022, 64, false, "",
       "short read at offset 0x5C (0 of 4 bytes)", nullptr},
      {"no write permission", 0x14501022, 4096, true, "", "for writing: Permission denied",
       nullptr},
  };
  for (const FakeTree& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string config = dir.Path("sys/bus/pci/devices/0000:00:18.4/config");
    if (c.vendor != 0) WriteConfig(config, c.vendor, c.size);
    std::string prefix;
    if (c.readOnly) {
      // Root opens any file: drop to nobody, who may read but not write it.
      if (geteuid() == 0) {
        if (std::system("command -v setpriv >/dev/null") != 0) GTEST_SKIP() << "no setpriv";
        std::filesystem::permissions(dir.path, std::filesystem::perms(0755));
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
      }
    }
    const std::string out = dir.Path("out.json");
    const auto r = platsim_test::Shell(prefix + platsim_test::Platsim() + " capture --sysfs " +
                                       dir.Path("sys") + " " + c.options + " -o " + out + " 2>&1");
    if (c.message == nullptr) {
      ASSERT_EQ(r.exit, 0) << r.out;
      const std::string profile = Slurp(out);
      EXPECT_NE(profile.find("\"source\": \"linux-sysfs\""), std::string::npos);
      EXPECT_NE(profile.find(c.note), std::string::npos);
      EXPECT_EQ(profile.find("\"channelConfig\"") != std::string::npos, !c.options.empty());
      // Every register read through the file is the dword at 0x98; the
      // window's access-address dword is back as it was.
      auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = profile.find(what); at != std::string::npos;
             at = profile.find(what, at + 1))
          ++n;
        return n;
      };
      EXPECT_GT(count("\"value\": "), 40u);
      EXPECT_EQ(count("\"value\": "), count("\"value\": \"0x00000003\""));
      const std::string after = Slurp(config);
      EXPECT_EQ(after.substr(0x5C, 4), std::string("\x5A\x5A\xA5\xA5", 4));
      const auto map = Exec("--profile " + out + " map");
      EXPECT_NE(map.exit, 2) << "the capture does not load: " << map.err;
    } else {
      EXPECT_EQ(r.exit, 2) << r.out;
      EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
      EXPECT_FALSE(std::filesystem::exists(out));
    }
  }
}

}  // namespace
