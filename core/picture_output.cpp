// The picture's ways out: image files (with the source's EXIF segment
// carried into JPEG output), the clipboard, a device context and a
// thumbnail bitmap.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "rastrum/rastrum.h"
#include "core/packed_dib.h"
#include "base/files.h"
#include "core/vu_picture.h"
#include "metadata/portable/jpeg_splice.h"
#include "modifiers/modifier.h"

namespace qb {
namespace {

std::string Ansi(const wchar_t* text, size_t length) {
  if (!text || length == 0) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string narrow(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

std::string Ansi(const std::wstring& text) { return Ansi(text.data(), text.size()); }

bool ReadWholeFile(const char* path, std::vector<uint8_t>& data) {
  UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (1LL << 30)) return false;
  data.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  return ReadFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &got, nullptr) &&
         got == data.size();
}

// A temporary JPEG name of its own for each splicing save, so that two
// pictures saving at once (in one process or in two) never share one.
std::wstring TemporaryJpegPath() {
  static std::atomic<unsigned> counter{0};
  wchar_t directory[256];
  DWORD n = GetTempPathW(256, directory);
  if (n == 0 || n >= 256) return {};
  wchar_t name[64];
  swprintf(name, 64, L"Temp1-%lx-%x.jpg", GetCurrentProcessId(), counter.fetch_add(1) + 1);
  return std::wstring(directory) + name;
}

}  // namespace

HRESULT VuPicture::SavePlainly(const std::wstring& path) {
  return NimboSaveAsFile(m_handle, Ansi(path).c_str()) < 0 ? E_FAIL : S_OK;
}

// The library writes a temporary JPEG; the target becomes the start-of-image
// marker, the kept EXIF segment and the library's JPEG after its own
// leading application segments. The target is replaced only once the whole
// new file is written.
HRESULT VuPicture::SaveSpliced(const std::wstring& path) {
  const std::wstring temporary = TemporaryJpegPath();
  if (temporary.empty()) return E_FAIL;
  const std::string narrowTemporary = Ansi(temporary);
  if (NimboSaveAsFile(m_handle, narrowTemporary.c_str()) < 0) return E_FAIL;
  std::vector<uint8_t> jpeg, spliced;
  bool ok = ReadWholeFile(narrowTemporary.c_str(), jpeg);
  DeleteFileW(temporary.c_str());
  ok = ok && exif::SpliceExifSegment(m_exif.exifBlock(), jpeg, spliced);
  ok = ok && ReplaceFileWith(Ansi(path).c_str(), spliced) == ReplaceResult::kWritten;
  return ok ? S_OK : E_FAIL;
}

// Refreshes the EXIF segment and the camera data from the source file; a
// failure there does not stop a save.
void VuPicture::RefreshExifFromSource() {
  BSTR name = m_fileName.get() ? SysAllocStringLen(m_fileName.get(), m_fileName.length())
                               : SysAllocString(L"");
  static_cast<IVuPicture*>(this)->ReadExif(name);
  SysFreeString(name);
}

STDMETHODIMP VuPicture::SaveFile(BSTR path, LONG keepExif) {
  RefreshExifFromSource();
  const std::wstring target(path ? path : L"", path ? SysStringLen(path) : 0);
  if (!m_exif.exifBlock().empty() && keepExif == 1) return SaveSpliced(target);
  return SavePlainly(target);
}

STDMETHODIMP VuPicture::SaveAs(BSTR basePath, BSTR extension) {
  if (m_handle < 0) return E_UNEXPECTED;
  bool jpeg = false;
  if (extension) {
    std::wstring upper(extension, SysStringLen(extension));
    CharUpperW(upper.data());
    jpeg = upper == L".JPG" || upper == L"JPG" || upper == L".JPEG" || upper == L"JPEG";
  }
  std::wstring target(basePath ? basePath : L"", basePath ? SysStringLen(basePath) : 0);
  if (extension) target.append(extension, SysStringLen(extension));
  RefreshExifFromSource();
  if (!m_exif.exifBlock().empty() && jpeg) return SaveSpliced(target);
  return SavePlainly(target);
}

// Writes the picture back over its own file, in the format its extension
// names. What SaveAs reports is not passed on.
STDMETHODIMP VuPicture::Save() {
  if (m_handle < 0) return E_UNEXPECTED;
  wchar_t drive[256], directory[256], base[256], extension[256];
  const wchar_t* name = m_fileName.get() ? m_fileName.get() : L"";
  if (_wsplitpath_s(name, drive, 256, directory, 256, base, 256, extension, 256) != 0) return E_UNEXPECTED;
  std::wstring joined = std::wstring(drive) + directory + base;
  BSTR path = SysAllocString(joined.c_str());
  BSTR ext = SysAllocString(extension);
  if (!path || !ext) {
    SysFreeString(path);
    SysFreeString(ext);
    return E_UNEXPECTED;
  }
  static_cast<IVuPicture*>(this)->SaveAs(path, ext);
  SysFreeString(path);
  SysFreeString(ext);
  return S_OK;
}

STDMETHODIMP VuPicture::CopyToClipboard() {
  if (!OpenClipboard(nullptr)) return S_OK;
  WaitCursor wait;
  EmptyClipboard();
  if (m_handle > 0) {
    const int32_t copy = DuplicateDib(m_handle);
    // The clipboard owns what it accepts; a copy it refuses is ours to free.
    if (copy > 0 && !SetClipboardData(CF_DIB, ToHGlobal(copy))) GlobalFree(ToHGlobal(copy));
  }
  CloseClipboard();
  return S_OK;
}

STDMETHODIMP VuPicture::PasteFromClipboard() {
  int32_t copy = 0;
  if (OpenClipboard(nullptr)) {
    if (IsClipboardFormatAvailable(CF_DIB)) copy = DuplicateDib(FromHGlobal(GetClipboardData(CF_DIB)));
    CloseClipboard();
  }
  if (copy <= 0) return E_FAIL;
  // The picture itself replaces its block here, so it releases the old one.
  if (m_handle > 0) NimboFreeMemory(m_handle);
  m_handle = 0;
  static_cast<IVuPicture*>(this)->AttachImage(copy);
  return S_OK;
}

// Draws the picture's source file, not the held block, at (60, 10) and at
// its own size. GDI+ is started for the call and shut down after it.
STDMETHODIMP VuPicture::DrawFile(LONG hdc) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return S_OK;
  Gdiplus::GpImage* image = nullptr;
  Gdiplus::GpGraphics* graphics = nullptr;
  Gdiplus::DllExports::GdipLoadImageFromFile(m_fileName.get() ? m_fileName.get() : L"", &image);
  Gdiplus::DllExports::GdipCreateFromHDC(reinterpret_cast<HDC>(static_cast<intptr_t>(hdc)), &graphics);
  if (graphics && image) Gdiplus::DllExports::GdipDrawImageI(graphics, image, 60, 10);
  if (image) Gdiplus::DllExports::GdipDisposeImage(image);
  if (graphics) Gdiplus::DllExports::GdipDeleteGraphics(graphics);
  Gdiplus::GdiplusShutdown(token);
  return S_OK;
}

// The library takes the sizes in the opposite order from this method.
STDMETHODIMP VuPicture::CreateThumbnail(LONG height, LONG width, LONG* bitmap) {
  if (!bitmap) return E_POINTER;
  const int32_t resized = NimboResize(width, height, m_handle, 1);
  if (resized < 0) return E_OUTOFMEMORY;
  *bitmap = static_cast<LONG>(reinterpret_cast<intptr_t>(DibToBitmap(resized, nullptr)));
  if (resized > 0) NimboFreeMemory(resized);
  return S_OK;
}

STDMETHODIMP VuPicture::get_Bitmap(LONG* value) {
  if (!value) return E_POINTER;
  *value = static_cast<LONG>(reinterpret_cast<intptr_t>(m_bitmap));
  return S_OK;
}

}  // namespace qb
