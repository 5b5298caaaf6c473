// The Orientation tag (0x0112) of IFD0 in a kept EXIF segment: read when a
// picture is loaded, rewritten in place when the segment is saved with it.
//
// The segment is as the JPEG reader keeps it: two big-endian length bytes,
// "Exif" 0 0, then the TIFF block (see jpeg_exif.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qb::exif {

// The orientation IFD0 gives (1..8); 1 when the segment has no sound TIFF
// block, no Orientation tag, a tag that is not one SHORT, or a value
// outside 1..8.
int ReadOrientation(std::span<const std::uint8_t> segment);

// Writes `orientation` over the value of IFD0's Orientation tag, in the
// block's byte order, changing no other byte. False, changing nothing, when
// there is no such tag of one SHORT (a segment without the tag stays as it
// is) or the value is outside 1..8.
bool WriteOrientation(std::span<std::uint8_t> segment, int orientation);

// A copy of the segment with WriteOrientation applied: what a save that
// keeps the camera data writes for a picture of that orientation.
std::vector<std::uint8_t> WithOrientation(std::span<const std::uint8_t> segment, int orientation);

}  // namespace qb::exif
