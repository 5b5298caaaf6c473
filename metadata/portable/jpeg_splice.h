// Building a JPEG file that carries a kept EXIF segment: the file a
// splicing save writes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace qb::exif {

// Writes into `out` (replacing its contents): FF D8, FF E1, the stored
// segment as kept (its two big-endian length bytes and its body, which
// begins with "Exif"), then `jpeg` from its first marker after the
// start-of-image marker that is not an APP0 or APP1 segment. So whatever
// the JPEG writer puts first (a JFIF header, an EXIF segment of its own),
// the result is a well-formed stream with exactly one EXIF segment.
// False, leaving `out` empty, when `jpeg` does not begin with FF D8 or its
// leading APP0/APP1 segments run past its end, or when `segment` is
// shorter than its length bytes say.
bool SpliceExifSegment(std::span<const uint8_t> segment, std::span<const uint8_t> jpeg,
                       std::vector<uint8_t>& out);

}  // namespace qb::exif
