#include "server/object_map.h"

#include <new>

#include "core/vu_picture.h"
#include "collections/file_info_array.h"
#include "modifiers/add_pic.h"
#include "modifiers/add_text.h"
#include "modifiers/adjust_color_modifier.h"
#include "modifiers/blur_modifier.h"
#include "modifiers/bright.h"
#include "modifiers/contrast.h"
#include "modifiers/crop.h"
#include "modifiers/frame.h"
#include "modifiers/mirror_modifier.h"
#include "modifiers/red_eye.h"
#include "modifiers/rotate_modifier.h"
#include "modifiers/sharp_modifier.h"
#include "modifiers/zoom.h"
#include "output/export_to_card.h"
#include "output/image_render.h"
#include "server/class_factory.h"
#include "com/module.h"
#include "server/plain_classes.h"
#include "server/registrar.h"

namespace qb {
namespace {

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_VuPicture, L"VuPicture", 101, &CreateObject<VuPicture>},
    {&CLSID_SharpModifier, L"SharpModifier", 103, &CreateObject<SharpModifier>},
    {&CLSID_BlurModifier, L"BlurModifier", 106, &CreateObject<BlurModifier>},
    {&CLSID_Zoom, L"Zoom", 107, &CreateObject<Zoom>},
    {&CLSID_ImageRender, L"ImageRender", 108, &CreateObject<ImageRender>},
    {&CLSID_InputSource, L"InputSource", 109, &CreateObject<InputSource>},
    {&CLSID_Contrast, L"Contrast", 110, &CreateObject<Contrast>},
    {&CLSID_Bright, L"Bright", 111, &CreateObject<Bright>},
    {&CLSID_Crop, L"Crop", 112, &CreateObject<Crop>},
    {&CLSID_AddText, L"AddText", 113, &CreateObject<AddText>},
    {&CLSID_Frame, L"Frame", 114, &CreateObject<Frame>},
    {&CLSID_AddPic, L"AddPic", 115, &CreateObject<AddPic>},
    {&CLSID_FolderInput, L"FolderInput", 116, &CreateObject<FolderInput>},
    {&CLSID_ImageCollection, L"ImageCollection", 117, &CreateObject<ImageCollection>},
    {&CLSID_ImageFinder, L"ImageFinder", 118, &CreateObject<ImageFinder>},
    {&CLSID_ImageInputService, L"ImageInputService", 119, &CreateObject<ImageInputService>},
    {&CLSID_ImageInputSource, L"ImageInputSource", 120, &CreateObject<ImageInputSource>},
    {&CLSID_ImageInputSourceCollection, L"ImageInputSourceCollection", 121,
     &CreateObject<ImageInputSourceCollection>},
    {&CLSID_ImageOutputService, L"ImageOutputService", 122, &CreateObject<ImageOutputService>},
    {&CLSID_ImageOutputTarget, L"ImageOutputTarget", 123, &CreateObject<ImageOutputTarget>},
    {&CLSID_ImageOutputTargetCollection, L"ImageOutputTargetCollection", 124,
     &CreateObject<ImageOutputTargetCollection>},
    {&CLSID_RotateModifier, L"RotateModifier", 125, &CreateObject<RotateModifier>},
    {&CLSID_FileInfoArray, L"FileInfoArray", 127, &FileInfoArray::Create},
    {&CLSID_ImageFile, L"ImageFile", 129, &CreateObject<ImageFile>},
    {&CLSID_RedEye, L"RedEye", 130, &CreateObject<RedEye>},
    {&CLSID_ExportToCard, L"ExportToCard", 131, &CreateObject<ExportToCard>},
    {&CLSID_MirrorModifier, L"MirrorModifier", 132, &CreateObject<MirrorModifier>},
    {&CLSID_AdjustColorModifier, L"AdjustColorModifier", 133, &CreateObject<AdjustColorModifier>},
    {&CLSID_WallPaper, L"WallPaper", 134, &CreateObject<WallPaper>},
};
constexpr size_t kClassCount = sizeof(kObjectMap) / sizeof(kObjectMap[0]);
static_assert(kClassCount == 29, "the catalogue has 29 classes");

// Factories, created on first request; index as in kObjectMap.
ClassFactory* g_factories[kClassCount];

}  // namespace

const ObjectMapEntry* ObjectMap() { return kObjectMap; }
size_t ObjectMapSize() { return kClassCount; }

const ObjectMapEntry* FindClass(REFCLSID clsid) {
  for (const ObjectMapEntry& e : kObjectMap)
    if (*e.clsid == clsid) return &e;
  return nullptr;
}

HRESULT GetClassFactory(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const ObjectMapEntry* entry = FindClass(clsid);
  if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
  size_t index = static_cast<size_t>(entry - kObjectMap);
  // The pointer is published only under the lock and never changes again,
  // so testing it once more inside the lock is enough.
  ClassFactory* factory = static_cast<ClassFactory*>(
      InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_factories[index]),
                                        nullptr, nullptr));
  if (!factory) {
    CriticalSectionGuard guard(FactoryLock());
    factory = g_factories[index];
    if (!factory) {
      factory = new (std::nothrow) ClassFactory(entry->create);
      if (!factory) return E_OUTOFMEMORY;
      InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_factories[index]), factory);
    }
  }
  return factory->QueryInterface(riid, ppv);
}

HRESULT RegisterServer() {
  for (const ObjectMapEntry& e : kObjectMap) {
    HRESULT hr = RunRegistryScript(e.scriptId, true);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT UnregisterServer() {
  for (const ObjectMapEntry& e : kObjectMap) RunRegistryScript(e.scriptId, false);
  return S_OK;
}

void ReleaseClassFactories() {
  CriticalSectionGuard guard(FactoryLock());
  for (ClassFactory*& factory : g_factories) {
    if (factory) factory->Release();
    factory = nullptr;
  }
}

}  // namespace qb
