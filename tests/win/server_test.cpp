// The server frame as a client meets it: class factories, creation by
// ProgID, the lock count, the interface maps, aggregation, dispatch and
// the exported entry points of Quillbox.dll.
#include <gtest/gtest.h>
#include <olectl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/resource_guards.h"
#include "rastrum/rastrum.h"
#include "server/object_map.h"
#include "test_blocks.h"
#include "test_support.h"
#include "unserved_classes.h"

using namespace qbtest;

namespace {

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(__stdcall*)();

struct ClassInfo {
  const wchar_t* name;
  const CLSID* clsid;
  const IID* iid;
};

// The catalogue as a client sees it, in object-map order.
const ClassInfo kClasses[] = {
    {L"VuPicture", &CLSID_VuPicture, &IID_IVuPicture},
    {L"SharpModifier", &CLSID_SharpModifier, &IID_ISharpModifier},
    {L"BlurModifier", &CLSID_BlurModifier, &IID_IBlurModifier},
    {L"Zoom", &CLSID_Zoom, &IID_IZoom},
    {L"ImageRender", &CLSID_ImageRender, &IID_IImageRender},
    {L"InputSource", &CLSID_InputSource, &IID_IInputSource},
    {L"Contrast", &CLSID_Contrast, &IID_IContrast},
    {L"Bright", &CLSID_Bright, &IID_IBright},
    {L"Crop", &CLSID_Crop, &IID_ICrop},
    {L"AddText", &CLSID_AddText, &IID_IAddText},
    {L"Frame", &CLSID_Frame, &IID_IFrame},
    {L"AddPic", &CLSID_AddPic, &IID_IAddPic},
    {L"FolderInput", &CLSID_FolderInput, &IID_IFolderInput},
    {L"ImageCollection", &CLSID_ImageCollection, &IID_IImageCollection},
    {L"ImageFinder", &CLSID_ImageFinder, &IID_IImageFinder},
    {L"ImageInputService", &CLSID_ImageInputService, &IID_IImageInputService},
    {L"ImageInputSource", &CLSID_ImageInputSource, &IID_IImageInputSource},
    {L"ImageInputSourceCollection", &CLSID_ImageInputSourceCollection,
     &IID_IImageInputSourceCollection},
    {L"ImageOutputService", &CLSID_ImageOutputService, &IID_IImageOutputService},
    {L"ImageOutputTarget", &CLSID_ImageOutputTarget, &IID_IImageOutputTarget},
    {L"ImageOutputTargetCollection", &CLSID_ImageOutputTargetCollection,
     &IID_IImageOutputTargetCollection},
    {L"RotateModifier", &CLSID_RotateModifier, &IID_IRotateModifier},
    {L"FileInfoArray", &CLSID_FileInfoArray, &IID_IFileInfoArray},
    {L"ImageFile", &CLSID_ImageFile, &IID_IImageFile},
    {L"RedEye", &CLSID_RedEye, &IID_IRedEye},
    {L"ExportToCard", &CLSID_ExportToCard, &IID_IExportToCard},
    {L"MirrorModifier", &CLSID_MirrorModifier, &IID_IMirrorModifier},
    {L"AdjustColorModifier", &CLSID_AdjustColorModifier, &IID_IAdjustColorModifier},
    {L"WallPaper", &CLSID_WallPaper, &IID_IWallPaper},
};

const IID* const kModifierIids[] = {
    &IID_ISharpModifier, &IID_IBlurModifier,   &IID_IZoom,
    &IID_IContrast,      &IID_IBright,         &IID_ICrop,
    &IID_IAddText,       &IID_IFrame,          &IID_IAddPic,
    &IID_IRotateModifier, &IID_IRedEye,        &IID_IMirrorModifier,
    &IID_IAdjustColorModifier};

bool IsModifier(const ClassInfo& c) {
  for (const IID* iid : kModifierIids)
    if (*iid == *c.iid) return true;
  return false;
}

std::wstring ProgId(const ClassInfo& c) { return std::wstring(L"Quillbox.") + c.name + L".1"; }

ComPtr<IUnknown> Create(const ClassInfo& c) {
  ComPtr<IUnknown> object;
  EXPECT_EQ(S_OK, CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(object.GetAddressOf())))
      << "creating " << std::string(c.name, c.name + wcslen(c.name));
  return object;
}

HRESULT CanUnloadNow() { return ServerExport<CanUnloadFn>("DllCanUnloadNow")(); }

// A controlling unknown for aggregation tests: counts the calls its inner
// object delegates to it.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    ++queries;
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (inner) return inner->QueryInterface(riid, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }

  ULONG refs = 1;
  int queries = 0;
  IUnknown* inner = nullptr;
};

}  // namespace

TEST(ServerExports, ExactlyTheFourEntryPointsUndecorated) {
  PeDirectories pe = ReadPeDirectories(ServerModule());
  std::set<std::string> got(pe.exports.begin(), pe.exports.end());
  std::set<std::string> expected = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                    "DllUnregisterServer"};
  EXPECT_EQ(expected, got);
}

// What ships carries no symbol table (the test build of the player does).
TEST(ServerExports, ShippedBinariesAreStripped) {
  for (const wchar_t* name : {L"Quillbox.dll", L"Rastrum.dll", L"Showreel.EXE", L"QuillboxHost.exe", L"regtlb.exe",
                              L"ShowreelTest.EXE"}) {
    const std::vector<uint8_t> pe = ReadFileBytes(BuildFile(name));
    ASSERT_GT(pe.size(), 0x40u) << name;
    const uint32_t header = pe[0x3C] | pe[0x3D] << 8 | pe[0x3E] << 16 | static_cast<uint32_t>(pe[0x3F]) << 24;
    ASSERT_TRUE(header < pe.size() && pe.size() - header >= 24 && std::memcmp(&pe[header], "PE\0\0", 4) == 0) << name;
    // IMAGE_FILE_HEADER after the signature: PointerToSymbolTable at 8,
    // NumberOfSymbols at 12.
    const uint8_t* file = &pe[header + 4];
    const uint32_t symbols = file[12] | file[13] << 8 | file[14] << 16 | static_cast<uint32_t>(file[15]) << 24;
    if (std::wstring(name) == L"ShowreelTest.EXE") {
      EXPECT_GT(symbols, 0u) << "the check sees symbols where there are some";
    } else {
      EXPECT_EQ(0u, symbols) << name;
    }
  }
}

TEST(ServerExports, ImportsOnlySystemLibrariesAndTheImagingLibrary) {
  PeDirectories pe = ReadPeDirectories(ServerModule());
  const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",   "gdi32.dll",
                                         "ole32.dll",    "oleaut32.dll", "advapi32.dll",
                                         "shlwapi.dll",  "msvcrt.dll",   "rastrum.dll",
                                         "shell32.dll",  "gdiplus.dll"};
  bool rastrum = false;
  for (const auto& [library, functions] : pe.imports) {
    std::string name = library;
    for (char& ch : name) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(allowed.count(name)) << "unexpected import " << name;
    if (name != "rastrum.dll") continue;
    rastrum = true;
    for (const std::string& f : functions) EXPECT_EQ(0u, f.rfind("Nimbo", 0)) << f;
  }
  EXPECT_TRUE(rastrum) << "the imaging library is imported";
}

TEST(ClassFactory, GetClassObjectChecksItsArguments) {
  auto get = ServerExport<GetClassObjectFn>("DllGetClassObject");
  ASSERT_NE(nullptr, get);
  EXPECT_EQ(E_POINTER, get(CLSID_VuPicture, IID_IClassFactory, nullptr));
  void* p = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(CLSID_PictureModifier, IID_IClassFactory, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(CLSID_FileInfo, IID_IClassFactory, &p));
  EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, get(IID_IVuPicture, IID_IClassFactory, &p));
}

TEST(ClassFactory, IsCreatedOnceAndCached) {
  auto get = ServerExport<GetClassObjectFn>("DllGetClassObject");
  ComPtr<IClassFactory> a, b;
  ASSERT_EQ(S_OK, get(CLSID_Bright, IID_IClassFactory, reinterpret_cast<void**>(a.GetAddressOf())));
  ASSERT_EQ(S_OK, get(CLSID_Bright, IID_IClassFactory, reinterpret_cast<void**>(b.GetAddressOf())));
  EXPECT_EQ(a.Get(), b.Get());
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(S_OK, get(CLSID_Bright, IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf())));
  void* p = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(E_NOINTERFACE, get(CLSID_Bright, IID_IDispatch, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(E_POINTER, a->CreateInstance(nullptr, IID_IUnknown, nullptr));
}

TEST(ClassFactory, PictureModifierAndFileInfoAreNeverServedOrRegistered) {
  CLSID clsid;
  EXPECT_NE(S_OK, CLSIDFromProgID(L"Quillbox.PictureModifier.1", &clsid));
  EXPECT_NE(S_OK, CLSIDFromProgID(L"Quillbox.FileInfo.1", &clsid));
  void* p = nullptr;
  EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_PictureModifier, nullptr,
                                                  CLSCTX_INPROC_SERVER, IID_IUnknown, &p));
}

TEST(Catalogue, EveryProgIdCreatesItsClass) {
  ASSERT_EQ(sizeof(kClasses) / sizeof(kClasses[0]), qb::ObjectMapSize());
  for (size_t i = 0; i < qb::ObjectMapSize(); ++i) {
    const ClassInfo& c = kClasses[i];
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    EXPECT_EQ(*c.clsid, *qb::ObjectMap()[i].clsid) << "object map order";
    CLSID clsid;
    ASSERT_EQ(S_OK, CLSIDFromProgID(ProgId(c).c_str(), &clsid));
    EXPECT_EQ(*c.clsid, clsid);
    ASSERT_EQ(S_OK, CLSIDFromProgID((std::wstring(L"Quillbox.") + c.name).c_str(), &clsid));
    EXPECT_EQ(*c.clsid, clsid);
    ComPtr<IUnknown> object = Create(c);
    ASSERT_TRUE(object);
    ComPtr<IUnknown> own, dispatch;
    HRESULT ownHr = object->QueryInterface(*c.iid, reinterpret_cast<void**>(own.GetAddressOf()));
    HRESULT dispHr =
        object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf()));
    if (*c.clsid == CLSID_FileInfoArray) {
      // Its interface map hands out ISupportErrorInfo alone.
      EXPECT_EQ(E_NOINTERFACE, ownHr);
      EXPECT_EQ(E_NOINTERFACE, dispHr);
    } else {
      EXPECT_EQ(S_OK, ownHr);
      EXPECT_EQ(S_OK, dispHr);
      EXPECT_EQ(own.Get(), dispatch.Get()) << "IDispatch is the class's own dual interface";
    }
  }
}

TEST(Catalogue, CreatingFileInfoArrayForIDispatchFails) {
  void* p = reinterpret_cast<void*>(0xdeadbeef);
  EXPECT_EQ(E_NOINTERFACE,
            CoCreateInstance(CLSID_FileInfoArray, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p));
  EXPECT_EQ(nullptr, p);
  ComPtr<ISupportErrorInfo> sei;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FileInfoArray, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.GetAddressOf())));
  EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IFileInfoArray));
  EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));
}

TEST(LockCount, CanUnloadOnlyWhenNoObjectOrLockRemains) {
  ASSERT_EQ(S_OK, CanUnloadNow()) << "an earlier test leaked an object";
  ComPtr<IUnknown> picture = Create(kClasses[0]);
  EXPECT_EQ(S_FALSE, CanUnloadNow());
  ComPtr<IUnknown> zoom = Create(kClasses[3]);
  picture.Reset();
  EXPECT_EQ(S_FALSE, CanUnloadNow());
  zoom.Reset();
  EXPECT_EQ(S_OK, CanUnloadNow());

  auto get = ServerExport<GetClassObjectFn>("DllGetClassObject");
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(S_OK, get(CLSID_Crop, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_EQ(S_FALSE, CanUnloadNow());
  ASSERT_EQ(S_OK, get(CLSID_Crop, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())));
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  EXPECT_EQ(S_FALSE, CanUnloadNow());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  factory.Reset();
  EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST(LockCount, EnumeratorsKeepTheModuleLoaded) {
  ASSERT_EQ(S_OK, CanUnloadNow());
  ComPtr<IConnectionPointContainer> container;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_InputSource, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IConnectionPointContainer,
                                   reinterpret_cast<void**>(container.GetAddressOf())));
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_EQ(S_OK, container->EnumConnectionPoints(points.GetAddressOf()));
  container.Reset();
  EXPECT_EQ(S_FALSE, CanUnloadNow());
  points.Reset();
  EXPECT_EQ(S_OK, CanUnloadNow());
}

// The imaging library's worker threads, which a large save starts, end
// when the server says it can be unloaded, so that nothing of the library
// runs after COM frees it.
TEST(LockCount, TheLibrarysWorkersEndWhenTheServerCanUnload) {
  auto threads = [] {
    int n = 0;
    qb::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 t = {sizeof t};
    for (BOOL more = Thread32First(snapshot.get(), &t); more; more = Thread32Next(snapshot.get(), &t))
      n += t.th32OwnerProcessID == GetCurrentProcessId();
    return n;
  };
  ASSERT_EQ(S_OK, CanUnloadNow());
  const int before = threads();
  const int32_t block = MakeBlock(1600, 1200, [](int32_t x, int32_t y) { return (x * 7 + y * 13) & 0xFFFFFF; });
  const int32_t file = NimboSaveAsMemory(block, "big.jpg", 80);
  ASSERT_GT(file, 0);
  EXPECT_EQ(before + 1, threads()) << "a worker shared the save";
  EXPECT_EQ(S_OK, CanUnloadNow());
  EXPECT_EQ(before, threads());
  NimboFreeMemory(file);
  NimboFreeMemory(block);
}

TEST(InterfaceMap, ModifiersAnswerIPictureModifierWithTheirOwnPointer) {
  int modifiers = 0;
  for (const ClassInfo& c : kClasses) {
    ComPtr<IUnknown> object = Create(c);
    ComPtr<IUnknown> shared;
    HRESULT hr = object->QueryInterface(IID_IPictureModifier, reinterpret_cast<void**>(shared.GetAddressOf()));
    if (!IsModifier(c)) {
      EXPECT_EQ(E_NOINTERFACE, hr) << std::string(c.name, c.name + wcslen(c.name));
      continue;
    }
    ++modifiers;
    ComPtr<IUnknown> own;
    ASSERT_EQ(S_OK, hr);
    ASSERT_EQ(S_OK, object->QueryInterface(*c.iid, reinterpret_cast<void**>(own.GetAddressOf())));
    EXPECT_EQ(own.Get(), shared.Get());
  }
  EXPECT_EQ(13, modifiers);
}

TEST(InterfaceMap, ExportToCardAnswersIImageOutputServiceWithItsOwnPointer) {
  ComPtr<IUnknown> object = Create(kClasses[25]);
  ComPtr<IImageOutputService> service;
  ComPtr<IExportToCard> card;
  ASSERT_EQ(S_OK, object->QueryInterface(IID_IImageOutputService, reinterpret_cast<void**>(service.GetAddressOf())));
  ASSERT_EQ(S_OK, object->QueryInterface(IID_IExportToCard, reinterpret_cast<void**>(card.GetAddressOf())));
  EXPECT_EQ(static_cast<void*>(service.Get()), static_cast<void*>(card.Get()));
  EXPECT_EQ(S_OK, card->Prepare());
}

TEST(InterfaceMap, ErrorInfoSupportAndConnectionPointsAsCatalogued) {
  const std::set<std::wstring> errorInfo = {L"VuPicture", L"Zoom", L"InputSource", L"ExportToCard"};
  const std::set<std::wstring> connections = {L"InputSource", L"ImageOutputTarget",
                                              L"ImageOutputTargetCollection", L"ExportToCard"};
  for (const ClassInfo& c : kClasses) {
    if (*c.clsid == CLSID_FileInfoArray) continue;  // its own map, tested above
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    ComPtr<IUnknown> object = Create(c);
    ComPtr<ISupportErrorInfo> sei;
    HRESULT hr = object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(sei.GetAddressOf()));
    if (errorInfo.count(c.name)) {
      ASSERT_EQ(S_OK, hr);
      EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(*c.iid));
      EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IDispatch));
      EXPECT_EQ(S_FALSE, sei->InterfaceSupportsErrorInfo(IID_IUnknown));
    } else {
      EXPECT_EQ(E_NOINTERFACE, hr);
    }
    ComPtr<IConnectionPointContainer> cpc;
    hr = object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(cpc.GetAddressOf()));
    if (!connections.count(c.name)) {
      EXPECT_EQ(E_NOINTERFACE, hr);
      continue;
    }
    ASSERT_EQ(S_OK, hr);
    IConnectionPoint* point = reinterpret_cast<IConnectionPoint*>(0xdeadbeef);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cpc->FindConnectionPoint(IID_IPropertyNotifySink, &point));
    EXPECT_EQ(nullptr, point);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cpc->FindConnectionPoint(*c.iid, &point));
    EXPECT_EQ(E_POINTER, cpc->FindConnectionPoint(IID_IDispatch, nullptr));
    EXPECT_EQ(E_POINTER, cpc->EnumConnectionPoints(nullptr));
    ComPtr<IEnumConnectionPoints> all;
    ASSERT_EQ(S_OK, cpc->EnumConnectionPoints(all.GetAddressOf()));
    ULONG fetched = 7;
    EXPECT_EQ(S_FALSE, all->Next(1, &point, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_FALSE, all->Skip(1));
    ComPtr<IEnumConnectionPoints> clone;
    EXPECT_EQ(S_OK, all->Clone(clone.GetAddressOf()));
    EXPECT_EQ(S_FALSE, clone->Next(1, &point, nullptr));
  }
}

TEST(Aggregation, EveryClassButFileInfoArrayAggregates) {
  for (const ClassInfo& c : kClasses) {
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    Outer outer;
    IUnknown* inner = nullptr;
    HRESULT hr = CoCreateInstance(*c.clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&inner));
    if (*c.clsid == CLSID_FileInfoArray) {
      EXPECT_EQ(CLASS_E_NOAGGREGATION, hr);
      EXPECT_EQ(nullptr, inner);
      continue;
    }
    ASSERT_EQ(S_OK, hr);
    outer.inner = inner;
    EXPECT_EQ(1u, outer.refs) << "the inner object holds no reference to its outer";
    // Interfaces of the inner object delegate their IUnknown to the outer.
    IUnknown* own = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(*c.iid, reinterpret_cast<void**>(&own)));
    EXPECT_EQ(2u, outer.refs);
    IUnknown* viaOwn = nullptr;
    int before = outer.queries;
    ASSERT_EQ(S_OK, own->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaOwn)));
    EXPECT_EQ(before + 1, outer.queries);
    EXPECT_EQ(static_cast<IUnknown*>(&outer), viaOwn);
    viaOwn->Release();
    own->Release();
    EXPECT_EQ(1u, outer.refs);
    EXPECT_EQ(0u, inner->Release());

    void* p = reinterpret_cast<void*>(0xdeadbeef);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(*c.clsid, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, &p));
  }
  EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST(Dispatch, LateBoundCallsReachTheVtable) {
  ComPtr<IDispatch> wallpaper, service;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WallPaper, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(wallpaper.GetAddressOf())));
  UINT count = 0;
  EXPECT_EQ(S_OK, wallpaper->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);
  EXPECT_EQ(E_POINTER, wallpaper->GetTypeInfoCount(nullptr));
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(S_OK, wallpaper->GetTypeInfo(0, 0, info.GetAddressOf()));
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
  EXPECT_EQ(IID_IWallPaper, attr->guid);
  info->ReleaseTypeAttr(attr);

  LPOLESTR name = const_cast<LPOLESTR>(L"Execute");
  DISPID id = 0;
  ASSERT_EQ(S_OK, wallpaper->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_I4;
  V_I4(&arg) = 42;
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  EXPECT_EQ(S_OK, wallpaper->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));

  // Inherited methods of a derived dual interface are found by name.
  ComPtr<IDispatch> card;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ExportToCard, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(card.GetAddressOf())));
  name = const_cast<LPOLESTR>(L"Prepare");
  ASSERT_EQ(S_OK, card->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(S_OK, card->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
  ComPtr<IDispatch> bright;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_Bright, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(bright.GetAddressOf())));
  name = const_cast<LPOLESTR>(L"Apply");
  EXPECT_EQ(S_OK, bright->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  name = const_cast<LPOLESTR>(L"NoSuchMember");
  EXPECT_EQ(DISP_E_UNKNOWNNAME, bright->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
}

