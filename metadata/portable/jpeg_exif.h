// JPEG sections and the EXIF reader: walks the marker segments at the head of
// a JPEG file up to the start of the compressed image data, parses the EXIF
// block (a TIFF structure inside an APP1 segment) and the first comment
// segment into an ExifInfo record, and turns that record into the picture's
// camera data. Portable: the reader works on a byte stream and never decodes
// pixels.
//
// Segment layout (big-endian length, counting its own two bytes):
//
//   FF..FF code   up to six FF padding bytes, then the marker code; the code
//                 needs no FF in front of it
//   len_hi len_lo segment length L >= 2
//   L - 2 bytes   payload
//
// EXIF APP1 payload: "Exif" 0 0, then a TIFF block of L - 8 bytes: "II"
// (little-endian) or "MM" (big-endian), 42, the 32-bit offset of the first
// directory. A directory is a 16-bit entry count, 12-byte entries (tag,
// format, component count, four value bytes or the 32-bit offset of the
// value) and the 32-bit offset of the next directory. Every offset counts
// from the start of the TIFF block.
//
// Safety: every read of an EXIF block goes through ExifBytes, which checks
// each offset against the block; no directory is followed twice and
// directories nest at most kMaxIfdDepth deep; no segment is larger than its
// 16-bit length field allows. A hostile file ends in a failure text or a
// skipped directory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "metadata/portable/exif_containers.h"

namespace qb::exif {

// A source of bytes read front to back.
class ByteStream {
 public:
  virtual ~ByteStream() = default;
  // The next byte (0..255), or -1 at the end of the stream.
  virtual int ReadByte() = 0;
  // Reads up to n bytes into out; returns how many were read (fewer only at
  // the end of the stream).
  virtual std::size_t Read(std::uint8_t* out, std::size_t n) = 0;
  // Moves to `offset` from the start; false when the stream cannot seek or
  // the offset lies beyond its end. Reading goes on from there.
  virtual bool Seek(std::uint64_t offset) {
    (void)offset;
    return false;
  }
  // The stream's length in bytes; 0 when it cannot tell.
  virtual std::uint64_t Size() { return 0; }
};

// A stdio stream opened for binary reading. The caller owns the FILE and
// closes it; the reader only takes bytes from it, through stdio's buffer.
class FileStream final : public ByteStream {
 public:
  explicit FileStream(std::FILE* file) : m_file(file) {}
  int ReadByte() override;
  std::size_t Read(std::uint8_t* out, std::size_t n) override;
  bool Seek(std::uint64_t offset) override;
  std::uint64_t Size() override;

 private:
  std::FILE* m_file;
  std::int64_t m_size = -1;  // found on first use
};

// Bytes in memory. The bytes must outlive the stream.
class MemoryStream final : public ByteStream {
 public:
  explicit MemoryStream(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}
  int ReadByte() override;
  std::size_t Read(std::uint8_t* out, std::size_t n) override;
  bool Seek(std::uint64_t offset) override;
  std::uint64_t Size() override { return m_bytes.size(); }

 private:
  std::span<const std::uint8_t> m_bytes;
  std::size_t m_position = 0;
};

// What one read of a file gathers. Value-initialised (ExifInfo info{}; or
// just ExifInfo info;) it is all zero, as each read starts.
struct ExifInfo {
  char version[5] = {};       // ExifVersion, four characters
  char make[32] = {};         // at most 31 characters
  char model[40] = {};        // at most 39 characters
  char dateTime[20] = {};     // DateTimeOriginal, at most 19 characters
  int flashFired = 0;         // 1 when the flash fired
  float focalLength = 0;      // millimetres
  float exposureTime = 0;     // seconds
  float fNumber = 0;
  float sensorWidth = 0;      // millimetres, from the focal-plane resolution
  float focalPlaneXResolution = 0;
  float focalPlaneUnitFactor = 0;  // FocalPlaneResolutionUnit as a fraction of an inch
  float xResolution = 0;
  float yResolution = 0;
  float resolutionUnitFactor = 0;  // ResolutionUnit as a fraction of an inch
  float brightness = 0;
  char comment[1000] = {};
  bool valid = false;         // the last EXIF block of the file parsed
};

// The picture's camera data. Texts are narrow strings in the ANSI code page;
// the COM side widens them. Every member keeps its value until a read of a
// file that supplies it.
struct CameraData {
  std::string comment;
  std::string dateTime;
  std::string cameraMake;
  std::string cameraModel;
  std::string flashUsed;    // "Yes" or "No" after the first EXIF read
  std::string exifVersion;
  float exposureTime = 0;   // seconds, or the shutter-speed denominator (125 for 1/125 s)
  float focalLength = 0;    // millimetres, or a whole 35-mm equivalent
  float xResolution = 0;    // dots per inch
  float yResolution = 0;
  float brightness = 0;
  float aperture = 0;       // F-number
};

// True for the segments a splicing save carries over besides EXIF: XMP
// (APP1 "http://ns.adobe.com/xap/1.0/" or its extension
// "http://ns.adobe.com/xmp/extension/", each with its zero), IPTC (APP13
// "Photoshop 3.0" and its zero) and ICC profile chunks (APP2 "ICC_PROFILE"
// and its zero). `payload` is the segment after its length bytes.
bool IsCarriedMetadata(int marker, std::span<const std::uint8_t> payload);

// Copies the values a read found into the camera data; values the file did
// not supply leave their members as they were.
void ApplyCameraData(const ExifInfo& info, CameraData& data);

// FocalPlaneResolutionUnit and ResolutionUnit as the fraction of an inch one
// unit is (1 and 2 are inches, 3 centimetres, 4 millimetres, 5
// micrometres). nullopt for any other value, which leaves the factor as it
// was.
std::optional<float> UnitFactor(int unit);

// A bounds-checked window on the bytes of an EXIF TIFF block, with the
// block's byte order. Every read of the block goes through here: a read
// that does not lie wholly inside the window yields nullopt (or an empty
// window) and touches nothing.
class ExifBytes {
 public:
  ExifBytes() = default;
  ExifBytes(std::span<std::uint8_t> bytes, bool bigEndian) : m_bytes(bytes), m_bigEndian(bigEndian) {}

  std::size_t size() const { return m_bytes.size(); }
  bool bigEndian() const { return m_bigEndian; }
  // True when n bytes from offset lie inside the window.
  bool Holds(std::uint64_t offset, std::uint64_t n) const {
    return offset <= m_bytes.size() && n <= m_bytes.size() - offset;
  }
  // n bytes from offset as a window of their own, or nullopt.
  std::optional<ExifBytes> Sub(std::uint64_t offset, std::uint64_t n) const;

  std::optional<std::uint8_t> U8(std::uint64_t offset) const;
  std::optional<std::uint16_t> U16(std::uint64_t offset) const;
  std::optional<std::uint32_t> U32(std::uint64_t offset) const;
  // n raw bytes in file order (no byte-order swap).
  bool Copy(std::uint64_t offset, void* out, std::size_t n) const;
  // Writes one byte in place; false outside the window.
  bool Put(std::uint64_t offset, std::uint8_t value) const;

 private:
  std::span<std::uint8_t> m_bytes;
  bool m_bigEndian = false;
};

// One segment kept during a walk: the bytes from the length field on.
struct JpegSegment {
  std::vector<std::uint8_t> data;
  int marker = 0;  // the marker code byte
  int size = 0;    // the segment length field
};

// The reader state of one picture: the segments of the last walk, the EXIF
// segment of the last file that had one, and the text of the last failure.
class JpegExifReader {
 public:
  enum class WalkResult { kReachedImage, kFailed };

  static constexpr int kMaxSegments = 20;
  static constexpr int kMaxIfdDepth = 8;
  // The carried segments of one file take at most this many bytes; a file
  // with more carries none (a partial ICC profile or XMP packet is worse
  // than none).
  static constexpr std::size_t kMaxCarriedBytes = 16u << 20;

  JpegExifReader();
  virtual ~JpegExifReader() = default;
  JpegExifReader(const JpegExifReader&) = delete;
  JpegExifReader& operator=(const JpegExifReader&) = delete;

  // Releases the segments of the previous walk, then walks the stream's
  // segments up to the start of scan, filling `info` (which the caller
  // creates zero-filled and applies afterwards when info.valid is set).
  // kReachedImage when the start of scan was reached, whatever became of the
  // EXIF parse. A stream that can seek is told by its first bytes: a HEIF,
  // WebP, PNG or TIFF file has its EXIF block found where its format keeps
  // it (exif_containers.h) and kept as the APP1 segment a JPEG would carry;
  // kReachedImage then means the file's structure up to the block was
  // sound, with or without a block. Such files carry no other segments.
  WalkResult Read(ByteStream& stream, ExifInfo& info);

  // Drops everything earlier reads kept (segments, the EXIF segment, the
  // carried segments, the failure text), as a new reader starts: the next
  // read describes its own source only.
  void Forget();
  // Takes over what `other` keeps for saves (the EXIF segment and the
  // carried segments), dropping what this reader kept.
  void KeepAsOf(const JpegExifReader& other);
  // Where the two standard-output lines go ("too many padding unsigned
  // chars\n", "No image in jpeg!\n"); fputs to stdout unless replaced.
  void SetConsole(std::function<void(const char*)> console) { m_console = std::move(console); }

  // The last EXIF APP1 segment met (its length bytes and payload, without
  // the FF E1 marker), across reads; empty when no file had one.
  const std::vector<std::uint8_t>& exifBlock() const { return m_exifBlock; }
  int exifBlockSize() const { return m_exifBlockSize; }
  // The source's XMP (APP1, standard and extended), IPTC (APP13 "Photoshop
  // 3.0") and ICC profile (APP2, every chunk) segments, in file order, of the
  // last read that reached the image data; a failed read leaves them as they
  // were, as it leaves the EXIF segment. A splicing save writes them back
  // byte for byte after the EXIF segment.
  const std::vector<JpegSegment>& carriedSegments() const { return m_carried; }
  // The text of the last failure; empty until one happens.
  const std::string& exifError() const { return m_exifError; }
  int segmentCount() const { return m_jpegSegmentCount; }
  // The kind of the file last read.
  ExifContainer container() const { return m_container; }
  // The orientation (1..8) the decoded pixels of the file last read still
  // need: the kept EXIF block's, but 1 for a HEIF file, whose decoder
  // applies the file's own rotation and mirror (its EXIF orientation then
  // describes the picture as stored, which no reader heeds).
  int pendingOrientation() const;
  const JpegSegment& segment(int index) const { return m_jpegSegments.at(static_cast<std::size_t>(index)); }

 protected:
  // Sizes a segment buffer; false when the memory cannot be had.
  virtual bool AllocateSegment(std::vector<std::uint8_t>& buffer, std::size_t size);

 private:
  // Directories of one block already entered, with their result so far.
  using VisitedIfds = std::map<std::uint32_t, bool>;

  bool WalkJpegSegments(ByteStream& stream, ExifInfo& info);
  bool ReadContainer(ByteStream& stream, ExifInfo& info);
  void TakeCarried(const JpegSegment& segment);
  void TakeJpegComment(const JpegSegment& segment, int length, ExifInfo& info);
  bool ParseExifBlock(std::span<std::uint8_t> payload, int length, ExifInfo& info);
  bool ParseIfd(std::uint32_t dirStart, const ExifBytes& tiff, ExifInfo& info,
                VisitedIfds& visited, int depth);
  void HandleTag(std::uint16_t tag, int format, const ExifBytes& value, ExifInfo& info);
  double EntryValueAsDouble(const ExifBytes& value, int format) const;
  bool Fail(const char* text);
  void ReleaseSegments();

  std::array<JpegSegment, kMaxSegments> m_jpegSegments;
  int m_jpegSegmentCount = 0;
  int m_exifBigEndian = 0;
  int m_exifPixelDimension = 0;
  std::string m_exifError;
  std::vector<std::uint8_t> m_exifBlock;
  int m_exifBlockSize = 0;
  std::vector<JpegSegment> m_carried;
  std::vector<JpegSegment> m_carriedOfWalk;  // gathered by the walk under way
  std::size_t m_carriedBytesOfWalk = 0;
  bool m_carriedOverflow = false;
  std::function<void(const char*)> m_console;
  ExifContainer m_container = ExifContainer::kJpeg;
};

}  // namespace qb::exif
