// The native builds link libheif (Debian's libheif-dev): the table is
// libheif's own functions.
#include "rastrum/portable/codecs.h"
#include "rastrum/portable/heif_library.h"

namespace rastrum {

const HeifLibrary* LoadHeifLibrary() {
  static constexpr HeifLibrary kLinked = {
      heif_context_alloc,
      heif_context_free,
      heif_context_set_maximum_image_size_limit,
      heif_context_read_from_memory_without_copy,
      heif_context_get_primary_image_handle,
      heif_image_handle_release,
      heif_image_handle_get_width,
      heif_image_handle_get_height,
      heif_image_handle_has_alpha_channel,
      heif_image_handle_is_premultiplied_alpha,
      heif_image_handle_get_luma_bits_per_pixel,
      heif_decoding_options_alloc,
      heif_decoding_options_free,
      heif_decode_image,
      heif_image_get_width,
      heif_image_get_height,
      heif_image_get_bits_per_pixel_range,
      heif_image_get_plane_readonly,
      heif_image_release,
  };
  return &kLinked;
}

// Linked in: there is nothing to load, and nothing to forbid.
void ForbidLoadingHeifLibrary() {}

}  // namespace rastrum
