// The imaging library's JPEG decoder, the format detection in front of it,
// and every encoder of the codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_jpeg) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kJpeg, data, size); }
