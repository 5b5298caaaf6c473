// Building a JPEG file that carries a kept EXIF segment: the file a
// splicing save writes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "metadata/portable/jpeg_exif.h"

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

// The same, with the source's other metadata segments (XMP, IPTC, ICC
// profile chunks; see JpegExifReader::carriedSegments) written after the
// EXIF segment, in their order and byte for byte: each as FF, its marker,
// then its stored bytes as far as its length bytes say. False, leaving
// `out` empty, also when a carried segment is shorter than its length
// bytes say.
bool SpliceExifSegment(std::span<const uint8_t> segment, std::span<const JpegSegment> carried,
                       std::span<const uint8_t> jpeg, std::vector<uint8_t>& out);

// What FitExifToPicture changed.
struct ExifFit {
  int dimensionsSet = 0;      // PixelXDimension and PixelYDimension entries written
  bool thumbnailCut = false;  // IFD1 unlinked
  bool thumbnailDropped = false;  // and its JPEG bytes cut off the end of the segment
  bool thumbnailReplaced = false;  // the new thumbnail took the old one's place
};

// Makes a kept EXIF segment (its length bytes, "Exif" 0 0 and the TIFF
// block) true of a saved picture of width x height, without moving any
// byte that stays: PixelXDimension and PixelYDimension of the EXIF
// directory (SHORT or LONG, one value) take the new size in place (a SHORT
// that cannot hold it keeps its value), and the thumbnail directory (IFD1)
// is unlinked from IFD0, because its picture is the source's, not the
// saved one's. When the thumbnail's JPEG bytes are the last of the block
// they are cut off and the length bytes shrink to match; otherwise they
// stay where they are, unreferenced. Every other byte, maker notes
// included, stays as it was. A segment that does not parse is left as it
// is.
//
// Given a `thumbnail` (a JPEG of the saved picture), the thumbnail is
// replaced instead of unlinked when that moves nothing: when the old JPEG
// ends the block, the new one takes its place there, the length entry
// takes its size, and the segment stays within its 65535 bytes.
ExifFit FitExifToPicture(std::vector<uint8_t>& segment, uint32_t width, uint32_t height,
                         std::span<const uint8_t> thumbnail = {});

}  // namespace qb::exif
