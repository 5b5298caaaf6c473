// The imaging library's HEIC and AVIF decoder through libheif (the
// primary image, grids, rotation and mirror, 8 to 12 bits, alpha), the
// format detection in front of it, and every encoder of the codec table on
// what it decodes.
#include "fuzz/fuzz_target.h"

QB_FUZZ_TARGET(decode_heif) { return qb::fuzz::DecodeRow(rastrum::FileFormat::kHeic, data, size); }
