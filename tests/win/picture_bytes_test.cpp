// The picture as bytes (LoadBytes, SaveBytes), the quality of its lossy
// saves, and ErrorDetail: through the vtable, with real files and arrays
// made as scripts and ADO make them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

const wchar_t kLoadFailed[] = L"\u6253\u5F00\u56FE\u50CF\u6587\u4EF6\u5931\u8D25\uFF01";

std::wstring SamplePhoto() {
  const char* dir = std::getenv("QB_SAMPLES_WIN");
  if (!dir) return {};
  std::wstring path(dir, dir + strlen(dir));
  path += L"\\sample1.jpg";
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES ? std::wstring() : path;
}

ComPtr<IVuPicture2> NewPicture2() { return Make<IVuPicture2>(CLSID_VuPicture); }

// A Variant owning a one-dimensional array of bytes.
VARIANT ByteArray(const std::vector<uint8_t>& bytes) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  if (!bytes.empty() && SUCCEEDED(SafeArrayAccessData(v.parray, &data))) {
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(v.parray);
  }
  return v;
}

std::vector<uint8_t> BytesOf(const VARIANT& v) {
  if (v.vt != (VT_ARRAY | VT_UI1) || SafeArrayGetDim(v.parray) != 1) return {};
  LONG lo = 0, hi = -1;
  SafeArrayGetLBound(v.parray, 1, &lo);
  SafeArrayGetUBound(v.parray, 1, &hi);
  std::vector<uint8_t> out(static_cast<size_t>(hi - lo + 1));
  void* data = nullptr;
  if (!out.empty() && SUCCEEDED(SafeArrayAccessData(v.parray, &data))) {
    std::memcpy(out.data(), data, out.size());
    SafeArrayUnaccessData(v.parray);
  }
  return out;
}

std::vector<uint8_t> Saved(IVuPicture2* p, const wchar_t* extension) {
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(S_OK, p->SaveBytes(Bstr(extension), &v)) << extension;
  std::vector<uint8_t> bytes = BytesOf(v);
  VariantClear(&v);
  return bytes;
}

std::wstring Detail(IVuPicture2* p) {
  BSTR text = nullptr;
  EXPECT_EQ(S_OK, p->get_ErrorDetail(&text));
  std::wstring detail(text ? text : L"");
  SysFreeString(text);
  return detail;
}

std::wstring ErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) != S_OK) return L"<none>";
  BSTR text = nullptr;
  info->GetDescription(&text);
  std::wstring description(text ? text : L"");
  SysFreeString(text);
  return description;
}

// The quantisation of the first table (DQT) of a JPEG, in file order.
std::vector<int> FirstQuantTable(const std::vector<uint8_t>& jpeg) {
  for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF;) {
    const size_t length = (jpeg[at + 2] << 8) | jpeg[at + 3];
    if (jpeg[at + 1] == 0xDB && at + 5 + 64 <= jpeg.size()) return std::vector<int>(&jpeg[at + 5], &jpeg[at + 5 + 64]);
    at += 2 + length;
  }
  return {};
}

}  // namespace

// Every form a script, ADO or a database field hands the array in; the
// camera data, metadata and orientation come from the bytes; the bytes out
// are exactly what SaveAs writes, for a picture loaded from a file and for
// one loaded from bytes.
TEST(PictureBytes, LoadBytesTakesEveryFormAndSaveBytesEqualsSaveAs) {
  const std::wstring photo = SamplePhoto();
  if (photo.empty()) GTEST_SKIP() << "QB_SAMPLES_WIN not set";
  ScratchFolder scratch(L"quillbox-bytes-");
  const std::vector<uint8_t> file = ReadFileBytes(photo);
  ASSERT_FALSE(file.empty());

  VARIANT direct = ByteArray(file);
  VARIANT byVariant;
  byVariant.vt = VT_BYREF | VT_VARIANT;
  byVariant.pvarVal = &direct;
  VARIANT byArray;
  byArray.vt = VT_BYREF | VT_ARRAY | VT_UI1;
  byArray.pparray = &direct.parray;
  for (const VARIANT* given : {&direct, &byVariant, &byArray}) {
    SCOPED_TRACE(given->vt);
    ComPtr<IVuPicture2> p = NewPicture2();
    ASSERT_EQ(S_OK, p->put_FileName(Bstr(L"earlier.jpg")));
    ASSERT_EQ(S_OK, p->LoadBytes(*given));
    LONG w = 0, h = 0;
    p->get_Width(&w);
    p->get_Height(&h);
    EXPECT_EQ(500, w);
    EXPECT_EQ(375, h);
    BSTR name = reinterpret_cast<BSTR>(1), make = nullptr;
    EXPECT_EQ(S_OK, p->get_FileName(&name));
    EXPECT_EQ(nullptr, name) << "no file name";
    EXPECT_EQ(S_OK, p->get_CameraMake(&make));
    EXPECT_STREQ(L"NIKON CORPORATION", make) << "camera data read from the bytes";
    SysFreeString(make);
    EXPECT_EQ(L"", Detail(p.Get()));
  }
  EXPECT_EQ(file, BytesOf(direct)) << "the caller's array is left as it was";

  // From a file and from bytes, the bytes out equal the file SaveAs writes,
  // camera data kept.
  ComPtr<IVuPicture2> fromFile = NewPicture2();
  ASSERT_EQ(S_OK, fromFile->LoadFile(Bstr(photo)));
  ComPtr<IVuPicture2> fromBytes = NewPicture2();
  ASSERT_EQ(S_OK, fromBytes->LoadBytes(direct));
  VariantClear(&direct);
  for (IVuPicture2* p : {fromFile.Get(), fromBytes.Get()}) {
    for (const wchar_t* ext : {L".jpg", L".png", L".bmp"}) {
      SCOPED_TRACE(ext);
      const std::vector<uint8_t> bytes = Saved(p, ext);
      ASSERT_EQ(S_OK, p->SaveAs(Bstr(scratch.Path(L"saved")), Bstr(ext)));
      EXPECT_EQ(scratch.Read(std::wstring(L"saved") + ext), bytes);
    }
    const std::vector<uint8_t> jpeg = Saved(p, L"jpg");
    ASSERT_GT(jpeg.size(), 10u);
    EXPECT_EQ(0, std::memcmp(&jpeg[6], "Exif", 4)) << "the EXIF segment is kept";
  }
  // A modifier's result of a picture loaded from bytes has no file to read
  // the camera data from: it takes over what the bytes carried.
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  ComPtr<IVuPicture> result;
  ASSERT_EQ(S_OK, bright->Apply(fromBytes.Get(), result.GetAddressOf()));
  ComPtr<IVuPicture2> result2;
  ASSERT_EQ(S_OK, result->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(result2.GetAddressOf())));
  const std::vector<uint8_t> edited = Saved(result2.Get(), L".jpg");
  ASSERT_GT(edited.size(), 10u);
  EXPECT_EQ(0, std::memcmp(&edited[6], "Exif", 4)) << "the result keeps the EXIF segment";
  BSTR make = nullptr;
  EXPECT_EQ(S_OK, result->get_CameraMake(&make));
  EXPECT_STREQ(L"NIKON CORPORATION", make);
  SysFreeString(make);
  // A picture loaded from bytes without camera data drops what an earlier
  // load kept, and a round trip bytes -> picture -> bytes keeps the pixels.
  ComPtr<IVuPicture2> plain = NewPicture2();
  ASSERT_EQ(S_OK, plain->AttachImage(PhotoLike(20, 10)));
  const std::vector<uint8_t> bmp = Saved(plain.Get(), L".bmp");
  VARIANT again = ByteArray(bmp);
  ASSERT_EQ(S_OK, fromBytes->LoadBytes(again));
  VariantClear(&again);
  EXPECT_EQ(bmp, Saved(fromBytes.Get(), L".bmp"));
  const std::vector<uint8_t> jpeg = Saved(fromBytes.Get(), L".jpg");
  ASSERT_GT(jpeg.size(), 10u);
  EXPECT_NE(0, std::memcmp(&jpeg[6], "Exif", 4)) << "no EXIF segment from a BMP";
}

// Quality: clamped, carried to modifiers' results, and used by every lossy
// save: the JPEG's quantisation is the standard table scaled to it (at 100
// every entry is 1; at 50 the table is the standard one, whose first entry
// is 16).
TEST(PictureBytes, QualityIsClampedCarriedAndUsedByEveryJpegSave) {
  ScratchFolder scratch(L"quillbox-bytes-");
  ComPtr<IVuPicture2> p = NewPicture2();
  LONG q = kMarker;
  EXPECT_EQ(S_OK, p->get_Quality(&q));
  EXPECT_EQ(90, q);
  const struct {
    LONG given, stored;
  } clamps[] = {{0, 1}, {-5, 1}, {101, 100}, {50, 50}};
  for (const auto& c : clamps) {
    EXPECT_EQ(S_OK, p->put_Quality(c.given));
    p->get_Quality(&q);
    EXPECT_EQ(c.stored, q) << c.given;
  }
  ASSERT_EQ(S_OK, p->AttachImage(PhotoLike(64, 48)));
  EXPECT_EQ(16, FirstQuantTable(Saved(p.Get(), L".jpg")).at(0)) << "quality 50";
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  ComPtr<IVuPicture> result;
  p->put_Quality(100);
  ASSERT_EQ(S_OK, bright->Apply(p.Get(), result.GetAddressOf()));
  ComPtr<IVuPicture2> result2;
  ASSERT_EQ(S_OK, result->QueryInterface(IID_IVuPicture2, reinterpret_cast<void**>(result2.GetAddressOf())));
  result2->get_Quality(&q);
  EXPECT_EQ(100, q) << "carried to the result";
  // Every JPEG save path writes the same quantisation.
  ASSERT_EQ(S_OK, result2->SaveFile(Bstr(scratch.Path(L"file.jpg")), 0));
  ASSERT_EQ(S_OK, result2->SaveAs(Bstr(scratch.Path(L"as")), Bstr(L".jpg")));
  ASSERT_EQ(S_OK, result2->put_FileName(Bstr(scratch.Path(L"as.jpg"))));
  ASSERT_EQ(S_OK, result2->Save());
  for (const std::vector<uint8_t>& jpeg :
       {scratch.Read(L"file.jpg"), scratch.Read(L"as.jpg"), Saved(result2.Get(), L".jpg")})
    EXPECT_EQ(std::vector<int>(64, 1), FirstQuantTable(jpeg));
}

// Each failure of the table gives its described result, the described
// message for a failed load, and a sentence of its own that names the
// cause (and the path, where there is one); a success clears it. A failed
// load leaves the picture empty.
TEST(PictureBytes, EachFailureHasItsOwnTrueDetail) {
  ScratchFolder scratch(L"quillbox-bytes-");
  const int32_t block = PhotoLike(64, 48);
  std::vector<uint8_t> jpeg;
  {
    ComPtr<IVuPicture2> maker = NewPicture2();
    maker->AttachImage(block);
    jpeg = Saved(maker.Get(), L".jpg");
  }
  ASSERT_GT(jpeg.size(), 200u);
  const std::vector<uint8_t> truncated(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
  // The first frame header's height and width claim 60000 x 60000.
  std::vector<uint8_t> huge = jpeg;
  for (size_t at = 2; at + 9 <= huge.size(); at += 2 + ((huge[at + 2] << 8) | huge[at + 3])) {
    if (huge[at + 1] == 0xC0) {
      huge[at + 5] = huge[at + 7] = 0xEA;
      huge[at + 6] = huge[at + 8] = 0x60;
      break;
    }
  }
  scratch.Write(L"empty.jpg", {});
  scratch.Write(L"truncated.jpg", truncated);
  scratch.Write(L"text.jpg", std::vector<uint8_t>(300, 'x'));
  scratch.Write(L"huge.jpg", huge);
  scratch.Folder(L"folder.jpg");
  // A file another program holds open without sharing it.
  scratch.Write(L"held.jpg", jpeg);
  const HANDLE held = CreateFileW(scratch.Path(L"held.jpg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);

  enum Kind { kLoadFile, kLoadBytes, kSaveAs, kSaveBytes };
  VARIANT square;
  VariantInit(&square);
  SAFEARRAYBOUND bounds[2] = {{4, 0}, {4, 0}};
  square.vt = VT_ARRAY | VT_UI1;
  square.parray = SafeArrayCreate(VT_UI1, 2, bounds);
  VARIANT longs;
  VariantInit(&longs);
  longs.vt = VT_ARRAY | VT_I4;
  longs.parray = SafeArrayCreateVector(VT_I4, 0, 4);
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"not bytes");
  VARIANT empty = ByteArray({});
  VARIANT cut = ByteArray(truncated);
  VARIANT junk = ByteArray(std::vector<uint8_t>(300, 'x'));
  VARIANT big = ByteArray(huge);
  const struct Case {
    Kind kind;
    std::wstring path;  // LoadFile's path, or SaveAs's base and extension
    const VARIANT* bytes;
    HRESULT hr;
    const wchar_t* says;  // a part of the sentence that names the cause
  } cases[] = {
      {kLoadFile, scratch.Path(L"missing.jpg"), nullptr, DISP_E_EXCEPTION, L"does not exist"},
      {kLoadFile, scratch.Path(L"no folder\\x.jpg"), nullptr, DISP_E_EXCEPTION, L"The folder of"},
      {kLoadFile, scratch.Path(L"folder.jpg"), nullptr, DISP_E_EXCEPTION, L"is a folder"},
      {kLoadFile, scratch.Path(L"held.jpg"), nullptr, DISP_E_EXCEPTION, L"access is denied"},
      {kLoadFile, scratch.Path(L"empty.jpg"), nullptr, DISP_E_EXCEPTION, L"is empty"},
      {kLoadFile, scratch.Path(L"truncated.jpg"), nullptr, DISP_E_EXCEPTION, L"damaged or truncated"},
      {kLoadFile, scratch.Path(L"text.jpg"), nullptr, DISP_E_EXCEPTION, L"is not an image"},
      {kLoadFile, scratch.Path(L"huge.jpg"), nullptr, DISP_E_EXCEPTION, L"too large"},
      {kLoadBytes, L"", &empty, DISP_E_EXCEPTION, L"empty array"},
      {kLoadBytes, L"", &longs, DISP_E_EXCEPTION, L"type 0x2003"},
      {kLoadBytes, L"", &text, DISP_E_EXCEPTION, L"type 0x0008"},
      {kLoadBytes, L"", &square, DISP_E_EXCEPTION, L"2 dimensions"},
      {kLoadBytes, L"", &cut, DISP_E_EXCEPTION, L"bytes given to LoadBytes are a damaged or truncated"},
      {kLoadBytes, L"", &junk, DISP_E_EXCEPTION, L"bytes given to LoadBytes are not an image"},
      {kLoadBytes, L"", &big, DISP_E_EXCEPTION, L"bytes given to LoadBytes is too large"},
      {kSaveAs, scratch.Path(L"no folder\\x") + L"|.png", nullptr, E_FAIL, L"does not exist"},
      {kSaveAs, scratch.Path(L"x") + L"|.gif", nullptr, E_FAIL, L"names no format"},
      {kSaveAs, scratch.Path(L"folder") + L"|.jpg", nullptr, E_FAIL, L"in the way"},
      {kSaveBytes, L".gif", nullptr, E_FAIL, L"\".gif\" cannot be saved"},
  };
  std::set<std::wstring> sentences;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + L" " + c.says);
    ComPtr<IVuPicture2> p = NewPicture2();
    ASSERT_EQ(S_OK, p->AttachImage(PhotoLike(8, 8)));
    HRESULT hr = S_OK;
    std::wstring named = c.path;
    if (c.kind == kLoadFile) {
      hr = p->LoadFile(Bstr(c.path));
    } else if (c.kind == kLoadBytes) {
      hr = p->LoadBytes(*c.bytes);
    } else if (c.kind == kSaveAs) {
      const size_t bar = c.path.find(L'|');
      named = c.path.substr(0, bar) + c.path.substr(bar + 1);
      hr = p->SaveAs(Bstr(c.path.substr(0, bar)), Bstr(c.path.substr(bar + 1)));
    } else {
      VARIANT out;
      VariantInit(&out);
      hr = p->SaveBytes(Bstr(c.path), &out);
      EXPECT_EQ(VT_EMPTY, out.vt) << "nothing is written on failure";
    }
    EXPECT_EQ(c.hr, hr);
    if (c.hr == DISP_E_EXCEPTION) {
      EXPECT_EQ(kLoadFailed, ErrorDescription());
      LONG has = kMarker;
      p->get_HasImage(&has);
      EXPECT_EQ(0, has) << "a failed load leaves the picture empty";
    }
    const std::wstring detail = Detail(p.Get());
    EXPECT_NE(std::wstring::npos, detail.find(c.says)) << detail;
    if (c.kind != kLoadBytes && c.kind != kSaveBytes) {
      EXPECT_NE(std::wstring::npos, detail.find(named)) << detail;
    }
    EXPECT_TRUE(sentences.insert(detail).second) << "a sentence of its own: " << detail;
    // A success clears it.
    ASSERT_EQ(S_OK, p->AttachImage(PhotoLike(8, 8)));
    EXPECT_EQ(S_OK, p->SaveAs(Bstr(scratch.Path(L"fine")), Bstr(L".png")));
    EXPECT_EQ(L"", Detail(p.Get()));
  }
  for (VARIANT* v : {&square, &longs, &text, &empty, &cut, &junk, &big}) VariantClear(v);
  CloseHandle(held);
}
