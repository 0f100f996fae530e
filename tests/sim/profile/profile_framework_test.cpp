// The profile framework every section relies on: numbers, keys, paths, files.
#include "sim/profile/profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

using sim::profile::Json;
using sim::profile::ProfileError;

TEST(ProfileNumber, IntegersAndDecimalOrHexStrings) {
  struct Row {
    const char* json;
    uint64_t max;
    uint64_t value;
  };
  const Row rows[] = {
      {"17", UINT64_MAX, 17},
      {"\"17\"", UINT64_MAX, 17},
      {"\"0x1F\"", UINT64_MAX, 31},
      {"\"0X1f\"", UINT64_MAX, 31},
      {"\"0xFFFFFFFFFFFFFFFF\"", UINT64_MAX, UINT64_MAX},
      {"18446744073709551615", UINT64_MAX, UINT64_MAX},
      {"\"0xFF\"", 0xFF, 0xFF},
  };
  for (const Row& r : rows)
    EXPECT_EQ(sim::profile::Number(Json::parse(r.json), "$.x", r.max), r.value) << r.json;
}

TEST(ProfileNumber, RejectsWhatIsNotANumberInRange) {
  const struct {
    const char* json;
    uint64_t max;
  } rows[] = {
      {"-1", UINT64_MAX},
      {"\"-1\"", UINT64_MAX},
      {"\"\"", UINT64_MAX},
      {"\"0x\"", UINT64_MAX},
      {"\"12g\"", UINT64_MAX},
      {"\" 1\"", UINT64_MAX},
      {"\"0x1 \"", UINT64_MAX},
      {"\"0x10000000000000000\"", UINT64_MAX},
      {"1.5", UINT64_MAX},
      {"true", UINT64_MAX},
      {"null", UINT64_MAX},
      {"[1]", UINT64_MAX},
      {"256", 255},
      {"\"0x100\"", 255},
  };
  for (const auto& r : rows) {
    try {
      sim::profile::Number(Json::parse(r.json), "$.a.b", r.max);
      ADD_FAILURE() << r.json << " accepted";
    } catch (const ProfileError& e) {
      EXPECT_EQ(e.path, "$.a.b") << r.json;
    }
  }
}

TEST(ProfileKeys, UnknownAndMissingKeysNameTheirPath) {
  try {
    sim::profile::CheckKeys(Json::parse(R"({"a": 1, "c": 2})"), "$.s", {"a", "b"});
    ADD_FAILURE();
  } catch (const ProfileError& e) {
    EXPECT_EQ(e.path, "$.s.c");
    EXPECT_NE(std::string(e.what()).find("a, b"), std::string::npos) << e.what();
  }
  try {
    sim::profile::CheckKeys(Json::parse("[1]"), "$.s", {"a"});
    ADD_FAILURE();
  } catch (const ProfileError& e) {
    EXPECT_EQ(e.path, "$.s");
  }
  try {
    sim::profile::Required(Json::parse(R"({"a": 1})"), "$.s", "b");
    ADD_FAILURE();
  } catch (const ProfileError& e) {
    EXPECT_EQ(e.path, "$.s.b");
  }
}

TEST(ProfileLoad, UnknownSectionsAndBadFilesAreErrors) {
  sim::Platform p;
  try {
    sim::profile::Load(Json::parse(R"({"nosuchsection": {}})"), p);
    ADD_FAILURE();
  } catch (const ProfileError& e) {
    EXPECT_EQ(e.path, "$.nosuchsection");
  }
  EXPECT_THROW(sim::profile::Load(Json::parse("[]"), p), ProfileError);
  EXPECT_THROW(sim::profile::LoadFile("/nonexistent/profile.json", p), ProfileError);
  const std::string file = testing::TempDir() + "bad_profile.json";
  std::ofstream(file) << "{\"topology\": ";
  EXPECT_THROW(sim::profile::LoadFile(file, p), ProfileError);
  std::remove(file.c_str());
}

// A key twice in one object would leave one of its values unused: an error
// naming where; the same key in different objects is fine.
TEST(ProfileParse, ADuplicateKeyIsAnErrorAtItsPath) {
  struct Row {
    const char* text;
    const char* path;  // "" when the text is fine
  };
  const Row rows[] = {
      {R"({"a": 1, "a": 2})", "$.a"},
      {R"({"s": {"x": 1, "y": {"x": 2}, "x": 3}})", "$.s.x"},
      {R"({"f": [{"n": 0}, {"n": 1, "v": 2, "n": 3}]})", "$.f[1].n"},
      {R"({"f": [[1, 2], {"k": 1}, {"k": 1, "k": 1}]})", "$.f[2].k"},
      {R"({"f": [{"n": 0}, {"n": 1}], "g": {"n": 2}})", ""},
  };
  for (const Row& r : rows) {
    try {
      sim::profile::Parse(r.text, "test");
      EXPECT_STREQ(r.path, "") << r.text;
    } catch (const ProfileError& e) {
      EXPECT_EQ(e.path, r.path) << r.text;
    }
  }
}

// A number beyond the range of a double stops the parser: an error at the
// path where the number stands, with its line and column.
TEST(ProfileParse, ANumberTooLargeIsAnErrorAtItsPath) {
  struct Row {
    std::string text;
    const char* path;
    const char* where;
  };
  const Row rows[] = {
      {"1e501r\"", "$", "(line 1, column 5)"},
      {"-1E+999", "$", "(line 1, column 7)"},
      {R"({"a": [1, 2, 1e501]})", "$.a[2]", "(line 1, column 18)"},
      {"{\"a\": [[0],\n  {\"b\": 1e999}]}", "$.a[1].b", "(line 2, column 13)"},
      {R"([{"x": 1}, -1e400])", "$[1]", "(line 1, column 17)"},
      {R"({"n": )" + std::string(400, '9') + "}", "$.n", "(line 1, column 406)"},
  };
  for (const Row& r : rows) {
    try {
      sim::profile::Parse(r.text, "test");
      ADD_FAILURE() << r.text << " accepted";
    } catch (const ProfileError& e) {
      EXPECT_EQ(e.path, r.path) << r.text;
      EXPECT_NE(std::string(e.what()).find("number overflow"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(r.where), std::string::npos) << e.what();
    }
  }
}

TEST(ProfileLoad, EverySectionOfTheDefaultIsKnownAndLoads) {
  sim::Platform p;
  const Json d = sim::profile::Default();
  EXPECT_FALSE(d.empty());
  EXPECT_NO_THROW(sim::profile::Load(d, p));
}

}  // namespace
