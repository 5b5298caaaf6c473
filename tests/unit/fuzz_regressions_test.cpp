// Every input a fuzz target ever failed on is kept under
// fuzz/regressions/TARGET/NAME and given to that target again here (under
// ASan and UBSan in the sanitizer build): a finding that comes back fails
// the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "fuzz/targets.h"

namespace {

namespace fs = std::filesystem;
using Target = int (*)(const std::uint8_t*, std::size_t);

TEST(FuzzRegressions, EveryFileIsHandledByItsTarget) {
#define QB_FUZZ_ENTRY(name) {#name, qb_fuzz_##name},
  const std::map<std::string, Target> targets = {QB_FUZZ_TARGETS(QB_FUZZ_ENTRY)};
#undef QB_FUZZ_ENTRY
  int replayed = 0;
  for (const auto& folder : fs::directory_iterator(QB_FUZZ_REGRESSIONS)) {
    const std::string name = folder.path().filename().string();
    const auto target = targets.find(name);
    ASSERT_NE(target, targets.end()) << "fuzz/regressions/" << name << " names no target";
    for (const auto& file : fs::directory_iterator(folder.path())) {
      std::ifstream in(file.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
      SCOPED_TRACE(file.path().string());
      EXPECT_EQ(target->second(bytes.data(), bytes.size()), 0);
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0) << "no regression file under " << QB_FUZZ_REGRESSIONS;
}

}  // namespace
