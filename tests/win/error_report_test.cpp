// The error-reporting routine, called directly: what it returns and the
// error object it leaves for the thread.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/error_report.h"
#include "com/resource.h"
#include "message_watch.h"
#include "test_support.h"

using namespace qbtest;

namespace {

struct Raised {
  std::wstring description;
  std::wstring source;
  GUID guid = GUID_NULL;
  bool hasSource = false;
};

Raised TakeError() {
  Raised r;
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(S_OK, GetErrorInfo(0, info.GetAddressOf()));
  if (!info) return r;
  BSTR text = nullptr;
  info->GetDescription(&text);
  if (text) r.description = text;
  SysFreeString(text);
  text = nullptr;
  info->GetSource(&text);
  if (text) {
    r.source = text;
    r.hasSource = true;
  }
  SysFreeString(text);
  info->GetGUID(&r.guid);
  BSTR help = reinterpret_cast<BSTR>(1);
  info->GetHelpFile(&help);
  EXPECT_EQ(nullptr, help) << "no help file is set";
  return r;
}

}  // namespace

TEST(ErrorReport, TextDescriptionGivesDispException) {
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(DISP_E_EXCEPTION, qb::ReportError(CLSID_Zoom, L"size too large", IID_IZoom));
  Raised r = TakeError();
  EXPECT_EQ(L"size too large", r.description);
  EXPECT_EQ(L"Quillbox.Zoom.1", r.source);
  EXPECT_EQ(IID_IZoom, r.guid);
}

TEST(ErrorReport, AGivenHresultIsReturnedUnchanged) {
  EXPECT_EQ(E_FAIL, qb::ReportError(CLSID_VuPicture, L"x", IID_IVuPicture, E_FAIL));
  EXPECT_EQ(L"x", TakeError().description);
}

TEST(ErrorReport, StringTableIdentifiersAreLoadedAndMadeIntoHresults) {
  EXPECT_EQ(static_cast<HRESULT>(0x80040000 | IDS_PROJNAME),
            qb::ReportError(CLSID_VuPicture, MAKEINTRESOURCEW(IDS_PROJNAME), IID_IVuPicture));
  EXPECT_EQ(L"Quillbox", TakeError().description);

  EXPECT_EQ(static_cast<HRESULT>(0x80040000 | 999),
            qb::ReportError(CLSID_VuPicture, MAKEINTRESOURCEW(999), IID_IVuPicture));
  EXPECT_EQ(L"Unknown Error", TakeError().description);

  EXPECT_EQ(E_NOTIMPL,
            qb::ReportError(CLSID_VuPicture, MAKEINTRESOURCEW(999), IID_IVuPicture, E_NOTIMPL));
  TakeError();
}

TEST(ErrorReport, UnregisteredClassRaisesWithoutSource) {
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(DISP_E_EXCEPTION, qb::ReportError(unknown, L"no source", IID_IUnknown));
  Raised r = TakeError();
  EXPECT_FALSE(r.hasSource && !r.source.empty());
  EXPECT_EQ(L"no source", r.description);
}

TEST(ErrorReport, NarrowTextsAreWidenedWithTheAnsiCodePage) {
  EXPECT_EQ(DISP_E_EXCEPTION, qb::ReportErrorAnsi(CLSID_Zoom, "plain text", IID_IZoom));
  EXPECT_EQ(L"plain text", TakeError().description);
  // Code page 936 texts come out as the Chinese they encode when that is the
  // ANSI code page.
  if (GetACP() == 936) {
    EXPECT_EQ(DISP_E_EXCEPTION,
              qb::ReportErrorAnsi(CLSID_Zoom, "\xB3\xDF\xB4\xE7\xCC\xAB\xB4\xF3", IID_IZoom));
    EXPECT_EQ(L"\u5C3A\u5BF8\u592A\u5927", TakeError().description);
  }
}

// Nobody can answer a message box in a window station that is not
// interactive (a service's, a scheduled task's without a desktop): the
// text goes to the debugger and the call returns as if the box had been
// closed, both for the routine itself and for a class that shows one.
TEST(ErrorReport, NoMessageBoxWhereNobodyCanAnswerIt) {
  const HWINSTA interactive = GetProcessWindowStation();
  EXPECT_TRUE(qb::IsInteractiveStation(interactive)) << "the tests run in the interactive station";
  const HWINSTA hidden = CreateWindowStationW(L"QuillboxTestsHidden", 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(nullptr, hidden) << GetLastError();
  EXPECT_FALSE(qb::IsInteractiveStation(hidden));
  ComPtr<IRotateModifier> rotate = MakeLinked<IRotateModifier>(CLSID_RotateModifier);
  ComPtr<IVuPicture> empty = MakeLinked<IVuPicture>(CLSID_VuPicture);
  {
    BoxWatcher boxes;
    DebuggerLines lines;
    ASSERT_TRUE(SetProcessWindowStation(hidden));
    qb::ShowMessage(IDS_ROTATE_FAILED);
    IVuPicture* result = nullptr;
    const HRESULT hr = rotate->Apply(empty.Get(), &result);
    SetProcessWindowStation(interactive);
    EXPECT_EQ(E_FAIL, hr);
    EXPECT_EQ(nullptr, result);
    EXPECT_EQ((std::vector<std::wstring>{L"Rotate Failed", L"hDib  is null"}), lines.Lines());
    Sleep(300);  // time for the watcher to see a box that should not be there
    EXPECT_EQ(std::vector<std::wstring>{}, boxes.Texts());
  }
  CloseWindowStation(hidden);
}
