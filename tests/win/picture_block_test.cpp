// The owner of picture blocks and the module's record of owned blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "core/block_recycler.h"
#include "core/picture_block.h"
#include "rastrum/rastrum.h"
#include "test_blocks.h"
#include "test_support.h"

using namespace qbtest;
using qb::PictureBlock;

TEST(PictureBlock, OwnsPositiveHandlesUntilItLetsGo) {
  const size_t before = PictureBlock::OwnedCount();
  const int32_t h = PhotoLike(4, 3);
  {
    PictureBlock a(h);
    EXPECT_TRUE(PictureBlock::IsOwned(h));
    PictureBlock b = std::move(a);
    EXPECT_EQ(0, a.get());
    EXPECT_EQ(h, b.get());
    EXPECT_TRUE(PictureBlock::IsOwned(h)) << "a move keeps the claim";
    PictureBlock c = PictureBlock::CopyOf(h);
    ASSERT_TRUE(c);
    EXPECT_NE(h, c.get());
    EXPECT_EQ(Bytes(h), Bytes(c.get()));
    EXPECT_EQ(before + 2, PictureBlock::OwnedCount());
    EXPECT_EQ(h, b.release());
    EXPECT_FALSE(PictureBlock::IsOwned(h)) << "a released block is the caller's";
  }
  EXPECT_EQ(before, PictureBlock::OwnedCount()) << "the copy was freed with its owner";
  PictureBlock again(h);  // the released block still exists; this owner frees it
  EXPECT_EQ(4, reinterpret_cast<const BITMAPINFOHEADER*>(Bytes(h).data())->biWidth);
}

TEST(PictureBlock, FailureValuesAndZeroOwnNothing) {
  const size_t before = PictureBlock::OwnedCount();
  PictureBlock failed(-3), none;
  EXPECT_EQ(-3, failed.get());
  EXPECT_FALSE(failed);
  EXPECT_FALSE(PictureBlock::IsOwned(-3));
  EXPECT_FALSE(PictureBlock::CopyOf(-3));
  EXPECT_FALSE(PictureBlock::CopyOf(0));
  failed.reset();
  EXPECT_EQ(before, PictureBlock::OwnedCount());
}

// A picture's block is known as owned to code on any thread while the
// picture lives, and not after it is gone.
TEST(PictureBlock, APicturesBlockIsKnownAsOwnedFromAnyThread) {
  ComPtr<IVuPicture> p = MakeLinked<IVuPicture>(CLSID_VuPicture);
  const int32_t h = PhotoLike(2, 2);
  ASSERT_EQ(S_OK, p->AttachImage(h));
  bool seen = false;
  std::thread([&] { seen = PictureBlock::IsOwned(h); }).join();
  EXPECT_TRUE(seen);
  p.Reset();
  EXPECT_FALSE(PictureBlock::IsOwned(h));
}

namespace {

LONG HandleRead(IVuPicture* p) {
  LONG h = 0;
  p->get_Handle(&h);
  return h;
}

}  // namespace

// A block an object made itself and never lent out is freed when the object
// replaces it, so a script's loop of replacements leaves nothing behind
// (each leaked round would be a whole 120 x 90 picture, 32 KB).
TEST(PictureBlock, ReplacementsInALoopLeaveNothingBehind) {
  ScratchFolder scratch(L"qb-replace");
  ComPtr<IVuPicture> p = MakeLinked<IVuPicture>(CLSID_VuPicture);
  ASSERT_EQ(S_OK, p->AttachImage(PhotoLike(120, 90)));
  ASSERT_EQ(S_OK, p->SaveAs(Bstr(scratch.Path(L"pic")), Bstr(L".bmp")));
  const Bstr file(scratch.Path(L"pic.bmp"));
  ComPtr<IAddPic> ap = MakeLinked<IAddPic>(CLSID_AddPic);
  ComPtr<IVuPicture> q = MakeLinked<IVuPicture>(CLSID_VuPicture);
  const struct {
    const char* what;
    std::function<void()> round;
  } loops[] = {
      {"ap.PicHandle = p.Handle", [&] { ap->put_PicHandle(HandleRead(p.Get())); }},
      {"ap.LoadPicFile, ap.PicHandle = p.Handle",
       [&] {
         ap->LoadPicFile(file);
         ap->put_PicHandle(HandleRead(p.Get()));
       }},
      {"q.LoadFile, q.AttachImage p.Handle",
       [&] {
         q->LoadFile(file);
         q->AttachImage(HandleRead(p.Get()));
       }},
  };
  for (const auto& loop : loops) {
    for (int i = 0; i < 5; ++i) loop.round();  // the heap grows to its working size
    const size_t owned = PictureBlock::OwnedCount();
    const SIZE_T bytes = TakeProcessCounts().privateBytes;
    for (int i = 0; i < 1000; ++i) loop.round();
    EXPECT_EQ(owned, PictureBlock::OwnedCount()) << loop.what;
    const SIZE_T after = TakeProcessCounts().privateBytes;
    EXPECT_LT(after, bytes + (2u << 20)) << loop.what << ": grew by " << (after - bytes) / 1024 << " KB";
  }
}

// Which block a replacement frees: one the object made and never lent
// (a modifier's result read only by another modifier) is freed; one lent
// out through Handle, or handed in by the caller, stays alive and becomes
// the caller's, for every way of replacing it.
TEST(PictureBlock, ALentOrHandedBlockOutlivesItsReplacement) {
  ComPtr<IVuPicture> source = MakeLinked<IVuPicture>(CLSID_VuPicture);
  ASSERT_EQ(S_OK, source->AttachImage(PhotoLike(6, 5)));
  ComPtr<IBright> bright = MakeLinked<IBright>(CLSID_Bright);
  bright->put_Brightness(10);
  const struct {
    const char* how;
    std::function<HRESULT(IVuPicture*)> replace;
  } replacements[] = {
      {"AttachImage", [](IVuPicture* p) { return p->AttachImage(PhotoLike(3, 3)); }},
      {"put_Handle", [](IVuPicture* p) { return p->put_Handle(PhotoLike(3, 3)); }},
      {"PasteFromClipboard", [&](IVuPicture* p) { return p->PasteFromClipboard(); }},
  };
  enum class Held { kMadeAndReadByAModifier, kLentThroughHandle, kHandedIn };
  for (const auto& r : replacements) {
    for (Held held : {Held::kMadeAndReadByAModifier, Held::kLentThroughHandle, Held::kHandedIn}) {
      ASSERT_EQ(S_OK, source->CopyToClipboard());
      ComPtr<IVuPicture> p;
      int32_t h = 0;
      if (held == Held::kHandedIn) {
        p = MakeLinked<IVuPicture>(CLSID_VuPicture);
        h = PhotoLike(4, 4);
        ASSERT_EQ(S_OK, p->AttachImage(h));
      } else {
        ASSERT_EQ(S_OK, bright->Apply(source.Get(), p.GetAddressOf()));
        h = HandleRead(p.Get());
        if (held == Held::kMadeAndReadByAModifier) {
          PictureBlock::EndLoan(h);  // the test's read is the module's own, as a modifier's is
          ComPtr<IVuPicture> brighter;
          ASSERT_EQ(S_OK, bright->Apply(p.Get(), brighter.GetAddressOf()));
        }
      }
      const std::vector<uint8_t> before = Bytes(h);
      ASSERT_EQ(S_OK, r.replace(p.Get())) << r.how;
      EXPECT_FALSE(PictureBlock::IsOwned(h)) << r.how;
      if (held == Held::kMadeAndReadByAModifier) {
        EXPECT_EQ(0u, GlobalSize(AsHGlobal(h))) << r.how << ": the picture's own block is freed";
      } else {
        EXPECT_EQ(before, Bytes(h)) << r.how << ": the caller's block is alive and untouched";
        FreeBlocks({h});
      }
    }
  }
}

// Every getter that gives a block out lends it: AddPic's PicHandle and a
// Mirror's PreHnd survive their replacement once read.
TEST(PictureBlock, GettersOfModifiersLendTheirBlocks) {
  ComPtr<IVuPicture> source = MakeLinked<IVuPicture>(CLSID_VuPicture);
  ASSERT_EQ(S_OK, source->AttachImage(PhotoLike(6, 5)));
  ComPtr<IAddPic> ap = MakeLinked<IAddPic>(CLSID_AddPic);
  ASSERT_EQ(S_OK, ap->put_PicHandle(HandleRead(source.Get())));
  LONG overlay = 0;
  ASSERT_EQ(S_OK, ap->get_PicHandle(&overlay));
  ASSERT_EQ(S_OK, ap->put_PicHandle(0));
  EXPECT_EQ(Bytes(HandleRead(source.Get())), Bytes(overlay)) << "the read overlay is the caller's";

  ComPtr<IMirrorModifier> m = MakeLinked<IMirrorModifier>(CLSID_MirrorModifier);
  ComPtr<IVuPicture> first, second;
  ASSERT_EQ(S_OK, m->Apply(source.Get(), first.GetAddressOf()));
  LONG kept = 0;
  ASSERT_EQ(S_OK, m->get_PreHnd(&kept));
  ASSERT_EQ(S_OK, m->Apply(source.Get(), second.GetAddressOf()));
  EXPECT_EQ(Bytes(HandleRead(source.Get())), Bytes(kept)) << "the read PreHnd is the caller's";
  FreeBlocks({overlay, kept});
}

// A block handed in on many threads at once is claimed by exactly one
// owner; every other hand-in takes a copy.
TEST(PictureBlock, AHandedBlockIsClaimedOnceAcrossThreads) {
  const size_t before = PictureBlock::OwnedCount();
  for (int round = 0; round < 20; ++round) {
    const int32_t h = PhotoLike(8, 8);
    std::vector<PictureBlock> taken(8);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (size_t i = 0; i < taken.size(); ++i) {
      threads.emplace_back([&, i] {
        ++ready;
        while (ready < static_cast<int>(taken.size())) std::this_thread::yield();
        taken[i] = PictureBlock::Taken(h);
      });
    }
    for (std::thread& t : threads) t.join();
    int claims = 0;
    for (const PictureBlock& b : taken) {
      claims += b.get() == h;
      EXPECT_EQ(Bytes(h), Bytes(b.get()));
    }
    EXPECT_EQ(1, claims) << "round " << round;
  }
  EXPECT_EQ(before, PictureBlock::OwnedCount());
}

// A large block that an owner frees is kept for the next block of exactly
// its size, one at a time: small blocks pass it by, a large one of another
// size gives it back, and so does a moment of idleness. A caller handing
// in the kept block takes it out of the keeping.
TEST(BlockRecycler, KeepsOneLargeBlockForItsSizeUntilIdle) {
  qb::GiveBackKeptBlock();
  constexpr size_t large = qb::kKeepFrom + 4100;
  const HGLOBAL first = qb::NewPictureBlock(large);
  ASSERT_TRUE(first);
  const auto mark = [](HGLOBAL g, uint8_t value) {
    auto* p = static_cast<uint8_t*>(GlobalLock(g));
    const uint8_t was = p[large - 1];
    p[large - 1] = value;
    GlobalUnlock(g);
    return was;
  };
  mark(first, 0xC3);
  qb::FreePictureBlock(AsHandle(first));
  qb::FreePictureBlock(AsHandle(qb::NewPictureBlock(4096)));
  const HGLOBAL again = qb::NewPictureBlock(large);
  ASSERT_EQ(first, again);
  EXPECT_EQ(large, GlobalSize(again));
  EXPECT_EQ(0xC3, mark(again, 0)) << "the same memory, not a fresh block";
  EXPECT_FALSE(qb::GiveBackKeptBlock()) << "the block was taken, not kept twice";

  qb::FreePictureBlock(AsHandle(again));
  const HGLOBAL otherSize = qb::NewPictureBlock(large + 4);
  EXPECT_FALSE(qb::GiveBackKeptBlock()) << "a block of another size gave it back";
  GlobalFree(otherSize);

  const HGLOBAL stale = qb::NewPictureBlock(large);
  qb::FreePictureBlock(AsHandle(stale));
  {
    PictureBlock handedIn = PictureBlock::Taken(AsHandle(stale));  // a handle read before its owner freed it
    const HGLOBAL next = qb::NewPictureBlock(large);
    EXPECT_NE(stale, next) << "a kept block handed in is never handed out again";
    GlobalFree(next);
  }
  Sleep(qb::kIdleMilliseconds + 1500);
  EXPECT_FALSE(qb::GiveBackKeptBlock()) << "the idle timer gave the block back";
}

// The imaging library's pictures share the kept block: a picture it makes
// of the kept block's size is made in it, and one it made, once an owner
// frees it, is the next block of its size the module asks for.
TEST(BlockRecycler, TheLibrarysPicturesShareTheKeptBlock) {
  qb::GiveBackKeptBlock();
  const int32_t source = PhotoLike(800, 600);  // 1.4 MB, large enough to keep
  const int32_t first = NimboRotate(180, source);
  ASSERT_GT(first, 0);
  const size_t bytes = GlobalSize(AsHGlobal(first));
  ASSERT_GE(bytes, qb::kKeepFrom);
  qb::FreePictureBlock(first);
  const int32_t second = NimboRotate(180, source);
  EXPECT_EQ(first, second) << "the library made its picture in the kept block";
  EXPECT_EQ(Bytes(source).size(), Bytes(second).size());
  const int32_t back = NimboRotate(180, second);
  EXPECT_EQ(Bytes(source), Bytes(back)) << "and the picture is whole";
  qb::FreePictureBlock(second);
  const HGLOBAL mine = qb::NewPictureBlock(bytes);
  EXPECT_EQ(AsHGlobal(second), mine);
  GlobalFree(mine);
  FreeBlocks({source, back});
}
