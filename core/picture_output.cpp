// The picture's ways out: image files (with the source's EXIF segment
// carried into JPEG output), the clipboard, a device context and a
// thumbnail bitmap.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "base/ansi_path.h"
#include "base/files.h"
#include "base/gdiplus_session.h"
#include "base/resource_guards.h"
#include "base/text.h"
#include "com/error_report.h"
#include "core/packed_dib.h"
#include "core/picture_block.h"
#include "core/vu_picture.h"
#include "metadata/portable/color_profile.h"
#include "metadata/portable/exif_orientation.h"
#include "metadata/portable/jpeg_splice.h"
#include "rastrum/rastrum.h"

namespace qb {
namespace {

// The temporary JPEG of a splicing save is never larger than this.
constexpr uint64_t kMaxTemporaryJpeg = 1ULL << 30;

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

// The saved picture as cameras embed it in EXIF: a JPEG 160 pixels on its
// long side (a smaller picture keeps its size), encoded by the library.
// Empty when it cannot be made.
std::vector<uint8_t> ThumbnailJpeg(int32_t handle) {
  const int64_t width = DibWidth(handle), signedHeight = DibHeight(handle);
  const int64_t height = signedHeight < 0 ? -signedHeight : signedHeight;
  if (width <= 0 || height <= 0) return {};
  const int64_t longSide = std::max(width, height), side = std::min<int64_t>(160, longSide);
  const auto scaled = [&](int64_t n) { return static_cast<int32_t>(std::max<int64_t>(1, (n * side + longSide / 2) / longSide)); };
  const PictureBlock small(NimboResize(scaled(width), scaled(height), handle, 1));
  const std::wstring temporary = TemporaryJpegPath();
  if (small.get() < 0 || temporary.empty()) return {};
  {
    AnsiWritePath narrow(temporary);
    if (!narrow.get() || NimboSaveAsFile(small.get(), narrow.get()) < 0 || !narrow.Commit()) return {};
  }
  std::vector<uint8_t> jpeg;
  const bool read = ReadWholeFile(temporary.c_str(), jpeg, 1u << 20) == ReadResult::kRead;
  DeleteFileW(temporary.c_str());
  return read ? jpeg : std::vector<uint8_t>();
}

// Writes the source's ICC profile into a file just saved without camera
// data when the library wrote a JPEG or a PNG, so that colours look the
// same after an edit in every colour-managed viewer. A file that cannot be
// read back or rewritten stays as the library wrote it: the picture is
// saved either way.
void AddColourProfile(std::span<const exif::JpegSegment> carried, const std::wstring& path) {
  if (!exif::HasIccProfile(carried)) return;
  // Only a JPEG or a PNG is read back whole.
  uint8_t head[2] = {};
  {
    UniqueStdFile written(_wfopen(path.c_str(), L"rb"));
    if (!written || std::fread(head, 1, 2, written.get()) != 2) return;
  }
  if (!(head[0] == 0xFF && head[1] == 0xD8) && !(head[0] == 0x89 && head[1] == 'P')) return;
  std::vector<uint8_t> file, out;
  if (ReadWholeFile(path.c_str(), file, kMaxTemporaryJpeg) != ReadResult::kRead) return;
  bool made = false;
  if (file.size() >= 2 && file[0] == 0xFF && file[1] == 0xD8) {
    made = exif::InsertJpegIccProfile(carried, file, out);
  } else {
    const std::vector<uint8_t> profile = exif::AssembleIccProfile(carried);
    made = !profile.empty() && exif::InsertPngIccProfile(file, profile, out);
  }
  if (made) ReplaceFileWith(path.c_str(), out);
}

}  // namespace

HRESULT VuPicture::SavePlainly(const std::wstring& path) {
  AnsiWritePath target(path);
  const bool saved = target.get() && NimboSaveAsFile(m_handle.get(), target.get()) >= 0 && target.Commit();
  if (!saved) return PlainFailure(E_FAIL);
  AddColourProfile(m_exif.carriedSegments(), path);
  return S_OK;
}

// The library writes a temporary JPEG; the target becomes the start-of-image
// marker, the kept EXIF segment, the source's XMP, IPTC and ICC profile
// segments and the library's JPEG after its own leading application
// segments. The target is replaced only once the whole
// new file is written.
HRESULT VuPicture::SaveSpliced(const std::wstring& path) {
  const std::wstring temporary = TemporaryJpegPath();
  if (temporary.empty()) return PlainFailure(E_FAIL);
  {
    AnsiWritePath narrowTemporary(temporary);
    if (!narrowTemporary.get() || NimboSaveAsFile(m_handle.get(), narrowTemporary.get()) < 0 ||
        !narrowTemporary.Commit())
      return PlainFailure(E_FAIL);
  }
  std::vector<uint8_t> jpeg, spliced;
  bool ok = ReadWholeFile(temporary.c_str(), jpeg, kMaxTemporaryJpeg) == ReadResult::kRead;
  DeleteFileW(temporary.c_str());
  // The kept segment is made true of the saved picture: its orientation,
  // its size, and a thumbnail of the saved picture (or none) in place of
  // the source's.
  std::vector<uint8_t> segment;
  if (ok) {
    try {
      segment = exif::WithOrientation(m_exif.exifBlock(), m_orientation);
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  const int32_t height = ok ? DibHeight(m_handle.get()) : 0;
  if (ok) exif::FitExifToPicture(segment, static_cast<uint32_t>(DibWidth(m_handle.get())),
                                 static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height),
                                 ThumbnailJpeg(m_handle.get()));
  ok = ok && exif::SpliceExifSegment(segment, m_exif.carriedSegments(), jpeg, spliced);
  ok = ok && ReplaceFileWith(path.c_str(), spliced) == ReplaceResult::kWritten;
  return ok ? S_OK : PlainFailure(E_FAIL);
}

// Refreshes the EXIF segment and the camera data from the source file; a
// failure there does not stop a save.
void VuPicture::RefreshExifFromSource() {
  UniqueBstr name(SysAllocString(m_fileName.get() ? m_fileName.get() : L""));
  static_cast<IVuPicture*>(this)->ReadExif(name.get());
  // The read's own failure text is no concern of the save's caller.
  SetErrorInfo(0, nullptr);
}

STDMETHODIMP VuPicture::SaveFile(BSTR path, LONG keepExif) {
  RefreshExifFromSource();
  const std::wstring target(path ? path : L"", path ? SysStringLen(path) : 0);
  if (!m_exif.exifBlock().empty() && keepExif == 1) return SaveSpliced(target);
  return SavePlainly(target);
}

STDMETHODIMP VuPicture::SaveAs(BSTR basePath, BSTR extension) {
  if (m_handle.get() < 0) return PlainFailure(E_UNEXPECTED);
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
// names, and reports what that save reports.
STDMETHODIMP VuPicture::Save() {
  if (m_handle.get() < 0) return PlainFailure(E_UNEXPECTED);
  wchar_t drive[256], directory[256], base[256], extension[256];
  const wchar_t* name = m_fileName.get() ? m_fileName.get() : L"";
  if (_wsplitpath_s(name, drive, 256, directory, 256, base, 256, extension, 256) != 0) return PlainFailure(E_UNEXPECTED);
  const std::wstring joined = std::wstring(drive) + directory + base;
  UniqueBstr path(SysAllocString(joined.c_str()));
  UniqueBstr ext(SysAllocString(extension));
  if (!path.get() || !ext.get()) return PlainFailure(E_UNEXPECTED);
  return static_cast<IVuPicture*>(this)->SaveAs(path.get(), ext.get());
}

STDMETHODIMP VuPicture::CopyToClipboard() {
  OpenedClipboard clipboard;
  if (!clipboard) return S_OK;
  WaitCursor wait;
  EmptyClipboard();
  if (m_handle) {
    PictureBlock copy = PictureBlock::CopyOf(m_handle.get());
    // The clipboard owns what it accepts; a copy it refuses is ours to free.
    if (copy && SetClipboardData(CF_DIB, ToHGlobal(copy.get()))) copy.release();
  }
  return S_OK;
}

STDMETHODIMP VuPicture::PasteFromClipboard() {
  PictureBlock copy;
  {
    OpenedClipboard clipboard;
    if (clipboard && IsClipboardFormatAvailable(CF_DIB))
      copy = PictureBlock::CopyOf(FromHGlobal(GetClipboardData(CF_DIB)));
  }
  if (!copy) return PlainFailure(E_FAIL);
  // AttachImage replaces the block: the old one is freed only when the
  // picture made it and never lent it out.
  static_cast<IVuPicture*>(this)->AttachImage(copy.handOver());
  return S_OK;
}

// Draws the picture's source file, not the held block, at (60, 10) and at
// its own size. GDI+ is started for the call and shut down after it.
STDMETHODIMP VuPicture::DrawFile(LONG hdc) {
  GdiplusSession gdiplus;
  if (!gdiplus) return S_OK;
  using Gdiplus::DllExports::GdipDeleteGraphics;
  using Gdiplus::DllExports::GdipDisposeImage;
  Gdiplus::GpImage* loaded = nullptr;
  Gdiplus::GpGraphics* created = nullptr;
  Gdiplus::DllExports::GdipLoadImageFromFile(m_fileName.get() ? m_fileName.get() : L"", &loaded);
  std::unique_ptr<Gdiplus::GpImage, decltype(&GdipDisposeImage)> image(loaded, &GdipDisposeImage);
  Gdiplus::DllExports::GdipCreateFromHDC(reinterpret_cast<HDC>(static_cast<intptr_t>(hdc)), &created);
  std::unique_ptr<Gdiplus::GpGraphics, decltype(&GdipDeleteGraphics)> graphics(created, &GdipDeleteGraphics);
  if (graphics && image) Gdiplus::DllExports::GdipDrawImageI(graphics.get(), image.get(), 60, 10);
  return S_OK;
}

// The library takes the sizes in the opposite order from this method.
STDMETHODIMP VuPicture::CreateThumbnail(LONG height, LONG width, LONG* bitmap) {
  if (!bitmap) return E_POINTER;
  const PictureBlock resized(NimboResize(width, height, m_handle.get(), 1));
  if (resized.get() < 0) return PlainFailure(E_OUTOFMEMORY);
  *bitmap = static_cast<LONG>(reinterpret_cast<intptr_t>(DibToBitmap(resized.get(), nullptr)));
  return S_OK;
}

STDMETHODIMP VuPicture::get_Bitmap(LONG* value) {
  if (!value) return E_POINTER;
  *value = static_cast<LONG>(reinterpret_cast<intptr_t>(m_bitmap.get()));
  return S_OK;
}

}  // namespace qb
