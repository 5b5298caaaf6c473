#include "message_watch.h"

#include <algorithm>

namespace qbtest {

namespace {

constexpr int kBoxTextId = 0xFFFF;  // the static control that holds a box's text
constexpr DWORD kCloseGrace = 2000;  // ms before a box that ignores OK gets WM_CLOSE

DebuggerLines* g_lines = nullptr;

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  GetWindowTextW(window, text, 1024);
  return text;
}

}  // namespace

bool CanShowWindows() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!probe) return false;
  DestroyWindow(probe);
  return true;
}

BoxWatcher::BoxWatcher() : m_thread([this] { Watch(); }) {}

BoxWatcher::~BoxWatcher() {
  m_stop = true;
  m_thread.join();
}

std::vector<SeenBox> BoxWatcher::Seen() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_seen;
}

std::vector<std::wstring> BoxWatcher::Texts() {
  std::vector<std::wstring> texts;
  for (const SeenBox& box : Seen()) texts.push_back(box.text);
  return texts;
}

void BoxWatcher::Watch() {
  while (!m_stop) {
    EnumWindows(&BoxWatcher::Visit, reinterpret_cast<LPARAM>(this));
    Sleep(10);
  }
}

BOOL CALLBACK BoxWatcher::Visit(HWND window, LPARAM param) {
  auto* self = reinterpret_cast<BoxWatcher*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  wchar_t kind[16] = {};
  GetClassNameW(window, kind, 16);
  if (process != GetCurrentProcessId() || lstrcmpW(kind, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;

  auto known = std::find_if(self->m_closing.begin(), self->m_closing.end(),
                            [window](const auto& entry) { return entry.first == window; });
  if (known == self->m_closing.end()) {
    SeenBox box;
    box.text = WindowText(GetDlgItem(window, kBoxTextId));
    box.caption = WindowText(window);
    box.hasOwner = GetWindow(window, GW_OWNER) != nullptr;
    {
      std::lock_guard<std::mutex> guard(self->m_lock);
      self->m_seen.push_back(box);
    }
    self->m_closing.emplace_back(window, GetTickCount());
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
  } else if (GetTickCount() - known->second > kCloseGrace) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    known->second = GetTickCount();
  }
  return TRUE;
}

DebuggerLines::DebuggerLines() {
  g_lines = this;
  m_handler = AddVectoredExceptionHandler(1, &DebuggerLines::Handler);
}

DebuggerLines::~DebuggerLines() {
  RemoveVectoredExceptionHandler(m_handler);
  g_lines = nullptr;
}

// OutputDebugStringW raises the wide form first where the system knows it,
// OutputDebugStringA (and Wine's W) the narrow one; each is taken and
// continued, so that the system does not raise it again.
LONG CALLBACK DebuggerLines::Handler(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD* r = e->ExceptionRecord;
  if (!g_lines || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
  if (r->ExceptionCode == 0x4001000A) {  // DBG_PRINTEXCEPTION_WIDE_C
    g_lines->m_lines.emplace_back(reinterpret_cast<const wchar_t*>(r->ExceptionInformation[1]));
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (r->ExceptionCode == 0x40010006) {  // DBG_PRINTEXCEPTION_C
    const char* narrow = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
    wchar_t wide[1024] = {};
    MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide, 1023);
    g_lines->m_lines.emplace_back(wide);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace qbtest
