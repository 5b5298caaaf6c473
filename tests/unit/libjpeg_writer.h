// JPEG files written by libjpeg itself, for the decoders' tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

namespace qb::test {

// A w x h file: libjpeg's defaults for `input` (RGB, grey or CMYK), then
// `setUp` changes the compressor (quality, sampling, markers...), `icc`
// goes into APP2 segments when not empty, and `fill` writes the input's
// components of each row, top row first.
inline std::vector<uint8_t> WriteWithLibjpeg(int w, int h, J_COLOR_SPACE input,
                                             const std::function<void(jpeg_compress_struct&)>& setUp,
                                             const std::function<void(int y, uint8_t* row)>& fill,
                                             const std::vector<uint8_t>& icc = {}) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &mem, &size);
  cinfo.image_width = JDIMENSION(w);
  cinfo.image_height = JDIMENSION(h);
  cinfo.in_color_space = input;
  cinfo.input_components = input == JCS_GRAYSCALE ? 1 : input == JCS_CMYK ? 4 : 3;
  jpeg_set_defaults(&cinfo);
  setUp(cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  if (!icc.empty()) jpeg_write_icc_profile(&cinfo, icc.data(), unsigned(icc.size()));
  std::vector<uint8_t> row(size_t(w) * cinfo.input_components);
  while (cinfo.next_scanline < cinfo.image_height) {
    fill(int(cinfo.next_scanline), row.data());
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> file(mem, mem + size);
  std::free(mem);
  return file;
}

}  // namespace qb::test
