// Four apartments at once: the whole road of a script (load, every
// modifier, two saves, a card) run on four apartment threads at the same
// time, each with its own objects, gives the bytes the same road gives on
// one thread, and leaves the process's blocks, handles and GDI objects as
// it found them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/picture_block.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 75;

uint64_t Digest(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h ^ bytes.size();
}

// A linked object, made without gtest's checks (they are not for worker
// threads): null when it cannot be made.
template <class I>
ComPtr<I> Create(REFCLSID clsid) {
  ComPtr<IClassFactory> factory;
  ComPtr<I> p;
  if (SUCCEEDED(qb::GetClassFactory(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))))
    factory->CreateInstance(nullptr, __uuidof(I), reinterpret_cast<void**>(p.GetAddressOf()));
  return p;
}

template <class I>
ComPtr<IPictureModifier> AsModifier(const ComPtr<I>& m) {
  ComPtr<IPictureModifier> out;
  if (m) m.As(&out);
  return out;
}

// Every modifier class, set up as a script would; `frame` is a small
// picture file for the classes that load one.
std::vector<ComPtr<IPictureModifier>> EveryModifier(const std::wstring& frame) {
  std::vector<ComPtr<IPictureModifier>> all;
  auto bright = Create<IBright>(CLSID_Bright);
  if (bright) bright->put_Brightness(20);
  all.push_back(AsModifier(bright));
  auto contrast = Create<IContrast>(CLSID_Contrast);
  if (contrast) contrast->put_Contrast(15);
  all.push_back(AsModifier(contrast));
  auto colour = Create<IAdjustColorModifier>(CLSID_AdjustColorModifier);
  if (colour) {
    colour->put_Hue(40);
    colour->put_Saturation(10);
  }
  all.push_back(AsModifier(colour));
  auto sharp = Create<ISharpModifier>(CLSID_SharpModifier);
  if (sharp) sharp->put_Level(3);
  all.push_back(AsModifier(sharp));
  auto redEye = Create<IRedEye>(CLSID_RedEye);
  if (redEye) {
    redEye->put_RectWidth(20);
    redEye->put_RectHeight(20);
  }
  all.push_back(AsModifier(redEye));
  auto mirror = Create<IMirrorModifier>(CLSID_MirrorModifier);
  if (mirror) mirror->put_Direction(1);
  all.push_back(AsModifier(mirror));
  auto crop = Create<ICrop>(CLSID_Crop);
  if (crop) {
    crop->put_RectLeft(4);
    crop->put_RectTop(3);
    crop->put_RectWidth(16);
    crop->put_RectHeight(12);
  }
  all.push_back(AsModifier(crop));
  auto blur = Create<IBlurModifier>(CLSID_BlurModifier);
  if (blur) blur->put_Level(3);
  all.push_back(AsModifier(blur));
  auto zoom = Create<IZoom>(CLSID_Zoom);
  if (zoom) {
    zoom->put_Width(40);
    zoom->put_Height(30);
  }
  all.push_back(AsModifier(zoom));
  auto rotate = Create<IRotateModifier>(CLSID_RotateModifier);
  if (rotate) rotate->put_Angle(30);
  all.push_back(AsModifier(rotate));
  auto text = Create<IAddText>(CLSID_AddText);
  if (text) {
    text->put_Text(Bstr(L"road"));
    text->put_X(2);
    text->put_Y(2);
  }
  all.push_back(AsModifier(text));
  auto pic = Create<IAddPic>(CLSID_AddPic);
  if (pic) {
    pic->LoadPicFile(Bstr(frame));
    pic->LoadMaskFile(Bstr(frame));
    pic->put_X(5);
    pic->put_Y(5);
  }
  all.push_back(AsModifier(pic));
  auto framer = Create<IFrame>(CLSID_Frame);
  if (framer) {
    framer->LoadFrameFile(Bstr(frame));
    framer->LoadFrameFile2(Bstr(frame));
  }
  all.push_back(AsModifier(framer));
  return all;
}

// One apartment's road, `rounds` times over, in its own folder: the digest
// of every block and file it makes, round after round (a zero digest marks
// a step that failed).
std::vector<uint64_t> Road(const std::wstring& photo, const std::wstring& frame, const std::wstring& folder,
                           int rounds) {
  std::vector<uint64_t> digests;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return {0};
  {
    const std::vector<ComPtr<IPictureModifier>> modifiers = EveryModifier(frame);
    ComPtr<IExportToCard> exporter = Create<IExportToCard>(CLSID_ExportToCard);
    const std::wstring saved = folder + L"\\road";
    const std::wstring card = folder + L"\\road-card.exe";
    for (int round = 0; round < rounds; ++round) {
      ComPtr<IVuPicture> p = Create<IVuPicture>(CLSID_VuPicture);
      LONG h = 0;
      const bool loaded = p && p->LoadFile(Bstr(photo)) == S_OK && p->get_Handle(&h) == S_OK;
      digests.push_back(loaded ? Digest(Bytes(h)) : 0);
      std::vector<ComPtr<IVuPicture>> results;
      for (const ComPtr<IPictureModifier>& m : modifiers) {
        ComPtr<IVuPicture> result;
        LONG r = 0;
        const bool applied = m && m->Apply(p.Get(), result.GetAddressOf()) == S_OK && result &&
                             result->get_Handle(&r) == S_OK;
        digests.push_back(applied ? Digest(Bytes(r)) : 0);
        results.push_back(result);
      }
      IVuPicture* edited = results[0].Get();  // brightened, with the photo's camera data
      const bool jpeg = edited && edited->SaveAs(Bstr(saved), Bstr(L".jpg")) == S_OK;
      digests.push_back(jpeg ? Digest(ReadFileBytes(saved + L".jpg")) : 0);
      const bool png = edited && edited->SaveAs(Bstr(saved), Bstr(L".png")) == S_OK;
      digests.push_back(png ? Digest(ReadFileBytes(saved + L".png")) : 0);
      const bool packed = exporter && exporter->PackCard(Bstr(saved + L".jpg"), Bstr(saved + L".png"), Bstr(card)) == S_OK;
      digests.push_back(packed ? Digest(ReadFileBytes(card)) : 0);
    }
  }
  CoUninitialize();
  return digests;
}

// The process's counts once they hold still (or, given `target`, once they
// are back to it): Wine lets go of an ended thread's handles and GDI objects
// a moment after the thread itself has ended. Gives up after about 5 s.
ProcessCounts Settled(const ProcessCounts* target = nullptr) {
  ProcessCounts last = TakeProcessCounts();
  for (int i = 0; i < 50; ++i) {
    Sleep(100);
    const ProcessCounts now = TakeProcessCounts();
    const ProcessCounts& goal = target ? *target : last;
    if (now.gdi == goal.gdi && now.kernel == goal.kernel && (target || now.gdi == last.gdi)) return now;
    last = now;
  }
  return last;
}

}  // namespace

TEST(Apartments, FourApartmentsRunTheRoadAsOneDoes) {
  const char* samples = std::getenv("QB_SAMPLES_WIN");
  if (!samples) GTEST_SKIP() << "QB_SAMPLES_WIN does not name the camera photos";
  ScratchFolder scratch(L"qb-apartments");
  // A short photo with the camera's data: the sample, zoomed to 64 x 48 and
  // saved as JPEG (the save carries the source's EXIF segment).
  const std::wstring photo = scratch.Path(L"photo.jpg");
  const std::wstring frame = scratch.Path(L"frame.png");
  {
    ComPtr<IVuPicture> sample = MakeLinked<IVuPicture>(CLSID_VuPicture);
    ASSERT_EQ(S_OK, sample->LoadFile(Bstr(std::wstring(samples, samples + strlen(samples)) + L"\\sample1.jpg")));
    ComPtr<IZoom> zoom = MakeLinked<IZoom>(CLSID_Zoom);
    zoom->put_Width(64);
    zoom->put_Height(48);
    ComPtr<IVuPicture> small;
    ASSERT_EQ(S_OK, zoom->Apply(sample.Get(), small.GetAddressOf()));
    ASSERT_EQ(S_OK, small->SaveAs(Bstr(scratch.Path(L"photo")), Bstr(L".jpg")));
    ComPtr<IVuPicture> framePicture = MakeLinked<IVuPicture>(CLSID_VuPicture);
    ASSERT_EQ(S_OK, framePicture->AttachImage(PhotoLike(32, 24)));
    ASSERT_EQ(S_OK, framePicture->SaveAs(Bstr(scratch.Path(L"frame")), Bstr(L".png")));
  }
  const auto runAll = [&](int threads, int rounds) {
    std::vector<std::vector<uint64_t>> out(threads);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
      const std::wstring folder = scratch.Folder(L"t" + std::to_wstring(i));
      workers.emplace_back([&, i, folder] { out[i] = Road(photo, frame, folder, rounds); });
    }
    for (std::thread& t : workers) t.join();
    return out;
  };

  const std::vector<uint64_t> alone = runAll(1, 1)[0];  // the road on one thread
  const size_t steps = alone.size();
  ASSERT_EQ(1u + 13 + 3, steps) << "the load, every modifier, two saves and a card";
  for (size_t i = 0; i < steps; ++i) ASSERT_NE(0u, alone[i]) << "step " << i << " fails on one thread";
  runAll(kThreads, 1);  // the first run of each kind of thread settles what Wine keeps per process

  const size_t blocks = qb::PictureBlock::OwnedCount();
  const ProcessCounts before = Settled();
  const DWORD began = GetTickCount();
  const std::vector<std::vector<uint64_t>> together = runAll(kThreads, kRounds);
  const DWORD took = GetTickCount() - began;
  const ProcessCounts after = Settled(&before);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(steps * kRounds, together[t].size()) << "thread " << t;
    int differing = 0;
    for (size_t i = 0; i < together[t].size(); ++i) {
      if (together[t][i] != alone[i % steps] && ++differing <= 3)
        ADD_FAILURE() << "thread " << t << ", round " << i / steps << ", step " << i % steps << " differs";
    }
    EXPECT_EQ(0, differing) << "thread " << t;
  }
  EXPECT_EQ(blocks, qb::PictureBlock::OwnedCount()) << "every block freed with its object";
  EXPECT_EQ(before.kernel, after.kernel) << "kernel handles";
  EXPECT_EQ(before.gdi, after.gdi) << "GDI objects";
  EXPECT_LT(after.privateBytes, before.privateBytes + (8u << 20))
      << "private bytes grew by " << (after.privateBytes - before.privateBytes) / 1024 << " KB";
  std::printf("%d apartments x %d rounds of the road in %lu ms\n", kThreads, kRounds, static_cast<unsigned long>(took));
}
