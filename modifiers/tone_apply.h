// Apply of the two tone modifiers, Bright and Contrast: a copy of the
// source's block, converted to 24 bits when it is not, walked in place by
// the class's curve.
#pragma once

#include "base/portable/dib_format.h"
#include "quillbox.h"

namespace qb {

using ToneKernel = void (*)(dib::ImageView pixels, int level);

// E_UNEXPECTED for a source without an image, a copy that cannot be made
// or locked, or a block whose header claims more than it holds (no picture
// is made and *result is left alone); otherwise as FinishApply. The file
// name is passed on only when it is not empty.
HRESULT ApplyTone(IVuPicture* source, ToneKernel kernel, int level, IVuPicture** result);

}  // namespace qb
