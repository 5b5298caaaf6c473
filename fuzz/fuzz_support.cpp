#include "base/portable/dib_format.h"
#include "fuzz/fuzz_target.h"

namespace qb::fuzz {

void CheckResult(int rc, const BoundedAllocator& out) {
  QB_FUZZ_CHECK(rc <= rastrum::kOk && rc >= rastrum::kNotAvailable);
  if (rc != rastrum::kOk) return;
  dib::DibLayout layout;
  QB_FUZZ_CHECK(dib::Validate(out.block, dib::kAllDepths, layout) == dib::DibStatus::kOk);
}

}  // namespace qb::fuzz
