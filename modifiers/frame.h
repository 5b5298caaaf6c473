// Lays frame pictures around a picture.
#pragma once

#include "quillbox.h"
#include "modifiers/modifier.h"

namespace qb {

class Frame final : public Modifier<IFrame> {
 public:
  using Modifier::Modifier;

  STDMETHODIMP Apply(IVuPicture* source, IVuPicture** result) override;
  STDMETHODIMP get_FrameHandle(LONG* value) override;
  STDMETHODIMP put_FrameHandle(LONG value) override;
  STDMETHODIMP get_FrameHandle2(LONG* value) override;
  STDMETHODIMP put_FrameHandle2(LONG value) override;
  STDMETHODIMP LoadFrameFile(BSTR path) override;
  STDMETHODIMP LoadFrameFile2(BSTR path) override;
};

}  // namespace qb
