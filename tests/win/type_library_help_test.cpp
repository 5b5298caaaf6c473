// Object browsers and script editors show the type library's help text: the
// built Quillbox.tlb carries it for the library, every interface and every
// member.
#include <windows.h>
#include <oleauto.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "test_support.h"

namespace {

std::wstring HelpOf(ITypeLib* library, INT index) {
  BSTR doc = nullptr;
  if (FAILED(library->GetDocumentation(index, nullptr, &doc, nullptr, nullptr))) return {};
  std::wstring text = doc ? std::wstring(doc, SysStringLen(doc)) : std::wstring();
  SysFreeString(doc);
  return text;
}

// The names of an interface's own members (and the interface itself, as
// "<interface>") whose help text is empty.
void CollectMissing(ITypeInfo* info, const std::wstring& name, std::vector<std::wstring>& missing) {
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
  for (WORD i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_HRESULT_SUCCEEDED(info->GetFuncDesc(i, &func));
    BSTR member = nullptr, doc = nullptr;
    info->GetDocumentation(func->memid, &member, &doc, nullptr, nullptr);
    if (!doc || SysStringLen(doc) == 0) missing.push_back(name + L"." + (member ? member : L"?"));
    SysFreeString(member);
    SysFreeString(doc);
    info->ReleaseFuncDesc(func);
  }
  info->ReleaseTypeAttr(attr);
}

TEST(TypeLibraryHelp, LibraryInterfacesAndMembersAllHaveHelpText) {
  ITypeLib* library = nullptr;
  ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(qbtest::BuildFile(L"Quillbox.tlb").c_str(), REGKIND_NONE, &library));
  EXPECT_FALSE(HelpOf(library, -1).empty());
  std::vector<std::wstring> missing;
  int interfaces = 0;
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    TYPEKIND kind;
    ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfoType(i, &kind));
    if (kind != TKIND_DISPATCH && kind != TKIND_INTERFACE && kind != TKIND_COCLASS) continue;
    BSTR name = nullptr;
    library->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
    const std::wstring typeName = name ? name : L"?";
    SysFreeString(name);
    if (HelpOf(library, static_cast<INT>(i)).empty()) missing.push_back(typeName);
    if (kind == TKIND_COCLASS) continue;
    ++interfaces;
    ITypeInfo* info = nullptr;
    ASSERT_HRESULT_SUCCEEDED(library->GetTypeInfo(i, &info));
    // A dual interface's dispatch view lists IDispatch's members too; its
    // vtable view holds the interface's own.
    ITypeInfo* own = info;
    HREFTYPE vtable = 0;
    ITypeInfo* vtableInfo = nullptr;
    if (kind == TKIND_DISPATCH && SUCCEEDED(info->GetRefTypeOfImplType(-1, &vtable)) &&
        SUCCEEDED(info->GetRefTypeInfo(vtable, &vtableInfo)))
      own = vtableInfo;
    CollectMissing(own, typeName, missing);
    if (vtableInfo) vtableInfo->Release();
    info->Release();
  }
  library->Release();
  EXPECT_GE(interfaces, 30);
  std::wstring list;
  for (const std::wstring& m : missing) list += m + L" ";
  EXPECT_TRUE(missing.empty()) << "without help text: " << std::string(list.begin(), list.end());
}

}  // namespace
