// The EXIF-keeping splice: a kept segment (its length in the first two
// bytes of the input) and a JPEG (the rest).
#include "fuzz/fuzz_target.h"
#include "metadata/portable/jpeg_splice.h"

QB_FUZZ_TARGET(splice) {
  qb::fuzz::Input in(data, size);
  const auto segment = in.Bytes(in.U16());
  const auto jpeg = in.Rest();
  std::vector<std::uint8_t> out = {1, 2, 3};
  if (qb::exif::SpliceExifSegment(segment, jpeg, out)) {
    QB_FUZZ_CHECK(out.size() >= 4 && out[0] == 0xFF && out[1] == 0xD8 && out[2] == 0xFF && out[3] == 0xE1);
  } else {
    QB_FUZZ_CHECK(out.empty());
  }
  return 0;
}
