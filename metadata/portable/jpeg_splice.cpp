#include "metadata/portable/jpeg_splice.h"

#include <cstring>
#include <new>

namespace qb::exif {

bool SpliceExifSegment(std::span<const uint8_t> segment, std::span<const uint8_t> jpeg,
                       std::vector<uint8_t>& out) {
  out.clear();
  if (segment.size() < 2) return false;
  const size_t declared = (static_cast<size_t>(segment[0]) << 8) | segment[1];
  if (declared < 2 || declared > segment.size()) return false;
  if (jpeg.size() < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;

  // Skip the writer's leading APP0 and APP1 segments.
  size_t at = 2;
  while (at + 1 < jpeg.size() && jpeg[at] == 0xFF && (jpeg[at + 1] == 0xE0 || jpeg[at + 1] == 0xE1)) {
    if (4 > jpeg.size() - at) return false;
    const size_t length = (static_cast<size_t>(jpeg[at + 2]) << 8) | jpeg[at + 3];
    if (length < 2 || length > jpeg.size() - at - 2) return false;
    at += 2 + length;
  }
  if (at + 1 >= jpeg.size() || jpeg[at] != 0xFF) return false;

  const size_t rest = jpeg.size() - at;
  try {
    out.resize(4 + declared + rest);
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  static constexpr uint8_t kHead[4] = {0xFF, 0xD8, 0xFF, 0xE1};
  std::memcpy(out.data(), kHead, 4);
  std::memcpy(out.data() + 4, segment.data(), declared);
  std::memcpy(out.data() + 4 + declared, jpeg.data() + at, rest);
  return true;
}

}  // namespace qb::exif
