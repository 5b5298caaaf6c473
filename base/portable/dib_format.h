// Packed device-independent bitmaps: header forms, row stride, colour-table
// size, and the one check every pixel operation makes before it touches a
// block. Portable: everything here works on the bytes of a locked block.
//
// Block layout (little-endian, from offset 0 of the locked block):
//
//   header        12 bytes (BITMAPCOREHEADER: u16 width at 4, u16 height at
//                 6, u16 planes at 8, u16 bit count at 10), or 40, 108 or
//                 124 bytes (BITMAPINFOHEADER and its V4/V5 extensions:
//                 i32 width at 4, i32 height at 8, u16 bit count at 14,
//                 u32 compression at 16, i32 resolution at 24 and 28,
//                 u32 colours used at 32)
//   bit masks     12 bytes (red, green, blue) after a 40-byte header with
//                 BI_BITFIELDS; the V4/V5 headers hold them at the same
//                 offsets 40..51 inside the header
//   colour table  1/4/8 bits: `colours used` entries when that is nonzero
//                 and at most 2^bits, else 2^bits; 16/24/32 bits: `colours
//                 used` entries (an optional table that Windows places in
//                 front of the rows). Entries are B,G,R,0 (4 bytes), or
//                 B,G,R (3 bytes) after a core header, which always has
//                 2^bits entries for 1/4/8 bits and none otherwise
//   pixel rows    |height| rows of `stride` bytes; the first row in memory
//                 is the bottom row unless the info header's height is
//                 negative (top-down)
//   slack         anything after the rows, up to the block's size
//
// Ownership: nothing here allocates or keeps a pointer. Views borrow the
// caller's bytes and are valid while the block stays locked.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

namespace qb::dib {

inline constexpr std::uint32_t kCoreHeaderSize = 12;
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kV4HeaderSize = 108;
inline constexpr std::uint32_t kV5HeaderSize = 124;

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;

// The largest block a 32-bit process can address, header included.
inline constexpr std::uint32_t kMaxBlockBytes = 0x7FFFFFFF;

// Bit depths an operation handles, as a set of flags.
using DepthSet = std::uint32_t;
inline constexpr DepthSet kDepth1 = 1u << 0;
inline constexpr DepthSet kDepth4 = 1u << 1;
inline constexpr DepthSet kDepth8 = 1u << 2;
inline constexpr DepthSet kDepth16 = 1u << 3;
inline constexpr DepthSet kDepth24 = 1u << 4;
inline constexpr DepthSet kDepth32 = 1u << 5;
inline constexpr DepthSet kPaletteDepths = kDepth1 | kDepth4 | kDepth8;
inline constexpr DepthSet kAllDepths = kPaletteDepths | kDepth16 | kDepth24 | kDepth32;

// The flag of a bit count, or 0 for a bit count that no DIB has.
constexpr DepthSet DepthFlag(unsigned bitCount) {
  switch (bitCount) {
    case 1: return kDepth1;
    case 4: return kDepth4;
    case 8: return kDepth8;
    case 16: return kDepth16;
    case 24: return kDepth24;
    case 32: return kDepth32;
    default: return 0;
  }
}

// Little-endian field access. The caller has checked that the bytes exist.
inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t LoadI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(LoadU32(p));
}
inline void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void StoreI32(std::uint8_t* p, std::int32_t v) { StoreU32(p, static_cast<std::uint32_t>(v)); }

// Row stride ((bitCount * width + 31) / 32) * 4. nullopt for a negative width
// or when the formula overflows in signed 32-bit arithmetic, which is how the
// pixel code computes it.
std::optional<std::uint32_t> RowStride(std::uint32_t bitCount, std::int32_t width);

// Bytes of a packed DIB of width x |height| pixels at bitCount bits, with
// prefixBytes of header and colour table in front of the rows. Every size
// computed from a width, a height and a depth goes through here. nullopt when
// the width is not positive, the height is 0 or INT_MIN, the stride
// overflows, or the block would pass kMaxBlockBytes (at 24 bits a square
// picture of about 26700 pixels a side).
std::optional<std::uint32_t> PackedDibSize(std::int32_t width, std::int32_t height,
                                           std::uint32_t bitCount,
                                           std::uint32_t prefixBytes = kInfoHeaderSize);

// Width, height and bit count as the picture object reports them, without
// validating the block. An info header (size 40, 108 or 124) gives its signed
// 32-bit width and height; any other header size is read as a core header,
// whose width and height are the unsigned 16-bit values at 4 and 6. The bit
// count is always the 16-bit value at 14. Each returns 0 when the block is
// too short to hold the field.
std::int32_t WidthField(std::span<const std::uint8_t> block);
std::int32_t HeightField(std::span<const std::uint8_t> block);
std::uint16_t BitCountField(std::span<const std::uint8_t> block);

enum class DibStatus {
  kOk,
  kTooSmallForHeader,     // fewer bytes than the size field, or than the header it names
  kBadHeaderSize,         // not 12, 40, 108 or 124
  kBadWidth,              // zero or negative
  kBadHeight,             // zero, or INT_MIN (which has no magnitude)
  kDepthNotHandled,       // not a DIB bit count, or not in the operation's set
  kCompressionNotHandled, // only BI_RGB, and BI_BITFIELDS at 16 and 32 bits
  kStrideOverflow,        // bitCount * width + 31 passes INT32_MAX
  kTablePastBlock,        // bit masks or colour table run past the block
  kRowsPastBlock,         // the rows run past the block (or past kMaxBlockBytes)
  kBadStream,             // an RLE stream that is cut short, leaves its picture
                          // or cannot stand for the block it claims
};

// A short name for messages and debugger lines.
const char* DibStatusName(DibStatus status);

// Red, green and blue masks of 16- and 32-bit pixels.
struct ChannelMasks {
  std::uint32_t red = 0;
  std::uint32_t green = 0;
  std::uint32_t blue = 0;
};

// The masks a BI_RGB pixel of that depth has: 5-5-5 for 16 bits, 8-8-8 for
// 32 bits; all zero at other depths.
constexpr ChannelMasks DefaultMasks(unsigned bitCount) {
  if (bitCount == 16) return {0x7C00, 0x03E0, 0x001F};
  if (bitCount == 32) return {0x00FF0000, 0x0000FF00, 0x000000FF};
  return {};
}

// Where everything lies in a sound block. All offsets are from the start of
// the block and, with the sizes, lie inside it.
struct DibLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;  // absolute
  bool bottomUp = true;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = kBiRgb;
  std::uint32_t headerSize = 0;
  std::uint32_t colorTableOffset = 0;
  std::uint32_t colorTableEntries = 0;
  std::uint32_t colorEntrySize = 4;  // 3 after a core header
  std::uint32_t pixelOffset = 0;     // header, masks and table
  std::uint32_t stride = 0;
  std::uint32_t imageBytes = 0;      // stride * height
  // Channel masks of 16- and 32-bit pixels: the header's with BI_BITFIELDS,
  // else 5-5-5 and 8-8-8. Zero at other depths.
  std::uint32_t redMask = 0;
  std::uint32_t greenMask = 0;
  std::uint32_t blueMask = 0;
};

// Says whether the header, masks, colour table and every row of `block` lie
// inside it and whether the operation handles the block's depth. On kOk it
// fills `layout`; on any other result `layout` is left as it was. All
// arithmetic is bounded: no header value can make it overflow.
DibStatus Validate(std::span<const std::uint8_t> block, DepthSet handled, DibLayout& layout);

// One channel of a 16- or 32-bit pixel: where its mask sits and how wide it
// is. Read scales the channel to 8 bits (narrower fields repeat their bits,
// so the largest value becomes 255; wider ones keep their top 8 bits);
// Write puts an 8-bit level back at the field's width, rounded.
class MaskedChannel {
 public:
  explicit MaskedChannel(std::uint32_t mask)
      : m_mask(mask),
        m_shift(mask ? std::countr_zero(mask) : 0),
        m_bits(mask ? 32 - std::countl_zero(mask) - m_shift : 0),
        m_max(m_bits >= 32 ? 0xFFFFFFFFu : (1u << m_bits) - 1) {}

  std::uint8_t Read(std::uint32_t pixel) const {
    if (m_bits == 0) return 0;
    const std::uint32_t v = (pixel & m_mask) >> m_shift;
    if (m_bits >= 8) return static_cast<std::uint8_t>(v >> (m_bits - 8));
    std::uint32_t wide = 0;
    int filled = 0;
    while (filled < 8) {
      wide = (wide << m_bits) | v;
      filled += m_bits;
    }
    return static_cast<std::uint8_t>(wide >> (filled - 8));
  }
  std::uint8_t operator()(std::uint32_t pixel) const { return Read(pixel); }

  std::uint32_t Write(std::uint32_t pixel, std::uint8_t level) const {
    if (m_bits == 0) return pixel;
    const std::uint64_t v = (static_cast<std::uint64_t>(level) * m_max + 127) / 255;
    return (pixel & ~m_mask) | ((static_cast<std::uint32_t>(v) << m_shift) & m_mask);
  }

 private:
  std::uint32_t m_mask;
  int m_shift;
  int m_bits;
  std::uint32_t m_max;
};

// True for the blocks the system builds itself: 40-byte header, 24 bits,
// BI_RGB, bottom-up, rows straight after the header. Pixel code that assumes
// this form converts other blocks first (ConvertTo24).
bool IsPlain24(const DibLayout& layout);

// Rows of a picture in a locked block. Row(y) counts y from the top of the
// picture whichever way the rows are stored.
template <class Byte>
class BasicImageView {
 public:
  BasicImageView() = default;
  BasicImageView(Byte* firstRowInMemory, std::int32_t width, std::int32_t height,
                 std::uint32_t stride, bool bottomUp)
      : m_first(firstRowInMemory), m_width(width), m_height(height), m_stride(stride),
        m_bottomUp(bottomUp) {}

  // A view of writable rows also reads as a view of read-only rows.
  operator BasicImageView<const Byte>() const
    requires(!std::is_const_v<Byte>)
  {
    return {m_first, m_width, m_height, m_stride, m_bottomUp};
  }

  Byte* Row(std::int32_t y) const {
    const std::int32_t inMemory = m_bottomUp ? m_height - 1 - y : y;
    return m_first + static_cast<std::size_t>(inMemory) * m_stride;
  }
  std::int32_t width() const { return m_width; }
  std::int32_t height() const { return m_height; }
  std::uint32_t stride() const { return m_stride; }

  // Rows first .. first + count - 1 as a picture of their own (its row 0 is
  // this picture's row `first`), so that a band of rows can be handed to a
  // kernel on its own.
  BasicImageView Rows(std::int32_t first, std::int32_t count) const {
    if (count <= 0) return {m_first, m_width, 0, m_stride, m_bottomUp};
    return {m_bottomUp ? Row(first + count - 1) : Row(first), m_width, count, m_stride, m_bottomUp};
  }

 private:
  Byte* m_first = nullptr;
  std::int32_t m_width = 0;
  std::int32_t m_height = 0;
  std::uint32_t m_stride = 0;
  bool m_bottomUp = true;
};
using ImageView = BasicImageView<std::uint8_t>;
using ConstImageView = BasicImageView<const std::uint8_t>;

// The rows of a block that Validate accepted with this layout.
inline ImageView PixelsOf(std::uint8_t* block, const DibLayout& layout) {
  return ImageView(block + layout.pixelOffset, layout.width, layout.height, layout.stride,
                   layout.bottomUp);
}
inline ConstImageView PixelsOf(const std::uint8_t* block, const DibLayout& layout) {
  return ConstImageView(block + layout.pixelOffset, layout.width, layout.height, layout.stride,
                        layout.bottomUp);
}

// The fields of a 40-byte header the system writes; planes is 1,
// compression BI_RGB, colours used and important 0.
struct InfoHeaderFields {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bitCount = 24;
  std::uint32_t sizeImage = 0;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
};
void WriteInfoHeader(std::span<std::uint8_t, kInfoHeaderSize> out, const InfoHeaderFields& fields);

// ---- Alpha ---------------------------------------------------------------
//
// A picture with transparency is a 32-bit BI_RGB block with a 40-byte
// header whose pixels are B,G,R,A: straight (not premultiplied) alpha, 0
// transparent, 255 opaque. The decoders make one only for a file that has
// an alpha channel or a transparent colour; every other file gives the
// depths it always gave (a 32-bit BMP file gives 24 bits).
//
// Windows leaves the fourth byte of a 32-bit DIB unused: GDI's DIB
// sections, GetDIBits and most clipboard pictures write 0 there, other
// writers 255 or a filler of their own. So a 32-bit block is a picture
// with alpha only when its fourth bytes are not all the same; a block whose
// fourth bytes are all one value is opaque, as it always was (a picture
// that is evenly transparent all over, wholly transparent included,
// therefore reads as opaque). Blocks with other header sizes or
// BI_BITFIELDS never carry alpha.
bool CarriesAlpha(std::span<const std::uint8_t> block, const DibLayout& layout);

// What ConvertTo24 does with the alpha of a block that carries it.
enum class AlphaRule {
  kDrop,               // the colours as they are, alpha dropped
  kFlattenOntoWhite,   // composited over white: (c * a + 255 * (255 - a) + 127) / 255
};

// A colour level composited over white by an alpha level.
constexpr std::uint8_t OverWhite(std::uint32_t level, std::uint32_t alpha) {
  return static_cast<std::uint8_t>((level * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Size of the block ConvertTo24 makes from a picture of this layout.
std::optional<std::uint32_t> Converted24Size(const DibLayout& layout);

// Writes to the front of `out` a bottom-up 24-bit BI_RGB block with a 40-byte
// header and no colour table that holds the picture of `block`, which
// Validate accepted with `layout`. Palette indices past the table give black;
// 16- and 32-bit channels are scaled to 8 bits by bit replication; an alpha
// or unused byte is dropped, unless the block carries alpha and `alpha`
// says to flatten it onto white. Resolution is copied from an info header (0
// from a core header); sizeImage is stride * height. Returns false, writing
// nothing, when `out` is smaller than Converted24Size or the layout does not
// fit `block`.
bool ConvertTo24(std::span<const std::uint8_t> block, const DibLayout& layout,
                 std::span<std::uint8_t> out, AlphaRule alpha = AlphaRule::kDrop);

// ---- Run-length-encoded blocks -------------------------------------------
//
// An 8-bit picture with BI_RLE8 or a 4-bit one with BI_RLE4 (an info
// header, bottom-up: GDI knows no other form) keeps, after its colour
// table, a stream in place of its rows, as the clipboard and BMP files may
// carry it. The stream is pairs of bytes (count, value): a count above 0
// repeats value (RLE4: its two nibbles in turn); a count of 0 is an escape:
// 0 end of line, 1 end of bitmap, 2 a delta (right, up) in the next two
// bytes, 3..255 that many literal indices, padded to an even number of
// bytes. Lines run from the bottom row up. Common writers encode a line's
// padding pixels too (those of the stored row past the width, up to its
// 4-byte stride): runs may cover them, and they are dropped. A run or delta
// that leaves the padded picture, and a stream without its end of bitmap,
// are corrupt.

// Walks a stream of a width x height picture at bitCount 8 (RLE8) or 4
// (RLE4). With `lines` null it only proves the stream sound; otherwise it
// also writes the indices, packed as the depth packs them, into
// lines->Row(k) for the stream's k-th line (pixels the stream skips are
// left as they are). Returns the stream's length through its end of
// bitmap, nullopt for a corrupt stream.
std::optional<std::size_t> WalkRle(std::span<const std::uint8_t> stream, std::uint16_t bitCount,
                                   std::int32_t width, std::int32_t height,
                                   const ImageView* lines = nullptr);

// A stream past kRleFreeBlockBytes of decoded block stands for at most
// kRleBlockBytesPerByte bytes of it for each of its own bytes (a run of 255
// takes two bytes; ends of lines and deltas skip more), so that a few
// crafted bytes cannot claim gigabytes.
inline constexpr std::uint64_t kRleBlockBytesPerByte = 4096;
inline constexpr std::uint64_t kRleFreeBlockBytes = std::uint64_t{1} << 20;

// Where everything lies in a sound RLE block.
struct RleLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint16_t bitCount = 0;          // 8 (BI_RLE8) or 4 (BI_RLE4)
  std::uint32_t colorTableOffset = 0;  // 4-byte entries after the header
  std::uint32_t colorTableEntries = 0;
  std::uint32_t streamOffset = 0;      // straight after the table
  std::uint32_t streamBytes = 0;       // through its end of bitmap
  std::uint32_t decodedBytes = 0;      // the block DecodeRle writes
};

// Says whether `block` is an RLE block whose header and table lie inside it
// and whose stream (biSizeImage bytes of it, or the rest of the block when
// that is 0) is whole. kCompressionNotHandled for any other form (plain
// blocks go through Validate); on kOk it fills `layout`.
DibStatus ValidateRle(std::span<const std::uint8_t> block, RleLayout& layout);

// Writes to the front of `out` the plain BI_RGB block of the same picture:
// a 40-byte header (resolution kept, biClrUsed the table's entries), the
// same colour table, bottom-up rows of indices; pixels the stream skips
// are index 0. False, writing nothing, when `out` is smaller than
// layout.decodedBytes or the stream does not walk.
bool DecodeRle(std::span<const std::uint8_t> block, const RleLayout& layout, std::span<std::uint8_t> out);

}  // namespace qb::dib
