// The JPEG segment walk: reads a file's segments up to the first scan,
// keeps the metadata segments a save carries on and the first comment, and
// hands the EXIF block to its parser (jpeg_exif.cpp). See jpeg_exif.h.
#include "metadata/portable/jpeg_exif.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "metadata/portable/color_profile.h"
#include "metadata/portable/exif_containers.h"
#include "metadata/portable/exif_orientation.h"

namespace qb::exif {

namespace {

constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerCom = 0xFE;
constexpr int kMarkerApp0 = 0xE0;
constexpr int kMarkerApp1 = 0xE1;
constexpr int kMarkerApp2 = 0xE2;
constexpr int kMarkerApp13 = 0xED;

bool StartsWith(std::span<const std::uint8_t> payload, const char* text, std::size_t n) {
  return payload.size() >= n && std::memcmp(payload.data(), text, n) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Streams

int FileStream::ReadByte() {
  const int c = std::fgetc(m_file);
  return c == EOF ? -1 : c;
}

std::size_t FileStream::Read(std::uint8_t* out, std::size_t n) {
  return std::fread(out, 1, n, m_file);
}

namespace {
// 64-bit positions: a 32-bit long ends at 2 GB.
int SeekFile(std::FILE* file, std::int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence);
#else
  return fseeko(file, static_cast<off_t>(offset), whence);
#endif
}
std::int64_t TellFile(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<std::int64_t>(ftello(file));
#endif
}
}  // namespace

std::uint64_t FileStream::Size() {
  if (m_size < 0) {
    const std::int64_t here = TellFile(m_file);
    if (here < 0 || SeekFile(m_file, 0, SEEK_END) != 0) return 0;
    m_size = TellFile(m_file);
    if (SeekFile(m_file, here, SEEK_SET) != 0 || m_size < 0) m_size = 0;
  }
  return static_cast<std::uint64_t>(m_size);
}

bool FileStream::Seek(std::uint64_t offset) {
  return offset <= Size() && SeekFile(m_file, static_cast<std::int64_t>(offset), SEEK_SET) == 0;
}

int MemoryStream::ReadByte() {
  if (m_position >= m_bytes.size()) return -1;
  return m_bytes[m_position++];
}

std::size_t MemoryStream::Read(std::uint8_t* out, std::size_t n) {
  const std::size_t count = std::min(n, m_bytes.size() - m_position);
  if (count != 0) std::memcpy(out, m_bytes.data() + m_position, count);
  m_position += count;
  return count;
}

bool MemoryStream::Seek(std::uint64_t offset) {
  if (offset > m_bytes.size()) return false;
  m_position = static_cast<std::size_t>(offset);
  return true;
}

// ---------------------------------------------------------------------------
// Carried metadata

bool IsCarriedMetadata(int marker, std::span<const std::uint8_t> payload) {
  // The sizes include each identifier's terminating zero.
  switch (marker) {
    case kMarkerApp1:
      return StartsWith(payload, "http://ns.adobe.com/xap/1.0/", 29) ||
             StartsWith(payload, "http://ns.adobe.com/xmp/extension/", 35);
    case kMarkerApp2: return StartsWith(payload, "ICC_PROFILE", 12);
    case kMarkerApp13: return StartsWith(payload, "Photoshop 3.0", 14);
    default: return false;
  }
}

// ---------------------------------------------------------------------------
// The reader

JpegExifReader::JpegExifReader()
    : m_console([](const char* text) { std::fputs(text, stdout); }) {}

JpegExifReader::WalkResult JpegExifReader::Read(ByteStream& stream, ExifInfo& info) {
  ReleaseSegments();
  m_carriedOfWalk.clear();
  m_carriedBytesOfWalk = 0;
  m_carriedOverflow = false;
  // The kind of file, told by its first bytes; a stream that cannot seek
  // is walked as a JPEG.
  m_container = ExifContainer::kJpeg;
  std::uint8_t head[32];
  if (stream.Seek(0)) {
    const std::size_t got = stream.Read(head, sizeof head);
    const ExifContainer kind = ContainerOf(std::span<const std::uint8_t>(head, got));
    if (kind != ExifContainer::kUnknown) m_container = kind;
    if (!stream.Seek(0)) return WalkResult::kFailed;
  }
  const bool reached =
      m_container == ExifContainer::kJpeg ? WalkJpegSegments(stream, info) : ReadContainer(stream, info);
  if (reached) {
    DropNonRgbProfile(m_carriedOfWalk);
    m_carried.swap(m_carriedOfWalk);
  }
  std::vector<JpegSegment>().swap(m_carriedOfWalk);
  return reached ? WalkResult::kReachedImage : WalkResult::kFailed;
}

void JpegExifReader::TakeCarried(const JpegSegment& segment) {
  if (m_carriedOverflow) return;
  if (segment.data.size() > kMaxCarriedBytes - m_carriedBytesOfWalk) {
    m_carriedOverflow = true;
    std::vector<JpegSegment>().swap(m_carriedOfWalk);
    return;
  }
  try {
    m_carriedOfWalk.push_back(segment);
  } catch (const std::bad_alloc&) {
    m_carriedOverflow = true;
    std::vector<JpegSegment>().swap(m_carriedOfWalk);
    return;
  }
  m_carriedBytesOfWalk += segment.data.size();
}

bool JpegExifReader::AllocateSegment(std::vector<std::uint8_t>& buffer, std::size_t size) {
  try {
    buffer.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void JpegExifReader::Forget() {
  ReleaseSegments();
  m_exifBigEndian = 0;
  m_exifPixelDimension = 0;
  m_exifError.clear();
  std::vector<std::uint8_t>().swap(m_exifBlock);
  m_exifBlockSize = 0;
  std::vector<JpegSegment>().swap(m_carried);
}

void JpegExifReader::KeepAsOf(const JpegExifReader& other) {
  if (&other == this) return;
  Forget();
  m_exifBlock = other.m_exifBlock;
  m_exifBlockSize = other.m_exifBlockSize;
  m_carried = other.m_carried;
}

void JpegExifReader::ReleaseSegments() {
  for (JpegSegment& segment : m_jpegSegments) {
    std::vector<std::uint8_t>().swap(segment.data);
    segment.marker = 0;
    segment.size = 0;
  }
  m_jpegSegmentCount = 0;
}

bool JpegExifReader::Fail(const char* text) {
  m_exifError = text;
  return false;
}

bool JpegExifReader::WalkJpegSegments(ByteStream& stream, ExifInfo& info) {
  if (stream.ReadByte() != 0xFF || stream.ReadByte() != 0xD8) return false;

  bool commentTaken = false;
  for (;;) {
    if (m_jpegSegmentCount >= kMaxSegments) return Fail("Too many sections in jpg file");

    // Up to six FF fill bytes; the first other byte is the marker code. At
    // the end of the stream the code is -1 and the length below fails.
    int marker = 0;
    for (int a = 0; a < 7; ++a) {
      marker = stream.ReadByte();
      if (marker != 0xFF) break;
      if (a >= 6) {
        m_console("too many padding unsigned chars\n");
        return false;
      }
    }

    const int high = stream.ReadByte();
    const int low = stream.ReadByte();
    const int length = (high < 0 || low < 0) ? -1 : (high << 8) | low;
    if (length < 2) return Fail("invalid marker");

    // At most 65535 bytes: the length field is 16 bits.
    JpegSegment& segment = m_jpegSegments[static_cast<std::size_t>(m_jpegSegmentCount)];
    if (!AllocateSegment(segment.data, static_cast<std::size_t>(length)))
      return Fail("Could not allocate memory");
    segment.data[0] = static_cast<std::uint8_t>(high);
    segment.data[1] = static_cast<std::uint8_t>(low);
    const std::size_t rest = static_cast<std::size_t>(length) - 2;
    if (stream.Read(segment.data.data() + 2, rest) != rest) {
      std::vector<std::uint8_t>().swap(segment.data);
      return Fail("Premature end of file?");
    }
    segment.marker = marker;
    segment.size = length;
    ++m_jpegSegmentCount;
    if (IsCarriedMetadata(marker, std::span<const std::uint8_t>(segment.data).subspan(2)))
      TakeCarried(segment);

    bool keep = true;
    switch (marker) {
      case kMarkerSos:  // start of scan: the compressed data follows, unread
        return true;
      case kMarkerEoi:  // end of image before any scan
        m_console("No image in jpeg!\n");
        return false;
      case kMarkerCom:  // only the first comment of the file counts
        if (commentTaken) {
          keep = false;
        } else {
          TakeJpegComment(segment, length, info);
          commentTaken = true;
        }
        break;
      case kMarkerApp0:  // JFIF header: not needed
        keep = false;
        break;
      case kMarkerApp1:
        if (length >= 6 && std::memcmp(segment.data.data() + 2, "Exif", 4) == 0) {
          // The parse may blank trailing spaces of the UserComment in the
          // segment itself, so the copy is taken after it.
          info.valid = ParseExifBlock(std::span<std::uint8_t>(segment.data).subspan(2), length, info);
          m_exifBlock = segment.data;
          m_exifBlockSize = length;
        } else {
          keep = false;  // XMP and other APP1 uses
        }
        break;
      default:  // frame headers, tables, other APPn: kept
        break;
    }
    if (!keep) {
      std::vector<std::uint8_t>().swap(segment.data);
      segment.marker = 0;
      segment.size = 0;
      --m_jpegSegmentCount;
    }
  }
}

int JpegExifReader::pendingOrientation() const {
  return DecoderOrients(m_container) ? 1 : ReadOrientation(m_exifBlock);
}

bool JpegExifReader::ReadContainer(ByteStream& stream, ExifInfo& info) {
  std::vector<std::uint8_t> tiff;
  switch (FindExifTiff(m_container, stream, tiff)) {
    case ExifSearch::kNone: return true;
    case ExifSearch::kDamaged: return Fail("Damaged file structure around the Exif block");
    case ExifSearch::kTooLarge: return Fail("Exif block too large");
    case ExifSearch::kFound: break;
  }
  // Kept as the APP1 segment a JPEG of the same block would have, so that
  // the tag look-ups, the orientation and the splicing save read it alike.
  const std::size_t length = tiff.size() + 8;
  std::vector<std::uint8_t> segment;
  if (!AllocateSegment(segment, length)) return Fail("Could not allocate memory");
  segment[0] = static_cast<std::uint8_t>(length >> 8);
  segment[1] = static_cast<std::uint8_t>(length);
  std::memcpy(segment.data() + 2, "Exif\0\0", 6);
  std::memcpy(segment.data() + 8, tiff.data(), tiff.size());
  // A HEIF decoder turns the picture upright by the file's own rotation
  // and mirror, so the kept block says so: ExifValue, Orientation and a
  // save that keeps the block never turn it a second time.
  if (DecoderOrients(m_container)) WriteOrientation(segment, 1);
  info.valid = ParseExifBlock(std::span<std::uint8_t>(segment).subspan(2), static_cast<int>(length), info);
  m_exifBlock = std::move(segment);
  m_exifBlockSize = static_cast<int>(length);
  return true;
}

void JpegExifReader::TakeJpegComment(const JpegSegment& segment, int length, ExifInfo& info) {
  // The text after the length field, at most 998 characters. CR LF becomes
  // LF; control characters other than LF and TAB become '?'.
  const std::size_t end = std::min({static_cast<std::size_t>(std::max(length, 0)),
                                    std::size_t{1000}, segment.data.size()});
  std::size_t n = 0;
  for (std::size_t a = 2; a < end; ++a) {
    const std::uint8_t ch = segment.data[a];
    if (ch == '\r' && a + 1 < segment.data.size() && segment.data[a + 1] == '\n') continue;
    info.comment[n++] = (ch >= 32 || ch == '\n' || ch == '\t') ? static_cast<char>(ch) : '?';
  }
  info.comment[n] = '\0';
}

}  // namespace qb::exif
