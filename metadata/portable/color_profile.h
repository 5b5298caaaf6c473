// The source's ICC colour profile in saves: colour, not camera data, so
// every JPEG and PNG save of a picture whose source had one writes it, with
// or without the EXIF segment.
//
// In a JPEG the profile is split into APP2 chunks: "ICC_PROFILE" 0, the
// chunk's sequence number (from 1), the number of chunks, then its part of
// the profile. In a PNG it is one iCCP chunk before the image data: a name
// of 1 to 79 Latin-1 characters, 0, the compression method 0, then the
// profile as a zlib stream.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "metadata/portable/jpeg_exif.h"

namespace qb::exif {

// True when the carried segments hold an ICC profile chunk.
bool HasIccProfile(std::span<const JpegSegment> carried);

// Removes every ICC chunk unless the profile describes RGB colour (its
// first chunk's data colour space is "RGB "): the decoded picture is RGB
// whatever the source was (a CMYK or grey JPEG is converted at load), and
// a viewer shown an RGB file with a CMYK or grey profile gets its colours
// wrong, so such a profile is not carried into saves.
void DropNonRgbProfile(std::vector<JpegSegment>& carried);

// The profile put together from its chunks in sequence order; empty when
// a chunk is missing, repeated or disagrees on the number of chunks.
std::vector<std::uint8_t> AssembleIccProfile(std::span<const JpegSegment> carried);

// Writes into `out` the writer's JPEG with the carried ICC chunks (as
// stored, in their order) after its leading APP0 (JFIF) segment, or right
// after the start-of-image marker when it has none. False, leaving `out`
// empty, when `jpeg` is not a JPEG stream or a chunk is shorter than its
// length bytes say.
bool InsertJpegIccProfile(std::span<const JpegSegment> carried, std::span<const std::uint8_t> jpeg,
                          std::vector<std::uint8_t>& out);

// Writes into `out` the writer's PNG with an iCCP chunk holding `profile`
// right after its IHDR chunk; the writer's own iCCP and sRGB chunks are
// dropped (a PNG has at most one of them). False, leaving `out` empty,
// when `png` does not begin with the signature and an IHDR chunk, a chunk
// runs past its end, or the profile is empty.
bool InsertPngIccProfile(std::span<const std::uint8_t> png, std::span<const std::uint8_t> profile,
                         std::vector<std::uint8_t>& out);

}  // namespace qb::exif
