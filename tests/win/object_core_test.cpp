// The object core of the module: a construction that fails part-way leaves
// no object and no module lock behind.
#include <gtest/gtest.h>

#include "com/module.h"
#include "server/plain_classes.h"
#include "test_support.h"

using namespace qbtest;

namespace {

class FailsToConstruct final : public qb::ComObject<IImageFile> {
 public:
  explicit FailsToConstruct(IUnknown* outer) : ComObject(outer) { ++alive; }
  ~FailsToConstruct() override { --alive; }
  HRESULT FinalConstruct() override { return E_OUTOFMEMORY; }
  static int alive;
};
int FailsToConstruct::alive = 0;

}  // namespace

TEST(ObjectCore, FailedConstructionDestroysTheObject) {
  LONG locks = qb::ModuleLockCount();
  void* p = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(E_OUTOFMEMORY, qb::CreateObject<FailsToConstruct>(nullptr, IID_IUnknown, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(0, FailsToConstruct::alive);
  EXPECT_EQ(locks, qb::ModuleLockCount());

  EXPECT_EQ(E_NOINTERFACE, qb::CreateObject<qb::ImageFile>(nullptr, IID_IClassFactory, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(locks, qb::ModuleLockCount());
  EXPECT_EQ(E_POINTER, qb::CreateObject<qb::ImageFile>(nullptr, IID_IUnknown, nullptr));
}

TEST(ObjectCore, OneReferenceAndTheFirstReleaseDestroys) {
  LONG locks = qb::ModuleLockCount();
  IImageFile* file = nullptr;
  ASSERT_EQ(S_OK, qb::CreateObject<qb::ImageFile>(nullptr, IID_IImageFile, reinterpret_cast<void**>(&file)));
  EXPECT_EQ(locks + 1, qb::ModuleLockCount());
  EXPECT_EQ(1u, RefCount(file));
  EXPECT_EQ(0u, file->Release());
  EXPECT_EQ(locks, qb::ModuleLockCount());
}
