// Classes of the catalogue without behaviour of their own: they answer
// IUnknown, IDispatch and their own dual interface, some also
// ISupportErrorInfo and an empty connection-point container.
// ImageOutputService prepares nothing and WallPaper executes nothing.
#pragma once

#include "quillbox.h"
#include "collections/file_info_array.h"
#include "com/com_object.h"

namespace qb {

class InputSource final
    : public ComObject<IInputSource, SupportErrorInfoFor<IInputSource>, NoConnectionPoints> {
 public:
  using ComObject::ComObject;
};

class FolderInput final : public ComObject<IFolderInput> {
 public:
  using ComObject::ComObject;
};

class ImageCollection final : public ComObject<IImageCollection> {
 public:
  using ComObject::ComObject;
};

class ImageFinder final : public ComObject<IImageFinder> {
 public:
  using ComObject::ComObject;
};

class ImageInputService final : public ComObject<IImageInputService> {
 public:
  using ComObject::ComObject;
};

class ImageInputSource final : public ComObject<IImageInputSource> {
 public:
  using ComObject::ComObject;
};

class ImageInputSourceCollection final : public ComObject<IImageInputSourceCollection> {
 public:
  using ComObject::ComObject;
};

class ImageOutputService final : public ComObject<IImageOutputService> {
 public:
  using ComObject::ComObject;
  STDMETHODIMP Prepare() override { return S_OK; }
};

class ImageOutputTarget final : public ComObject<IImageOutputTarget, NoConnectionPoints> {
 public:
  using ComObject::ComObject;
};

class ImageOutputTargetCollection final
    : public ComObject<IImageOutputTargetCollection, NoConnectionPoints> {
 public:
  using ComObject::ComObject;
};

class WallPaper final : public ComObject<IWallPaper> {
 public:
  using ComObject::ComObject;
  // Takes one 32-bit argument and ignores it.
  STDMETHODIMP Execute(LONG) override { return S_OK; }
};

}  // namespace qb
