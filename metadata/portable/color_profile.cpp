#include "metadata/portable/color_profile.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qb::exif {

namespace {

constexpr int kMarkerApp2 = 0xE2;
constexpr std::size_t kIccHeader = 14;  // "ICC_PROFILE" 0, sequence number, count

bool IsIccChunk(const JpegSegment& segment) {
  return segment.marker == kMarkerApp2 && segment.data.size() >= 2 + kIccHeader &&
         IsCarriedMetadata(segment.marker, std::span<const std::uint8_t>(segment.data).subspan(2));
}

std::size_t StoredLength(const JpegSegment& segment) {
  return segment.data.size() < 2 ? 0 : (std::size_t{segment.data[0]} << 8) | segment.data[1];
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::uint8_t b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t Big32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// A zlib stream of stored (uncompressed) blocks: every reader inflates it,
// and it needs no compressor.
void PutZlibStored(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> data) {
  out.push_back(0x78);
  out.push_back(0x01);
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(data.size() - at, 0xFFFF);
    out.push_back(at + n == data.size() ? 1 : 0);
    out.push_back(static_cast<std::uint8_t>(n & 0xFF));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(~n & 0xFF));
    out.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xFF));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < data.size());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(out, (b << 16) | a);
}

}  // namespace

bool HasIccProfile(std::span<const JpegSegment> carried) {
  for (const JpegSegment& segment : carried)
    if (IsIccChunk(segment)) return true;
  return false;
}

void DropNonRgbProfile(std::vector<JpegSegment>& carried) {
  // The colour space is at offset 16 of the profile, in the chunk of
  // sequence number 1.
  constexpr std::size_t kColourSpace = 2 + kIccHeader + 16;
  bool rgb = false;
  for (const JpegSegment& segment : carried) {
    if (!IsIccChunk(segment) || StoredLength(segment) < kColourSpace + 4 || StoredLength(segment) > segment.data.size())
      continue;
    if (segment.data[2 + 12] == 1) rgb = std::memcmp(segment.data.data() + kColourSpace, "RGB ", 4) == 0;
  }
  if (rgb) return;
  std::erase_if(carried, [](const JpegSegment& segment) { return IsIccChunk(segment); });
}

std::vector<std::uint8_t> AssembleIccProfile(std::span<const JpegSegment> carried) {
  std::vector<const JpegSegment*> chunks;
  int count = 0;
  for (const JpegSegment& segment : carried) {
    if (!IsIccChunk(segment) || StoredLength(segment) < 2 + kIccHeader || StoredLength(segment) > segment.data.size())
      continue;
    const int sequence = segment.data[2 + 12];
    const int total = segment.data[2 + 13];
    if (total == 0 || (count != 0 && total != count) || sequence < 1 || sequence > total) return {};
    count = total;
    chunks.resize(static_cast<std::size_t>(count), nullptr);
    if (chunks[static_cast<std::size_t>(sequence - 1)]) return {};
    chunks[static_cast<std::size_t>(sequence - 1)] = &segment;
  }
  std::vector<std::uint8_t> profile;
  try {
    for (const JpegSegment* chunk : chunks) {
      if (!chunk) return {};
      profile.insert(profile.end(), chunk->data.begin() + 2 + kIccHeader,
                     chunk->data.begin() + static_cast<std::ptrdiff_t>(StoredLength(*chunk)));
    }
  } catch (const std::bad_alloc&) {
    return {};
  }
  return profile;
}

bool InsertJpegIccProfile(std::span<const JpegSegment> carried, std::span<const std::uint8_t> jpeg,
                          std::vector<std::uint8_t>& out) {
  out.clear();
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  std::size_t at = 2;
  if (jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
    if (jpeg.size() < 6) return false;
    const std::size_t length = (std::size_t{jpeg[4]} << 8) | jpeg[5];
    if (length < 2 || length > jpeg.size() - 4) return false;
    at = 4 + length;
  }
  try {
    out.assign(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    for (const JpegSegment& segment : carried) {
      if (!IsIccChunk(segment)) continue;
      const std::size_t length = StoredLength(segment);
      if (length < 2 || length > segment.data.size()) {
        out.clear();
        return false;
      }
      out.push_back(0xFF);
      out.push_back(kMarkerApp2);
      out.insert(out.end(), segment.data.begin(), segment.data.begin() + static_cast<std::ptrdiff_t>(length));
    }
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  return true;
}

bool InsertPngIccProfile(std::span<const std::uint8_t> png, std::span<const std::uint8_t> profile,
                         std::vector<std::uint8_t>& out) {
  out.clear();
  static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (profile.empty() || png.size() < 8 + 12 || std::memcmp(png.data(), kSignature, 8) != 0 ||
      std::memcmp(png.data() + 12, "IHDR", 4) != 0)
    return false;
  try {
    out.assign(png.begin(), png.begin() + 8);
    std::size_t at = 8;
    while (at < png.size()) {
      if (png.size() - at < 12) {
        out.clear();
        return false;
      }
      const std::uint32_t length = Big32(png.data() + at);
      if (length > png.size() - at - 12) {
        out.clear();
        return false;
      }
      const std::uint8_t* type = png.data() + at + 4;
      const bool dropped = std::memcmp(type, "iCCP", 4) == 0 || std::memcmp(type, "sRGB", 4) == 0;
      if (!dropped) out.insert(out.end(), png.begin() + static_cast<std::ptrdiff_t>(at),
                               png.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
      if (at == 8) {  // after IHDR: the profile
        std::vector<std::uint8_t> chunk = {'i', 'C', 'C', 'P'};
        static constexpr char kName[] = "ICC profile";
        chunk.insert(chunk.end(), kName, kName + sizeof kName);  // with its zero
        chunk.push_back(0);                                      // compression method
        PutZlibStored(chunk, profile);
        PutBig32(out, static_cast<std::uint32_t>(chunk.size() - 4));
        out.insert(out.end(), chunk.begin(), chunk.end());
        PutBig32(out, Crc32(chunk));
      }
      at += 12 + length;
    }
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
  return true;
}

}  // namespace qb::exif
