// The file formats of the imaging library, one decoder and (where the
// library writes the format) one encoder each. DecodeImage and EncodeImage
// (raster.h) choose among them. Each decoder makes one block in `out` and
// returns kOk or a failure value; each encoder appends a whole file to an
// empty `file` from a block it reads through Source24 or the validator.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "rastrum/portable/raster.h"

namespace rastrum {

// JPEG through libjpeg-turbo: baseline and progressive, grey, colour and
// CMYK/YCCK files give 24-bit blocks; JFIF density becomes resolution.
int DecodeJpeg(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeJpeg(std::span<const uint8_t> block, int quality, std::vector<uint8_t>& file);

// PNG through libpng: every bit depth and colour type (alpha dropped,
// 16-bit channels reduced to 8); pHYs in metres becomes resolution.
int DecodePng(std::span<const uint8_t> file, BlockAllocator& out);
int EncodePng(std::span<const uint8_t> block, std::vector<uint8_t>& file);

// BMP: every header form and depth, RLE4 and RLE8; 1/4/8-bit files keep
// their palette. The encoder writes the block as it is behind a file header.
int DecodeBmp(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeBmp(std::span<const uint8_t> block, std::vector<uint8_t>& file);

// GIF (first frame), TGA and PNM.
int DecodeGif(std::span<const uint8_t> file, BlockAllocator& out);
int DecodeTga(std::span<const uint8_t> file, BlockAllocator& out);
int DecodePnm(std::span<const uint8_t> file, BlockAllocator& out);
int EncodeTga(std::span<const uint8_t> block, std::vector<uint8_t>& file);

}  // namespace rastrum
