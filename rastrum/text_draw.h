// Text drawn onto a picture with GDI, for NimboAddText.
#pragma once

#include <cstdint>
#include <span>

#include "rastrum/portable/raster.h"
#include "rastrum/rastrum.h"

namespace rastrum {

// Draws the record's text onto a 24-bit copy of the picture `source` (any
// depth the validator takes), written into `out`. The text's top-left is at
// (x, y) from the picture's top-left as seen (a picture with alpha gives a
// 32-bit copy with alpha, the text opaque where it covers); CR, LF and CR LF break lines
// and a tab moves on to the next stop of eight average characters.
//
// The font is the record's LOGFONTW, drawn antialiased unless it asks for a
// quality of its own. A bitmap font that has no size near the one asked
// for is drawn in an outline font of its family at that size instead.
// Characters the font has no glyph for are drawn in an installed font that
// has them, chosen by their script (Chinese, Japanese and Korean first).
// The colour is a COLORREF: an RGB, or an index into the default palette.
int DrawText24(const AddTextRecord& record, std::span<const uint8_t> source, BlockAllocator& out);

}  // namespace rastrum
