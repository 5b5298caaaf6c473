// A collection of file-information items (ImageFile objects).
//
// Clients reach only IUnknown and ISupportErrorInfo: the collection
// interface is carried but not handed out by QueryInterface, and the class
// cannot be aggregated. The collection and its enumerator are used inside
// the module.
#pragma once

#include <wrl/client.h>

#include <vector>

#include "quillbox.h"
#include "com/com_object.h"

namespace qb {

// One item of the collection: a file-information object without behaviour
// of its own.
class ImageFile final : public ComObject<IImageFile> {
 public:
  using ComObject::ComObject;
};

class FileInfoArray final : public ObjectRoot,
                            public DispatchImpl<IFileInfoArray>,
                            public ISupportErrorInfo {
 public:
  explicit FileInfoArray(IUnknown* outer) : ObjectRoot(outer) {}
  ~FileInfoArray() override;
  QB_DELEGATING_IUNKNOWN

  // The creator of the object map: refuses an outer object.
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

  // IFileInfoArray
  STDMETHODIMP get_Count(LONG* count) override;
  STDMETHODIMP get_Item(LONG index, IImageFile** item) override;
  STDMETHODIMP get__NewEnum(IUnknown** enumerator) override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

  // Creates a new ImageFile, appends a reference to it and hands another to
  // the caller. Nothing is appended when the creation fails, and the
  // failure is returned.
  HRESULT AddNew(IImageFile** item);

  using Items = std::vector<Microsoft::WRL::ComPtr<IImageFile>>;

 protected:
  void* FindInterface(REFIID riid) override;

 private:
  Items m_items;
};

}  // namespace qb
