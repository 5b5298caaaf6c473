// CMYK pixels turned into blue, green, red through the file's own ICC
// profile with Little CMS, towards sRGB. The decoders that meet CMYK use it
// when the file carries a CMYK profile, and the press profile otherwise:
// offset printing on coated paper (FOGRA39, the condition of ISO 12647-2
// that "Coated FOGRA39" profiles describe), made by
// tools/make-press-profile.py from FOGRA39's measurements. Their plain
// formula stays only for a transform Little CMS cannot make.
//
// A plain handle, not an object with a destructor: the JPEG decoder holds
// it across libjpeg's error jumps and closes it after them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace rastrum {

using CmykTransform = void*;

// A transform from the profile's CMYK (stored inverted, 255 = no ink, when
// `inverted`) to 8-bit blue, green, red; null when the bytes are no usable
// CMYK profile or memory ran out.
CmykTransform OpenCmykTransform(std::span<const uint8_t> icc, bool inverted);
// The same through the press profile.
CmykTransform OpenPressTransform(bool inverted);
void CloseCmykTransform(CmykTransform transform);

// The press profile's bytes (an ICC v2 CMYK output profile).
std::span<const uint8_t> PressProfile();

// Converts `width` pixels of 4 bytes into `width` pixels of 3.
void CmykRowThroughProfile(CmykTransform transform, const uint8_t* cmyk, uint8_t* bgr, uint32_t width);

}  // namespace rastrum
