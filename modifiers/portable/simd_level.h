// Which vector instructions the pixel kernels use. Every kernel has an
// SSE2 form (all the 32-bit Windows build uses); the native x86-64 build
// also has AVX2 forms, chosen when the processor has AVX2. Both forms of a
// kernel give the same bytes; tests and benchmarks limit the level to
// reach each.
#pragma once

namespace qb::simd {

enum class Level { kSse2, kAvx2 };

// The best level this build and processor offer.
Level Available();

// Available(), or less after Limit.
Level Current();

// Use at most `level` from now on (process-wide; for tests and benchmarks).
void Limit(Level level);

}  // namespace qb::simd
