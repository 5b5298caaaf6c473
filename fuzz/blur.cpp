// Blur and the grey conversion on any block, at any level.
#include <vector>

#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(blur) {
  qb::fuzz::Input in(data, size);
  const auto level = static_cast<std::int32_t>(in.U32());
  const auto block = in.Rest();
  qb::fuzz::BoundedAllocator out;
  qb::fuzz::CheckResult(rastrum::Blur(block, level, out), out);
  std::vector<std::uint8_t> grey(block.begin(), block.end());
  const int rc = rastrum::ToGray(grey);
  QB_FUZZ_CHECK(rc == rastrum::kOk || grey == std::vector<std::uint8_t>(block.begin(), block.end()));
  return 0;
}
