// Blurs a picture through the imaging library by a level of 1 to 99; level
// 0 makes no picture at all.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class BlurModifier final : public Modifier<IBlurModifier> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_Level(LONG* value) override;
  STDMETHODIMP put_Level(LONG value) override;

 private:
  int32_t m_level = 0;  // 0..99
};

}  // namespace qb
