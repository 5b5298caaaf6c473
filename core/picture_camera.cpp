// The picture's camera data: read from the head of a JPEG file, handed to
// clients through read-only properties, and any tag of the kept EXIF
// segment by name or number.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "base/resource_guards.h"
#include "base/text.h"
#include "com/error_report.h"
#include "com/resource.h"
#include "core/vu_picture.h"
#include "metadata/portable/exif_tags.h"

namespace qb {
namespace {

// A new BSTR holding an ANSI text, null when it is empty.
HRESULT Widen(const std::string& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const std::wstring wide = FromAnsi(text);
  if (wide.empty()) return S_OK;
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Put(float value, FLOAT* out) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

// Truncated toward zero; a value outside the range of a long gives 0.
HRESULT PutWhole(float value, LONG* out) {
  if (!out) return E_POINTER;
  *out = (value > -2147483648.0f && value < 2147483648.0f) ? static_cast<LONG>(value) : 0;
  return S_OK;
}

// A VARIANT that is cleared when it goes.
class ScopedVariant {
 public:
  ScopedVariant() { VariantInit(&m_v); }
  ~ScopedVariant() { VariantClear(&m_v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &m_v; }
  // Hands the value over to `out`, leaving this one empty.
  void Detach(VARIANT* out) {
    *out = m_v;
    VariantInit(&m_v);
  }

 private:
  VARIANT m_v;
};

// A one-dimensional array of `count` elements of type vt, from 0, or null.
SAFEARRAY* NewArray(VARTYPE vt, std::size_t count) {
  if (count > 0x7FFFFFFF) return nullptr;
  return SafeArrayCreateVector(vt, 0, static_cast<ULONG>(count));
}

// Moves `count` variants from v into the elements of an array of Variants,
// which then owns what they hold.
HRESULT PutArrayOfVariants(SAFEARRAY* array, std::size_t count, VARIANT* v) {
  VARIANT* elements = nullptr;
  HRESULT hr = SafeArrayAccessData(array, reinterpret_cast<void**>(&elements));
  if (FAILED(hr)) return hr;
  for (std::size_t i = 0; i < count; ++i) elements[i] = v[i];
  SafeArrayUnaccessData(array);
  return S_OK;
}

// One number: a whole number as a Long (a Double beyond its range), a real
// as a Double, a rational without a denominator as Null.
void NumberToVariant(const exif::ExifNumber& n, VARIANT* out) {
  VariantInit(out);
  switch (n.kind) {
    case exif::ExifNumber::Kind::kWhole:
      if (n.whole >= INT32_MIN && n.whole <= INT32_MAX) {
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(n.whole);
      } else {
        out->vt = VT_R8;
        out->dblVal = static_cast<double>(n.whole);
      }
      break;
    case exif::ExifNumber::Kind::kReal:
      out->vt = VT_R8;
      out->dblVal = n.real;
      break;
    case exif::ExifNumber::Kind::kUndefined: out->vt = VT_NULL; break;
  }
}

// A tag's value as a script reads it (see the IDL's ExifValue).
HRESULT ValueToVariant(const exif::ExifTagValue& value, VARIANT* out) {
  ScopedVariant v;
  switch (value.kind) {
    case exif::ExifTagValue::Kind::kText: {
      const std::wstring text(value.text.begin(), value.text.end());
      BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
      if (!b) return E_OUTOFMEMORY;
      v.get()->vt = VT_BSTR;
      v.get()->bstrVal = b;
      break;
    }
    case exif::ExifTagValue::Kind::kBytes: {
      // An array of Variants holding Bytes, not a Byte array: Wine's
      // VBScript cannot even take the UBound of a Byte array (the script
      // ends), and JScript's VBArray reads only arrays of Variants.
      SAFEARRAY* array = NewArray(VT_VARIANT, value.bytes.size());
      if (!array) return E_OUTOFMEMORY;
      v.get()->vt = VT_ARRAY | VT_VARIANT;
      v.get()->parray = array;
      std::vector<VARIANT> bytes(value.bytes.size());
      for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i].vt = VT_UI1;
        bytes[i].bVal = value.bytes[i];
      }
      if (FAILED(PutArrayOfVariants(array, bytes.size(), bytes.data()))) return E_OUTOFMEMORY;
      break;
    }
    case exif::ExifTagValue::Kind::kNumbers: {
      if (value.numbers.size() == 1) {
        NumberToVariant(value.numbers[0], v.get());
        break;
      }
      SAFEARRAY* array = NewArray(VT_VARIANT, value.numbers.size());
      if (!array) return E_OUTOFMEMORY;
      v.get()->vt = VT_ARRAY | VT_VARIANT;
      v.get()->parray = array;
      std::vector<VARIANT> numbers(value.numbers.size());
      for (std::size_t i = 0; i < numbers.size(); ++i) NumberToVariant(value.numbers[i], &numbers[i]);
      if (FAILED(PutArrayOfVariants(array, numbers.size(), numbers.data()))) return E_OUTOFMEMORY;
      break;
    }
  }
  v.Detach(out);
  return S_OK;
}

// The tag a script names: a text (a name, or a number written out) or a
// whole number 0..65535 of any numeric type, also by reference. nullopt
// for a name no tag has; E_INVALIDARG for anything else.
HRESULT TagOfArgument(const VARIANT& tag, std::optional<std::uint16_t>& number, std::string& name) {
  ScopedVariant plain;
  if (FAILED(VariantCopyInd(plain.get(), const_cast<VARIANT*>(&tag)))) return E_INVALIDARG;
  VARIANT* v = plain.get();
  if (v->vt == VT_BSTR) {
    const std::wstring_view text = BstrView(v->bstrVal);
    // Names and numbers are ASCII; any other text names no tag.
    for (wchar_t c : text) {
      if (c == 0 || c > 0x7E) {
        name.clear();
        return S_OK;
      }
      name += static_cast<char>(c);
    }
    return S_OK;
  }
  // VBScript's &H8827 is an Integer, -30681: a 16-bit number is a tag
  // number read as unsigned.
  if (v->vt == VT_I2) {
    number = static_cast<std::uint16_t>(v->iVal);
    return S_OK;
  }
  switch (v->vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_DECIMAL: case VT_CY:
      break;
    default:  // Empty, Null, Boolean, dates, objects, arrays: no tag
      return E_INVALIDARG;
  }
  if (FAILED(VariantChangeType(v, v, 0, VT_R8))) return E_INVALIDARG;
  const double d = v->dblVal;
  if (!(d >= 0 && d <= 0xFFFF) || std::floor(d) != d) return E_INVALIDARG;
  number = static_cast<std::uint16_t>(d);
  return S_OK;
}

}  // namespace

// Walks the file's segments up to its image data, keeps its EXIF segment
// and takes its camera data over when the EXIF block is sound.
STDMETHODIMP VuPicture::ReadExif(BSTR path) {
  const std::wstring wide(BstrView(path));
  UniqueStdFile file(wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb"));
  if (!file)
    return ReportError(CLSID_VuPicture, MAKEINTRESOURCEW(IDS_FILE_DAMAGED), IID_IVuPicture,
                       DISP_E_EXCEPTION);
  exif::ExifInfo info{};
  exif::FileStream stream(file.get());
  const exif::JpegExifReader::WalkResult walk = m_exif.Read(stream, info);
  if (walk != exif::JpegExifReader::WalkResult::kReachedImage) return S_FALSE;
  if (info.valid) exif::ApplyCameraData(info, m_camera);
  return S_OK;
}

STDMETHODIMP VuPicture::get_Comment(BSTR* value) { return Widen(m_camera.comment, value); }
STDMETHODIMP VuPicture::get_DateTime(BSTR* value) { return Widen(m_camera.dateTime, value); }
STDMETHODIMP VuPicture::get_CameraMake(BSTR* value) { return Widen(m_camera.cameraMake, value); }
STDMETHODIMP VuPicture::get_CameraModel(BSTR* value) { return Widen(m_camera.cameraModel, value); }
STDMETHODIMP VuPicture::get_FlashUsed(BSTR* value) { return Widen(m_camera.flashUsed, value); }
// Nothing ever fills the spare text.
STDMETHODIMP VuPicture::get_SpareText(BSTR* value) { return Widen(std::string(), value); }
STDMETHODIMP VuPicture::get_ExifVersion(BSTR* value) { return Widen(m_camera.exifVersion, value); }
STDMETHODIMP VuPicture::get_ExposureTime(FLOAT* value) { return Put(m_camera.exposureTime, value); }
STDMETHODIMP VuPicture::get_FocalLength(LONG* value) { return PutWhole(m_camera.focalLength, value); }
STDMETHODIMP VuPicture::get_XResolution(FLOAT* value) { return Put(m_camera.xResolution, value); }
STDMETHODIMP VuPicture::get_YResolution(FLOAT* value) { return Put(m_camera.yResolution, value); }
STDMETHODIMP VuPicture::get_BrightnessValue(FLOAT* value) { return Put(m_camera.brightness, value); }
STDMETHODIMP VuPicture::get_Aperture(LONG* value) { return PutWhole(m_camera.aperture, value); }

STDMETHODIMP VuPicture::ExifValue(VARIANT tag, VARIANT* value) {
  if (!value) return PlainFailure(E_POINTER);
  std::optional<std::uint16_t> number;
  std::string name;
  if (FAILED(TagOfArgument(tag, number, name))) return PlainFailure(E_INVALIDARG);
  const std::vector<std::uint8_t>& segment = m_exif.exifBlock();
  const std::optional<exif::ExifTagValue> found =
      number ? exif::FindExifValue(segment, *number) : exif::FindExifValue(segment, name);
  if (!found) {
    VariantInit(value);
    return S_OK;
  }
  const HRESULT hr = ValueToVariant(*found, value);
  return FAILED(hr) ? PlainFailure(hr) : S_OK;
}

STDMETHODIMP VuPicture::ExifTags(VARIANT* names) {
  if (!names) return PlainFailure(E_POINTER);
  const std::vector<std::string> found = exif::ExifTagNames(m_exif.exifBlock());
  SAFEARRAY* array = NewArray(VT_VARIANT, found.size());
  if (!array) return PlainFailure(E_OUTOFMEMORY);
  ScopedVariant result;
  result.get()->vt = VT_ARRAY | VT_VARIANT;
  result.get()->parray = array;
  std::vector<VARIANT> texts(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    VariantInit(&texts[i]);
    const std::wstring wide(found[i].begin(), found[i].end());  // names are ASCII
    texts[i].bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    texts[i].vt = texts[i].bstrVal ? VT_BSTR : VT_EMPTY;
  }
  const bool whole = std::all_of(texts.begin(), texts.end(), [](const VARIANT& t) { return t.vt == VT_BSTR; });
  if (!whole || FAILED(PutArrayOfVariants(array, texts.size(), texts.data()))) {
    for (VARIANT& t : texts) VariantClear(&t);
    return PlainFailure(E_OUTOFMEMORY);
  }
  result.Detach(names);
  return S_OK;
}

}  // namespace qb
