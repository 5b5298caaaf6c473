// The imaging library's WebP decoder (lossy, lossless, alpha, the first
// frame of an animation), the format detection in front of it, and every
// encoder of the codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_webp) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kWebp, data, size); }
