// Text onto a picture with GDI.
//
// The picture is copied into the new block once; GDI then draws only into a
// DIB section over the rectangle the text can touch, copied out of the new
// block and back, so the cost beyond that copy grows with the text, not
// with the picture.
//
// Lines are laid out here rather than by DrawText, because a line may need
// more than one font: every character the chosen font has no glyph for is
// drawn in a fallback font that has it, and the line's runs are placed one
// after the other on a common baseline.

#include "rastrum/text_draw.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/portable/work_pool.h"
#include "base/resource_guards.h"
#include "rastrum/portable/alpha.h"
#include "rastrum/portable/block_io.h"

namespace rastrum {

namespace {

constexpr size_t kFacesTriedPerCharset = 32;

struct DrawFont {
  qb::UniqueGdi<HFONT> handle;
  TEXTMETRICW metrics = {};
};

bool IsRaster(const TEXTMETRICW& tm) { return (tm.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)) == 0; }

// Whether the font came out near the size asked for: a negative height asks
// for the em (cell less internal leading), a positive one for the cell.
bool HeightFits(const LOGFONTW& asked, const TEXTMETRICW& got) {
  if (asked.lfHeight == 0) return true;
  const int64_t want = asked.lfHeight < 0 ? -static_cast<int64_t>(asked.lfHeight) : asked.lfHeight;
  const int64_t have = asked.lfHeight < 0 ? got.tmHeight - got.tmInternalLeading : got.tmHeight;
  return (have > want ? have - want : want - have) * 8 <= want;
}

// Creates the font and reads its metrics; the DC keeps the font it had.
bool Realize(HDC dc, const LOGFONTW& lf, DrawFont& font) {
  font.handle.reset(CreateFontIndirectW(&lf));
  if (!font.handle) return false;
  const HGDIOBJ old = SelectObject(dc, font.handle.get());
  const bool measured = GetTextMetricsW(dc, &font.metrics) != 0;
  SelectObject(dc, old);
  return measured;
}

// Character sets whose fonts are likely to hold c, most likely first.
std::vector<BYTE> CharsetsFor(wchar_t c) {
  const auto in = [c](unsigned from, unsigned to) { return c >= from && c <= to; };
  if (in(0x3040, 0x30FF) || in(0x31F0, 0x31FF) || in(0xFF65, 0xFF9F))
    return {SHIFTJIS_CHARSET, GB2312_CHARSET, CHINESEBIG5_CHARSET, HANGUL_CHARSET, DEFAULT_CHARSET};
  if (in(0x1100, 0x11FF) || in(0x3130, 0x318F) || in(0xAC00, 0xD7AF))
    return {HANGUL_CHARSET, JOHAB_CHARSET, DEFAULT_CHARSET};
  if (in(0x2E80, 0x2FFF) || in(0x3000, 0x303F) || in(0x3100, 0x312F) || in(0x3190, 0x9FFF) ||
      in(0xF900, 0xFAFF) || in(0xFE30, 0xFE4F) || in(0xFF00, 0xFFEF))
    return {GB2312_CHARSET, CHINESEBIG5_CHARSET, SHIFTJIS_CHARSET, HANGUL_CHARSET, DEFAULT_CHARSET};
  if (in(0x0370, 0x03FF)) return {GREEK_CHARSET, DEFAULT_CHARSET};
  if (in(0x0400, 0x04FF)) return {RUSSIAN_CHARSET, DEFAULT_CHARSET};
  if (in(0x0590, 0x05FF)) return {HEBREW_CHARSET, DEFAULT_CHARSET};
  if (in(0x0600, 0x06FF)) return {ARABIC_CHARSET, DEFAULT_CHARSET};
  if (in(0x0E00, 0x0E7F)) return {THAI_CHARSET, DEFAULT_CHARSET};
  return {DEFAULT_CHARSET};
}

int CALLBACK CollectFace(const LOGFONTW* lf, const TEXTMETRICW*, DWORD type, LPARAM param) {
  auto* faces = reinterpret_cast<std::vector<std::wstring>*>(param);
  if (!(type & TRUETYPE_FONTTYPE) || lf->lfFaceName[0] == L'@') return 1;  // outline, horizontal
  std::wstring face(lf->lfFaceName);
  if (std::find(faces->begin(), faces->end(), face) == faces->end()) faces->push_back(face);
  return faces->size() < kFacesTriedPerCharset;
}

// The fonts of one drawing: the primary font (index 0) and the fallbacks
// made so far, all of the primary's em size, weight and style.
class FontSet {
 public:
  explicit FontSet(HDC dc) : m_dc(dc), m_original(GetCurrentObject(dc, OBJ_FONT)) {}
  // The DC gets its own font back before the set's fonts are deleted.
  ~FontSet() { SelectObject(m_dc, m_original); }
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;

  void Select(size_t i) { SelectObject(m_dc, m_fonts[i].handle.get()); }

  bool Open(const LOGFONTW& asked) {
    LOGFONTW lf = asked;
    lf.lfFaceName[LF_FACESIZE - 1] = 0;
    if (lf.lfQuality == DEFAULT_QUALITY) lf.lfQuality = ANTIALIASED_QUALITY;
    m_fonts.emplace_back();
    if (!Realize(m_dc, lf, m_fonts[0])) return false;
    const TEXTMETRICW tm = m_fonts[0].metrics;
    if (IsRaster(tm) && !HeightFits(lf, tm)) {
      // A bitmap font without that size: an outline font of its family.
      LOGFONTW outline = lf;
      outline.lfFaceName[0] = 0;
      outline.lfOutPrecision = OUT_TT_ONLY_PRECIS;
      outline.lfPitchAndFamily = static_cast<BYTE>((tm.tmPitchAndFamily & 0xF0) |
                                                   ((tm.tmPitchAndFamily & TMPF_FIXED_PITCH) ? VARIABLE_PITCH : FIXED_PITCH));
      DrawFont replacement;
      if (Realize(m_dc, outline, replacement) && !IsRaster(replacement.metrics)) m_fonts[0] = std::move(replacement);
    }
    m_template = lf;
    m_template.lfHeight = -(m_fonts[0].metrics.tmHeight - m_fonts[0].metrics.tmInternalLeading);
    m_template.lfWidth = 0;
    m_template.lfOutPrecision = OUT_TT_PRECIS;
    return true;
  }

  const DrawFont& Font(size_t i) const { return m_fonts[i]; }

  // The font to draw each character of a line with.
  void Assign(const wchar_t* text, size_t n, std::vector<size_t>& fonts) {
    fonts.assign(n, 0);
    std::vector<WORD> glyphs(n);
    if (n == 0) return;
    const HGDIOBJ old = SelectObject(m_dc, m_fonts[0].handle.get());
    const DWORD found = GetGlyphIndicesW(m_dc, text, static_cast<int>(n), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(m_dc, old);
    if (found == GDI_ERROR) return;  // no way to tell: everything in the primary font
    for (size_t i = 0; i < n; ++i) {
      const wchar_t c = text[i];
      if (glyphs[i] != 0xFFFF || c < 0x20 || (c >= 0xD800 && c <= 0xDFFF)) continue;
      fonts[i] = FallbackFor(c);
    }
  }

 private:
  bool Has(size_t font, wchar_t c) {
    WORD glyph = 0xFFFF;
    const HGDIOBJ old = SelectObject(m_dc, m_fonts[font].handle.get());
    const bool has = GetGlyphIndicesW(m_dc, &c, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) != GDI_ERROR && glyph != 0xFFFF;
    SelectObject(m_dc, old);
    return has;
  }

  // A fallback that has c: one made before, or the first face of a likely
  // character set that has it; 0 (the primary font) when none has. Each
  // set's faces are listed once and each face is made once per drawing.
  size_t FallbackFor(wchar_t c) {
    if (std::find(m_unavailable.begin(), m_unavailable.end(), c) != m_unavailable.end()) return 0;
    for (size_t i = 1; i < m_fonts.size(); ++i)
      if (Has(i, c)) return i;
    for (BYTE charset : CharsetsFor(c)) {
      if (std::find(m_listed.begin(), m_listed.end(), charset) != m_listed.end()) continue;
      m_listed.push_back(charset);
      std::vector<std::wstring> faces;
      LOGFONTW query = {};
      query.lfCharSet = charset;
      EnumFontFamiliesExW(m_dc, &query, CollectFace, reinterpret_cast<LPARAM>(&faces), 0);
      for (const std::wstring& face : faces) {
        LOGFONTW lf = m_template;
        lf.lfCharSet = charset;
        lstrcpynW(lf.lfFaceName, face.c_str(), LF_FACESIZE);
        DrawFont candidate;
        if (!Realize(m_dc, lf, candidate)) continue;
        m_fonts.push_back(std::move(candidate));
      }
      for (size_t i = 1; i < m_fonts.size(); ++i)
        if (Has(i, c)) return i;
    }
    m_unavailable.push_back(c);
    return 0;
  }

  HDC m_dc;
  HGDIOBJ m_original;
  std::vector<DrawFont> m_fonts;
  LOGFONTW m_template = {};
  std::vector<BYTE> m_listed;          // character sets whose faces are made
  std::vector<wchar_t> m_unavailable;  // characters no font has
};

// A piece of a line drawn in one font, from pen position x.
struct Run {
  size_t begin = 0;
  size_t end = 0;
  size_t font = 0;
  int64_t x = 0;
  int64_t width = 0;
};

struct Line {
  std::vector<Run> runs;
  int64_t baseline = 0;
  LONG ascent = 0;
  LONG descent = 0;
};

// The text split at CR, LF and CR LF.
std::vector<std::pair<size_t, size_t>> SplitLines(const std::wstring& text) {
  std::vector<std::pair<size_t, size_t>> lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != L'\r' && text[i] != L'\n') continue;
    lines.emplace_back(start, i);
    if (i + 1 < text.size() && text[i] == L'\r' && text[i + 1] == L'\n') ++i;
    start = i + 1;
  }
  return lines;
}

struct Box {
  int64_t left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
  bool Empty() const { return left >= right || top >= bottom; }
};

// Lays the lines out from (x, y): runs with their pen positions and widths,
// baselines one line's descent and the next one's ascent apart. Returns the
// rectangle the ink can reach, margins included for overhangs and edges.
Box Layout(HDC dc, FontSet& fonts, const std::wstring& text, int64_t x, int64_t y, std::vector<Line>& lines) {
  const TEXTMETRICW& primary = fonts.Font(0).metrics;
  const int64_t tab = 8 * static_cast<int64_t>(std::max<LONG>(primary.tmAveCharWidth, 1));
  Box ink{x, y, x, y};
  int64_t previousDescent = 0;
  bool first = true;
  std::vector<size_t> assigned;
  for (const auto& [begin, end] : SplitLines(text)) {
    Line line;
    fonts.Assign(text.data() + begin, end - begin, assigned);
    int64_t pen = x;
    for (size_t i = begin; i < end;) {
      if (text[i] == L'\t') {
        pen = x + ((pen - x) / tab + 1) * tab;
        ++i;
        continue;
      }
      Run run;
      run.begin = i;
      run.font = assigned[i - begin];
      while (i < end && text[i] != L'\t' && assigned[i - begin] == run.font) ++i;
      run.end = i;
      SIZE size = {};
      fonts.Select(run.font);
      GetTextExtentPoint32W(dc, text.data() + run.begin, static_cast<int>(run.end - run.begin), &size);
      run.x = pen;
      run.width = size.cx;
      pen += size.cx;
      line.runs.push_back(run);
    }
    line.ascent = primary.tmAscent;
    line.descent = primary.tmDescent;
    for (const Run& r : line.runs) {
      line.ascent = std::max(line.ascent, fonts.Font(r.font).metrics.tmAscent);
      line.descent = std::max(line.descent, fonts.Font(r.font).metrics.tmDescent);
    }
    line.baseline = first ? y + line.ascent : lines.back().baseline + previousDescent + line.ascent;
    previousDescent = line.descent;
    first = false;
    ink.right = std::max(ink.right, pen);
    ink.bottom = line.baseline + line.descent;
    lines.push_back(std::move(line));
  }
  const auto marginOf = [&fonts](size_t i) {
    return static_cast<int64_t>(fonts.Font(i).metrics.tmHeight / 2 + fonts.Font(i).metrics.tmOverhang + 2);
  };
  int64_t margin = marginOf(0);
  for (const Line& line : lines)
    for (const Run& run : line.runs) margin = std::max(margin, marginOf(run.font));
  return {ink.left - margin, ink.top - margin, ink.right + margin, ink.bottom + margin};
}

// The RGB of a COLORREF: an entry of the default palette for a palette
// index, the low 24 bits otherwise.
COLORREF Rgb(COLORREF color) {
  if ((color >> 24) != 1) return color & 0x00FFFFFF;
  PALETTEENTRY entry = {};
  const auto palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  if (GetPaletteEntries(palette, LOWORD(color), 1, &entry) != 1) return 0;
  return RGB(entry.peRed, entry.peGreen, entry.peBlue);
}

// A top-down 24-bit DIB section of w x h selected into a memory DC.
class Canvas {
 public:
  Canvas(HDC dc, int32_t w, int32_t h) : m_dc(dc) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_section.reset(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!m_section) return;
    m_rows = static_cast<uint8_t*>(bits);
    m_stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t{3};
    m_old = SelectObject(m_dc, m_section.get());
  }
  ~Canvas() {
    if (m_old) SelectObject(m_dc, m_old);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  bool ok() const { return m_rows != nullptr; }
  uint8_t* Row(int32_t y) const { return m_rows + static_cast<size_t>(y) * m_stride; }

 private:
  HDC m_dc;
  qb::UniqueGdi<HBITMAP> m_section;
  HGDIOBJ m_old = nullptr;
  uint8_t* m_rows = nullptr;
  size_t m_stride = 0;
};

}  // namespace

// A picture with alpha keeps it: the text is laid over it as one
// transparent picture over another, by its coverage, which a second
// drawing (white on black) gives.
int DrawText24(const AddTextRecord& record, std::span<const uint8_t> source, BlockAllocator& out) {
  return OutOfMemoryGuarded([&]() -> int {
    const std::optional<AlphaRows> alpha = OpenAlpha(source);
    Source24 picture;
    if (int status = picture.Open(source, alpha ? qb::dib::AlphaRule::kDrop : qb::dib::AlphaRule::kFlattenOntoWhite);
        status != kOk)
      return status;
    const int32_t w = picture.width(), h = picture.height();
    const size_t step = alpha ? 4 : 3;
    NewBlock result;
    const int made = alpha ? MakeBlock32(out, w, h, picture.xPelsPerMeter(), picture.yPelsPerMeter(), result)
                           : MakeBlock24(out, w, h, picture.xPelsPerMeter(), picture.yPelsPerMeter(), result);
    if (made != kOk) return made;
    // The picture's rows, and below the text's blend, in bands on the pool.
    qb::work::ForEachRowBand(w, h, [&](int32_t first, int32_t count) {
      for (int32_t y = first; y < first + count; ++y)
        std::memcpy(result.pixels.Row(y), alpha ? alpha->pixels.Row(y) : picture.pixels().Row(y),
                    static_cast<size_t>(w) * step);
    });

    qb::MemoryDc dc(CreateCompatibleDC(nullptr));
    FontSet fonts(dc.get());
    if (!dc.get() || !fonts.Open(record.font)) return kOutOfMemory;
    const std::wstring text(record.text ? record.text : L"");
    std::vector<Line> lines;
    Box box = Layout(dc.get(), fonts, text, record.x, record.y, lines);
    box = {std::max<int64_t>(box.left, 0), std::max<int64_t>(box.top, 0), std::min<int64_t>(box.right, w),
           std::min<int64_t>(box.bottom, h)};
    if (box.Empty()) return kOk;

    const auto left = static_cast<int32_t>(box.left), top = static_cast<int32_t>(box.top);
    const auto bw = static_cast<int32_t>(box.right - box.left), bh = static_cast<int32_t>(box.bottom - box.top);
    Canvas canvas(dc.get(), bw, bh);
    if (!canvas.ok()) return kOutOfMemory;
    SetBkMode(dc.get(), TRANSPARENT);
    SetTextAlign(dc.get(), TA_LEFT | TA_BASELINE | TA_NOUPDATECP);
    const auto drawText = [&](COLORREF color) {
      SetTextColor(dc.get(), color);
      for (const Line& line : lines) {
        if (line.baseline + line.descent < box.top || line.baseline - line.ascent >= box.bottom) continue;
        for (const Run& run : line.runs) {
          if (run.x + run.width < box.left || run.x >= box.right) continue;
          fonts.Select(run.font);
          ExtTextOutW(dc.get(), static_cast<int>(run.x - box.left), static_cast<int>(line.baseline - box.top), 0,
                      nullptr, text.data() + run.begin, static_cast<UINT>(run.end - run.begin), nullptr);
        }
      }
      GdiFlush();
    };
    const size_t rowBytes = static_cast<size_t>(bw) * 3;
    std::vector<uint8_t> coverage;
    if (alpha) {
      for (int32_t y = 0; y < bh; ++y) std::memset(canvas.Row(y), 0, rowBytes);
      drawText(RGB(255, 255, 255));
      coverage.resize(rowBytes * static_cast<size_t>(bh));
      for (int32_t y = 0; y < bh; ++y) std::memcpy(coverage.data() + rowBytes * static_cast<size_t>(y), canvas.Row(y), rowBytes);
    }
    for (int32_t y = 0; y < bh; ++y)
      std::memcpy(canvas.Row(y), picture.pixels().Row(top + y) + static_cast<size_t>(left) * 3, rowBytes);
    const COLORREF color = Rgb(record.color);
    drawText(color);
    if (!alpha) {
      for (int32_t y = 0; y < bh; ++y)
        std::memcpy(result.pixels.Row(top + y) + static_cast<size_t>(left) * 3, canvas.Row(y), rowBytes);
      return kOk;
    }
    const uint32_t ink[3] = {GetBValue(color), GetGValue(color), GetRValue(color)};
    qb::work::ForEachRowBand(bw, bh, [&](int32_t first, int32_t count) {
      for (int32_t y = first; y < first + count; ++y) {
        const uint8_t* cov = coverage.data() + rowBytes * static_cast<size_t>(y);
        uint8_t* d = result.pixels.Row(top + y) + static_cast<size_t>(left) * 4;
        for (int32_t x = 0; x < bw; ++x, cov += 3, d += 4) {
          const uint32_t c = cov[1];  // green stands for the coverage
          if (c == 0) continue;
          const uint32_t below = d[3] * (255 - c);
          const uint32_t cover = c * 255 + below;  // the result's alpha x 255
          for (int k = 0; k < 3; ++k)
            d[k] = static_cast<uint8_t>((ink[k] * c * 255 + d[k] * below + cover / 2) / cover);
          d[3] = static_cast<uint8_t>((cover + 127) / 255);
        }
      }
    });
    return kOk;
  });
}

}  // namespace rastrum
