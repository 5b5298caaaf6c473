// The picture's camera data through its properties: empty on a new
// picture, read from a real camera file, kept across reads and saves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

std::wstring Text(IVuPicture* p, HRESULT (STDMETHODCALLTYPE IVuPicture::*get)(BSTR*)) {
  BSTR value = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(S_OK, (p->*get)(&value));
  std::wstring out = value ? value : L"";
  SysFreeString(value);
  return out;
}

std::wstring Sample(const wchar_t* name) {
  const char* dir = std::getenv("QB_SAMPLES_WIN");
  if (!dir) return {};
  std::wstring path(dir, dir + strlen(dir));
  path += L"\\";
  path += name;
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

HRESULT ReadExif(IVuPicture* p, const std::wstring& path) {
  BSTR b = SysAllocString(path.c_str());
  HRESULT hr = p->ReadExif(b);
  SysFreeString(b);
  return hr;
}

}  // namespace

TEST(CameraData, ANewPictureHasNone) {
  ComPtr<IVuPicture> p = NewPicture();
  for (auto get : {&IVuPicture::get_Comment, &IVuPicture::get_DateTime, &IVuPicture::get_CameraMake,
                   &IVuPicture::get_CameraModel, &IVuPicture::get_FlashUsed, &IVuPicture::get_SpareText,
                   &IVuPicture::get_ExifVersion})
    EXPECT_EQ(L"", Text(p.Get(), get));
  FLOAT f = 1;
  LONG l = kMarker;
  EXPECT_EQ(S_OK, p->get_ExposureTime(&f));
  EXPECT_EQ(0.0f, f);
  EXPECT_EQ(S_OK, p->get_BrightnessValue(&f));
  EXPECT_EQ(0.0f, f);
  EXPECT_EQ(S_OK, p->get_XResolution(&f));
  EXPECT_EQ(0.0f, f);
  EXPECT_EQ(S_OK, p->get_FocalLength(&l));
  EXPECT_EQ(0, l);
  EXPECT_EQ(S_OK, p->get_Aperture(&l));
  EXPECT_EQ(0, l);
}

TEST(CameraData, ReadFromARealCameraFile) {
  const std::wstring photo = Sample(L"sample1.jpg");
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ComPtr<IVuPicture> p = NewPicture();
  ASSERT_EQ(S_OK, ReadExif(p.Get(), photo));
  // The values an independent reader reports for this Nikon D2H photo.
  EXPECT_EQ(L"NIKON CORPORATION", Text(p.Get(), &IVuPicture::get_CameraMake));
  EXPECT_EQ(L"NIKON D2H", Text(p.Get(), &IVuPicture::get_CameraModel));
  EXPECT_EQ(L"2003:11:23 18:07:37", Text(p.Get(), &IVuPicture::get_DateTime));
  EXPECT_EQ(L"0220", Text(p.Get(), &IVuPicture::get_ExifVersion));
  EXPECT_EQ(L"No", Text(p.Get(), &IVuPicture::get_FlashUsed));
  // Its UserComment has an undefined (all-zero) character-code prefix, so
  // the text copied from the first value byte is empty.
  EXPECT_EQ(L"", Text(p.Get(), &IVuPicture::get_Comment));
  EXPECT_EQ(L"", Text(p.Get(), &IVuPicture::get_SpareText));
  FLOAT f = 0;
  LONG l = 0;
  p->get_ExposureTime(&f);
  EXPECT_EQ(125.0f, f) << "1/125 s gives its denominator";
  p->get_Aperture(&l);
  EXPECT_EQ(4, l) << "f/4.5 truncated";
  p->get_FocalLength(&l);
  EXPECT_EQ(23, l);
  // The thumbnail's directory comes after the main one, and its 72 dpi is
  // the last XResolution met.
  p->get_XResolution(&f);
  EXPECT_EQ(72.0f, f);

  // Freeing a returned string leaves the picture's own.
  EXPECT_EQ(L"NIKON CORPORATION", Text(p.Get(), &IVuPicture::get_CameraMake));

  // A second file without EXIF keeps the first file's data.
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring plain = std::wstring(temp) + L"quillbox-no-exif.jpg";
  ComPtr<IVuPicture> writer = NewPicture();
  writer->AttachImage(PhotoLike(8, 8));
  BSTR target = SysAllocString(plain.c_str());
  ASSERT_EQ(S_OK, writer->SaveFile(target, 0));
  SysFreeString(target);
  EXPECT_EQ(S_OK, ReadExif(p.Get(), plain));
  EXPECT_EQ(L"NIKON CORPORATION", Text(p.Get(), &IVuPicture::get_CameraMake));
  p->get_ExposureTime(&f);
  EXPECT_EQ(125.0f, f);
  DeleteFileW(plain.c_str());
}

TEST(CameraData, AModifiersResultHasNoneUntilItIsSaved) {
  const std::wstring photo = Sample(L"sample1.jpg");
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ComPtr<IVuPicture> source = NewPicture();
  BSTR path = SysAllocString(photo.c_str());
  ASSERT_EQ(S_OK, source->LoadFile(path));
  SysFreeString(path);
  EXPECT_EQ(L"", Text(source.Get(), &IVuPicture::get_CameraMake)) << "loading reads no camera data";
  ComPtr<IBright> bright;
  CoCreateInstance(CLSID_Bright, nullptr, CLSCTX_INPROC_SERVER, IID_IBright,
                   reinterpret_cast<void**>(bright.GetAddressOf()));
  ComPtr<IVuPicture> result;
  ASSERT_EQ(S_OK, bright->Apply(source.Get(), result.GetAddressOf()));
  EXPECT_EQ(L"", Text(result.Get(), &IVuPicture::get_CameraModel));
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  BSTR base = SysAllocString((std::wstring(temp) + L"quillbox-result").c_str());
  BSTR ext = SysAllocString(L".png");
  ASSERT_EQ(S_OK, result->SaveAs(base, ext));
  EXPECT_EQ(L"NIKON D2H", Text(result.Get(), &IVuPicture::get_CameraModel)) << "a save reads its source";
  DeleteFileW((std::wstring(temp) + L"quillbox-result.png").c_str());
  SysFreeString(base);
  SysFreeString(ext);
}

TEST(CameraData, UnreadableFilesRaiseTheirErrorAndChangeNothing) {
  ComPtr<IVuPicture> p = NewPicture();
  SetErrorInfo(0, nullptr);
  BSTR missing = SysAllocString(L"Z:\\no\\such\\photo.jpg");
  EXPECT_EQ(DISP_E_EXCEPTION, p->ReadExif(missing));
  SysFreeString(missing);
  ComPtr<IErrorInfo> info;
  ASSERT_EQ(S_OK, GetErrorInfo(0, info.GetAddressOf()));
  BSTR text = nullptr;
  info->GetDescription(&text);
  EXPECT_STREQ(L"\u6587\u4EF6\u635F\u574F\uFF01", text);
  SysFreeString(text);
  EXPECT_EQ(L"", Text(p.Get(), &IVuPicture::get_CameraMake));
}

// Every real camera file, damaged ones included, and files built to
// mislead the reader: each read ends with S_OK or S_FALSE, never a crash.
TEST(CameraData, DamagedAndHostileFilesEndWithoutCrashing) {
  const std::wstring photo = Sample(L"sample1.jpg");
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  const std::wstring folder = photo.substr(0, photo.size() - wcslen(L"sample1.jpg"));
  int files = 0;
  for (const wchar_t* sub : {L"samples\\", L"corrupt\\", L""}) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + sub + L"*.jpg").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      ComPtr<IVuPicture> p = NewPicture();
      const HRESULT hr = ReadExif(p.Get(), folder + sub + data.cFileName);
      EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
      ++files;
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  EXPECT_GT(files, 50);

  // An EXIF block whose first directory's next-directory link points back
  // at itself, and one whose entry count runs past the block.
  const unsigned char selfLink[] = {
      0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
      1, 0, 0x0F, 0x01, 2, 0, 2, 0, 0, 0, 'A', 0, 0, 0, 8, 0, 0, 0, 0xFF, 0xDA, 0x00, 0x02};
  const unsigned char longCount[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x12, 'E', 'x', 'i', 'f', 0, 0,
                                     'M', 'M', 0, 42, 0, 0, 0, 8, 0xFF, 0xFF, 0xFF, 0xDA, 0x00, 0x02};
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  struct Case {
    std::basic_string<unsigned char> bytes;
    const wchar_t* make;  // the self-linked block is sound; the other is refused whole
  } cases[] = {{std::basic_string<unsigned char>(selfLink, sizeof(selfLink)), L"A"},
               {std::basic_string<unsigned char>(longCount, sizeof(longCount)), L""}};
  for (const Case& c : cases) {
    const auto& bytes = c.bytes;
    const std::wstring path = std::wstring(temp) + L"quillbox-hostile.jpg";
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(f);
    ComPtr<IVuPicture> p = NewPicture();
    EXPECT_EQ(S_OK, ReadExif(p.Get(), path)) << "the walk reaches the scan whatever the block holds";
    EXPECT_EQ(c.make, Text(p.Get(), &IVuPicture::get_CameraMake));
    DeleteFileW(path.c_str());
  }
}

// Any tag through IVuPicture2's vtable: by name (exiftool's or the
// standard's), by number of any numeric type, by reference as VBScript
// passes it; Empty when absent; a bad argument type fails and writes
// nothing. Values are exiftool's for this photo.
TEST(CameraData, ExifValueAndExifTagsThroughTheVtable) {
  const std::wstring photo = Sample(L"sample1.jpg");
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ComPtr<IVuPicture2> p;
  ASSERT_EQ(S_OK, NewPicture().As(&p));
  const auto value = [&](const VARIANT& tag, VARIANT& out) {
    VariantInit(&out);
    return p->ExifValue(tag, &out);
  };
  const auto text = [](const wchar_t* s) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(s);
    return v;
  };
  VARIANT out, names;
  VARIANT make = text(L"Make");
  EXPECT_EQ(S_OK, value(make, out));
  EXPECT_EQ(VT_EMPTY, out.vt) << "nothing read yet";
  ASSERT_EQ(S_OK, p->ExifTags(&names));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, names.vt);
  LONG upper = kMarker;
  SafeArrayGetUBound(names.parray, 1, &upper);
  EXPECT_EQ(-1, upper);
  VariantClear(&names);

  ASSERT_EQ(S_OK, ReadExif(p.Get(), photo));
  VARIANT byRefVariant, inner = text(L"Model"), byRefText;
  byRefVariant.vt = VT_BYREF | VT_VARIANT;
  byRefVariant.pvarVal = &inner;
  BSTR software = SysAllocString(L"software");
  byRefText.vt = VT_BYREF | VT_BSTR;
  byRefText.pbstrVal = &software;
  VARIANT number;
  number.vt = VT_I4;
  number.lVal = 0x829A;  // ExposureTime
  VARIANT shortNumber;
  shortNumber.vt = VT_I2;
  shortNumber.iVal = 0x0112;  // Orientation
  VARIANT hexInteger;
  hexInteger.vt = VT_I2;
  hexInteger.iVal = static_cast<SHORT>(0x829D);  // FNumber as VBScript's &H829D, an Integer below 0
  VARIANT realNumber;
  realNumber.vt = VT_R8;
  realNumber.dblVal = 0x920A;  // FocalLength, as JScript may pass it
  VARIANT hexText = text(L"0x9000"), gps = text(L"GPSLatitude"), absent = text(L"ISOSpeedRatings"),
          unknown = text(L"NoSuchTag"), comment = text(L"UserComment");
  struct Case {
    const char* what;
    const VARIANT& tag;
    VARTYPE vt;
    double number;
    const wchar_t* text;
  } cases[] = {
      {"name", make, VT_BSTR, 0, L"NIKON CORPORATION"},
      {"by reference", byRefVariant, VT_BSTR, 0, L"NIKON D2H"},
      {"text by reference, any case", byRefText, VT_BSTR, 0, L"Opanda PowerExif"},
      {"Long number", number, VT_R8, 0.008, nullptr},
      {"Integer number", shortNumber, VT_I4, 1, nullptr},
      {"VBScript hex Integer", hexInteger, VT_R8, 4.5, nullptr},
      {"Double number", realNumber, VT_R8, 23.33, nullptr},
      {"hex text", hexText, VT_BSTR, 0, L"0220"},
      {"comment without its prefix", comment, VT_BSTR, 0, L"taken at basilica of chinese"},
      {"signed degrees", gps, VT_R8, 39.9155555555556, nullptr},
      {"absent", absent, VT_EMPTY, 0, nullptr},
      {"unknown name", unknown, VT_EMPTY, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(S_OK, value(c.tag, out));
    EXPECT_EQ(c.vt, out.vt);
    if (c.vt == VT_BSTR && out.vt == VT_BSTR) {
      EXPECT_STREQ(c.text, out.bstrVal);
    } else if (c.vt == VT_R8 && out.vt == VT_R8) {
      EXPECT_NEAR(c.number, out.dblVal, 1e-12);
    } else if (c.vt == VT_I4 && out.vt == VT_I4) {
      EXPECT_EQ(c.number, out.lVal);
    }
    VariantClear(&out);
  }

  // Several values: an array of Variants; binary data: Bytes in one.
  VARIANT version = text(L"GPSVersionID"), cfa = text(L"CFAPattern");
  ASSERT_EQ(S_OK, value(version, out));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, out.vt);
  VARIANT* elements = nullptr;
  ASSERT_EQ(S_OK, SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&elements)));
  EXPECT_EQ(4u, out.parray->rgsabound[0].cElements);
  EXPECT_TRUE(elements[0].vt == VT_I4 && elements[0].lVal == 2 && elements[1].lVal == 2 && elements[2].lVal == 0);
  SafeArrayUnaccessData(out.parray);
  VariantClear(&out);
  ASSERT_EQ(S_OK, value(cfa, out));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, out.vt);
  ASSERT_EQ(S_OK, SafeArrayAccessData(out.parray, reinterpret_cast<void**>(&elements)));
  EXPECT_EQ(8u, out.parray->rgsabound[0].cElements);
  EXPECT_EQ(VT_UI1, elements[0].vt);
  SafeArrayUnaccessData(out.parray);
  VariantClear(&out);

  // Arguments that name no tag fail and leave the out value alone.
  ComPtr<IDispatch> self;
  p.As(&self);
  VARIANT empty, null, flag, object, negative, tooLarge, fraction, array;
  VariantInit(&empty);
  null.vt = VT_NULL;
  flag.vt = VT_BOOL;
  flag.boolVal = VARIANT_TRUE;
  object.vt = VT_DISPATCH;
  object.pdispVal = self.Get();
  negative.vt = VT_I4;
  negative.lVal = -1;
  tooLarge.vt = VT_I4;
  tooLarge.lVal = 0x10000;
  fraction.vt = VT_R8;
  fraction.dblVal = 271.5;
  array.vt = VT_ARRAY | VT_VARIANT;
  array.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  for (const VARIANT* bad : {&empty, &null, &flag, &object, &negative, &tooLarge, &fraction, &array}) {
    out.vt = VT_I4;
    out.lVal = kMarker;
    EXPECT_EQ(E_INVALIDARG, p->ExifValue(*bad, &out)) << bad->vt;
    EXPECT_TRUE(out.vt == VT_I4 && out.lVal == kMarker);
  }
  EXPECT_EQ(E_POINTER, p->ExifValue(make, nullptr));
  EXPECT_EQ(E_POINTER, p->ExifTags(nullptr));

  // Every name ExifTags gives has a value; IFD0's come first, GPS last.
  ASSERT_EQ(S_OK, p->ExifTags(&names));
  ASSERT_EQ(VT_ARRAY | VT_VARIANT, names.vt);
  ASSERT_EQ(S_OK, SafeArrayAccessData(names.parray, reinterpret_cast<void**>(&elements)));
  const ULONG count = names.parray->rgsabound[0].cElements;
  ASSERT_GE(count, 50u);
  EXPECT_STREQ(L"Make", elements[0].bstrVal);
  EXPECT_STREQ(L"GPSDateStamp", elements[count - 1].bstrVal);
  for (ULONG i = 0; i < count; ++i) {
    ASSERT_EQ(VT_BSTR, elements[i].vt);
    ASSERT_EQ(S_OK, value(elements[i], out));
    EXPECT_NE(VT_EMPTY, out.vt) << elements[i].bstrVal;
    VariantClear(&out);
  }
  SafeArrayUnaccessData(names.parray);
  VariantClear(&names);

  // The fixed properties keep their values.
  FLOAT f = 0;
  p->get_ExposureTime(&f);
  EXPECT_EQ(125.0f, f);
  for (VARIANT* v : {&make, &inner, &hexText, &gps, &absent, &unknown, &comment, &version, &cfa, &array})
    VariantClear(v);
  SysFreeString(software);
}
