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
#include "com/resource.h"
#include "core/picture_bytes.h"
#include "core/packed_dib.h"
#include "core/picture_block.h"
#include "core/vu_picture.h"
#include "metadata/portable/color_profile.h"
#include "metadata/portable/exif_orientation.h"
#include "metadata/portable/jpeg_splice.h"
#include "rastrum/portable/rastrum_errors.h"
#include "rastrum/rastrum.h"

namespace qb {
namespace {

// The thumbnail kept in EXIF is encoded as cameras encode theirs.
constexpr int kThumbnailQuality = 90;

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
  EncodedFile jpeg;
  if (small.get() < 0 || EncodeBlock(small.get(), "thumbnail.jpg", kThumbnailQuality, jpeg) != kEncoded) return {};
  return std::vector<uint8_t>(jpeg.bytes().begin(), jpeg.bytes().end());
}

// Writes the source's ICC profile into a JPEG or a PNG the library encoded
// without camera data, so that colours look the same after an edit in
// every colour-managed viewer. Other formats stay as the library made them.
void AddColourProfile(std::span<const exif::JpegSegment> carried, EncodedFile& encoded) {
  const std::span<const uint8_t> file = encoded.bytes();
  if (!exif::HasIccProfile(carried) || file.size() < 2) return;
  std::vector<uint8_t> out;
  bool made = false;
  if (file[0] == 0xFF && file[1] == 0xD8) {
    made = exif::InsertJpegIccProfile(carried, file, out);
  } else if (file[0] == 0x89 && file[1] == 'P') {
    const std::vector<uint8_t> profile = exif::AssembleIccProfile(carried);
    made = !profile.empty() && exif::InsertPngIccProfile(file, profile, out);
  }
  if (made) encoded.Replace(std::move(out));
}

// The folder part of a path (up to its last separator), empty for a bare
// name.
std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace

// The library encodes the picture as the target's extension names.
HRESULT VuPicture::EncodePlainly(const std::wstring& target, EncodedFile& file, std::wstring_view named) {
  const int status = EncodeBlock(m_handle.get(), FormatName(target).c_str(), m_quality, file);
  if (status != kEncoded) {
    if (status == rastrum::kUnknownFormat)
      SetDetail(IDS_DETAIL_UNKNOWN_EXTENSION, named.empty() ? std::wstring_view(target) : named);
    else if (m_handle.get() <= 0 || status == rastrum::kBadArgument)
      SetDetail(IDS_DETAIL_NO_IMAGE);
    else
      SetDetail(IDS_DETAIL_ENCODE_FAILED, {}, std::to_wstring(status));
    return PlainFailure(E_FAIL);
  }
  AddColourProfile(m_exif.carriedSegments(), file);
  return S_OK;
}

// The library encodes a JPEG; the file becomes the start-of-image marker,
// the kept EXIF segment, the source's XMP, IPTC and ICC profile segments and
// the library's JPEG after its own leading application segments.
HRESULT VuPicture::EncodeSpliced(EncodedFile& file) {
  EncodedFile jpeg;
  const int status = EncodeBlock(m_handle.get(), "picture.jpg", m_quality, jpeg);
  if (status != kEncoded) {
    if (m_handle.get() <= 0 || status == rastrum::kBadArgument)
      SetDetail(IDS_DETAIL_NO_IMAGE);
    else
      SetDetail(IDS_DETAIL_ENCODE_FAILED, {}, std::to_wstring(status));
    return PlainFailure(E_FAIL);
  }
  // The kept segment is made true of the saved picture: its orientation,
  // its size, and a thumbnail of the saved picture (or none) in place of
  // the source's.
  std::vector<uint8_t> segment;
  try {
    segment = exif::WithOrientation(m_exif.exifBlock(), m_orientation);
  } catch (const std::bad_alloc&) {
    SetDetail(IDS_DETAIL_ENCODE_FAILED, {}, std::to_wstring(rastrum::kOutOfMemory));
    return PlainFailure(E_FAIL);
  }
  const int32_t height = DibHeight(m_handle.get());
  exif::FitExifToPicture(segment, static_cast<uint32_t>(DibWidth(m_handle.get())),
                         static_cast<uint32_t>(height < 0 ? -static_cast<int64_t>(height) : height),
                         ThumbnailJpeg(m_handle.get()));
  std::vector<uint8_t> spliced;
  if (!exif::SpliceExifSegment(segment, m_exif.carriedSegments(), jpeg.bytes(), spliced)) {
    SetDetail(IDS_DETAIL_ENCODE_FAILED, {}, std::to_wstring(rastrum::kCorruptData));
    return PlainFailure(E_FAIL);
  }
  file.Replace(std::move(spliced));
  return S_OK;
}

HRESULT VuPicture::EncodeForSave(const std::wstring& target, bool splice, EncodedFile& file,
                                 std::wstring_view named) {
  return splice ? EncodeSpliced(file) : EncodePlainly(target, file, named);
}

// Every save to a file: the whole file is made in memory, then replaces the
// target, which is touched only once the new file is whole.
HRESULT VuPicture::SaveTo(const std::wstring& target, bool splice) {
  if (target.empty()) {
    SetDetail(IDS_DETAIL_NO_PATH);
    return PlainFailure(E_FAIL);
  }
  EncodedFile file;
  const HRESULT encoded = EncodeForSave(target, splice, file);
  if (FAILED(encoded)) return encoded;
  switch (ReplaceFileWith(target.c_str(), file.bytes())) {
    case ReplaceResult::kWritten:
      m_errorDetail.clear();
      return S_OK;
    case ReplaceResult::kReadOnlyTarget:
      SetDetail(IDS_DETAIL_SAVE_IN_THE_WAY, target);
      break;
    case ReplaceResult::kCannotWrite: {
      const std::wstring folder = FolderOf(target);
      const DWORD attributes = folder.empty() ? FILE_ATTRIBUTE_DIRECTORY : GetFileAttributesW(folder.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        SetDetail(IDS_DETAIL_SAVE_NO_FOLDER, target, folder);
      else
        SetDetail(IDS_DETAIL_SAVE_CANNOT_WRITE, target);
      break;
    }
  }
  return PlainFailure(E_FAIL);
}

// Refreshes the EXIF segment and the camera data from the source file; a
// failure there does not stop a save. A picture loaded from bytes has no
// file name, and keeps what the bytes carried.
void VuPicture::RefreshExifFromSource() {
  UniqueBstr name(SysAllocString(m_fileName.get() ? m_fileName.get() : L""));
  static_cast<IVuPicture*>(this)->ReadExif(name.get());
  // The read's own failure text is no concern of the save's caller.
  SetErrorInfo(0, nullptr);
}

STDMETHODIMP VuPicture::SaveFile(BSTR path, LONG keepExif) {
  RefreshExifFromSource();
  return SaveTo(std::wstring(BstrView(path)), !m_exif.exifBlock().empty() && keepExif == 1);
}

STDMETHODIMP VuPicture::SaveAs(BSTR basePath, BSTR extension) {
  if (m_handle.get() < 0) {
    SetDetail(IDS_DETAIL_NO_IMAGE);
    return PlainFailure(E_UNEXPECTED);
  }
  std::wstring target(BstrView(basePath));
  target += BstrView(extension);
  RefreshExifFromSource();
  return SaveTo(target, !m_exif.exifBlock().empty() && NamesJpeg(extension));
}

// Writes the picture back over its own file, in the format its extension
// names, and reports what that save reports.
STDMETHODIMP VuPicture::Save() {
  if (m_handle.get() < 0) {
    SetDetail(IDS_DETAIL_NO_IMAGE);
    return PlainFailure(E_UNEXPECTED);
  }
  wchar_t drive[256], directory[256], base[256], extension[256];
  const wchar_t* name = m_fileName.get() ? m_fileName.get() : L"";
  if (_wsplitpath_s(name, drive, 256, directory, 256, base, 256, extension, 256) != 0) {
    SetDetail(IDS_DETAIL_NO_PATH);
    return PlainFailure(E_UNEXPECTED);
  }
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
    // CF_DIB has no alpha (programs read its fourth bytes as they like): a
    // picture with alpha goes onto the clipboard as it looks on white.
    PictureBlock copy = DibCarriesAlpha(m_handle.get()) ? PictureBlock(ConvertDibTo24(m_handle.get()))
                                                         : PictureBlock::CopyOf(m_handle.get());
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
  // Nor is alpha read from a CF_DIB: whatever another program left in the
  // fourth bytes of a 32-bit one, the picture pasted is opaque.
  if (DibCarriesAlpha(copy.get())) {
    PictureBlock opaque(ConvertDibTo24(copy.get(), dib::AlphaRule::kDrop));
    if (!opaque) return PlainFailure(E_FAIL);
    copy = std::move(opaque);
  }
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
