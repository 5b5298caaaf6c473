// The picture object as a client meets it: its states, its properties,
// loading, attaching and what it frees.
#include <gtest/gtest.h>

#include <string>

#include "rastrum/rastrum.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

struct Props {
  HRESULT bitsHr, heightHr, widthHr;
  LONG bits = kMarker, height = kMarker, width = kMarker;
};

Props ReadProps(IVuPicture* p) {
  Props r;
  r.bitsHr = p->get_BitCount(&r.bits);
  r.heightHr = p->get_Height(&r.height);
  r.widthHr = p->get_Width(&r.width);
  return r;
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

std::wstring ErrorDescription() {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) != S_OK) return L"<none>";
  BSTR text = nullptr;
  info->GetDescription(&text);
  std::wstring out = text ? text : L"";
  SysFreeString(text);
  BSTR source = nullptr;
  info->GetSource(&source);
  EXPECT_STREQ(L"Quillbox.VuPicture.1", source);
  SysFreeString(source);
  GUID guid;
  info->GetGUID(&guid);
  EXPECT_EQ(IID_IVuPicture, guid);
  return out;
}

}  // namespace

TEST(Picture, ANewPictureIsEmpty) {
  ComPtr<IVuPicture> p = NewPicture();
  LONG has = kMarker, handle = kMarker;
  EXPECT_EQ(S_OK, p->get_HasImage(&has));
  EXPECT_EQ(0, has);
  Props props = ReadProps(p.Get());
  EXPECT_EQ(S_OK, props.bitsHr);
  EXPECT_EQ(S_OK, props.heightHr);
  EXPECT_EQ(S_OK, props.widthHr);
  EXPECT_EQ(0, props.bits);
  EXPECT_EQ(0, props.height);
  EXPECT_EQ(0, props.width);
  EXPECT_EQ(E_FAIL, p->get_Handle(&handle));
  EXPECT_EQ(0, handle);
  BSTR name = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(S_OK, p->get_FileName(&name));
  EXPECT_EQ(nullptr, name);
  for (HRESULT hr : {p->get_BitCount(nullptr), p->get_Handle(nullptr), p->get_Width(nullptr),
                     p->get_Height(nullptr), p->get_FileName(nullptr), p->get_HasImage(nullptr)})
    EXPECT_EQ(E_POINTER, hr);
}

TEST(Picture, ANegativeHandleIsInvalidUntilGetHandleForgetsIt) {
  ComPtr<IVuPicture> p = NewPicture();
  p->put_Width(9);
  p->put_Height(8);
  p->put_BitCount(24);
  ASSERT_EQ(S_OK, p->put_Handle(-5));
  Props invalid = ReadProps(p.Get());
  EXPECT_EQ(E_FAIL, invalid.widthHr);
  EXPECT_EQ(0, invalid.width);
  EXPECT_EQ(E_FAIL, invalid.heightHr);
  EXPECT_EQ(E_FAIL, invalid.bitsHr);
  BSTR name = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(E_FAIL, p->get_FileName(&name));
  EXPECT_EQ(reinterpret_cast<BSTR>(1), name) << "nothing written";
  BSTR newName = SysAllocString(L"x.jpg");
  EXPECT_EQ(E_FAIL, p->put_FileName(newName));
  LONG has = kMarker;
  p->get_HasImage(&has);
  EXPECT_EQ(0, has);

  LONG handle = kMarker;
  EXPECT_EQ(E_FAIL, p->get_Handle(&handle));
  EXPECT_EQ(0, handle);
  Props after = ReadProps(p.Get());
  EXPECT_EQ(S_OK, after.widthHr);
  EXPECT_EQ(9, after.width) << "the width getter does not reset the width";
  EXPECT_EQ(0, after.height) << "the height getter reset the height";
  EXPECT_EQ(0, after.bits) << "the bit-count getter reset the bit count";
  EXPECT_EQ(S_OK, p->put_FileName(newName));
  SysFreeString(newName);
}

TEST(Picture, SettersStoreWithoutTouchingTheBlock) {
  ComPtr<IVuPicture> p = NewPicture();
  const int32_t block = PhotoLike(10, 6);
  const std::vector<uint8_t> before = Bytes(block);
  ASSERT_EQ(S_OK, p->AttachImage(block));
  ASSERT_EQ(S_OK, p->put_Width(7));
  LONG width = 0, handle = 0;
  p->get_Width(&width);
  EXPECT_EQ(7, width);
  EXPECT_EQ(S_OK, p->get_Handle(&handle));
  EXPECT_EQ(block, handle) << "get_Handle lends the picture's own block";
  EXPECT_EQ(before, Bytes(block));
}

TEST(Picture, AttachImageReadsTheHeaderForms) {
  ComPtr<IVuPicture> p = NewPicture();
  // A 12-byte core header: 16-bit width and height at offsets 4 and 6.
  HGLOBAL core = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 12 + 4 * 3 * 2 + 16);
  auto* c = static_cast<uint8_t*>(GlobalLock(core));
  c[0] = 12;
  c[4] = 3;
  c[6] = 2;
  c[8] = 1;
  c[10] = 24;
  GlobalUnlock(core);
  ASSERT_EQ(S_OK, p->AttachImage(AsHandle(core)));
  Props props = ReadProps(p.Get());
  EXPECT_EQ(3, props.width);
  EXPECT_EQ(2, props.height);

  const int32_t block = PhotoLike(5, 4);
  ASSERT_EQ(S_OK, p->AttachImage(block));
  props = ReadProps(p.Get());
  EXPECT_EQ(5, props.width);
  EXPECT_EQ(4, props.height);
  EXPECT_EQ(24, props.bits);
  GlobalFree(core);  // the caller of AttachImage answers for the block it replaced

  EXPECT_EQ(E_FAIL, p->AttachImage(-3));
  props = ReadProps(p.Get());
  EXPECT_EQ(5, props.width) << "a failed attach changes nothing";
  LONG handle = 0;
  p->get_Handle(&handle);
  EXPECT_EQ(block, handle);

  ASSERT_EQ(S_OK, p->AttachImage(0));
  props = ReadProps(p.Get());
  EXPECT_EQ(0, props.width);
  EXPECT_EQ(0, props.height);
  EXPECT_EQ(0, props.bits);
  GlobalFree(AsHGlobal(block));
}

TEST(Picture, DestructionFreesTheHeldBlock) {
  const int32_t block = PhotoLike(4, 4);
  {
    ComPtr<IVuPicture> p = NewPicture();
    ASSERT_EQ(S_OK, p->AttachImage(block));
  }
  EXPECT_EQ(0u, GlobalSize(AsHGlobal(block)));
}

TEST(Picture, SetFileTakesOnlyPathsThatExist) {
  ComPtr<IVuPicture> p = NewPicture();
  std::wstring existing = TempPath(L"quillbox-setfile.bmp");
  const int32_t block = PhotoLike(4, 4);
  SaveBlock(block, existing);
  BSTR path = SysAllocString(existing.c_str());
  EXPECT_EQ(S_OK, p->SetFile(path));
  BSTR missing = SysAllocString(L"Z:\\no\\such\\file.jpg");
  EXPECT_EQ(S_OK, p->SetFile(missing));
  BSTR name = nullptr;
  ASSERT_EQ(S_OK, p->get_FileName(&name));
  EXPECT_STREQ(existing.c_str(), name);
  LONG has = kMarker;
  p->get_HasImage(&has);
  EXPECT_EQ(0, has) << "SetFile loads nothing";
  for (BSTR s : {path, missing, name}) SysFreeString(s);
  DeleteFileW(existing.c_str());
  GlobalFree(AsHGlobal(block));
}

TEST(Picture, LoadFileCopiesTheLibrarysBlock) {
  ComPtr<IVuPicture> p = NewPicture();
  const std::wstring file = TempPath(L"quillbox-caf\u00e9.bmp");
  const int32_t block = PhotoLike(21, 13);
  SaveBlock(block, file);
  BSTR path = SysAllocString(file.c_str());
  ASSERT_EQ(S_OK, p->LoadFile(path));
  Props props = ReadProps(p.Get());
  EXPECT_EQ(21, props.width);
  EXPECT_EQ(13, props.height);
  EXPECT_EQ(24, props.bits);
  BSTR name = nullptr;
  p->get_FileName(&name);
  EXPECT_STREQ(file.c_str(), name) << "the name is the path exactly as passed";
  SysFreeString(name);

  LONG handle = 0;
  ASSERT_EQ(S_OK, p->get_Handle(&handle));
  char narrow[MAX_PATH];
  WideCharToMultiByte(CP_ACP, 0, file.c_str(), -1, narrow, MAX_PATH, nullptr, nullptr);
  const int32_t library = NimboLoadFile(narrow);
  ASSERT_GT(library, 0);
  EXPECT_NE(library, handle);
  EXPECT_EQ(Bytes(library), Bytes(handle)) << "the picture holds a byte copy";
  EXPECT_EQ(Read(block).bgr, Read(handle).bgr);
  FreeBlocks({library});

  // A second load replaces the first block; a failed one leaves the
  // picture empty with the error raised.
  ASSERT_EQ(S_OK, p->LoadFile(path));
  LONG second = 0;
  p->get_Handle(&second);
  EXPECT_GT(second, 0);
  BSTR bad = SysAllocString(L"Z:\\no\\such\\photo.jpg");
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(DISP_E_EXCEPTION, p->LoadFile(bad));
  EXPECT_EQ(L"\u6253\u5F00\u56FE\u50CF\u6587\u4EF6\u5931\u8D25\uFF01", ErrorDescription());
  LONG has = kMarker;
  p->get_HasImage(&has);
  EXPECT_EQ(0, has);
  EXPECT_EQ(0u, GlobalSize(AsHGlobal(second))) << "the block held before was released";
  props = ReadProps(p.Get());
  EXPECT_EQ(21, props.width) << "width, height and bit count keep their old values";
  EXPECT_EQ(24, props.bits);
  name = nullptr;
  p->get_FileName(&name);
  EXPECT_STREQ(file.c_str(), name) << "and so does the file name";
  SysFreeString(name);

  EXPECT_EQ(DISP_E_EXCEPTION, p->LoadFile(nullptr));
  for (BSTR s : {path, bad}) SysFreeString(s);
  DeleteFileW(file.c_str());
  GlobalFree(AsHGlobal(block));
}
