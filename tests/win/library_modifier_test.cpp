// The modifiers whose work the imaging library does, through their vtables
// as a client calls them: blur, zoom, rotate, text, overlay and frame. The
// library's own results, asked for directly, are the oracle for what each
// class must hand on.
#include <gtest/gtest.h>
#include <olectl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/picture_block.h"
#include "message_watch.h"
#include "rastrum/rastrum.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;
using qb::PictureBlock;

namespace {

// The pixels of a library result, which the test then frees.
std::vector<uint8_t> LibraryBytes(int32_t produced) {
  EXPECT_GT(produced, 0);
  if (produced <= 0) return {};
  const PictureBlock owned(produced);
  return Bytes(produced);
}

template <class I>
ComPtr<I> Modifier(REFCLSID clsid) {
  return MakeLinked<I>(clsid);
}

// A client's own picture object, whose handle and size are what the test
// says; everything else it leaves undone.
class ForeignPicture final : public IVuPicture {
 public:
  ForeignPicture(LONG handle, LONG width, LONG height) : m_handle(handle), m_width(width), m_height(height) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (riid != IID_IUnknown && riid != IID_IDispatch && riid != IID_IVuPicture) return E_NOINTERFACE;
    *ppv = static_cast<IVuPicture*>(this);
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP get_Handle(LONG* v) override { return *v = m_handle, S_OK; }
  STDMETHODIMP get_Width(LONG* v) override { return *v = m_width, S_OK; }
  STDMETHODIMP get_Height(LONG* v) override { return *v = m_height, S_OK; }
  STDMETHODIMP get_FileName(BSTR* v) override { return *v = nullptr, S_OK; }
#define QB_UNDONE(name, ...) \
  STDMETHODIMP name(__VA_ARGS__) override { return E_NOTIMPL; }
  QB_UNDONE(GetTypeInfoCount, UINT*)
  QB_UNDONE(GetTypeInfo, UINT, LCID, ITypeInfo**)
  QB_UNDONE(GetIDsOfNames, REFIID, LPOLESTR*, UINT, LCID, DISPID*)
  QB_UNDONE(Invoke, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
  QB_UNDONE(get_BitCount, LONG*) QB_UNDONE(put_BitCount, LONG) QB_UNDONE(put_Handle, LONG)
  QB_UNDONE(put_Height, LONG) QB_UNDONE(put_Width, LONG) QB_UNDONE(LoadFile, BSTR)
  QB_UNDONE(put_FileName, BSTR) QB_UNDONE(AttachImage, LONG) QB_UNDONE(CopyToClipboard)
  QB_UNDONE(PasteFromClipboard) QB_UNDONE(SaveFile, BSTR, LONG) QB_UNDONE(get_Comment, BSTR*)
  QB_UNDONE(get_DateTime, BSTR*) QB_UNDONE(get_CameraMake, BSTR*) QB_UNDONE(get_CameraModel, BSTR*)
  QB_UNDONE(get_FlashUsed, BSTR*) QB_UNDONE(get_SpareText, BSTR*) QB_UNDONE(get_ExifVersion, BSTR*)
  QB_UNDONE(get_ExposureTime, FLOAT*) QB_UNDONE(SetFile, BSTR) QB_UNDONE(DrawFile, LONG)
  QB_UNDONE(CreateThumbnail, LONG, LONG, LONG*) QB_UNDONE(get_Bitmap, LONG*) QB_UNDONE(SaveAs, BSTR, BSTR)
  QB_UNDONE(ReadExif, BSTR) QB_UNDONE(get_FocalLength, LONG*) QB_UNDONE(get_XResolution, FLOAT*)
  QB_UNDONE(get_YResolution, FLOAT*) QB_UNDONE(get_BrightnessValue, FLOAT*) QB_UNDONE(get_Aperture, LONG*)
  QB_UNDONE(Save) QB_UNDONE(get_HasImage, LONG*)
#undef QB_UNDONE

 private:
  LONG m_handle, m_width, m_height;
};

struct Raised {
  std::wstring description, source;
  GUID guid = GUID_NULL;
};

Raised TakeError() {
  Raised r;
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.GetAddressOf()) != S_OK) return r;
  BSTR text = nullptr;
  info->GetDescription(&text);
  r.description = text ? text : L"";
  SysFreeString(text);
  text = nullptr;
  info->GetSource(&text);
  r.source = text ? text : L"";
  SysFreeString(text);
  info->GetGUID(&r.guid);
  return r;
}

// The Zoom limit's text as raised: its code page 936 bytes read as the
// Chinese they encode, whatever the ANSI code page of this run.
std::wstring SizeTooLargeAsRaised() {
  return L"\u5C3A\u5BF8\u592A\u5927\uFF0C\u65E0\u6CD5\u5904\u7406\uFF01";
}

ComPtr<IFontDisp> NewFont(const wchar_t* face, LONG points) {
  FONTDESC desc = {};
  desc.cbSizeofstruct = sizeof(FONTDESC);
  desc.lpstrName = const_cast<LPOLESTR>(face);
  desc.cySize.int64 = points * 10000LL;
  ComPtr<IFontDisp> font;
  EXPECT_EQ(S_OK, OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(font.GetAddressOf())));
  return font;
}

LOGFONTW LogFontOf(IFontDisp* disp) {
  ComPtr<IFont> font;
  disp->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.GetAddressOf()));
  HFONT handle = nullptr;
  LOGFONTW lf = {};
  if (font && SUCCEEDED(font->get_hFont(&handle))) GetObjectW(handle, sizeof(lf), &lf);
  return lf;
}

// What the library draws for a text record on the block.
std::vector<uint8_t> LibraryText(int32_t block, const wchar_t* text, const LOGFONTW& font, COLORREF color,
                                 LONG x, LONG y) {
  AddTextRecord record = {};
  record.text = text;
  record.font = font;
  record.color = color;
  record.x = x;
  record.y = y;
  return LibraryBytes(NimboAddText(&record, block));
}

std::vector<uint8_t> Applied(IPictureModifier* m, IVuPicture* source) {
  ComPtr<IVuPicture> out;
  EXPECT_EQ(S_OK, m->Apply(source, out.GetAddressOf()));
  return out ? Bytes(HandleOf(out.Get())) : std::vector<uint8_t>();
}

int32_t Flat(int32_t w, int32_t h, uint32_t rgb) {
  return MakeBlock(w, h, [rgb](int32_t, int32_t) { return rgb; });
}

std::wstring TempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

}  // namespace

// Blur, zoom and rotate hand on a copy of the library's block, made with
// the parameters as stored (zoom's raised to 5).
TEST(LibraryModifiers, GeometryResultsAreCopiesOfTheLibrarysBlock) {
  const int32_t block = PhotoLike(20, 15);
  ComPtr<IVuPicture> src = LinkedPictureOf(block);
  ComPtr<IBlurModifier> blur = Modifier<IBlurModifier>(CLSID_BlurModifier);
  ComPtr<IZoom> zoom = Modifier<IZoom>(CLSID_Zoom);
  ComPtr<IRotateModifier> rotate = Modifier<IRotateModifier>(CLSID_RotateModifier);
  blur->put_Level(7);
  zoom->put_Width(3);
  zoom->put_Height(4);
  rotate->put_Angle(30);
  struct Case {
    IPictureModifier* modifier;
    int32_t library;
  } cases[] = {{blur.Get(), NimboBlur(7, block)},
               {zoom.Get(), NimboResize(5, 5, block, 0)},
               {rotate.Get(), NimboRotate(30, block)}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> expected = LibraryBytes(c.library);
    EXPECT_EQ(expected, Applied(c.modifier, src.Get()));
  }
  LONG w = 0, h = 0;
  zoom->get_Width(&w);
  zoom->get_Height(&h);
  EXPECT_EQ(5, w) << "the raised width stays stored";
  EXPECT_EQ(5, h);
}

TEST(LibraryModifiers, StoredValuesAndTheirLimits) {
  ComPtr<IBlurModifier> blur = Modifier<IBlurModifier>(CLSID_BlurModifier);
  ComPtr<IRotateModifier> rotate = Modifier<IRotateModifier>(CLSID_RotateModifier);
  ComPtr<IZoom> zoom = Modifier<IZoom>(CLSID_Zoom);
  struct Case {
    HRESULT (*put)(IUnknown*, LONG);
    HRESULT (*get)(IUnknown*, LONG*);
    IUnknown* object;
    LONG given, stored;
  } cases[] = {
      {[](IUnknown* o, LONG v) { return static_cast<IBlurModifier*>(o)->put_Level(v); },
       [](IUnknown* o, LONG* v) { return static_cast<IBlurModifier*>(o)->get_Level(v); }, blur.Get(), 150, 99},
      {[](IUnknown* o, LONG v) { return static_cast<IBlurModifier*>(o)->put_Level(v); },
       [](IUnknown* o, LONG* v) { return static_cast<IBlurModifier*>(o)->get_Level(v); }, blur.Get(), -3, 0},
      {[](IUnknown* o, LONG v) { return static_cast<IRotateModifier*>(o)->put_Angle(v); },
       [](IUnknown* o, LONG* v) { return static_cast<IRotateModifier*>(o)->get_Angle(v); }, rotate.Get(), -90, 0},
      {[](IUnknown* o, LONG v) { return static_cast<IRotateModifier*>(o)->put_Angle(v); },
       [](IUnknown* o, LONG* v) { return static_cast<IRotateModifier*>(o)->get_Angle(v); }, rotate.Get(), 450, 450},
      {[](IUnknown* o, LONG v) { return static_cast<IZoom*>(o)->put_Width(v); },
       [](IUnknown* o, LONG* v) { return static_cast<IZoom*>(o)->get_Width(v); }, zoom.Get(), -7, -7},
  };
  for (const Case& c : cases) {
    LONG value = kMarker;
    EXPECT_EQ(S_OK, c.put(c.object, c.given));
    EXPECT_EQ(S_OK, c.get(c.object, &value));
    EXPECT_EQ(c.stored, value) << "given " << c.given;
  }
  LONG reserved = kMarker;
  EXPECT_EQ(S_OK, zoom->put_Reserved(12));
  EXPECT_EQ(S_OK, zoom->get_Reserved(&reserved));
  EXPECT_EQ(kMarker, reserved) << "Reserved reports nothing";
}

TEST(LibraryModifiers, BlurLevelZeroMakesNoPicture) {
  ComPtr<IBlurModifier> blur = Modifier<IBlurModifier>(CLSID_BlurModifier);
  ComPtr<IVuPicture> src = LinkedPictureOf(PhotoLike(8, 8));
  IVuPicture* result = nullptr;
  EXPECT_EQ(S_OK, blur->Apply(src.Get(), &result));
  EXPECT_EQ(nullptr, result);
}

TEST(LibraryModifiers, ZoomLimitRaisesItsErrorAndMakesNothing) {
  ComPtr<IZoom> zoom = Modifier<IZoom>(CLSID_Zoom);
  ComPtr<IVuPicture> src = LinkedPictureOf(PhotoLike(8, 8));
  zoom->put_Width(10000);
  ComPtr<IVuPicture> wide;
  ASSERT_EQ(S_OK, zoom->Apply(src.Get(), wide.GetAddressOf()));
  LONG w = 0, h = 0;
  wide->get_Width(&w);
  wide->get_Height(&h);
  EXPECT_EQ(10000, w);
  EXPECT_EQ(5, h);

  for (auto [width, height] : {std::pair{10001, 5}, std::pair{5, 10001}}) {
    zoom->put_Width(width);
    zoom->put_Height(height);
    const size_t owned = PictureBlock::OwnedCount();
    IVuPicture* result = reinterpret_cast<IVuPicture*>(0xdeadbeef);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(DISP_E_EXCEPTION, zoom->Apply(src.Get(), &result));
    EXPECT_EQ(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);
    EXPECT_EQ(owned, PictureBlock::OwnedCount());
    const Raised r = TakeError();
    EXPECT_EQ(SizeTooLargeAsRaised(), r.description);
    EXPECT_EQ(L"Quillbox.Zoom.1", r.source);
    EXPECT_EQ(IID_IZoom, r.guid);
  }

  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(S_OK, zoom->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.GetAddressOf())));
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(IID_IZoom));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IPictureModifier));
}

// Run with LC_ALL=zh_CN.UTF-8 (tests/scripts/code_page_936.sh): the text
// reads as the Chinese it is.
TEST(LibraryModifiers, ZoomLimitTextUnderCodePage936) {
  if (GetACP() != 936) GTEST_SKIP() << "the ANSI code page is " << GetACP();
  ComPtr<IZoom> zoom = Modifier<IZoom>(CLSID_Zoom);
  ComPtr<IVuPicture> src = LinkedPictureOf(PhotoLike(8, 8));
  zoom->put_Height(10001);
  IVuPicture* result = nullptr;
  EXPECT_EQ(DISP_E_EXCEPTION, zoom->Apply(src.Get(), &result));
  EXPECT_EQ(L"\u5C3A\u5BF8\u592A\u5927\uFF0C\u65E0\u6CD5\u5904\u7406\uFF01", TakeError().description);
}

// A failure without a message of its own leaves no earlier one behind.
TEST(LibraryModifiers, FailuresWithoutTextClearTheThreadsError) {
  ComPtr<IZoom> zoom = Modifier<IZoom>(CLSID_Zoom);
  ComPtr<IVuPicture> empty = MakeLinked<IVuPicture>(CLSID_VuPicture);
  ForeignPicture failed(-4, 8, 8);
  for (IVuPicture* source : {static_cast<IVuPicture*>(empty.Get()), static_cast<IVuPicture*>(&failed)}) {
    zoom->put_Width(20000);
    IVuPicture* result = nullptr;
    zoom->Apply(empty.Get(), &result);  // raises the limit's error
    zoom->put_Width(8);
    EXPECT_EQ(E_FAIL, zoom->Apply(source, &result));
    ComPtr<IErrorInfo> stale;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, stale.GetAddressOf()));
  }
}

TEST(LibraryModifiers, RotateTellsTheUserWhatFailed) {
  ASSERT_TRUE(CanShowWindows()) << "message boxes need a display: run the tests under xvfb-run -a";
  ComPtr<IRotateModifier> rotate = Modifier<IRotateModifier>(CLSID_RotateModifier);
  rotate->put_Angle(30);
  // A block whose header claims more rows than it holds: the library refuses it.
  const int32_t broken = PhotoLike(8, 8);
  reinterpret_cast<BITMAPINFOHEADER*>(GlobalLock(AsHGlobal(broken)))->biHeight = 4000;
  GlobalUnlock(AsHGlobal(broken));
  ComPtr<IVuPicture> unreadable = LinkedPictureOf(broken);
  ForeignPicture failed(-4, 8, 8);
  struct Case {
    IVuPicture* source;
    const wchar_t* box;
    std::vector<std::wstring> debugger;
  } cases[] = {{&failed, L"hDib  is null", {}}, {unreadable.Get(), L"Rotate Failed", {L"Rotate Failed "}}};
  for (const Case& c : cases) {
    BoxWatcher boxes;
    DebuggerLines debugger;
    IVuPicture* result = reinterpret_cast<IVuPicture*>(0xdeadbeef);
    EXPECT_EQ(E_FAIL, rotate->Apply(c.source, &result));
    EXPECT_EQ(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);
    EXPECT_EQ(c.debugger, debugger.Lines());
    const std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(c.box, seen[0].text);
    EXPECT_EQ(L"Error", seen[0].caption) << "the system's default caption";
    EXPECT_FALSE(seen[0].hasOwner);
  }
}

TEST(LibraryModifiers, TextStartsWithItsDefaults) {
  ComPtr<IAddText> text = Modifier<IAddText>(CLSID_AddText);
  OLE_COLOR color = 0;
  LONG x = kMarker, y = kMarker;
  BSTR value = reinterpret_cast<BSTR>(1);
  ComPtr<IFontDisp> font;
  EXPECT_EQ(S_OK, text->get_ForeColor(&color));
  EXPECT_EQ(S_OK, text->get_X(&x));
  EXPECT_EQ(S_OK, text->get_Y(&y));
  EXPECT_EQ(S_OK, text->get_Text(&value));
  EXPECT_EQ(S_OK, text->get_Font(font.GetAddressOf()));
  EXPECT_EQ(0x00FFFFFFu, color);
  EXPECT_EQ(0, x);
  EXPECT_EQ(0, y);
  EXPECT_EQ(nullptr, value);
  ASSERT_TRUE(font);
  ComPtr<IFont> described;
  ASSERT_EQ(S_OK, font.As(&described));
  BSTR name = nullptr;
  described->get_Name(&name);
  EXPECT_STREQ(L"MS Sans Serif", name);
  SysFreeString(name);

  // Drawn: the default font, white, at (0, 0).
  const int32_t block = Flat(120, 40, 0x203040);
  ComPtr<IVuPicture> src = LinkedPictureOf(block);
  text->put_Text(Bstr(L"Hello"));
  const std::vector<uint8_t> expected =
      LibraryText(block, L"Hello", LogFontOf(NewFont(L"MS Sans Serif", 20).Get()), RGB(255, 255, 255), 0, 0);
  EXPECT_EQ(expected, Applied(text.Get(), src.Get()));
  EXPECT_NE(Bytes(block), expected) << "the text is there";
}

TEST(LibraryModifiers, TextPropertiesAreKeptAsGiven) {
  ComPtr<IAddText> text = Modifier<IAddText>(CLSID_AddText);
  text->put_Text(Bstr(L"caption"));
  BSTR first = nullptr, second = nullptr;
  ASSERT_EQ(S_OK, text->get_Text(&first));
  EXPECT_STREQ(L"caption", first);
  SysFreeString(first);  // the caller's copy
  ASSERT_EQ(S_OK, text->get_Text(&second));
  EXPECT_STREQ(L"caption", second);
  SysFreeString(second);
  text->put_Text(nullptr);
  ASSERT_EQ(S_OK, text->get_Text(&first));
  ASSERT_NE(nullptr, first) << "a null text is stored as an empty one";
  EXPECT_EQ(0u, SysStringLen(first));
  SysFreeString(first);

  text->put_X(-15);
  text->put_Y(30);
  text->put_ForeColor(0x80000005);
  LONG x = 0, y = 0;
  OLE_COLOR color = 0;
  text->get_X(&x);
  text->get_Y(&y);
  text->get_ForeColor(&color);
  EXPECT_EQ(-15, x);
  EXPECT_EQ(30, y);
  EXPECT_EQ(0x80000005u, color) << "stored untranslated";
}

// Colours are translated when the text is drawn; what does not translate
// is taken as the RGB of its low 24 bits.
TEST(LibraryModifiers, TextColoursAsTheyAreWhenDrawn) {
  ComPtr<IAddText> text = Modifier<IAddText>(CLSID_AddText);
  const int32_t block = Flat(60, 30, 0x000000);
  ComPtr<IVuPicture> src = LinkedPictureOf(block);
  const LOGFONTW font = LogFontOf(NewFont(L"Tahoma", 14).Get());
  text->put_Font(NewFont(L"Tahoma", 14).Get());
  text->put_Text(Bstr(L"Ab"));
  text->put_X(3);
  text->put_Y(4);
  const struct {
    OLE_COLOR given;
    COLORREF drawn;
  } cases[] = {{0x00123456, 0x123456},
               {0x80000005, GetSysColor(COLOR_WINDOW)},
               {0x8000000D, GetSysColor(COLOR_HIGHLIGHT)},
               {0x800000FF, 0x0000FF},  // no such system colour
               {0x05ABCDEF, 0xABCDEF},  // no such kind of colour
               {0x01000003, RGB(128, 128, 0)}};  // entry 3 of the default palette
  for (const auto& c : cases) {
    text->put_ForeColor(c.given);
    EXPECT_EQ(LibraryText(block, L"Ab", font, c.drawn, 3, 4), Applied(text.Get(), src.Get())) << std::hex << c.given;
  }
}

// The font is cloned; a null font keeps drawing with the last one.
TEST(LibraryModifiers, TextFontIsClonedAndANullFontKeepsTheLast) {
  ComPtr<IAddText> text = Modifier<IAddText>(CLSID_AddText);
  const int32_t block = Flat(160, 50, 0x000000);
  ComPtr<IVuPicture> src = LinkedPictureOf(block);
  text->put_Text(Bstr(L"Quill"));
  ComPtr<IFontDisp> big = NewFont(L"Tahoma", 26);
  const LOGFONTW bigFont = LogFontOf(big.Get());
  ASSERT_EQ(S_OK, text->putref_Font(big.Get()));
  ComPtr<IFontDisp> held;
  text->get_Font(held.GetAddressOf());
  EXPECT_NE(big.Get(), held.Get()) << "a clone is held";
  ComPtr<IFont> original, clone;
  big.As(&original);
  held.As(&clone);
  CY given = {}, smaller = {}, kept = {};
  original->get_Size(&given);
  smaller.int64 = 80000;
  original->put_Size(smaller);  // the client's font changes, the held one does not
  clone->get_Size(&kept);
  EXPECT_EQ(given.int64, kept.int64);

  const std::vector<uint8_t> expected = LibraryText(block, L"Quill", bigFont, RGB(255, 255, 255), 0, 0);
  EXPECT_EQ(expected, Applied(text.Get(), src.Get()));
  ASSERT_EQ(S_OK, text->put_Font(nullptr));
  held.Reset();
  EXPECT_EQ(S_OK, text->get_Font(held.GetAddressOf()));
  EXPECT_EQ(nullptr, held.Get());
  EXPECT_EQ(expected, Applied(text.Get(), src.Get())) << "drawn with the last font given";
}

TEST(LibraryModifiers, OverlayNeedsAMaskAndTurnsItGreyEachTime) {
  ComPtr<IAddPic> pic = Modifier<IAddPic>(CLSID_AddPic);
  const int32_t base = Flat(8, 6, 0x000000);
  ComPtr<IVuPicture> src = LinkedPictureOf(base);
  ASSERT_EQ(S_OK, pic->put_PicHandle(Flat(4, 4, 0xFFFFFF)));
  IVuPicture* result = reinterpret_cast<IVuPicture*>(0xdeadbeef);
  EXPECT_EQ(E_OUTOFMEMORY, pic->Apply(src.Get(), &result)) << "no mask, even with an overlay";
  EXPECT_EQ(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);

  // Pure blue through BT.601 luma is grey 29: the overlay at 29/255.
  const int32_t mask = Flat(4, 4, 0x0000FF);
  ASSERT_EQ(S_OK, pic->put_MaskHandle(mask));
  pic->put_X(5);
  pic->put_Y(-1);
  for (int round = 0; round < 2; ++round) {
    ComPtr<IVuPicture> out;
    ASSERT_EQ(S_OK, pic->Apply(src.Get(), out.GetAddressOf()));
    EXPECT_EQ(Read(mask).bgr, Read(Flat(4, 4, 0x1D1D1D)).bgr) << "the mask is grey";
    const Pixels px = Read(HandleOf(out.Get()));
    EXPECT_EQ(29, px.At(5, 0)[2]);
    EXPECT_EQ(29, px.At(7, 2)[0]);
    EXPECT_EQ(0, px.At(4, 0)[0]);
    EXPECT_EQ(0, px.At(5, 3)[0]);
    // Colour put back into the held mask is turned grey on the next Apply.
    uint8_t* first = reinterpret_cast<uint8_t*>(GlobalLock(AsHGlobal(mask))) + 40;
    first[0] = 0xFF;
    first[1] = first[2] = 0;
    GlobalUnlock(AsHGlobal(mask));
  }

  // With no overlay, the library lays nothing: an unchanged copy.
  ComPtr<IAddPic> maskOnly = Modifier<IAddPic>(CLSID_AddPic);
  maskOnly->put_MaskHandle(Flat(2, 2, 0xFFFFFF));
  EXPECT_EQ(Read(base).bgr, Read(HandleOf([&] {
              ComPtr<IVuPicture> out;
              EXPECT_EQ(S_OK, maskOnly->Apply(src.Get(), out.GetAddressOf()));
              return out;
            }().Get())).bgr);
}

TEST(LibraryModifiers, FrameChecksItsSourceAndFrames) {
  ComPtr<IFrame> frame = Modifier<IFrame>(CLSID_Frame);
  ComPtr<IVuPicture> thin = LinkedPictureOf(PhotoLike(3, 100));
  const size_t owned = PictureBlock::OwnedCount();
  IVuPicture* result = reinterpret_cast<IVuPicture*>(0xdeadbeef);
  EXPECT_EQ(S_FALSE, frame->Apply(thin.Get(), &result));
  EXPECT_EQ(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);
  EXPECT_EQ(owned, PictureBlock::OwnedCount()) << "nothing created";

  // No frames: the library gets two zero handles and lays nothing.
  const int32_t block = PhotoLike(10, 8);
  ComPtr<IVuPicture> src = LinkedPictureOf(block);
  const std::vector<uint8_t> unframed = LibraryBytes(NimboAddFrame(block, 0, 0, 0));
  EXPECT_EQ(unframed, Applied(frame.Get(), src.Get()));
  const std::vector<uint8_t> sourceBytes = Bytes(block);
  EXPECT_EQ(std::vector<uint8_t>(sourceBytes.begin() + 40, sourceBytes.end()),
            std::vector<uint8_t>(unframed.begin() + 40, unframed.end()));

  // A top-down picture is framed by its size.
  const int32_t topDown = PhotoLike(6, 6);
  reinterpret_cast<BITMAPINFOHEADER*>(GlobalLock(AsHGlobal(topDown)))->biHeight = -6;
  GlobalUnlock(AsHGlobal(topDown));
  ComPtr<IVuPicture> turned = LinkedPictureOf(topDown), out;
  EXPECT_EQ(S_OK, frame->Apply(turned.Get(), out.GetAddressOf()));

  // A frame that failed to load stops the frame.
  DebuggerLines debugger;
  EXPECT_EQ(E_FAIL, frame->LoadFrameFile(Bstr(L"Z:\\no\\such\\frame.png")));
  EXPECT_EQ(E_FAIL, frame->LoadFrameFile2(Bstr(L"Z:\\no\\such\\frame.png")));
  EXPECT_EQ(std::vector<std::wstring>{L"load pic failed"}, debugger.Lines()) << "only the first loader says so";
  LONG first = 0;
  frame->get_FrameHandle(&first);
  EXPECT_LT(first, 0) << "the failure value stays";
  EXPECT_EQ(E_UNEXPECTED, frame->Apply(src.Get(), &result));
}

TEST(LibraryModifiers, FrameIsLaidAroundThePicture) {
  ComPtr<IFrame> frame = Modifier<IFrame>(CLSID_Frame);
  // A 5 x 5 frame: a green border one pixel wide around a black hole.
  const int32_t border = MakeBlock(5, 5, [](int32_t x, int32_t y) {
    return x == 0 || y == 0 || x == 4 || y == 4 ? 0x00FF00u : 0x000000u;
  });
  ASSERT_EQ(S_OK, frame->put_FrameHandle(border));
  LONG held = 0;
  frame->get_FrameHandle(&held);
  EXPECT_EQ(border, held) << "a block nobody owns is taken over as it is";
  ComPtr<IVuPicture> src = LinkedPictureOf(Flat(50, 40, 0x808080));
  ComPtr<IVuPicture> out;
  ASSERT_EQ(S_OK, frame->Apply(src.Get(), out.GetAddressOf()));
  const Pixels px = Read(HandleOf(out.Get()));
  for (auto [x, y] : {std::pair{0, 0}, std::pair{49, 20}, std::pair{25, 39}, std::pair{3, 30}})
    EXPECT_EQ(0x00FF00u, uint32_t(px.At(x, y)[1] << 8 | px.At(x, y)[2] << 16 | px.At(x, y)[0])) << x << "," << y;
  EXPECT_EQ(0x80, px.At(25, 20)[1]) << "the picture shows through the hole";
}

// Loading into a slot frees what it held; a failed load keeps its failure
// value and is told to the debugger and the user.
TEST(LibraryModifiers, LoadersReplaceAndReportFailures) {
  ASSERT_TRUE(CanShowWindows()) << "message boxes need a display: run the tests under xvfb-run -a";
  const std::wstring file = TempFile(L"quillbox-overlay.bmp");
  const int32_t saved = Flat(6, 4, 0x336699);
  SaveBlock(saved, file);
  FreeBlocks({saved});

  ComPtr<IAddPic> pic = Modifier<IAddPic>(CLSID_AddPic);
  ComPtr<IFrame> frame = Modifier<IFrame>(CLSID_Frame);
  struct Slot {
    const char* name;
    std::function<HRESULT(BSTR)> load;
    std::function<LONG()> held;
    HRESULT failure;
    bool box;
  } slots[] = {
      {"PicFile", [&](BSTR p) { return pic->LoadPicFile(p); }, [&] { LONG h = 0; pic->get_PicHandle(&h); return h; }, S_FALSE, true},
      {"MaskFile", [&](BSTR p) { return pic->LoadMaskFile(p); }, [&] { LONG h = 0; pic->get_MaskHandle(&h); return h; }, S_FALSE, true},
      {"FrameFile", [&](BSTR p) { return frame->LoadFrameFile(p); }, [&] { LONG h = 0; frame->get_FrameHandle(&h); return h; }, E_FAIL, false},
      {"FrameFile2", [&](BSTR p) { return frame->LoadFrameFile2(p); }, [&] { LONG h = 0; frame->get_FrameHandle2(&h); return h; }, E_FAIL, false},
  };
  for (const Slot& slot : slots) {
    SCOPED_TRACE(slot.name);
    ASSERT_EQ(S_OK, slot.load(Bstr(file)));
    const LONG first = slot.held();
    ASSERT_GT(first, 0);
    EXPECT_EQ(6, Read(first).w);
    ASSERT_EQ(S_OK, slot.load(Bstr(file)));
    const LONG second = slot.held();
    EXPECT_TRUE(second == first || GlobalSize(AsHGlobal(first)) == 0)
        << "the first block was freed (its handle free, or reused for the second)";

    BoxWatcher boxes;
    EXPECT_EQ(slot.failure, slot.load(Bstr(L"Z:\\no\\such\\picture.png")));
    EXPECT_LT(slot.held(), 0) << "the failure value stays";
    EXPECT_EQ(slot.box ? std::vector<std::wstring>{L"load pic failed"} : std::vector<std::wstring>{},
              boxes.Texts());
  }
  DebuggerLines debugger;
  BoxWatcher boxes;
  EXPECT_EQ(S_FALSE, pic->LoadPicFile(nullptr));
  EXPECT_EQ(std::vector<std::wstring>{L"load pic failed"}, debugger.Lines());
  EXPECT_EQ(std::vector<std::wstring>{L"load pic failed"}, boxes.Texts());
  DeleteFileW(file.c_str());
}

// A handle handed over that a live object already owns (a picture's Handle)
// is copied, so that it is freed once; any other is taken over. The handle
// replaced is left to the caller. Everything held is freed with the object.
TEST(LibraryModifiers, HandedBlocksAreHeldOnceAndFreedWithTheObject) {
  const size_t before = PictureBlock::OwnedCount();
  const int32_t loose = Flat(3, 3, 0x112233);
  {
    ComPtr<IVuPicture> picture = LinkedPictureOf(PhotoLike(5, 5));
    const int32_t shown = HandleOf(picture.Get());
    ComPtr<IAddPic> pic = Modifier<IAddPic>(CLSID_AddPic);
    ComPtr<IFrame> frame = Modifier<IFrame>(CLSID_Frame);
    using Put = std::function<HRESULT(LONG)>;
    using Get = std::function<LONG()>;
    const std::pair<Put, Get> setters[] = {
        {[&](LONG h) { return pic->put_PicHandle(h); }, [&] { LONG h = 0; pic->get_PicHandle(&h); return h; }},
        {[&](LONG h) { return pic->put_MaskHandle(h); }, [&] { LONG h = 0; pic->get_MaskHandle(&h); return h; }},
        {[&](LONG h) { return frame->put_FrameHandle(h); }, [&] { LONG h = 0; frame->get_FrameHandle(&h); return h; }},
        {[&](LONG h) { return frame->put_FrameHandle2(h); }, [&] { LONG h = 0; frame->get_FrameHandle2(&h); return h; }},
    };
    for (const auto& [put, get] : setters) {
      const int32_t mine = Flat(2, 2, 0x445566);
      ASSERT_EQ(S_OK, put(mine));
      EXPECT_EQ(mine, get());
      ASSERT_EQ(S_OK, put(shown));
      EXPECT_NE(shown, get()) << "the picture's block is copied";
      EXPECT_EQ(Bytes(shown), Bytes(get()));
      EXPECT_FALSE(PictureBlock::IsOwned(mine)) << "the replaced block is the caller's again";
      EXPECT_EQ(40u + 2 * 8, GlobalSize(AsHGlobal(mine))) << "and not freed";
      FreeBlocks({mine});
    }
    ASSERT_EQ(S_OK, pic->put_PicHandle(loose));
    EXPECT_EQ(before + 5, PictureBlock::OwnedCount()) << "the picture's block, three copies, the loose block";
  }
  EXPECT_EQ(before, PictureBlock::OwnedCount()) << "each block freed once, with its holder";
  EXPECT_EQ(0u, GlobalSize(AsHGlobal(loose)));
}

// A large library block is the result itself: every result is a block of
// its own holding the library's bytes, and the modifier keeps nothing
// between calls.
TEST(LibraryModifiers, LargeLibraryBlocksAreTheResultAndNothingIsKept) {
  const int32_t block = PhotoLike(700, 500);  // over a megabyte
  ComPtr<IVuPicture> src = LinkedPictureOf(block);
  const std::vector<uint8_t> expected = LibraryBytes(NimboRotate(180, block));
  ComPtr<IRotateModifier> rotate = Modifier<IRotateModifier>(CLSID_RotateModifier);
  rotate->put_Angle(180);
  const size_t before = PictureBlock::OwnedCount();
  ComPtr<IVuPicture> first, second;
  ASSERT_EQ(S_OK, rotate->Apply(src.Get(), first.GetAddressOf()));
  EXPECT_EQ(before + 1, PictureBlock::OwnedCount()) << "the result alone";
  ASSERT_EQ(S_OK, rotate->Apply(src.Get(), second.GetAddressOf()));
  EXPECT_EQ(before + 2, PictureBlock::OwnedCount()) << "two results";
  EXPECT_NE(HandleOf(first.Get()), HandleOf(second.Get()));
  EXPECT_EQ(expected, Bytes(HandleOf(first.Get())));
  EXPECT_EQ(expected, Bytes(HandleOf(second.Get())));
  first.Reset();
  second.Reset();
  EXPECT_EQ(before, PictureBlock::OwnedCount()) << "nothing is left with the modifier";
}
