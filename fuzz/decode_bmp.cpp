// The imaging library's BMP decoder (every header form and depth, RLE8 and
// RLE4), the format detection in front of it, and every encoder of the
// codec table on what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_bmp) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kBmp, data, size); }
