// The HEIC and AVIF files of tests/unit/heif and what they decode to, for
// the native test (Debian's libheif) and the Windows one (the cross-built
// libheif.dll and libde265.dll): HEVC and AV1 decoding is exact, so both
// give the same blocks.
#pragma once

#include <cstdint>
#include <vector>

namespace qb::test {

struct HeifFile {
  const char* name;
  bool avif;
  int32_t width, height;
  uint16_t bitCount;  // 32: the fourth byte is the picture's alpha
  uint32_t checksum;  // FNV-1a of the whole block, header included
};

inline constexpr HeifFile kHeifFiles[] = {
    {"8bit.heic", false, 61, 37, 24, 0xcfc9138a},
    {"10bit.heic", false, 61, 37, 24, 0x09101878},
    {"alpha.heic", false, 61, 37, 32, 0xd2e47523},
    {"grey.heic", false, 61, 37, 24, 0x624cd96f},
    {"grid.heic", false, 122, 74, 24, 0xbd8be593},
    {"rotated.heic", false, 37, 61, 24, 0xc851b290},
    {"transverse.heic", false, 37, 61, 24, 0xb95eb198},
    {"8bit.avif", true, 61, 37, 24, 0xf91c9411},
    {"10bit.avif", true, 61, 37, 24, 0x9cc948c5},
    {"alpha.avif", true, 61, 37, 32, 0x1db04991},
};

inline uint32_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint32_t h = 2166136261u;
  for (uint8_t b : bytes) h = (h ^ b) * 16777619u;
  return h;
}

}  // namespace qb::test
