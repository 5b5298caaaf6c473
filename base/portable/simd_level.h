// Which vector instructions the pixel kernels use. Every kernel has an
// SSE2 form and an AVX2 form, chosen at run time when the processor has
// AVX2, in the 32-bit Windows build as in the native one. Both forms of a
// kernel give the same bytes; tests and benchmarks limit the level to
// reach each.
#pragma once

// The entry of an AVX2 kernel. 32-bit Windows keeps the stack aligned to
// only 4 bytes, so such an entry realigns it before anything of 32 bytes
// is spilled there; the helpers it inlines need no more.
#if defined(__i386__)
#define QB_AVX2_ENTRY __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define QB_AVX2_ENTRY __attribute__((target("avx2")))
#endif

namespace qb::simd {

enum class Level { kSse2, kAvx2 };

// The best level this build and processor offer.
Level Available();

// Available(), or less after Limit.
Level Current();

// Use at most `level` from now on (process-wide; for tests and benchmarks).
void Limit(Level level);

}  // namespace qb::simd
