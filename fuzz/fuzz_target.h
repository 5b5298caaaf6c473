// What every fuzz target shares: the form of a target, a reader that cuts
// parameters and blocks out of the input, an allocator that refuses
// blocks past a bound, and the check that stops a run on a broken promise.
//
// A target is a function over the input's bytes. The fuzzer binary of each
// (fuzz_main.cpp) calls one; the unit tests call them all on the files of
// fuzz/regressions (targets.h lists them).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "rastrum/portable/raster.h"

#define QB_FUZZ_TARGET(name) int qb_fuzz_##name(const std::uint8_t* data, std::size_t size)

// A promise of the code under test that the input broke: the run stops
// here with the condition, whatever the build.
#define QB_FUZZ_CHECK(condition)                                                              \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

namespace qb::fuzz {

// Takes numbers and spans off the front of the input; past its end,
// numbers are 0 and spans empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_rest(data, size) {}

  std::uint32_t U8() { return Take(1); }
  std::uint32_t U16() { return Take(2); }
  std::uint32_t U32() { return Take(4); }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, m_rest.size());
    const auto taken = m_rest.first(n);
    m_rest = m_rest.subspan(n);
    return taken;
  }
  std::span<const std::uint8_t> Rest() { return Bytes(m_rest.size()); }

 private:
  std::uint32_t Take(std::size_t n) {
    std::uint32_t v = 0;
    for (std::uint8_t b : Bytes(n)) v = v << 8 | b;
    return v;
  }
  std::span<const std::uint8_t> m_rest;
};

// Blocks of at most 64 MB; larger ones are refused as if memory ran out,
// which keeps a run fast and tries the callers' out-of-memory paths.
class BoundedAllocator final : public rastrum::BlockAllocator {
 public:
  std::uint8_t* Allocate(std::size_t bytes) override {
    if (bytes > (std::size_t{64} << 20)) return nullptr;
    block.resize(bytes);
    return block.data();
  }
  std::vector<std::uint8_t> block;
};

// A result of the imaging library: a failure value, or kOk with a block
// that the validator accepts.
void CheckResult(int rc, const BoundedAllocator& out);

// The decoder of a row of the codec table on the input (and the detection
// in front of it); a picture it makes is then saved by every row that has
// an encoder, and each file that is written must read back at its size.
int DecodeRow(rastrum::FileFormat format, const std::uint8_t* data, std::size_t size);

}  // namespace qb::fuzz
