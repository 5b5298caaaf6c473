// The file-information collection and its enumerator, reached inside the
// module (clients get only IUnknown and ISupportErrorInfo).
#include <gtest/gtest.h>

#include "collections/file_info_array.h"
#include "com/module.h"
#include "test_support.h"

using namespace qbtest;

namespace {

// A collection held through its inner unknown, as a client would hold it.
struct Collection {
  Collection() {
    EXPECT_EQ(S_OK, qb::FileInfoArray::Create(nullptr, IID_IUnknown,
                                              reinterpret_cast<void**>(unknown.GetAddressOf())));
    ComPtr<ISupportErrorInfo> sei;
    unknown.As(&sei);
    array = static_cast<qb::FileInfoArray*>(sei.Get());
  }
  void Add(int n) {
    for (int i = 0; i < n; ++i) {
      ComPtr<IImageFile> item;
      ASSERT_EQ(S_OK, array->AddNew(item.GetAddressOf()));
      ASSERT_TRUE(item);
    }
  }
  ComPtr<IUnknown> unknown;
  qb::FileInfoArray* array = nullptr;
};

}  // namespace

TEST(FileInfoArray, RefusesAggregationAndIDispatch) {
  IUnknown* p = reinterpret_cast<IUnknown*>(0xdeadbeef);
  Collection outer;
  EXPECT_EQ(CLASS_E_NOAGGREGATION,
            qb::FileInfoArray::Create(outer.unknown.Get(), IID_IUnknown, reinterpret_cast<void**>(&p)));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(E_NOINTERFACE, qb::FileInfoArray::Create(nullptr, IID_IDispatch, reinterpret_cast<void**>(&p)));
  ComPtr<IUnknown> q;
  EXPECT_EQ(E_NOINTERFACE, outer.unknown->QueryInterface(IID_IFileInfoArray, reinterpret_cast<void**>(q.GetAddressOf())));
}

TEST(FileInfoArray, CountAndOneBasedItems) {
  Collection c;
  LONG count = kMarker;
  EXPECT_EQ(E_POINTER, c.array->get_Count(nullptr));
  ASSERT_EQ(S_OK, c.array->get_Count(&count));
  EXPECT_EQ(0, count);
  IImageFile* item = reinterpret_cast<IImageFile*>(0xdeadbeef);
  EXPECT_EQ(E_FAIL, c.array->get_Item(1, &item)) << "an empty collection has no first item";
  EXPECT_EQ(reinterpret_cast<IImageFile*>(0xdeadbeef), item);

  c.Add(3);
  ASSERT_EQ(S_OK, c.array->get_Count(&count));
  EXPECT_EQ(3, count);
  ComPtr<IImageFile> first, zero, negative, third;
  ASSERT_EQ(S_OK, c.array->get_Item(1, first.GetAddressOf()));
  ASSERT_EQ(S_OK, c.array->get_Item(0, zero.GetAddressOf()));
  ASSERT_EQ(S_OK, c.array->get_Item(-7, negative.GetAddressOf()));
  ASSERT_EQ(S_OK, c.array->get_Item(3, third.GetAddressOf()));
  EXPECT_EQ(first.Get(), zero.Get());
  EXPECT_EQ(first.Get(), negative.Get());
  EXPECT_NE(first.Get(), third.Get());
  EXPECT_EQ(E_FAIL, c.array->get_Item(4, &item));
  EXPECT_EQ(E_POINTER, c.array->get_Item(1, nullptr));
  // The collection holds one reference; first, zero and negative one each.
  EXPECT_EQ(4u, RefCount(first.Get()));
}

TEST(FileInfoArray, EnumeratorYieldsDispatchVariantsInOrder) {
  Collection c;
  c.Add(2);
  EXPECT_EQ(E_POINTER, c.array->get__NewEnum(nullptr));
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, c.array->get__NewEnum(unknown.GetAddressOf()));
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(S_OK, unknown.As(&e));

  VARIANT v[3];
  ULONG fetched = 99;
  EXPECT_EQ(E_POINTER, e->Next(1, nullptr, &fetched));
  EXPECT_EQ(E_POINTER, e->Next(2, v, nullptr));
  ASSERT_EQ(S_FALSE, e->Next(3, v, &fetched));
  ASSERT_EQ(2u, fetched);
  ComPtr<IImageFile> first, second;
  c.array->get_Item(1, first.GetAddressOf());
  c.array->get_Item(2, second.GetAddressOf());
  for (ULONG i = 0; i < 2; ++i) EXPECT_EQ(VT_DISPATCH, V_VT(&v[i]));
  EXPECT_EQ(static_cast<IDispatch*>(first.Get()), V_DISPATCH(&v[0]));
  EXPECT_EQ(static_cast<IDispatch*>(second.Get()), V_DISPATCH(&v[1]));
  for (ULONG i = 0; i < 2; ++i) VariantClear(&v[i]);
  EXPECT_EQ(S_FALSE, e->Next(1, v, &fetched));
  EXPECT_EQ(0u, fetched);

  EXPECT_EQ(S_OK, e->Reset());
  EXPECT_EQ(S_OK, e->Skip(1));
  ComPtr<IEnumVARIANT> clone;
  EXPECT_EQ(E_POINTER, e->Clone(nullptr));
  ASSERT_EQ(S_OK, e->Clone(clone.GetAddressOf()));
  ASSERT_EQ(S_OK, clone->Next(1, v, nullptr)) << "a clone starts where its original stood";
  EXPECT_EQ(static_cast<IDispatch*>(second.Get()), V_DISPATCH(&v[0]));
  VariantClear(&v[0]);
  EXPECT_EQ(S_FALSE, e->Skip(5));
  EXPECT_EQ(S_FALSE, e->Next(1, v, nullptr));
}

TEST(FileInfoArray, EnumeratorKeepsTheCollectionAlive) {
  LONG locks = qb::ModuleLockCount();
  ComPtr<IEnumVARIANT> e;
  {
    Collection c;
    c.Add(1);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(S_OK, c.array->get__NewEnum(unknown.GetAddressOf()));
    ASSERT_EQ(S_OK, unknown.As(&e));
  }
  VARIANT v;
  ASSERT_EQ(S_OK, e->Next(1, &v, nullptr));
  EXPECT_EQ(VT_DISPATCH, V_VT(&v));
  VariantClear(&v);
  EXPECT_GT(qb::ModuleLockCount(), locks);
  e.Reset();
  EXPECT_EQ(locks, qb::ModuleLockCount()) << "collection, items and enumerator all released";
}
