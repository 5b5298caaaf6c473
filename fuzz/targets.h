// The fuzz targets, one file of fuzz/ each.
#pragma once

#include <cstddef>
#include <cstdint>

#define QB_FUZZ_TARGETS(X) \
  X(jpeg_exif)             \
  X(exif_block)            \
  X(exif_containers)       \
  X(splice)                \
  X(registry_script)       \
  X(dib)                   \
  X(decode_bmp)            \
  X(decode_gif)            \
  X(decode_tga)            \
  X(decode_pnm)            \
  X(decode_jpeg)           \
  X(decode_png)            \
  X(decode_webp)           \
  X(decode_tiff)           \
  X(decode_heif)           \
  X(geometry)              \
  X(blur)                  \
  X(overlay)               \
  X(card)                  \
  X(modifier_kernels)

#define QB_FUZZ_DECLARE(name) int qb_fuzz_##name(const std::uint8_t* data, std::size_t size);
QB_FUZZ_TARGETS(QB_FUZZ_DECLARE)
#undef QB_FUZZ_DECLARE
