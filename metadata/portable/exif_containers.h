// Where a file keeps its EXIF block, whatever its format: the JPEG reader
// (jpeg_exif.h) tells the file's kind by its first bytes and, for any kind
// but JPEG, has the block found here. The block is the TIFF structure alone
// (from its "II" or "MM"), as a JPEG's APP1 segment holds it after "Exif" 0 0.
//
//   HEIF (HEIC, AVIF)  the item of type 'Exif': ftyp, then meta (a full box)
//                      with iinf/infe naming the item and iloc placing its
//                      bytes (versions 0-2, field sizes 0/4/8, construction
//                      method 0 from the file's start, 1 from meta's idat);
//                      the item's first four bytes are the big-endian offset
//                      of the TIFF header after them
//   WebP               the RIFF chunk 'EXIF' (a leading "Exif" 0 0 skipped)
//   PNG                the chunk 'eXIf' (a leading "Exif" 0 0 skipped)
//   TIFF               the file's own IFD0 with its Exif and GPS
//                      directories: a new block is made of their metadata
//                      entries, without the image's structure (strips,
//                      tiles, sizes, compression) and without maker notes
//
// Safety: every read goes through a window on the file that checks
// `offset <= size && n <= size - offset`; box, chunk and directory walks
// stop at their parent's end, visit a bounded number of entries and never
// step backwards; no item larger than kMaxExifTiff is read. A hostile file
// gives kDamaged, never a read outside the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qb::exif {

class ByteStream;

enum class ExifContainer { kUnknown, kJpeg, kHeif, kWebp, kPng, kTiff };

// The kind of file whose first bytes `head` holds (up to 32 of them).
ExifContainer ContainerOf(std::span<const std::uint8_t> head);

// The largest TIFF block a JPEG APP1 segment holds: 65535 less the length
// field and "Exif" 0 0.
inline constexpr std::size_t kMaxExifTiff = 0xFFFF - 2 - 6;

enum class ExifSearch { kFound, kNone, kDamaged, kTooLarge };

// Finds the EXIF TIFF block of a file of kind `kind` (any but kJpeg and
// kUnknown, which give kNone) in a stream that can seek. On kFound `tiff`
// holds the block, at most kMaxExifTiff bytes; otherwise it is empty.
ExifSearch FindExifTiff(ExifContainer kind, ByteStream& stream, std::vector<std::uint8_t>& tiff);

// True when the rotation and mirror a file gives are applied by its
// decoder (HEIF's irot and imir), so that its EXIF orientation describes
// pixels already upright.
inline bool DecoderOrients(ExifContainer kind) { return kind == ExifContainer::kHeif; }

}  // namespace qb::exif
