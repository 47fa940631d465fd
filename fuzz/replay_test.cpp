// Every fuzz target's entry over its seed corpus and over every input that
// ever broke it, in every test build (natively, under the sanitizers and on
// MIPS), so that a fault the fuzzer found stays found.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/replay_entries.h"

namespace {

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    out.push_back(dir + "/" + name);
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

std::string bytes_of(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class FuzzReplay : public ::testing::TestWithParam<FuzzEntry> {};

}  // namespace

TEST_P(FuzzReplay, CorpusAndRegressionInputsPass) {
  const FuzzEntry& target = GetParam();
  std::vector<std::string> seeds = files_in(std::string(FUZZ_DIR) + "/corpus/" + target.name);
  std::vector<std::string> regressions = files_in(std::string(FUZZ_DIR) + "/regressions/" + target.name);
  EXPECT_FALSE(seeds.empty()) << "fuzz/corpus/" << target.name << " holds no seed";
  std::vector<std::string> inputs = seeds;
  inputs.insert(inputs.end(), regressions.begin(), regressions.end());
  for (const std::string& path : inputs) {
    // A target that breaks aborts the run; the last line printed names the input.
    printf("replaying %s\n", path.c_str());
    fflush(stdout);
    std::string bytes = bytes_of(path);
    EXPECT_EQ(0, target.entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())) << path;
  }
  printf("%s: %zu seeds, %zu regression inputs\n", target.name, seeds.size(), regressions.size());
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kFuzzEntries, kFuzzEntries + kFuzzEntryCount),
                         [](const ::testing::TestParamInfo<FuzzEntry>& info) { return std::string(info.param.name); });
