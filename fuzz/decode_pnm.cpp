// The imaging library's PNM decoder, the format detection in front of it,
// and every encoder of the codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_pnm) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kPnm, data, size); }
