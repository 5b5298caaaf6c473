#include "base/portable/simd_level.h"

#include <atomic>

namespace qb::simd {
namespace {

std::atomic<Level> limit{Level::kAvx2};

}  // namespace

Level Available() {
#if defined(__x86_64__) || defined(__i386__)
  static const Level level = __builtin_cpu_supports("avx2") ? Level::kAvx2 : Level::kSse2;
  return level;
#else
  return Level::kSse2;
#endif
}

Level Current() {
  const Level cap = limit.load(std::memory_order_relaxed);
  const Level best = Available();
  return cap < best ? cap : best;
}

void Limit(Level level) { limit.store(level, std::memory_order_relaxed); }

}  // namespace qb::simd
