// The modifier contract and the two tone modifiers, through their COM
// interfaces as a client uses them.
#include <gtest/gtest.h>

#include <cstring>

#include "com/error_report.h"
#include "core/picture_block.h"
#include "modifiers/portable/tone.h"
#include "message_watch.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

int32_t OnePixel(uint32_t rgb) {
  return MakeBlock(1, 1, [rgb](int32_t, int32_t) { return rgb; });
}

// A 256 x 1 picture whose pixel x has every channel equal to x.
int32_t Ramp() {
  return MakeBlock(256, 1, [](int32_t x, int32_t) { return static_cast<uint32_t>(x) * 0x010101u; });
}

Pixels Brighten(int32_t block, LONG level) {
  ComPtr<IBright> b = Make<IBright>(CLSID_Bright);
  b->put_Brightness(level);
  ComPtr<IVuPicture> src = PictureOf(block);
  ComPtr<IVuPicture> out;
  EXPECT_EQ(S_OK, b->Apply(src.Get(), out.GetAddressOf()));
  return out ? Read(HandleOf(out.Get())) : Pixels();
}

Pixels Stretch(int32_t block, LONG level) {
  ComPtr<IContrast> c = Make<IContrast>(CLSID_Contrast);
  c->put_Contrast(level);
  ComPtr<IVuPicture> src = PictureOf(block);
  ComPtr<IVuPicture> out;
  EXPECT_EQ(S_OK, c->Apply(src.Get(), out.GetAddressOf()));
  return out ? Read(HandleOf(out.Get())) : Pixels();
}

}  // namespace

TEST(Tone, BrightnessExamples) {
  Pixels up = Brighten(OnePixel(0xFAE60A), 50);  // (B,G,R) = (10,230,250)
  EXPECT_EQ(60, up.At(0, 0)[0]);
  EXPECT_EQ(255, up.At(0, 0)[1]);
  EXPECT_EQ(255, up.At(0, 0)[2]);
  Pixels down = Brighten(OnePixel(0xFF3C1E), -50);  // (30,60,255)
  EXPECT_EQ(0, down.At(0, 0)[0]);
  EXPECT_EQ(10, down.At(0, 0)[1]);
  EXPECT_EQ(205, down.At(0, 0)[2]);
  Pixels clamped = Brighten(OnePixel(0xFAE60A), 80);
  EXPECT_EQ(60, clamped.At(0, 0)[0]) << "80 acts as 50";
}

TEST(Tone, ContrastExamples) {
  Pixels more = Stretch(Ramp(), 50);
  for (int ch : {0, 25, 50}) EXPECT_EQ(0, more.At(ch, 0)[0]) << ch;
  for (int ch : {205, 230, 255}) EXPECT_EQ(255, more.At(ch, 0)[1]) << ch;
  EXPECT_EQ(128, more.At(128, 0)[2]);
  EXPECT_EQ(82, more.At(100, 0)[0]);
  EXPECT_EQ(50, more.At(81, 0)[0]);
  Pixels less = Stretch(Ramp(), -200);  // acts as -50
  EXPECT_EQ(50, less.At(0, 0)[0]);
  EXPECT_EQ(205, less.At(255, 0)[0]);
  EXPECT_EQ(127, less.At(128, 0)[0]);
  EXPECT_EQ(206, Stretch(Ramp(), -48).At(255, 0)[2]);
}

TEST(Tone, GettersReportTheClampedValue) {
  ComPtr<IBright> b = Make<IBright>(CLSID_Bright);
  ComPtr<IContrast> c = Make<IContrast>(CLSID_Contrast);
  LONG v = kMarker;
  b->put_Brightness(80);
  EXPECT_EQ(S_OK, b->get_Brightness(&v));
  EXPECT_EQ(50, v);
  c->put_Contrast(-200);
  EXPECT_EQ(S_OK, c->get_Contrast(&v));
  EXPECT_EQ(-50, v);
}

TEST(Tone, PaddingBytesAreUntouched) {
  const int32_t block = MakeBlock(5, 3, [](int32_t x, int32_t y) { return 0x102030u * (x + y); }, 0xA5);
  ComPtr<IBright> b = Make<IBright>(CLSID_Bright);
  b->put_Brightness(40);
  ComPtr<IVuPicture> src = PictureOf(block), out;
  ASSERT_EQ(S_OK, b->Apply(src.Get(), out.GetAddressOf()));
  std::vector<uint8_t> bytes = Bytes(HandleOf(out.Get()));
  for (int row = 0; row < 3; ++row) EXPECT_EQ(0xA5, bytes[40 + row * 16 + 15]);
}

// A picture of several of the bands that Bright and Contrast copy and
// change together, stored bottom-up and top-down, with padding and slack
// after its rows: the result is byte for byte the source with the kernel
// run on the whole picture at once.
TEST(Tone, BandsGiveTheWholePicturesResult) {
  const int32_t w = 701, h = 400;  // rows of 2104 bytes, 2 of them padding
  const std::vector<uint8_t> bottomUp = Bytes(PhotoLike(w, h));
  std::vector<uint8_t> topDown(bottomUp);
  const size_t stride = (w * 3 + 3) & ~3;
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(topDown.data() + 40 + y * stride, bottomUp.data() + 40 + (h - 1 - y) * stride, stride);
  reinterpret_cast<BITMAPINFOHEADER*>(topDown.data())->biHeight = -h;
  ComPtr<IBright> bright = Make<IBright>(CLSID_Bright);
  bright->put_Brightness(-23);
  ComPtr<IContrast> contrast = Make<IContrast>(CLSID_Contrast);
  contrast->put_Contrast(17);
  for (const bool down : {false, true}) {
    std::vector<uint8_t> source = down ? topDown : bottomUp;
    source.insert(source.end(), {0x5A, 0x5B, 0x5C});  // slack after the rows
    for (int32_t row = 0; row < h; ++row) source[40 + row * stride + stride - 1] = 0xA5;
    const auto whole = [&](std::vector<uint8_t> bytes, auto kernel) {
      kernel(qb::dib::ImageView(bytes.data() + 40, w, h, static_cast<uint32_t>(stride), !down));
      return bytes;
    };
    struct Row {
      const char* name;
      IPictureModifier* modifier;
      std::vector<uint8_t> expected;
    } table[] = {
        {"Bright", bright.Get(), whole(source, [](qb::dib::ImageView v) { qb::tone::ShiftChannels(v, -23); })},
        {"Contrast", contrast.Get(), whole(source, [](qb::dib::ImageView v) { qb::tone::StretchChannels(v, 17); })},
    };
    for (const Row& row : table) {
      ComPtr<IVuPicture> src = PictureOf(BlockOf(source)), out;
      ASSERT_EQ(S_OK, row.modifier->Apply(src.Get(), out.GetAddressOf())) << row.name;
      EXPECT_TRUE(Bytes(HandleOf(out.Get())) == row.expected) << row.name << (down ? " top-down" : " bottom-up");
    }
  }
}

// One row per modifier class that produces pictures: what its Apply gives
// for a source without an image (a failure, or success with a picture
// without an image, and the message box it shows then), and the parameters
// that make it change the pixels; and whether it keeps a copy of its source
// in m_preHnd.
struct ModifierRow {
  const char* name;
  const CLSID* clsid;
  HRESULT emptySource;
  void (*configure)(IPictureModifier* m);
  bool emptyGivesPicture = false;
  const wchar_t* emptySourceBox = nullptr;
  bool keepsSource = false;
};

template <class I>
ComPtr<I> As(IPictureModifier* m) {
  ComPtr<I> typed;
  EXPECT_EQ(S_OK, m->QueryInterface(__uuidof(I), reinterpret_cast<void**>(typed.GetAddressOf())));
  return typed;
}

template <class I, HRESULT (STDMETHODCALLTYPE I::*Put)(LONG), LONG kValue>
void Set(IPictureModifier* m) {
  ComPtr<I> typed = As<I>(m);
  ASSERT_TRUE(typed);
  ASSERT_EQ(S_OK, (typed.Get()->*Put)(kValue));
}

void ZoomTo7x6(IPictureModifier* m) {
  As<IZoom>(m)->put_Width(7);
  As<IZoom>(m)->put_Height(6);
}

// Text high enough over the top edge that its glyphs cross even a 4-row
// picture.
void Caption(IPictureModifier* m) {
  ComPtr<IAddText> t = As<IAddText>(m);
  t->put_Text(Bstr(L"WW"));
  t->put_Y(-12);
}

// A white overlay through a mid-grey mask, handed over by handle: the
// object takes both blocks over.
void Watermark(IPictureModifier* m) {
  ComPtr<IAddPic> a = As<IAddPic>(m);
  a->put_PicHandle(MakeBlock(4, 4, [](int32_t, int32_t) { return 0xFFFFFFu; }));
  a->put_MaskHandle(MakeBlock(4, 4, [](int32_t, int32_t) { return 0x808080u; }));
}

void WholeRedEye(IPictureModifier* m) {
  ComPtr<IRedEye> r = As<IRedEye>(m);
  r->put_RectWidth(1000);
  r->put_RectHeight(1000);
}

void CornerCrop(IPictureModifier* m) {
  ComPtr<ICrop> c = As<ICrop>(m);
  c->put_RectLeft(1);
  c->put_RectTop(1);
  c->put_RectWidth(2);
  c->put_RectHeight(2);
}

// A red frame around a black hole.
void RedFrame(IPictureModifier* m) {
  As<IFrame>(m)->put_FrameHandle(
      MakeBlock(3, 3, [](int32_t x, int32_t y) { return x == 1 && y == 1 ? 0x000000u : 0xFF0000u; }));
}

const ModifierRow kModifierRows[] = {
    {"Bright", &CLSID_Bright, E_UNEXPECTED, &Set<IBright, &IBright::put_Brightness, 10>},
    {"Contrast", &CLSID_Contrast, E_UNEXPECTED, &Set<IContrast, &IContrast::put_Contrast, 30>},
    {"BlurModifier", &CLSID_BlurModifier, S_OK, &Set<IBlurModifier, &IBlurModifier::put_Level, 10>, true},
    {"Zoom", &CLSID_Zoom, E_FAIL, &ZoomTo7x6},
    {"RotateModifier", &CLSID_RotateModifier, E_FAIL, &Set<IRotateModifier, &IRotateModifier::put_Angle, 30>,
     false, L"hDib  is null"},
    {"AddText", &CLSID_AddText, S_OK, &Caption, true},
    {"AddPic", &CLSID_AddPic, S_OK, &Watermark, true},
    {"Frame", &CLSID_Frame, S_FALSE, &RedFrame},
    {"AdjustColorModifier", &CLSID_AdjustColorModifier, S_OK,
     &Set<IAdjustColorModifier, &IAdjustColorModifier::put_Hue, 120>, true},
    {"SharpModifier", &CLSID_SharpModifier, E_FAIL, &Set<ISharpModifier, &ISharpModifier::put_Level, 5>},
    {"RedEye", &CLSID_RedEye, E_UNEXPECTED, &WholeRedEye},
    {"MirrorModifier", &CLSID_MirrorModifier, E_UNEXPECTED, nullptr, false, nullptr, true},
    {"Crop", &CLSID_Crop, S_OK, &CornerCrop, true},
};

class ModifierContract : public testing::TestWithParam<ModifierRow> {
 protected:
  ComPtr<IPictureModifier> Configured() {
    // Made by the linked server code, so that the blocks its results own
    // are counted where the test can see them.
    ComPtr<IPictureModifier> m = MakeLinked<IPictureModifier>(*GetParam().clsid);
    if (GetParam().configure) GetParam().configure(m.Get());
    return m;
  }

  // Closes any message box a call shows; the boxes expected are checked.
  BoxWatcher m_boxes;
};

std::wstring FileNameOf(IVuPicture* p) {
  BSTR name = nullptr;
  p->get_FileName(&name);
  std::wstring text = name ? name : L"";
  SysFreeString(name);
  return text;
}

TEST_P(ModifierContract, EmptySourceGivesItsResultAndNoPicture) {
  ComPtr<IVuPicture> empty = Make<IVuPicture>(CLSID_VuPicture);
  ComPtr<IPictureModifier> m = Configured();
  for (IVuPicture* source : {empty.Get(), static_cast<IVuPicture*>(nullptr)}) {
    IVuPicture* result = reinterpret_cast<IVuPicture*>(0xdeadbeef);
    qb::ReportError(CLSID_Zoom, L"an earlier call's message", IID_IZoom);
    EXPECT_EQ(GetParam().emptySource, m->Apply(source, &result));
    ComPtr<IErrorInfo> stale;
    if (FAILED(GetParam().emptySource)) {
      EXPECT_EQ(S_FALSE, GetErrorInfo(0, stale.GetAddressOf())) << "a failure leaves no earlier message behind";
    }
    SetErrorInfo(0, nullptr);
    if (!GetParam().emptyGivesPicture) {
      EXPECT_EQ(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);
      continue;
    }
    ASSERT_NE(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);
    LONG has = kMarker;
    EXPECT_EQ(S_OK, result->get_HasImage(&has));
    EXPECT_EQ(0, has) << "a picture without an image";
    result->Release();
  }
  EXPECT_EQ(E_POINTER, m->Apply(empty.Get(), nullptr));
  std::vector<std::wstring> boxes;
  if (GetParam().emptySourceBox) {
    ASSERT_TRUE(CanShowWindows()) << "message boxes need a display: run the tests under xvfb-run -a";
    boxes.assign(2, GetParam().emptySourceBox);
  }
  EXPECT_EQ(boxes, m_boxes.Texts());
}

TEST_P(ModifierContract, ResultsOwnTheirBlocksAndDieOnTheirFirstRelease) {
  const size_t ownedBefore = qb::PictureBlock::OwnedCount();
  {
    const int32_t block = PhotoLike(9, 5);
    ComPtr<IVuPicture> src = PictureOf(block, L"C:\\photos\\a.jpg");
    const std::vector<uint8_t> sourceBytes = Bytes(block);
    ComPtr<IPictureModifier> m = Configured();
    const size_t held = qb::PictureBlock::OwnedCount();  // pictures the modifier holds itself
    IVuPicture* first = nullptr;
    ASSERT_EQ(S_OK, m->Apply(src.Get(), &first));
    EXPECT_EQ(held + 1 + GetParam().keepsSource, qb::PictureBlock::OwnedCount())
        << "the result owns one block (and a modifier that keeps its source, its copy)";
    const std::vector<uint8_t> firstBytes = Bytes(HandleOf(first));
    EXPECT_NE(block, HandleOf(first));
    EXPECT_NE(sourceBytes, firstBytes) << "the parameters change the pixels";
    EXPECT_EQ(sourceBytes, Bytes(block)) << "the source is never changed";
    EXPECT_EQ(L"C:\\photos\\a.jpg", FileNameOf(first));

    ComPtr<IVuPicture> second;
    ASSERT_EQ(S_OK, m->Apply(src.Get(), second.GetAddressOf()));
    EXPECT_NE(HandleOf(first), HandleOf(second.Get())) << "two calls give two pictures";
    src.Reset();  // releases the source's block too
    EXPECT_EQ(firstBytes, Bytes(HandleOf(first))) << "an earlier result does not change";
    EXPECT_EQ(firstBytes, Bytes(HandleOf(second.Get())));
    EXPECT_EQ(0u, first->Release()) << "the result is handed out with exactly one reference";
  }
  EXPECT_EQ(ownedBefore, qb::PictureBlock::OwnedCount())
      << "every block is freed with its picture, and the modifier's own with the modifier";
}

TEST_P(ModifierContract, EmptyFileNameStaysEmpty) {
  ComPtr<IVuPicture> src = PictureOf(PhotoLike(4, 4)), out;
  ComPtr<IPictureModifier> m = Configured();
  ASSERT_EQ(S_OK, m->Apply(src.Get(), out.GetAddressOf()));
  BSTR name = reinterpret_cast<BSTR>(1);
  EXPECT_EQ(S_OK, out->get_FileName(&name));
  EXPECT_EQ(nullptr, name);
}

// get_PreHnd after Apply: nothing written, or for a class that keeps its
// source, a copy of the source as it was.
TEST_P(ModifierContract, PreHndAfterApply) {
  ComPtr<IPictureModifier> m = Configured();
  const int32_t block = PhotoLike(4, 4);
  const std::vector<uint8_t> sourceBytes = Bytes(block);
  ComPtr<IVuPicture> src = PictureOf(block), out;
  ASSERT_EQ(S_OK, m->Apply(src.Get(), out.GetAddressOf()));
  LONG handle = kMarker;
  EXPECT_EQ(S_OK, m->get_PreHnd(&handle));
  if (GetParam().keepsSource) {
    ASSERT_NE(kMarker, handle);
    EXPECT_NE(block, handle);
    EXPECT_EQ(sourceBytes, Bytes(handle));
  } else {
    EXPECT_EQ(kMarker, handle);
  }
}

INSTANTIATE_TEST_SUITE_P(Classes, ModifierContract, testing::ValuesIn(kModifierRows),
                         [](const testing::TestParamInfo<ModifierRow>& info) { return info.param.name; });

TEST(ModifierContractAll, PreHndOfAFreshModifierWritesNothing) {
  const CLSID* modifiers[] = {&CLSID_SharpModifier, &CLSID_BlurModifier, &CLSID_Zoom,
                              &CLSID_Contrast,      &CLSID_Bright,       &CLSID_Crop,
                              &CLSID_AddText,       &CLSID_Frame,        &CLSID_AddPic,
                              &CLSID_RotateModifier, &CLSID_RedEye,      &CLSID_MirrorModifier,
                              &CLSID_AdjustColorModifier};
  for (const CLSID* clsid : modifiers) {
    ComPtr<IPictureModifier> m = Make<IPictureModifier>(*clsid);
    LONG handle = kMarker;
    EXPECT_EQ(S_OK, m->get_PreHnd(&handle));
    EXPECT_EQ(kMarker, handle);
  }
}

TEST(Tone, HeaderClaimingMoreRowsThanTheBlockHoldsIsRefused) {
  const int32_t block = PhotoLike(8, 8);
  HGLOBAL g = AsHGlobal(block);
  auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(g));
  header->biHeight = 4000;
  GlobalUnlock(g);
  const std::vector<uint8_t> before = Bytes(block);
  ComPtr<IVuPicture> src = PictureOf(block);
  for (REFCLSID clsid : {CLSID_Bright, CLSID_Contrast}) {
    ComPtr<IPictureModifier> m = Make<IPictureModifier>(clsid);
    IVuPicture* result = reinterpret_cast<IVuPicture*>(0xdeadbeef);
    EXPECT_EQ(E_UNEXPECTED, m->Apply(src.Get(), &result));
    EXPECT_EQ(reinterpret_cast<IVuPicture*>(0xdeadbeef), result);
  }
  EXPECT_EQ(before, Bytes(block));
}

TEST(Tone, PaletteAndThirtyTwoBitPicturesComeOutAsTwentyFourBits) {
  // 8-bit: 2 x 1, indices 0 and 1 into a table of two colours.
  HGLOBAL pal = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + 256 * 4 + 4);
  auto* p = static_cast<uint8_t*>(GlobalLock(pal));
  auto* h = reinterpret_cast<BITMAPINFOHEADER*>(p);
  h->biSize = 40;
  h->biWidth = 2;
  h->biHeight = 1;
  h->biPlanes = 1;
  h->biBitCount = 8;
  const uint8_t table[2][4] = {{10, 20, 30, 0}, {200, 210, 220, 0}};
  std::memcpy(p + 40, table, sizeof(table));
  p[40 + 1024 + 1] = 1;
  GlobalUnlock(pal);
  Pixels fromPalette = Brighten(AsHandle(pal), 40);
  ASSERT_EQ(24, fromPalette.bits);
  EXPECT_EQ(50, fromPalette.At(0, 0)[0]);
  EXPECT_EQ(70, fromPalette.At(0, 0)[2]);
  EXPECT_EQ(240, fromPalette.At(1, 0)[0]);
  EXPECT_EQ(255, fromPalette.At(1, 0)[2]);

  // 32-bit: one pixel B,G,R,X = 1,2,3,99.
  HGLOBAL wide = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 44);
  auto* q = static_cast<uint8_t*>(GlobalLock(wide));
  auto* w = reinterpret_cast<BITMAPINFOHEADER*>(q);
  w->biSize = 40;
  w->biWidth = 1;
  w->biHeight = 1;
  w->biPlanes = 1;
  w->biBitCount = 32;
  q[40] = 1;
  q[41] = 2;
  q[42] = 3;
  q[43] = 99;
  GlobalUnlock(wide);
  Pixels fromWide = Brighten(AsHandle(wide), 10);
  ASSERT_EQ(24, fromWide.bits);
  EXPECT_EQ(11, fromWide.At(0, 0)[0]);
  EXPECT_EQ(12, fromWide.At(0, 0)[1]);
  EXPECT_EQ(13, fromWide.At(0, 0)[2]);
}
