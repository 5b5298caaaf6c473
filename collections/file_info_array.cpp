#include "collections/file_info_array.h"

#include <new>

namespace qb {
namespace {

// Enumerates the items of one collection as VARIANTs. It shares the
// collection's list and holds a reference to the collection, so the list
// lives as long as any enumerator on it.
class FileInfoEnum final : public StandaloneObject<IEnumVARIANT> {
 public:
  FileInfoEnum(FileInfoArray* owner, const std::vector<IImageFile*>* items, size_t position)
      : owner_(owner), items_(items), position_(position) {
    if (owner_) owner_->InnerUnknown()->AddRef();
  }
  ~FileInfoEnum() override {
    if (owner_) owner_->InnerUnknown()->Release();
  }

  STDMETHODIMP Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (!out || (count != 1 && !fetched)) return E_POINTER;
    if (!items_) return E_FAIL;
    ULONG filled = 0;
    while (filled < count && position_ + filled < items_->size()) {
      IImageFile* item = (*items_)[position_ + filled];
      VARIANT& v = out[filled];
      VariantInit(&v);
      IDispatch* dispatch = nullptr;
      HRESULT hr = item->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
      if (SUCCEEDED(hr)) {
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = dispatch;
      } else {
        IUnknown* unknown = nullptr;
        hr = item->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
        if (FAILED(hr)) {
          for (ULONG i = 0; i < filled; ++i) VariantClear(&out[i]);
          if (fetched) *fetched = 0;
          return hr;
        }
        V_VT(&v) = VT_UNKNOWN;
        V_UNKNOWN(&v) = unknown;
      }
      ++filled;
    }
    position_ += filled;
    if (fetched) *fetched = filled;
    return filled < count ? S_FALSE : S_OK;
  }

  STDMETHODIMP Skip(ULONG count) override {
    size_t remaining = items_ ? items_->size() - position_ : 0;
    if (count > remaining) {
      position_ += remaining;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }

  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }

  STDMETHODIMP Clone(IEnumVARIANT** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    auto* copy = new (std::nothrow) FileInfoEnum(owner_, items_, position_);
    if (!copy) return E_OUTOFMEMORY;
    copy->AddRef();
    *result = copy;
    return S_OK;
  }

 private:
  FileInfoArray* owner_;
  const std::vector<IImageFile*>* items_;
  size_t position_;
};

}  // namespace

FileInfoArray::~FileInfoArray() {
  for (IImageFile* item : m_items) item->Release();
}

HRESULT FileInfoArray::Create(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return CreateObject<FileInfoArray>(nullptr, riid, ppv);
}

void* FileInfoArray::FindInterface(REFIID riid) {
  return riid == IID_ISupportErrorInfo ? static_cast<ISupportErrorInfo*>(this) : nullptr;
}

STDMETHODIMP FileInfoArray::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IID_IFileInfoArray ? S_OK : S_FALSE;
}

STDMETHODIMP FileInfoArray::get_Count(LONG* count) {
  if (!count) return E_POINTER;
  *count = static_cast<LONG>(m_items.size());
  return S_OK;
}

STDMETHODIMP FileInfoArray::get_Item(LONG index, IImageFile** item) {
  if (!item) return E_POINTER;
  // 1-based; an index of 1 or less gives the first item.
  size_t at = index <= 1 ? 0 : static_cast<size_t>(index) - 1;
  if (at >= m_items.size()) return E_FAIL;
  *item = m_items[at];
  (*item)->AddRef();
  return S_OK;
}

STDMETHODIMP FileInfoArray::get__NewEnum(IUnknown** enumerator) {
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  auto* e = new (std::nothrow) FileInfoEnum(this, &m_items, 0);
  if (!e) return E_OUTOFMEMORY;
  e->AddRef();
  *enumerator = e;
  return S_OK;
}

HRESULT FileInfoArray::AddNew(IImageFile** item) {
  if (!item) return E_POINTER;
  *item = nullptr;
  IImageFile* created = nullptr;
  HRESULT hr = CreateObject<ImageFile>(nullptr, IID_IImageFile, reinterpret_cast<void**>(&created));
  if (FAILED(hr)) return hr;
  try {
    m_items.push_back(created);
  } catch (const std::bad_alloc&) {
    created->Release();
    return E_OUTOFMEMORY;
  }
  created->AddRef();
  *item = created;
  return S_OK;
}

}  // namespace qb
