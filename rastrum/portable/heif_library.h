// The libheif functions that the HEIC and AVIF decoder calls, as one table.
//
// The decoder (heif_codec.cpp) is portable and calls libheif only through
// this table. Where the table comes from is the build's business:
//   - the Windows build loads libheif.dll (LGPL, shipped beside Rastrum.dll
//     so that a user can replace it) by full path from the library's own
//     folder on the first HEIC or AVIF file, and resolves each entry with
//     GetProcAddress (rastrum/heif_loader_win32.cpp);
//   - the native builds link Debian's libheif directly
//     (rastrum/heif_linked_native.cpp).
// Each entry has the type of the libheif function of the same name; the
// prototypes are those of heif.h in libheif 1.15.
#pragma once

#include <libheif/heif.h>

namespace rastrum {

struct HeifLibrary {
  decltype(&heif_context_alloc) context_alloc;
  decltype(&heif_context_free) context_free;
  decltype(&heif_context_set_maximum_image_size_limit) context_set_maximum_image_size_limit;
  decltype(&heif_context_read_from_memory_without_copy) context_read_from_memory_without_copy;
  decltype(&heif_context_get_primary_image_handle) context_get_primary_image_handle;
  decltype(&heif_image_handle_release) image_handle_release;
  decltype(&heif_image_handle_get_width) image_handle_get_width;
  decltype(&heif_image_handle_get_height) image_handle_get_height;
  decltype(&heif_image_handle_has_alpha_channel) image_handle_has_alpha_channel;
  decltype(&heif_image_handle_is_premultiplied_alpha) image_handle_is_premultiplied_alpha;
  decltype(&heif_image_handle_get_luma_bits_per_pixel) image_handle_get_luma_bits_per_pixel;
  decltype(&heif_decoding_options_alloc) decoding_options_alloc;
  decltype(&heif_decoding_options_free) decoding_options_free;
  decltype(&heif_decode_image) decode_image;
  decltype(&heif_image_get_width) image_get_width;
  decltype(&heif_image_get_height) image_get_height;
  decltype(&heif_image_get_bits_per_pixel_range) image_get_bits_per_pixel_range;
  decltype(&heif_image_get_plane_readonly) image_get_plane_readonly;
  decltype(&heif_image_release) image_release;
};

// The table with every entry set, or null when libheif cannot be had (in
// the Windows build: libheif.dll or libde265.dll is not beside the
// library, or lacks a function). The first call does the loading; later
// calls return the same answer. Safe to call from several threads.
const HeifLibrary* LoadHeifLibrary();


}  // namespace rastrum
