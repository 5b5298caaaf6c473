// The imaging library's PNG decoder, the format detection in front of it,
// and every encoder of the codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_png) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kPng, data, size); }
