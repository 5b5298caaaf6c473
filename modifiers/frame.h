// Puts a frame around a picture through the imaging library: up to two
// frame pictures, each stretched over the source, laid over it. The frames
// are pictures the object holds itself, loaded from files or handed over by
// handle.
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

 private:
  // 0 (none), a block, or the failure value of a load that failed.
  PictureBlock m_frame1;
  PictureBlock m_frame2;
};

}  // namespace qb
