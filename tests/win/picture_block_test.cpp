// The owner of picture blocks and the module's record of owned blocks.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "core/picture_block.h"
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
