// A photograph held in memory as a packed DIB, with its file name and the
// camera data of its JPEG source.
//
// The picture owns its block (m_handle) and releases it through the
// imaging library (PictureBlock). get_Handle lends the block without copying; whoever
// changes pixels copies it first. AttachImage takes ownership of the block
// it is given. Width, height and bit count are plain values set from the
// header by LoadFile and AttachImage, and otherwise only by their setters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/resource_guards.h"
#include "com/com_object.h"
#include "core/picture_block.h"
#include "metadata/portable/jpeg_exif.h"
#include "quillbox.h"

namespace qb {

class EncodedFile;

// Error information is given for the picture's interface in both its
// versions.
class PictureErrorInfo : public ISupportErrorInfo {
 public:
  using Interface = ISupportErrorInfo;
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IID_IVuPicture2 || riid == IID_IVuPicture ? S_OK : S_FALSE;
  }
};

// IVuPicture2 is the primary interface: IDispatch serves its type
// information, so late-bound callers see every member, and a client asking
// for IVuPicture gets the same vtable, whose first slots are IVuPicture's.
class VuPicture final : public ComObject<IVuPicture2, PictureErrorInfo> {
 public:
  using ComObject::ComObject;
  ~VuPicture() override;

  STDMETHODIMP get_BitCount(LONG* value) override;
  STDMETHODIMP put_BitCount(LONG value) override;
  STDMETHODIMP get_Handle(LONG* value) override;
  STDMETHODIMP put_Handle(LONG value) override;
  STDMETHODIMP get_Height(LONG* value) override;
  STDMETHODIMP put_Height(LONG value) override;
  STDMETHODIMP get_Width(LONG* value) override;
  STDMETHODIMP put_Width(LONG value) override;
  STDMETHODIMP LoadFile(BSTR path) override;
  STDMETHODIMP get_FileName(BSTR* value) override;
  STDMETHODIMP put_FileName(BSTR value) override;
  STDMETHODIMP AttachImage(LONG handle) override;
  STDMETHODIMP CopyToClipboard() override;
  STDMETHODIMP PasteFromClipboard() override;
  STDMETHODIMP SaveFile(BSTR path, LONG keepExif) override;
  STDMETHODIMP get_Comment(BSTR* value) override;
  STDMETHODIMP get_DateTime(BSTR* value) override;
  STDMETHODIMP get_CameraMake(BSTR* value) override;
  STDMETHODIMP get_CameraModel(BSTR* value) override;
  STDMETHODIMP get_FlashUsed(BSTR* value) override;
  STDMETHODIMP get_SpareText(BSTR* value) override;
  STDMETHODIMP get_ExifVersion(BSTR* value) override;
  STDMETHODIMP get_ExposureTime(FLOAT* value) override;
  STDMETHODIMP SetFile(BSTR path) override;
  STDMETHODIMP DrawFile(LONG hdc) override;
  STDMETHODIMP CreateThumbnail(LONG height, LONG width, LONG* bitmap) override;
  STDMETHODIMP get_Bitmap(LONG* value) override;
  STDMETHODIMP SaveAs(BSTR basePath, BSTR extension) override;
  STDMETHODIMP ReadExif(BSTR path) override;
  STDMETHODIMP get_FocalLength(LONG* value) override;
  STDMETHODIMP get_XResolution(FLOAT* value) override;
  STDMETHODIMP get_YResolution(FLOAT* value) override;
  STDMETHODIMP get_BrightnessValue(FLOAT* value) override;
  STDMETHODIMP get_Aperture(LONG* value) override;
  STDMETHODIMP Save() override;
  STDMETHODIMP get_HasImage(LONG* value) override;
  STDMETHODIMP get_Orientation(LONG* value) override;
  STDMETHODIMP AutoOrient() override;
  STDMETHODIMP ExifValue(VARIANT tag, VARIANT* value) override;
  STDMETHODIMP ExifTags(VARIANT* names) override;
  STDMETHODIMP LoadBytes(VARIANT data) override;
  STDMETHODIMP SaveBytes(BSTR extension, VARIANT* data) override;
  STDMETHODIMP get_Quality(LONG* value) override;
  STDMETHODIMP put_Quality(LONG value) override;
  STDMETHODIMP get_ErrorDetail(BSTR* value) override;

  // Sets what a modifier's result carries on from its source: the
  // orientation (1..8; anything else is 1) and the quality of lossy saves
  // (clamped to 1..100).
  void CarryPictureSettings(int orientation, int quality);
  // Takes over the kept metadata segments and camera data of `source`, a
  // picture loaded from bytes: its result has no file to read them from.
  void CarryMetadataOf(const VuPicture& source);
  // Takes a block the module made (a modifier's result) as the picture of a
  // fresh picture object, as AttachImage of its handed-over handle would:
  // width, height and bit count from its header, read under one lock.
  void Adopt(PictureBlock block);
  // The same with the size given rather than read (as put_Handle and the
  // setters would set it); the bit count only when there is a block.
  void Adopt(PictureBlock block, int32_t width, int32_t height, int32_t bitCount);

 protected:
  bool AlsoPrimary(REFIID riid) const override { return riid == IID_IVuPicture; }

 private:
  HRESULT LoadFailed();
  // Records the English sentence of a failure (the string-table text `id`
  // with %1 and %2 filled in) for ErrorDetail.
  void SetDetail(UINT id, std::wstring_view first = {}, std::wstring_view second = {});
  // Takes a block the library decoded as the held picture: the library's
  // block itself, handed on as the modifiers hand on theirs (a copy would
  // cost a pass over the picture and its fresh memory on every load).
  void TakeLoaded(PictureBlock loaded);
  // The bytes of a save to `target` (its extension names the format):
  // plain, or the library's JPEG with the kept EXIF segment and the
  // source's other metadata spliced in.
  // A failure's sentence names `named` when given, otherwise the target.
  HRESULT EncodeForSave(const std::wstring& target, bool splice, EncodedFile& file,
                        std::wstring_view named = {});
  HRESULT EncodePlainly(const std::wstring& target, EncodedFile& file, std::wstring_view named);
  HRESULT EncodeSpliced(EncodedFile& file);
  HRESULT SaveTo(const std::wstring& target, bool splice);
  void RefreshExifFromSource();

  int32_t m_bitCount = 0;
  int32_t m_width = 0;
  int32_t m_height = 0;
  PictureBlock m_handle;  // the held image; 0 = none, negative = invalid
  UniqueBstr m_fileName;  // null means empty
  UniqueGdi<HBITMAP> m_bitmap;
  // The JPEG reader's state (kept segments, the last EXIF segment met, the
  // last failure text) and the camera data it filled.
  exif::JpegExifReader m_exif;
  exif::CameraData m_camera;
  // The EXIF orientation of the file LoadFile read (1..8), 1 otherwise and
  // after AutoOrient.
  int m_orientation = 1;
  // The quality of every lossy save, 1..100.
  int m_quality = 90;
  // Why the last load or save failed; empty after one succeeded.
  std::wstring m_errorDetail;
};

// Makes a new picture for a modifier's result, without a reference (the
// caller adds the first). E_OUTOFMEMORY and null when it cannot be made.
HRESULT CreatePicture(IVuPicture** picture);

// Gives `result`, made by CreatePicture, the Orientation and Quality of
// `source`, read through IVuPicture2 (1 and 90 when the source is null or
// has no IVuPicture2).
void CarryPictureSettings(IVuPicture* source, IVuPicture* result);

// The EXIF orientation of the JPEG file at path (1..8), 1 for any other
// file, a file without one, or a file that cannot be read.
int OrientationOfFile(const wchar_t* path);

}  // namespace qb
