#include "collections/file_info_array.h"

#include <new>

namespace qb {

using Microsoft::WRL::ComPtr;

namespace {

// Enumerates the items of one collection as VARIANTs. It shares the
// collection's list and holds a reference to the collection, so the list
// lives as long as any enumerator on it.
class FileInfoEnum final : public StandaloneObject<IEnumVARIANT> {
 public:
  FileInfoEnum(FileInfoArray* owner, const FileInfoArray::Items* items, size_t position)
      : m_owner(owner), m_keepAlive(owner ? owner->InnerUnknown() : nullptr), m_list(items),
        m_position(position) {}

  STDMETHODIMP Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (!out || (count != 1 && !fetched)) return E_POINTER;
    if (!m_list) return E_FAIL;
    ULONG filled = 0;
    while (filled < count && m_position + filled < m_list->size()) {
      IImageFile* item = (*m_list)[m_position + filled].Get();
      VARIANT& v = out[filled];
      VariantInit(&v);
      ComPtr<IDispatch> dispatch;
      HRESULT hr = item->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()));
      if (SUCCEEDED(hr)) {
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = dispatch.Detach();
      } else {
        ComPtr<IUnknown> unknown;
        hr = item->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf()));
        if (FAILED(hr)) {
          for (ULONG i = 0; i < filled; ++i) VariantClear(&out[i]);
          if (fetched) *fetched = 0;
          return hr;
        }
        V_VT(&v) = VT_UNKNOWN;
        V_UNKNOWN(&v) = unknown.Detach();
      }
      ++filled;
    }
    m_position += filled;
    if (fetched) *fetched = filled;
    return filled < count ? S_FALSE : S_OK;
  }

  STDMETHODIMP Skip(ULONG count) override {
    size_t remaining = m_list ? m_list->size() - m_position : 0;
    if (count > remaining) {
      m_position += remaining;
      return S_FALSE;
    }
    m_position += count;
    return S_OK;
  }

  STDMETHODIMP Reset() override {
    m_position = 0;
    return S_OK;
  }

  STDMETHODIMP Clone(IEnumVARIANT** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    auto* copy = new (std::nothrow) FileInfoEnum(m_owner, m_list, m_position);
    if (!copy) return E_OUTOFMEMORY;
    copy->AddRef();
    *result = copy;
    return S_OK;
  }

 private:
  FileInfoArray* m_owner;
  ComPtr<IUnknown> m_keepAlive;  // the collection, whose list this walks
  const FileInfoArray::Items* m_list;
  size_t m_position;
};

}  // namespace

FileInfoArray::~FileInfoArray() = default;

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
  ComPtr<IImageFile> found = m_items[at];
  *item = found.Detach();
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
  ComPtr<IImageFile> created;
  HRESULT hr = CreateObject<ImageFile>(nullptr, IID_IImageFile, reinterpret_cast<void**>(created.GetAddressOf()));
  if (FAILED(hr)) return hr;
  try {
    m_items.push_back(created);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *item = created.Detach();
  return S_OK;
}

}  // namespace qb
