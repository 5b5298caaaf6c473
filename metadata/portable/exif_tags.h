// Any tag of a kept EXIF segment, by name or number: the values behind the
// picture's ExifValue and ExifTags, beyond the fixed camera-data fields the
// JPEG reader fills.
//
// The segment is as the JPEG reader keeps it: two big-endian length bytes,
// "Exif" 0 0, then the TIFF block (see jpeg_exif.h). Three directories are
// read: IFD0, the Exif directory its ExifOffset (0x8769) names and the GPS
// directory its GPSInfo (0x8825) names. The thumbnail's directory (IFD1) and
// the interoperability directory are not: their tags repeat IFD0's numbers
// and names with other meanings.
//
// Names are exiftool's (ISO, ModifyDate, ExifImageWidth, LensInfo, ...);
// the EXIF standard's names where they differ are accepted as well
// (ISOSpeedRatings and PhotographicSensitivity for ISO, DateTime for
// ModifyDate, PixelXDimension for ExifImageWidth, ...). Names are matched
// without regard to case. A tag without a name here is listed as its number
// in hex ("0xC6D2") and found by number.
//
// Safety: the segment is only read, through checked offsets; a directory
// that does not lie wholly inside the block is not read, each directory is
// read at most once whatever the pointers say, and values are decoded only
// for the one tag asked for, so no pointer, count or loop in a hostile block
// makes the reader read outside it or do unbounded work.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qb::exif {

// One number of a tag's value. Whole numbers (BYTE, SHORT, LONG and their
// signed forms, and UNDEFINED bytes) are kWhole; RATIONAL, SRATIONAL, FLOAT
// and DOUBLE are kReal; a rational with a zero denominator is kUndefined.
struct ExifNumber {
  enum class Kind { kWhole, kReal, kUndefined };
  Kind kind = Kind::kWhole;
  std::int64_t whole = 0;
  double real = 0;
};

// A tag's value as a caller sees it:
//   kNumbers  one number or several (a rational as a double);
//   kText     ASCII text without its terminating zero and trailing spaces
//             (UTF-8 when it is valid UTF-8, otherwise each byte is one
//             Latin-1 character); UserComment, GPSProcessingMethod and
//             GPSAreaInformation after their character-code prefix
//             (UNICODE in the block's byte order); ExifVersion and
//             FlashpixVersion ("0230"); the Windows XPTitle, XPComment,
//             XPAuthor, XPKeywords and XPSubject (UTF-16);
//   kBytes    UNDEFINED data of more than four bytes that is not text
//             (MakerNote, CFAPattern, ...), as stored.
// GPSLatitude and GPSLongitude are one number: signed decimal degrees
// (degrees + minutes / 60 + seconds / 3600, negative when GPSLatitudeRef is
// "S" or GPSLongitudeRef is "W"), also when a phone wrote them as text
// (its first three numbers are taken, as exiftool takes them).
struct ExifTagValue {
  enum class Kind { kNumbers, kText, kBytes };
  Kind kind = Kind::kNumbers;
  std::vector<ExifNumber> numbers;
  std::u16string text;
  std::vector<std::uint8_t> bytes;
};

// The tag number a name stands for (exiftool's name or the standard's),
// or nullopt for an unknown name. Also takes a number written as text:
// decimal ("34855") or hex ("0x8827"), 0..65535.
std::optional<std::uint16_t> ExifTagNumber(std::string_view name);

// The value of the tag in the first directory (IFD0, Exif, GPS) that holds
// it (the later entry when a directory holds it twice); a GPS name is looked for in the GPS directory only, any other name in
// IFD0 and the Exif directory. nullopt when the segment has no sound TIFF
// block, no such tag, or the tag's value lies outside the block or holds
// nothing.
std::optional<ExifTagValue> FindExifValue(std::span<const std::uint8_t> segment, std::string_view name);
std::optional<ExifTagValue> FindExifValue(std::span<const std::uint8_t> segment, std::uint32_t tag);

// The names of the tags present, each once: IFD0's, then the Exif
// directory's, then the GPS directory's, each in stored order. Tags whose
// value lies outside the block are left out.
std::vector<std::string> ExifTagNames(std::span<const std::uint8_t> segment);

}  // namespace qb::exif
