// The picture's EXIF orientation: read from its file by LoadFile (1 for a
// HEIF file, which its decoder turns upright),
// carried on to modifiers' results (with the quality of lossy saves), and undone by AutoOrient, which turns
// the pixels upright.
#include <windows.h>

#include <cstdio>
#include <span>

#include "base/portable/dib_format.h"
#include "base/resource_guards.h"
#include "com/error_report.h"
#include "core/packed_dib.h"
#include "core/picture_block.h"
#include "core/portable/orientation.h"
#include "core/vu_picture.h"
#include "metadata/portable/exif_orientation.h"
#include "metadata/portable/jpeg_exif.h"

namespace qb {

int OrientationOfFile(const wchar_t* path) {
  if (!path || !*path) return 1;
  UniqueStdFile file(_wfopen(path, L"rb"));
  if (!file) return 1;
  // A reader of its own: the picture's kept segments and camera data are
  // what ReadExif and the saves last read, and stay so.
  exif::JpegExifReader reader;
  reader.SetConsole([](const char*) {});
  exif::ExifInfo info{};
  exif::FileStream stream(file.get());
  reader.Read(stream, info);
  return reader.pendingOrientation();
}

void VuPicture::CarryPictureSettings(int orientation, int quality) {
  m_orientation = orient::Normalised(orientation);
  put_Quality(quality);
}

void CarryPictureSettings(IVuPicture* source, IVuPicture* result) {
  if (!result) return;
  LONG orientation = 1, quality = 90;
  IVuPicture2* from = nullptr;
  if (source && SUCCEEDED(source->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(&from))) && from) {
    if (FAILED(from->get_Orientation(&orientation))) orientation = 1;
    if (FAILED(from->get_Quality(&quality))) quality = 90;
  }
  // CreatePicture makes every result, so it is one of ours.
  VuPicture* made = static_cast<VuPicture*>(static_cast<IVuPicture2*>(result));
  made->CarryPictureSettings(orientation, quality);
  // A source of this module (its vtable is the result's) without a file
  // name was loaded from bytes, or made from such a picture: its metadata
  // has no file to be read from again, so the result takes it over.
  const auto vtable = [](const IVuPicture2* p) { return *reinterpret_cast<void* const*>(p); };
  if (from && vtable(from) == vtable(made)) {
    const VuPicture* picture = static_cast<const VuPicture*>(from);
    BSTR name = nullptr;
    if (SUCCEEDED(from->get_FileName(&name)) && !name) made->CarryMetadataOf(*picture);
    SysFreeString(name);
  }
  if (from) from->Release();
}

void VuPicture::CarryMetadataOf(const VuPicture& source) {
  m_exif.KeepAsOf(source.m_exif);
  m_camera = source.m_camera;
}

STDMETHODIMP VuPicture::get_Orientation(LONG* value) {
  if (!value) return E_POINTER;
  *value = m_orientation;
  return S_OK;
}

// The picture is converted to plain 24-bit rows (every depth, RLE and
// top-down included; a picture with alpha stays 32-bit with it), then each
// pixel is moved to its upright place in a new bottom-up block; the
// resolution turns with the picture.
STDMETHODIMP VuPicture::AutoOrient() {
  if (m_orientation == 1) return S_OK;
  if (m_handle.get() <= 0) return PlainFailure(E_UNEXPECTED);
  const bool alpha = DibCarriesAlpha(m_handle.get());
  const uint16_t bits = alpha ? 32 : 24;
  const PictureBlock plain(alpha ? 0 : ConvertDibTo24(m_handle.get()));
  if (!alpha && !plain) return PlainFailure(E_UNEXPECTED);
  PictureBlock turned;
  int32_t width = 0, height = 0;
  {
    LockedDib source(alpha ? m_handle.get() : plain.get(), dib::DepthFlag(bits));
    if (!source.ok()) return PlainFailure(E_UNEXPECTED);
    const dib::DibLayout& layout = source.layout();
    const bool swap = orient::SwapsAxes(m_orientation);
    width = swap ? layout.height : layout.width;
    height = swap ? layout.width : layout.height;
    const auto size = dib::PackedDibSize(width, height, bits);
    const auto stride = dib::RowStride(bits, width);
    if (!size || !stride) return PlainFailure(E_OUTOFMEMORY);
    turned = PictureBlock(FromHGlobal(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, *size)));
    if (!turned) return PlainFailure(E_OUTOFMEMORY);
    GlobalLockGuard out(ToHGlobal(turned.get()));
    if (!out) return PlainFailure(E_OUTOFMEMORY);
    const int32_t xDensity = dib::LoadI32(source.bytes() + 24);
    const int32_t yDensity = dib::LoadI32(source.bytes() + 28);
    dib::InfoHeaderFields header;
    header.width = width;
    header.height = height;
    header.bitCount = bits;
    header.sizeImage = *stride * static_cast<uint32_t>(height);
    header.xPelsPerMeter = swap ? yDensity : xDensity;
    header.yPelsPerMeter = swap ? xDensity : yDensity;
    dib::WriteInfoHeader(std::span<uint8_t, dib::kInfoHeaderSize>(out.bytes(), dib::kInfoHeaderSize), header);
    const dib::ImageView upright(out.bytes() + dib::kInfoHeaderSize, width, height, *stride, true);
    orient::OrientPixels(source.pixels(), upright, bits / 8, m_orientation);
  }
  m_handle = std::move(turned);
  m_width = width;
  m_height = height;
  m_bitCount = bits;
  m_orientation = 1;
  return S_OK;
}

}  // namespace qb
