#include "modifiers/sharp_modifier.h"

#include <new>
#include <vector>

#include "modifiers/portable/sharpen.h"

namespace qb {

constexpr CopySteps kSteps{.emptySource = std::nullopt,
                           .noCopy = E_FAIL,
                           .noCopyTrace = L"Copy handle Failed ",
                           .unsoundBlock = E_FAIL};

STDMETHODIMP SharpModifier::Apply(IVuPicture* source, IVuPicture** result) {
  return ApplyToCopy(source, kSteps, result, [&](LockedDib& work) {
    if (m_level <= 0) return S_OK;
    // The kernel reads the pixels as they were and writes the copy: it
    // needs the original beside it. Without memory for it the copy goes out
    // unsharpened.
    std::vector<uint8_t> original;
    try {
      original.assign(work.block().begin(), work.block().end());
    } catch (const std::bad_alloc&) {
      return S_OK;
    }
    sharpen::SharpenDib(original, work.block(), m_level);
    return S_OK;
  });
}

STDMETHODIMP SharpModifier::get_Level(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_level;
  return S_OK;
}

STDMETHODIMP SharpModifier::put_Level(LONG value) {
  m_level = value;
  return S_OK;
}

}  // namespace qb
