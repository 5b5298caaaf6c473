// The imaging library's GIF decoder, the format detection in front of it,
// and every encoder of the codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_gif) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kGif, data, size); }
