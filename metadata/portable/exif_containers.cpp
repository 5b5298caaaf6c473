// The EXIF block of HEIF, WebP, PNG and TIFF files. See exif_containers.h.
#include "metadata/portable/exif_containers.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "metadata/portable/jpeg_exif.h"

namespace qb::exif {

namespace {

// A bounds-checked window on the stream's bytes [begin, end).
class Window {
 public:
  Window(ByteStream& stream, std::uint64_t begin, std::uint64_t end)
      : m_stream(stream), m_begin(begin), m_end(end) {}
  // The part [begin, end) of a parent window, cut to the parent.
  Window(const Window& parent, std::uint64_t begin, std::uint64_t end)
      : m_stream(parent.m_stream),
        m_begin(std::max(begin, parent.m_begin)),
        m_end(std::max(m_begin, std::min(end, parent.m_end))) {}

  std::uint64_t begin() const { return m_begin; }
  std::uint64_t end() const { return m_end; }
  bool Holds(std::uint64_t offset, std::uint64_t n) const {
    return offset >= m_begin && offset <= m_end && n <= m_end - offset;
  }
  bool Bytes(std::uint64_t offset, void* out, std::size_t n) const {
    return Holds(offset, n) && m_stream.Seek(offset) &&
           m_stream.Read(static_cast<std::uint8_t*>(out), n) == n;
  }
  // Unsigned of n bytes (0..8) in the given byte order.
  std::optional<std::uint64_t> Number(std::uint64_t offset, std::size_t n, bool bigEndian) const {
    std::uint8_t b[8] = {};
    if (n > 8 || !Bytes(offset, b, n)) return std::nullopt;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= std::uint64_t{b[bigEndian ? i : n - 1 - i]} << (8 * (n - 1 - i));
    return v;
  }
  std::optional<std::uint64_t> BE(std::uint64_t offset, std::size_t n) const { return Number(offset, n, true); }
  bool Is(std::uint64_t offset, const char* fourcc) const {
    char b[4];
    return Bytes(offset, b, 4) && std::memcmp(b, fourcc, 4) == 0;
  }

 private:
  ByteStream& m_stream;
  std::uint64_t m_begin;
  std::uint64_t m_end;
};

bool IsTiffHeader(std::span<const std::uint8_t> b) {
  return b.size() >= 8 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42));
}

// Reads n bytes at offset into `out`, dropping a leading "Exif" 0 0 (WebP
// and PNG writers differ on it); the rest must be a TIFF block.
ExifSearch TakePayload(const Window& file, std::uint64_t offset, std::uint64_t n, std::vector<std::uint8_t>& out) {
  if (n >= 6 && file.Is(offset, "Exif")) {
    std::uint8_t zeros[2];
    if (file.Bytes(offset + 4, zeros, 2) && zeros[0] == 0 && zeros[1] == 0) {
      offset += 6;
      n -= 6;
    }
  }
  if (n > kMaxExifTiff) return ExifSearch::kTooLarge;
  try {
    out.assign(static_cast<std::size_t>(n), 0);
  } catch (const std::bad_alloc&) {
    return ExifSearch::kTooLarge;
  }
  if (!file.Bytes(offset, out.data(), out.size()) || !IsTiffHeader(out)) {
    out.clear();
    return ExifSearch::kDamaged;
  }
  return ExifSearch::kFound;
}

// ---------------------------------------------------------------------------
// HEIF: ISO base media file format boxes

struct Box {
  char type[4];
  std::uint64_t start;    // the box's first byte
  std::uint64_t content;  // after its size, type (and large size)
  std::uint64_t end;
};

// The box at `offset` inside `parent`, or nullopt when it does not fit.
std::optional<Box> BoxAt(const Window& parent, std::uint64_t offset) {
  const std::optional<std::uint64_t> size32 = parent.BE(offset, 4);
  Box box{};
  if (!size32 || !parent.Bytes(offset + 4, box.type, 4)) return std::nullopt;
  box.start = offset;
  box.content = offset + 8;
  std::uint64_t size = *size32;
  if (size == 1) {  // a 64-bit size follows the type
    const std::optional<std::uint64_t> large = parent.BE(offset + 8, 8);
    if (!large) return std::nullopt;
    size = *large;
    box.content += 8;
  } else if (size == 0) {  // to the end of its parent
    size = parent.end() - offset;
  }
  if (size < box.content - offset || !parent.Holds(offset, size)) return std::nullopt;
  box.end = offset + size;
  return box;
}

// The first child of type `type` among the boxes [from, parent end).
// nullopt also when a box before it is damaged.
std::optional<Box> FindBox(const Window& parent, std::uint64_t from, const char* type) {
  constexpr int kMaxBoxes = 4096;
  for (int i = 0; i < kMaxBoxes && from < parent.end(); ++i) {
    const std::optional<Box> box = BoxAt(parent, from);
    if (!box) return std::nullopt;
    if (std::memcmp(box->type, type, 4) == 0) return box;
    from = box->end;
  }
  return std::nullopt;
}

// The item id of the first 'Exif' item that iinf names, or nullopt.
std::optional<std::uint32_t> ExifItemId(const Window& iinf, bool& damaged) {
  const std::optional<std::uint64_t> version = iinf.BE(iinf.begin(), 1);
  if (!version) {
    damaged = true;
    return std::nullopt;
  }
  // Full box header (4), then the entry count: 16 bits in version 0.
  std::uint64_t at = iinf.begin() + 4 + (*version == 0 ? 2 : 4);
  constexpr int kMaxItems = 65536;
  for (int i = 0; i < kMaxItems && at < iinf.end(); ++i) {
    const std::optional<Box> infe = BoxAt(iinf, at);
    if (!infe) {
      damaged = true;
      return std::nullopt;
    }
    at = infe->end;
    if (std::memcmp(infe->type, "infe", 4) != 0) continue;
    const std::optional<std::uint64_t> v = iinf.BE(infe->content, 1);
    if (!v || *v < 2) continue;  // versions 0 and 1 name no item type
    const std::size_t idSize = *v == 2 ? 2 : 4;
    const std::optional<std::uint64_t> id = iinf.BE(infe->content + 4, idSize);
    // After the id: the protection index (16 bits), then the item type.
    const std::uint64_t typeAt = infe->content + 4 + idSize + 2;
    if (!id || typeAt > infe->end || infe->end - typeAt < 4) {
      damaged = true;
      return std::nullopt;
    }
    if (iinf.Is(typeAt, "Exif")) return static_cast<std::uint32_t>(*id);
  }
  return std::nullopt;
}

// The bytes of item `id` as iloc places them, joined, into `out`.
ExifSearch ItemBytes(const Window& file, const Window& iloc, const std::optional<Box>& idat, std::uint32_t id,
                     std::vector<std::uint8_t>& out) {
  std::uint64_t at = iloc.begin();
  const std::optional<std::uint64_t> version = iloc.BE(at, 1);
  const std::optional<std::uint64_t> sizes = iloc.BE(at + 4, 1);
  const std::optional<std::uint64_t> sizes2 = iloc.BE(at + 5, 1);
  if (!version || !sizes || !sizes2 || *version > 2) return ExifSearch::kDamaged;
  const std::size_t offsetSize = static_cast<std::size_t>(*sizes >> 4), lengthSize = *sizes & 15;
  const std::size_t baseSize = static_cast<std::size_t>(*sizes2 >> 4);
  const std::size_t indexSize = *version >= 1 ? (*sizes2 & 15) : 0;
  const auto valid = [](std::size_t n) { return n == 0 || n == 4 || n == 8; };
  if (!valid(offsetSize) || !valid(lengthSize) || !valid(baseSize) || !valid(indexSize))
    return ExifSearch::kDamaged;
  const std::size_t idSize = *version == 2 ? 4 : 2;
  const std::optional<std::uint64_t> count = iloc.BE(at + 6, idSize);
  if (!count) return ExifSearch::kDamaged;
  at += 6 + idSize;
  for (std::uint64_t item = 0; item < *count; ++item) {
    const std::optional<std::uint64_t> itemId = iloc.BE(at, idSize);
    if (!itemId) return ExifSearch::kDamaged;
    at += idSize;
    std::uint64_t method = 0;
    if (*version >= 1) {
      const std::optional<std::uint64_t> m = iloc.BE(at, 2);
      if (!m) return ExifSearch::kDamaged;
      method = *m & 15;
      at += 2;
    }
    const std::optional<std::uint64_t> base = iloc.BE(at + 2, baseSize);  // after data_reference_index
    const std::optional<std::uint64_t> extents = iloc.BE(at + 2 + baseSize, 2);
    if (!base || !extents) return ExifSearch::kDamaged;
    at += 2 + baseSize + 2;
    const std::uint64_t extentSize = indexSize + offsetSize + lengthSize;
    if (*itemId != id) {
      if (extentSize != 0 && *extents > (iloc.end() - std::min(at, iloc.end())) / extentSize)
        return ExifSearch::kDamaged;
      at += *extents * extentSize;
      continue;
    }
    // Method 0: offsets from the file's start; 1: from idat's content.
    if (method > 1 || (method == 1 && !idat)) return ExifSearch::kDamaged;
    const Window source = method == 0 ? file : Window(file, idat->content, idat->end);
    const std::uint64_t origin = method == 0 ? 0 : idat->content;
    for (std::uint64_t e = 0; e < *extents; ++e) {
      const std::optional<std::uint64_t> offset = iloc.BE(at + indexSize, offsetSize);
      const std::optional<std::uint64_t> length = iloc.BE(at + indexSize + offsetSize, lengthSize);
      if (!offset || !length) return ExifSearch::kDamaged;
      at += extentSize;
      if (*base > UINT64_MAX - origin || *offset > UINT64_MAX - origin - *base) return ExifSearch::kDamaged;
      const std::uint64_t start = origin + *base + *offset;
      // A length of 0 runs to the end of the source.
      const std::uint64_t n = *length != 0 ? *length : (start <= source.end() ? source.end() - start : 0);
      if (n > kMaxExifTiff + 4 + 64 - out.size()) return ExifSearch::kTooLarge;
      const std::size_t had = out.size();
      out.resize(had + static_cast<std::size_t>(n));
      if (!source.Bytes(start, out.data() + had, static_cast<std::size_t>(n))) return ExifSearch::kDamaged;
    }
    return ExifSearch::kFound;
  }
  return ExifSearch::kDamaged;  // the item has no place
}

ExifSearch FindHeifExif(const Window& file, std::vector<std::uint8_t>& tiff) {
  const std::optional<Box> ftyp = BoxAt(file, 0);
  if (!ftyp) return ExifSearch::kDamaged;
  const std::optional<Box> meta = FindBox(file, ftyp->end, "meta");
  if (!meta) return ExifSearch::kNone;
  // meta is a full box: four bytes of version and flags before its children.
  const Window metaWindow(file, meta->content, meta->end);
  const std::uint64_t children = meta->content + 4;
  const std::optional<Box> iinf = FindBox(metaWindow, children, "iinf");
  if (!iinf) return ExifSearch::kNone;
  bool damaged = false;
  const std::optional<std::uint32_t> id = ExifItemId(Window(file, iinf->content, iinf->end), damaged);
  if (damaged) return ExifSearch::kDamaged;
  if (!id) return ExifSearch::kNone;
  const std::optional<Box> iloc = FindBox(metaWindow, children, "iloc");
  if (!iloc) return ExifSearch::kDamaged;
  const std::optional<Box> idat = FindBox(metaWindow, children, "idat");
  std::vector<std::uint8_t> item;
  const ExifSearch placed = ItemBytes(file, Window(file, iloc->content, iloc->end), idat, *id, item);
  if (placed != ExifSearch::kFound) return placed;
  // The item: the 32-bit offset of the TIFF header from after these four
  // bytes (6 when "Exif" 0 0 comes first), then the block.
  if (item.size() < 4) return ExifSearch::kDamaged;
  const std::uint32_t skip = (std::uint32_t{item[0]} << 24) | (item[1] << 16) | (item[2] << 8) | item[3];
  if (skip > item.size() - 4) return ExifSearch::kDamaged;
  std::span<const std::uint8_t> block = std::span<const std::uint8_t>(item).subspan(4 + skip);
  // Some writers give 0 and still put "Exif" 0 0 first.
  static constexpr std::uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
  if (!IsTiffHeader(block) && block.size() >= 6 && std::memcmp(block.data(), kExifHeader, 6) == 0)
    block = block.subspan(6);
  if (!IsTiffHeader(block)) return ExifSearch::kDamaged;
  if (block.size() > kMaxExifTiff) return ExifSearch::kTooLarge;
  tiff.assign(block.begin(), block.end());
  return ExifSearch::kFound;
}

// ---------------------------------------------------------------------------
// WebP: RIFF chunks, little-endian sizes, each padded to an even length

ExifSearch FindWebpExif(const Window& file, std::vector<std::uint8_t>& tiff) {
  const std::optional<std::uint64_t> riff = file.Number(4, 4, false);
  if (!riff || *riff < 4) return ExifSearch::kDamaged;
  const std::uint64_t end = std::min(file.end(), 8 + *riff);
  const Window chunks(file, 0, end);
  std::uint64_t at = 12;
  constexpr int kMaxChunks = 65536;
  for (int i = 0; i < kMaxChunks && at < end; ++i) {
    const std::optional<std::uint64_t> n = chunks.Number(at + 4, 4, false);
    if (!n || !chunks.Holds(at + 8, *n)) return ExifSearch::kDamaged;
    if (chunks.Is(at, "EXIF")) return TakePayload(chunks, at + 8, *n, tiff);
    at += 8 + *n + (*n & 1);
  }
  return ExifSearch::kNone;
}

// ---------------------------------------------------------------------------
// PNG: chunks of a big-endian length, a type, the data and a CRC

ExifSearch FindPngExif(const Window& file, std::vector<std::uint8_t>& tiff) {
  std::uint64_t at = 8;
  constexpr int kMaxChunks = 1 << 20;
  for (int i = 0; i < kMaxChunks && at < file.end(); ++i) {
    const std::optional<std::uint64_t> n = file.BE(at, 4);
    if (!n || *n > 0x7FFFFFFF || !file.Holds(at + 8, *n + 4)) return ExifSearch::kDamaged;
    if (file.Is(at + 4, "eXIf")) return TakePayload(file, at + 8, *n, tiff);
    if (file.Is(at + 4, "IEND")) break;
    at += 12 + *n;
  }
  return ExifSearch::kNone;
}

// ---------------------------------------------------------------------------
// TIFF: a new EXIF block of the file's metadata entries

constexpr std::uint16_t kExifIfdTag = 0x8769;
constexpr std::uint16_t kGpsIfdTag = 0x8825;

// IFD0 entries a camera's EXIF block has: descriptions, orientation,
// resolution, software and dates, authorship, colour characteristics and
// the two directory pointers. Everything else in a TIFF's IFD0 describes
// the image's own layout (sizes, strips, tiles, compression) or is
// metadata of another kind (XMP, IPTC, ICC) kept elsewhere.
bool IsIfd0MetadataTag(std::uint16_t tag) {
  static constexpr std::uint16_t kTags[] = {
      0x010D, 0x010E, 0x010F, 0x0110, 0x0112, 0x011A, 0x011B, 0x011D, 0x0128, 0x0131, 0x0132, 0x013B,
      0x013C, 0x013E, 0x013F, 0x0211, 0x0213, 0x4746, 0x4749, 0x8298, 0x8769, 0x8825, 0x9C9B, 0x9C9C,
      0x9C9D, 0x9C9E, 0x9C9F};
  return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

// Bytes per component of the TIFF field types 1..13; 0 for others.
std::size_t TypeSize(std::uint16_t type) {
  static constexpr std::uint8_t kSizes[14] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < 14 ? kSizes[type] : 0;
}

class TiffBuilder {
 public:
  TiffBuilder(const Window& file, bool bigEndian) : m_file(file), m_big(bigEndian) {}

  // Appends the directory at `ifd` of the source, keeping the entries
  // `keep` accepts; returns the new directory's offset in the block. Its
  // pointer entries (Exif, GPS) are fixed up by the caller via Patch.
  template <typename Keep>
  std::optional<std::uint32_t> Directory(std::uint32_t ifd, Keep keep, std::vector<std::pair<std::uint16_t, std::size_t>>& pointers) {
    const std::optional<std::uint64_t> count = m_file.Number(ifd, 2, m_big);
    if (!count || *count > 1000) return std::nullopt;
    struct Entry {
      std::uint8_t raw[12];
      std::uint16_t tag, type;
      std::uint32_t n;
    };
    std::vector<Entry> kept;
    for (std::uint64_t i = 0; i < *count; ++i) {
      Entry e{};
      if (!m_file.Bytes(ifd + 2 + 12 * i, e.raw, 12)) return std::nullopt;
      e.tag = U16(e.raw);
      e.type = U16(e.raw + 2);
      e.n = U32(e.raw + 4);
      if (!keep(e.tag) || TypeSize(e.type) == 0) continue;
      if (e.tag == 0x927C) continue;  // maker notes point into the source file
      kept.push_back(e);
    }
    Align();
    const std::size_t at = m_out.size();
    const std::size_t dirSize = 2 + 12 * kept.size() + 4;
    if (!Grow(dirSize)) return std::nullopt;
    Put16(at, static_cast<std::uint16_t>(kept.size()));
    for (std::size_t i = 0; i < kept.size(); ++i) {
      const Entry& e = kept[i];
      const std::size_t slot = at + 2 + 12 * i;
      std::memcpy(&m_out[slot], e.raw, 12);
      if (e.tag == kExifIfdTag || e.tag == kGpsIfdTag) {
        pointers.emplace_back(e.tag, slot + 8);
        continue;
      }
      const std::uint64_t bytes = std::uint64_t{e.n} * TypeSize(e.type);
      if (bytes <= 4) continue;  // the value is in the entry
      if (bytes > kMaxExifTiff) return std::nullopt;
      Align();
      const std::size_t value = m_out.size();
      if (!Grow(static_cast<std::size_t>(bytes)) ||
          !m_file.Bytes(U32(e.raw + 8), &m_out[value], static_cast<std::size_t>(bytes)))
        return std::nullopt;
      Put32(slot + 8, static_cast<std::uint32_t>(value));
    }
    Put32(at + dirSize - 4, 0);  // no next directory
    return static_cast<std::uint32_t>(at);
  }

  void Header() {
    m_out = {m_big ? std::uint8_t('M') : std::uint8_t('I'), m_big ? std::uint8_t('M') : std::uint8_t('I'), 0, 0, 0, 0, 0, 0};
    Put16(2, 42);
    Put32(4, 8);
  }
  void Patch(std::size_t slot, std::uint32_t value) { Put32(slot, value); }
  std::vector<std::uint8_t>& out() { return m_out; }

 private:
  std::uint16_t U16(const std::uint8_t* p) const { return m_big ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]; }
  std::uint32_t U32(const std::uint8_t* p) const {
    return m_big ? (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
                 : (std::uint32_t{p[3]} << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
  }
  void Put16(std::size_t at, std::uint16_t v) {
    m_out[at + (m_big ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
    m_out[at + (m_big ? 1 : 0)] = static_cast<std::uint8_t>(v);
  }
  void Put32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) m_out[at + (m_big ? i : 3 - i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  }
  bool Grow(std::size_t n) {
    if (n > kMaxExifTiff - m_out.size()) return false;
    m_out.resize(m_out.size() + n);
    return true;
  }
  void Align() {
    if (m_out.size() & 1) Grow(1);
  }

  const Window& m_file;
  bool m_big;
  std::vector<std::uint8_t> m_out;
};

ExifSearch FindTiffExif(const Window& file, std::vector<std::uint8_t>& tiff) {
  std::uint8_t head[8];
  if (!file.Bytes(0, head, 8) || !IsTiffHeader(head)) return ExifSearch::kNone;  // BigTIFF has none here
  const bool big = head[0] == 'M';
  const std::optional<std::uint64_t> ifd0 = file.Number(4, 4, big);
  if (!ifd0) return ExifSearch::kDamaged;
  TiffBuilder builder(file, big);
  std::vector<std::pair<std::uint16_t, std::size_t>> pointers;
  try {
    builder.Header();
    if (!builder.Directory(static_cast<std::uint32_t>(*ifd0), IsIfd0MetadataTag, pointers))
      return ExifSearch::kDamaged;
    // The Exif and GPS directories, each whole but for maker notes and the
    // interoperability pointer (a third directory not carried).
    const std::vector<std::pair<std::uint16_t, std::size_t>> top = pointers;
    bool any = false;
    for (const auto& [tag, slot] : top) {
      const auto& out = builder.out();
      const std::uint32_t source = big ? (std::uint32_t{out[slot]} << 24) | (out[slot + 1] << 16) | (out[slot + 2] << 8) | out[slot + 3]
                                       : (std::uint32_t{out[slot + 3]} << 24) | (out[slot + 2] << 16) | (out[slot + 1] << 8) | out[slot];
      std::vector<std::pair<std::uint16_t, std::size_t>> inner;
      const std::optional<std::uint32_t> made =
          builder.Directory(source, [](std::uint16_t t) { return t != 0xA005 && t != kExifIfdTag && t != kGpsIfdTag; }, inner);
      if (!made) return ExifSearch::kDamaged;
      builder.Patch(slot, *made);
      any = true;
    }
    // A TIFF with no camera entries at all has no EXIF block to offer.
    const auto& out = builder.out();
    const std::uint16_t entries = big ? (out[8] << 8) | out[9] : (out[9] << 8) | out[8];
    if (!any && entries == 0) return ExifSearch::kNone;
    tiff = std::move(builder.out());
  } catch (const std::bad_alloc&) {
    return ExifSearch::kTooLarge;
  }
  return ExifSearch::kFound;
}

}  // namespace

ExifContainer ContainerOf(std::span<const std::uint8_t> head) {
  const auto at = [&](std::size_t offset, const char* text) {
    const std::size_t n = std::strlen(text);
    return offset <= head.size() && n <= head.size() - offset && std::memcmp(head.data() + offset, text, n) == 0;
  };
  if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return ExifContainer::kJpeg;
  if (at(0, "\x89PNG\r\n\x1a\n")) return ExifContainer::kPng;
  if (at(0, "RIFF") && at(8, "WEBP")) return ExifContainer::kWebp;
  if (head.size() >= 8 && IsTiffHeader(head)) return ExifContainer::kTiff;
  if (at(4, "ftyp")) {
    // The major brand and the compatible brands that follow it.
    static const char* const kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                          "mif1", "msf1", "avif", "avis"};
    for (std::size_t offset = 8; offset + 4 <= head.size(); offset += 4) {
      if (offset == 12) continue;  // the minor version
      for (const char* brand : kBrands)
        if (at(offset, brand)) return ExifContainer::kHeif;
    }
  }
  return ExifContainer::kUnknown;
}

ExifSearch FindExifTiff(ExifContainer kind, ByteStream& stream, std::vector<std::uint8_t>& tiff) {
  tiff.clear();
  const Window file(stream, 0, stream.Size());
  ExifSearch result = ExifSearch::kNone;
  switch (kind) {
    case ExifContainer::kHeif: result = FindHeifExif(file, tiff); break;
    case ExifContainer::kWebp: result = FindWebpExif(file, tiff); break;
    case ExifContainer::kPng: result = FindPngExif(file, tiff); break;
    case ExifContainer::kTiff: result = FindTiffExif(file, tiff); break;
    case ExifContainer::kJpeg:
    case ExifContainer::kUnknown: break;
  }
  if (result != ExifSearch::kFound) tiff.clear();
  return result;
}

}  // namespace qb::exif
