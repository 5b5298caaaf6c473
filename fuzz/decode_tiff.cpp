// The imaging library's TIFF decoder (the first page, every layout it
// reads), the format detection in front of it, and every encoder of the
// codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_tiff) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kTiff, data, size); }
