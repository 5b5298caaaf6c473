// The soak: every modifier class applied over and over in one process to a
// small picture and to a 12-megapixel one, with loads, saves, clipboard
// round trips, byte arrays out and in, renders and card packs in between, through the registered
// server and late binding, as a script host uses it. The process's private
// bytes, GDI objects, USER objects and kernel handles must come back to
// where they were after one warm-up round, and the server must agree to be
// unloaded once every object is gone.
//
//   quillbox_soak.exe PHOTO OUTFOLDER SMALL_ROUNDS LARGE_ROUNDS
//
// Prints the figures and ends with "N passed, N failed".
//
// Wine answers GetGuiResources, GetProcessHandleCount and the private-bytes
// counter with 0, so the counts are taken by asking about every handle
// value (Wine's GDI and USER calls take a handle's index without its
// generation) and by walking the address space.
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/win/process_counts.h"

namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool condition, const std::string& what) {
  if (condition) {
    ++g_passed;
  } else {
    ++g_failed;
    std::printf("FAIL %s\n", what.c_str());
  }
}

struct Counts {
  SIZE_T privateBytes = 0;
  int gdi = 0;
  int user = 0;  // windows, menus, and icons and cursors
  int windows = 0;
  int icons = 0;
  int kernel = 0;
};

Counts Take() {
  Counts c;
  c.privateBytes = qbtest::PrivateBytes();
  c.gdi = qbtest::GdiObjects(qbtest::GdiCount::kAll);
  for (UINT_PTR i = 2; i < 0x10000; i += 2) {
    const HANDLE h = reinterpret_cast<HANDLE>(i);
    ICONINFO icon;
    DWORD owner = 0;
    if (IsWindow(static_cast<HWND>(h))) {
      // Windows of other processes answer too; only this one's count.
      GetWindowThreadProcessId(static_cast<HWND>(h), &owner);
      c.user += owner == GetCurrentProcessId();
      c.windows += owner == GetCurrentProcessId();
    } else if (IsMenu(static_cast<HMENU>(h))) {
      ++c.user;
    } else if (GetIconInfo(static_cast<HICON>(h), &icon)) {
      ++c.user;
      ++c.icons;
      if (icon.hbmMask) DeleteObject(icon.hbmMask);
      if (icon.hbmColor) DeleteObject(icon.hbmColor);
    }
  }
  c.kernel = qbtest::KernelHandles();
  return c;
}

void Print(const char* title, const Counts& c) {
  std::printf("%-28s private %8lu KB, GDI %4d, USER %4d (%d windows, %d icons), handles %4d\n", title,
              static_cast<unsigned long>(c.privateBytes / 1024), c.gdi, c.user, c.windows, c.icons, c.kernel);
}

// A late-bound object.
class Object {
 public:
  Object() = default;
  explicit Object(IDispatch* d) : m_d(d) {}
  explicit Object(const wchar_t* progId) {
    CLSID clsid;
    if (SUCCEEDED(CLSIDFromProgID(progId, &clsid)))
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&m_d));
  }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  Object(Object&& o) noexcept : m_d(o.m_d) { o.m_d = nullptr; }
  Object& operator=(Object&& o) noexcept {
    std::swap(m_d, o.m_d);
    return *this;
  }
  ~Object() { Reset(); }
  void Reset() {
    if (m_d) m_d->Release();
    m_d = nullptr;
  }
  IDispatch* get() const { return m_d; }
  explicit operator bool() const { return m_d != nullptr; }

  // Invokes a member with the arguments in their written order.
  HRESULT Invoke(const wchar_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result) const {
    if (!m_d) return E_POINTER;
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = m_d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (kind == DISPATCH_PROPERTYPUT) {
      params.rgdispidNamedArgs = &put;
      params.cNamedArgs = 1;
    }
    hr = m_d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr, nullptr);
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
  }
  HRESULT Call(const wchar_t* name, std::vector<VARIANT> args = {}) const {
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = Invoke(name, DISPATCH_METHOD, std::move(args), &result);
    VariantClear(&result);
    return hr;
  }
  HRESULT Put(const wchar_t* name, VARIANT value) const {
    return Invoke(name, DISPATCH_PROPERTYPUT, {value}, nullptr);
  }
  LONG GetLong(const wchar_t* name) const {
    VARIANT result;
    VariantInit(&result);
    Invoke(name, DISPATCH_PROPERTYGET, {}, &result);
    const LONG value = SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4)) ? result.lVal : 0;
    VariantClear(&result);
    return value;
  }
  // A method that returns an object.
  Object Make(const wchar_t* name, std::vector<VARIANT> args) const {
    VARIANT result;
    VariantInit(&result);
    if (FAILED(Invoke(name, DISPATCH_METHOD, std::move(args), &result)) || result.vt != VT_DISPATCH) {
      VariantClear(&result);
      return Object();
    }
    return Object(result.pdispVal);  // the reference of the result is taken over
  }

 private:
  IDispatch* m_d = nullptr;
};

VARIANT Long(LONG v) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_I4;
  x.lVal = v;
  return x;
}
VARIANT Text(const std::wstring& s) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_BSTR;
  x.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return x;
}
VARIANT Ref(const Object& o) {
  VARIANT x;
  VariantInit(&x);
  x.vt = VT_DISPATCH;
  x.pdispVal = o.get();
  o.get()->AddRef();
  return x;
}

// A packed 24-bit picture of a gentle gradient, as a global block.
LONG GradientBlock(int width, int height) {
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + stride * height);
  if (!block) return 0;
  auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biSizeImage = static_cast<DWORD>(stride * height);
  std::memcpy(bytes, &header, sizeof header);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bytes + sizeof header + stride * y;
    for (int x = 0; x < width; ++x) {
      row[x * 3] = static_cast<uint8_t>(x * 255 / width);
      row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / height);
      row[x * 3 + 2] = static_cast<uint8_t>((x + y) & 0xFF);
    }
  }
  GlobalUnlock(block);
  return static_cast<LONG>(reinterpret_cast<intptr_t>(block));
}

struct Modifier {
  const wchar_t* progId;
  std::vector<std::pair<const wchar_t*, VARIANT>> settings;
  std::vector<const wchar_t*> loaders;  // methods that load a picture file
};

struct Run {
  std::wstring photo;
  std::wstring out;
  std::vector<Object> modifiers;
  std::vector<std::string> names;
  Object render;
  Object card;
  HDC dc = nullptr;
  HBITMAP target = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  int failures = 0;  // calls that failed; each is printed once

  void Expect(HRESULT hr, const char* what) {
    if (SUCCEEDED(hr)) return;
    if (++failures <= 10) std::printf("call failed: %s (0x%08lX)\n", what, static_cast<unsigned long>(hr));
  }

  Object Picture(LONG width, LONG height) {
    Object p(L"Quillbox.VuPicture.1");
    Expect(p.Call(L"AttachImage", {Long(GradientBlock(width, height))}), "AttachImage");
    return p;
  }

  // Every modifier once on the picture; the results are dropped at once.
  void ApplyAll(const Object& picture) {
    for (size_t i = 0; i < modifiers.size(); ++i) {
      Object result = modifiers[i].Make(L"Apply", {Ref(picture)});
      if (!result) Expect(E_FAIL, ("Apply of " + names[i]).c_str());
    }
  }

  // The other ways in and out: load, camera data, both saves, the
  // clipboard, a thumbnail, a render and a card.
  void SideTrip() {
    Object p(L"Quillbox.VuPicture.1");
    Expect(p.Call(L"LoadFile", {Text(photo)}), "LoadFile");
    Expect(p.Call(L"ReadExif", {Text(photo)}), "ReadExif");
    Expect(p.Call(L"SaveAs", {Text(out + L"\\soak"), Text(L".jpg")}), "SaveAs .jpg");
    Expect(p.Call(L"SaveFile", {Text(out + L"\\soak.png"), Long(0)}), "SaveFile .png");
    // Bytes out and in again, and arrays refused: a 2-D array and an empty one.
    VARIANT bytes;
    VariantInit(&bytes);
    Expect(p.Invoke(L"SaveBytes", DISPATCH_METHOD, {Text(L".jpg")}, &bytes), "SaveBytes .jpg");
    Object fromBytes(L"Quillbox.VuPicture.1");
    Expect(fromBytes.Call(L"LoadBytes", {bytes}), "LoadBytes");  // the call clears the array
    SAFEARRAYBOUND square[2] = {{4, 0}, {4, 0}};
    VARIANT refused;
    VariantInit(&refused);
    refused.vt = VT_ARRAY | VT_UI1;
    refused.parray = SafeArrayCreate(VT_UI1, 2, square);
    Check(fromBytes.Call(L"LoadBytes", {refused}) == DISP_E_EXCEPTION, "LoadBytes refuses a 2-D array");
    refused.vt = VT_ARRAY | VT_UI1;
    refused.parray = SafeArrayCreateVector(VT_UI1, 0, 0);
    Check(fromBytes.Call(L"LoadBytes", {refused}) == DISP_E_EXCEPTION, "LoadBytes refuses an empty array");
    Expect(p.Call(L"CopyToClipboard"), "CopyToClipboard");
    Object pasted(L"Quillbox.VuPicture.1");
    Expect(pasted.Call(L"PasteFromClipboard"), "PasteFromClipboard");
    VARIANT thumbnail;
    VariantInit(&thumbnail);
    Expect(p.Invoke(L"CreateThumbnail", DISPATCH_METHOD, {Long(48), Long(64)}, &thumbnail), "CreateThumbnail");
    if (SUCCEEDED(VariantChangeType(&thumbnail, &thumbnail, 0, VT_I4)))
      DeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<intptr_t>(thumbnail.lVal)));
    const LONG hdc = static_cast<LONG>(reinterpret_cast<intptr_t>(dc));
    Expect(render.Call(L"DrawPicture", {Ref(pasted), Long(hdc), Long(0), Long(0), Long(100), Long(75), Long(0),
                                        Long(0), Long(500), Long(375)}),
           "DrawPicture");
    Expect(p.Call(L"DrawFile", {Long(hdc)}), "DrawFile");
    Expect(card.Call(L"PackCard", {Text(photo), Text(L""), Text(out + L"\\soak-card.exe")}), "PackCard");
  }
};

bool Within(const Counts& before, const Counts& after, SIZE_T slack, std::string& why) {
  char text[200];
  std::snprintf(text, sizeof text, "private %+ld KB, GDI %+d, USER %+d, handles %+d",
                static_cast<long>(after.privateBytes / 1024) - static_cast<long>(before.privateBytes / 1024),
                after.gdi - before.gdi, after.user - before.user, after.kernel - before.kernel);
  why = text;
  return after.privateBytes <= before.privateBytes + slack && after.gdi == before.gdi &&
         after.user == before.user && after.kernel == before.kernel;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::printf("usage: quillbox_soak PHOTO OUTFOLDER SMALL_ROUNDS LARGE_ROUNDS\n");
    return 2;
  }
  const int smallRounds = _wtoi(argv[3]);
  const int largeRounds = _wtoi(argv[4]);
  CoInitialize(nullptr);
  {
    Run run;
    run.photo = argv[1];
    run.out = argv[2];
    CreateDirectoryW(run.out.c_str(), nullptr);
    const std::wstring frame = run.out + L"\\frame.png";
    const std::vector<Modifier> table = {
        {L"Quillbox.Bright.1", {{L"Brightness", Long(20)}}, {}},
        {L"Quillbox.Contrast.1", {{L"Contrast", Long(15)}}, {}},
        {L"Quillbox.AdjustColorModifier.1", {{L"Hue", Long(40)}, {L"Saturation", Long(10)}}, {}},
        {L"Quillbox.SharpModifier.1", {{L"Level", Long(3)}}, {}},
        {L"Quillbox.RedEye.1", {{L"RectWidth", Long(20)}, {L"RectHeight", Long(20)}}, {}},
        {L"Quillbox.MirrorModifier.1", {{L"Direction", Long(1)}}, {}},
        {L"Quillbox.Crop.1", {{L"RectWidth", Long(16)}, {L"RectHeight", Long(12)}}, {}},
        {L"Quillbox.BlurModifier.1", {{L"Level", Long(3)}}, {}},
        {L"Quillbox.Zoom.1", {{L"Width", Long(40)}, {L"Height", Long(30)}}, {}},
        {L"Quillbox.RotateModifier.1", {{L"Angle", Long(30)}}, {}},
        {L"Quillbox.AddText.1", {{L"Text", Text(L"soak")}, {L"X", Long(2)}, {L"Y", Long(2)}}, {}},
        {L"Quillbox.AddPic.1", {}, {L"LoadPicFile", L"LoadMaskFile"}},
        {L"Quillbox.Frame.1", {}, {L"LoadFrameFile"}},
    };
    {
      Object framePicture = run.Picture(32, 24);
      run.Expect(framePicture.Call(L"SaveAs", {Text(run.out + L"\\frame"), Text(L".png")}), "frame picture");
    }
    for (const Modifier& m : table) {
      Object o(m.progId);
      Check(static_cast<bool>(o), "creates " + std::string(m.progId, m.progId + wcslen(m.progId)));
      for (const auto& [name, value] : m.settings) run.Expect(o.Put(name, value), "a setting");
      for (const wchar_t* loader : m.loaders) run.Expect(o.Call(loader, {Text(frame)}), "a loader");
      if (!o) continue;
      run.modifiers.push_back(std::move(o));
      run.names.emplace_back(m.progId, m.progId + wcslen(m.progId));
    }
    run.render = Object(L"Quillbox.ImageRender.1");
    run.card = Object(L"Quillbox.ExportToCard.1");
    run.dc = CreateCompatibleDC(nullptr);
    run.target = CreateCompatibleBitmap(GetDC(nullptr), 100, 75);
    run.oldBitmap = SelectObject(run.dc, run.target);

    Object small = run.Picture(64, 48);
    run.ApplyAll(small);
    run.SideTrip();
    const Counts start = Take();
    Print("after one round", start);
    const DWORD began = GetTickCount();
    for (int round = 1; round <= smallRounds; ++round) {
      run.ApplyAll(small);
      if (round % 500 == 0 || round == smallRounds) run.SideTrip();
    }
    const Counts afterSmall = Take();
    std::printf("%d rounds of %zu modifiers on 64 x 48 in %lu ms\n", smallRounds, run.modifiers.size(),
                static_cast<unsigned long>(GetTickCount() - began));
    Print("after the small rounds", afterSmall);
    std::string why;
    const bool smallKept = Within(start, afterSmall, 2u << 20, why);
    Check(smallKept, "the small rounds leave the process as it was: " + why);
    std::printf("  change: %s\n", why.c_str());

    if (largeRounds > 0) {
      Object large = run.Picture(4000, 3000);
      run.ApplyAll(large);
      const Counts startLarge = Take();
      Print("after one 12-megapixel round", startLarge);
      const DWORD beganLarge = GetTickCount();
      for (int round = 1; round <= largeRounds; ++round) {
        run.ApplyAll(large);
        if (round % 20 == 0 || round == largeRounds) run.SideTrip();
      }
      const Counts afterLarge = Take();
      std::printf("%d rounds of %zu modifiers on 4000 x 3000 in %lu ms\n", largeRounds, run.modifiers.size(),
                  static_cast<unsigned long>(GetTickCount() - beganLarge));
      Print("after the large rounds", afterLarge);
      const bool largeKept = Within(startLarge, afterLarge, 4u << 20, why);
      Check(largeKept, "the large rounds leave the process as it was: " + why);
      std::printf("  change: %s\n", why.c_str());
    }
    Check(run.failures == 0, "every call succeeded (" + std::to_string(run.failures) + " failed)");
    SelectObject(run.dc, run.oldBitmap);
    DeleteObject(run.target);
    DeleteDC(run.dc);
  }
  // Every object is gone: the server may be unloaded.
  using CanUnload = HRESULT(__stdcall*)();
  HMODULE server = GetModuleHandleW(L"Quillbox.dll");
  auto canUnload = server ? reinterpret_cast<CanUnload>(GetProcAddress(server, "DllCanUnloadNow")) : nullptr;
  Check(canUnload && canUnload() == S_OK, "DllCanUnloadNow is S_OK once every object is released");
  CoUninitialize();
  std::printf("%d passed, %d failed\n", g_passed, g_failed);
  return g_failed;
}
