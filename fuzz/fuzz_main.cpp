// The entry point of one fuzzer binary: the build names its target in
// QB_FUZZ_ENTRY.
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return QB_FUZZ_ENTRY(data, size);
}
