// Every method of every class, found in the type library and called
// through the vtable, with hostile arguments: null, empty and 32k-character
// strings, negative and huge numbers, freed and foreign handles, Nothing,
// a picture without an image and a picture in the invalid state, Variants
// of the wrong kinds (Empty, null and huge texts, Nothing, empty and
// two-dimensional arrays), and null out pointers. The host must survive, a null out pointer must be refused,
// strings handed out must be sound, and no picture block may be left
// behind once the objects are gone.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/picture_block.h"
#include "message_watch.h"
#include "test_blocks.h"
#include "test_support.h"

namespace {

using qbtest::BuildFile;
using qbtest::ComPtr;

// Members whose null out pointer is not refused, and why.
const std::set<std::wstring> kNullOutAccepted = {
    // Reports the held block only when there is one; with none it writes
    // nothing and succeeds.
    L"PreHnd",
    // Stores and reports nothing.
    L"Reserved",
};

struct Member {
  std::wstring name;
  FUNCDESC desc;
};

// The members of an interface, its bases' first, IUnknown's and IDispatch's
// left out.
void CollectMembers(ITypeInfo* info, std::vector<Member>& members, std::vector<ComPtr<ITypeInfo>>& keep) {
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return;
  const GUID guid = attr->guid;
  const WORD functions = attr->cFuncs;
  const WORD bases = attr->cImplTypes;
  info->ReleaseTypeAttr(attr);
  if (guid == IID_IUnknown || guid == IID_IDispatch) return;
  for (UINT i = 0; i < bases; ++i) {
    HREFTYPE ref;
    ComPtr<ITypeInfo> base;
    if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, base.GetAddressOf())))
      CollectMembers(base.Get(), members, keep);
  }
  keep.emplace_back(info);
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(i, &desc))) continue;
    BSTR name = nullptr;
    info->GetDocumentation(desc->memid, &name, nullptr, nullptr, nullptr);
    members.push_back({name ? name : L"", *desc});
    SysFreeString(name);
    // The parameter descriptions stay with the type info, which is kept.
  }
}

enum class Kind { kLong, kFloat, kText, kPicture, kVariant, kOutLong, kOutFloat, kOutText, kOutPicture, kOutVariant };

Kind KindOf(const ELEMDESC& e) {
  const bool out = (e.paramdesc.wParamFlags & PARAMFLAG_FOUT) != 0;
  const TYPEDESC* t = &e.tdesc;
  if (out && t->vt == VT_PTR) t = t->lptdesc;
  switch (t->vt) {
    case VT_BSTR: return out ? Kind::kOutText : Kind::kText;
    case VT_R4: return out ? Kind::kOutFloat : Kind::kFloat;
    case VT_VARIANT: return out ? Kind::kOutVariant : Kind::kVariant;
    case VT_PTR:
    case VT_USERDEFINED:
    case VT_DISPATCH:
    case VT_UNKNOWN: return out ? Kind::kOutPicture : Kind::kPicture;
    default: return out ? Kind::kOutLong : Kind::kLong;
  }
}

// The hostile values, as the 32-bit words the stack carries.
struct Values {
  std::vector<LONG> longs;
  std::vector<LONG> floats;
  std::vector<LONG> texts;
  std::vector<LONG> pictures;
  std::vector<VARIANT> variants;  // passed by value: four words each
};

LONG Word(const void* p) { return static_cast<LONG>(reinterpret_cast<intptr_t>(p)); }
LONG FloatWord(float f) {
  LONG w;
  std::memcpy(&w, &f, sizeof w);
  return w;
}

// Calls one member on one object through its vtable slot.
HRESULT Call(IUnknown* object, const FUNCDESC& desc, const std::vector<LONG>& words) {
  std::vector<VARIANT> args(words.size());
  std::vector<VARIANTARG*> pointers(words.size());
  std::vector<VARTYPE> types(words.size(), VT_I4);
  for (size_t i = 0; i < words.size(); ++i) {
    VariantInit(&args[i]);
    args[i].vt = VT_I4;
    args[i].lVal = words[i];
    pointers[i] = &args[i];
  }
  VARIANT result;
  VariantInit(&result);
  const HRESULT called = DispCallFunc(object, desc.oVft, CC_STDCALL, VT_I4, static_cast<UINT>(words.size()),
                                      types.data(), pointers.data(), &result);
  return FAILED(called) ? called : static_cast<HRESULT>(result.lVal);
}

class BadArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    GetCurrentDirectoryW(MAX_PATH, m_oldDirectory);
    // A relative name that some value makes ends up here.
    m_scratch = std::make_unique<qbtest::ScratchFolder>(L"quillbox-bad-arguments-");
    SetCurrentDirectoryW(m_scratch->dir().c_str());
  }
  void TearDown() override {
    SetCurrentDirectoryW(m_oldDirectory);
    m_scratch.reset();
  }
  wchar_t m_oldDirectory[MAX_PATH] = {};
  std::unique_ptr<qbtest::ScratchFolder> m_scratch;
};

ComPtr<IVuPicture> LinkedPicture() { return qbtest::MakeLinked<IVuPicture>(CLSID_VuPicture); }

TEST_F(BadArguments, EveryMemberOfEveryClassSurvivesAndRefusesNullOutPointers) {
  qbtest::BoxWatcher boxes;  // the boxes some failures show are closed
  ComPtr<ITypeLib> library;
  ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(BuildFile(L"Quillbox.tlb").c_str(), REGKIND_NONE, &library));
  const size_t blocksBefore = qb::PictureBlock::OwnedCount();

  // The argument values. Blocks handed over are the callee's to keep, so
  // each is made afresh per call.
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, 64);
  GlobalFree(freed);
  std::wstring longText(32768, L'A');
  BSTR texts[] = {nullptr, SysAllocString(L""), SysAllocStringLen(longText.data(), 32768),
                  SysAllocString(L"C:\\no\\such\\folder\\photo.jpg")};
  ComPtr<IVuPicture> empty = LinkedPicture();
  ComPtr<IVuPicture> invalid = LinkedPicture();
  ASSERT_EQ(S_OK, invalid->put_Handle(-5));
  ComPtr<IVuPicture> photo = LinkedPicture();
  ASSERT_EQ(S_OK, photo->AttachImage(qbtest::PhotoLike(40, 30)));
  Values values;
  values.longs = {0, -1, std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::max(), Word(freed), 0x10000};
  values.floats = {FloatWord(-1e30f), FloatWord(1e30f), FloatWord(std::nanf("")), FloatWord(0.0f)};
  for (BSTR t : texts) values.texts.push_back(Word(t));
  values.pictures = {0, Word(empty.Get()), Word(invalid.Get()), Word(photo.Get())};
  SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* arrays[] = {SafeArrayCreateVector(VT_UI1, 0, 0), SafeArrayCreate(VT_UI1, 2, square)};
  values.variants.resize(6);
  for (VARIANT& v : values.variants) VariantInit(&v);
  values.variants[1].vt = VT_BSTR;  // a null text
  values.variants[2].vt = VT_BSTR;
  values.variants[2].bstrVal = texts[2];
  values.variants[3].vt = VT_DISPATCH;  // Nothing
  values.variants[4].vt = VT_ARRAY | VT_UI1;
  values.variants[4].parray = arrays[0];
  values.variants[5].vt = VT_ARRAY | VT_UI1;
  values.variants[5].parray = arrays[1];

  int classes = 0, members = 0, calls = 0;
  TYPEKIND kind;
  for (UINT c = 0; c < library->GetTypeInfoCount(); ++c) {
    if (FAILED(library->GetTypeInfoType(c, &kind)) || kind != TKIND_COCLASS) continue;
    ComPtr<ITypeInfo> coclass;
    library->GetTypeInfo(c, &coclass);
    TYPEATTR* attr = nullptr;
    coclass->GetTypeAttr(&attr);
    const CLSID clsid = attr->guid;
    const WORD interfaces = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo> dispatch, vtable;
    for (UINT i = 0; i < interfaces; ++i) {
      INT flags = 0;
      HREFTYPE ref;
      if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) && (flags & IMPLTYPEFLAG_FDEFAULT) &&
          SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref)))
        coclass->GetRefTypeInfo(ref, dispatch.GetAddressOf());
    }
    ASSERT_TRUE(dispatch);
    HREFTYPE vtableRef;
    if (SUCCEEDED(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef)))
      dispatch->GetRefTypeInfo(vtableRef, vtable.GetAddressOf());
    if (!vtable) vtable = dispatch;
    TYPEATTR* vattr = nullptr;
    vtable->GetTypeAttr(&vattr);
    const IID iid = vattr->guid;
    vtable->ReleaseTypeAttr(vattr);

    ComPtr<IClassFactory> factory;
    if (FAILED(qb::GetClassFactory(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))))
      continue;  // a class the module carries but does not serve
    ++classes;
    BSTR className = nullptr;
    coclass->GetDocumentation(MEMBERID_NIL, &className, nullptr, nullptr, nullptr);
    SCOPED_TRACE(testing::Message() << "class " << std::wstring(className ? className : L""));
    SysFreeString(className);
    std::vector<Member> list;
    std::vector<ComPtr<ITypeInfo>> keep;
    CollectMembers(vtable.Get(), list, keep);
    for (const Member& m : list) {
      ++members;
      const FUNCDESC& d = m.desc;
      const bool takesOver = m.name == L"AttachImage" ||
                             (d.invkind == INVOKE_PROPERTYPUT && m.name.find(L"Handle") != std::wstring::npos);
      std::vector<Kind> kinds;
      for (SHORT p = 0; p < d.cParams; ++p) kinds.push_back(KindOf(d.lprgelemdescParam[p]));
      // Round 0..5 with every out pointer set, then one with all of them null.
      for (int round = 0; round <= 6; ++round) {
        const bool nullOuts = round == 6;
        ComPtr<IUnknown> object;
        const HRESULT made = factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(object.GetAddressOf()));
        if (made == E_NOINTERFACE) {
          // A class that carries its interface without handing it out.
          EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(object.GetAddressOf())));
          break;
        }
        ASSERT_EQ(S_OK, made);
        std::vector<LONG> words;
        std::vector<std::array<ULONG_PTR, 4>> outs(kinds.size());  // room for any out value
        bool anyOut = false;
        for (size_t p = 0; p < kinds.size(); ++p) {
          const size_t k = round + p;
          switch (kinds[p]) {
            case Kind::kLong: {
              LONG v = values.longs[k % values.longs.size()];
              // A block that is taken over is the callee's to free: it gets
              // a block of its own each time, never one that is freed.
              if (v == 0x10000 || (takesOver && v == Word(freed))) v = qbtest::PhotoLike(8, 6);
              words.push_back(v);
              break;
            }
            case Kind::kFloat: words.push_back(values.floats[k % values.floats.size()]); break;
            case Kind::kText: words.push_back(values.texts[k % values.texts.size()]); break;
            case Kind::kPicture: words.push_back(values.pictures[k % values.pictures.size()]); break;
            case Kind::kVariant: {
              LONG w[4];
              std::memcpy(w, &values.variants[k % values.variants.size()], sizeof w);
              words.insert(words.end(), w, w + 4);
              break;
            }
            default:
              anyOut = true;
              words.push_back(nullOuts ? 0 : Word(outs[p].data()));
          }
        }
        if (nullOuts && !anyOut) continue;
        SCOPED_TRACE(testing::Message() << std::string(m.name.begin(), m.name.end()) << " round " << round);
        const HRESULT hr = Call(object.Get(), d, words);
        ++calls;
        if (nullOuts && !kNullOutAccepted.count(m.name)) {
          EXPECT_TRUE(FAILED(hr)) << "a null out pointer is refused (0x" << std::hex << hr << ")";
        }
        if (nullOuts) continue;
        for (size_t p = 0; p < kinds.size(); ++p) {
          if (kinds[p] == Kind::kOutText && outs[p][0]) {
            BSTR s = reinterpret_cast<BSTR>(outs[p][0]);
            EXPECT_EQ(std::wcslen(s) <= SysStringLen(s), true) << "a sound string is handed out";
            SysFreeString(s);
          } else if (kinds[p] == Kind::kOutPicture && outs[p][0]) {
            reinterpret_cast<IUnknown*>(outs[p][0])->Release();
          } else if (kinds[p] == Kind::kOutLong && m.name == L"CreateThumbnail" && outs[p][0]) {
            DeleteObject(reinterpret_cast<HGDIOBJ>(outs[p][0]));
          } else if (kinds[p] == Kind::kOutVariant) {
            EXPECT_HRESULT_SUCCEEDED(VariantClear(reinterpret_cast<VARIANT*>(outs[p].data())))
                << "a sound Variant is handed out";
          }
        }
      }
    }
  }
  for (SAFEARRAY* a : arrays) SafeArrayDestroy(a);
  for (BSTR t : texts) SysFreeString(t);
  empty.Reset();
  invalid.Reset();
  photo.Reset();
  EXPECT_EQ(29, classes);
  EXPECT_GT(members, 100);
  EXPECT_EQ(blocksBefore, qb::PictureBlock::OwnedCount()) << "every block is freed with its object";
  std::printf("%d classes, %d members, %d calls\n", classes, members, calls);
}

}  // namespace
