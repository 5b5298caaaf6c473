// What a call shows the user and tells the debugger, caught while it runs.
//
// Message boxes need a display: the test program runs under xvfb-run, and
// a test that expects a box fails where no window can be made. A box is
// read and closed from a watcher thread, so no test ever waits on one.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qbtest {

// Whether this process can show windows (a display is there).
bool CanShowWindows();

struct SeenBox {
  std::wstring text;
  std::wstring caption;
  bool hasOwner = false;
};

// Watches for message boxes of this process while it lives: each one is
// read (its text, caption and owner) and closed with its OK button. A box
// that ignores OK is sent WM_CLOSE after two seconds.
class BoxWatcher {
 public:
  BoxWatcher();
  ~BoxWatcher();
  BoxWatcher(const BoxWatcher&) = delete;
  BoxWatcher& operator=(const BoxWatcher&) = delete;

  // The boxes seen so far, in order.
  std::vector<SeenBox> Seen();
  // Their texts only.
  std::vector<std::wstring> Texts();

 private:
  void Watch();
  static BOOL CALLBACK Visit(HWND window, LPARAM self);

  std::atomic<bool> m_stop{false};
  std::mutex m_lock;
  std::vector<SeenBox> m_seen;
  std::vector<std::pair<HWND, DWORD>> m_closing;  // box, tick of its first close
  std::thread m_thread;
};

// Lines sent to the debugger with OutputDebugString while it lives, caught
// by a first vectored exception handler (one watcher at a time).
class DebuggerLines {
 public:
  DebuggerLines();
  ~DebuggerLines();
  DebuggerLines(const DebuggerLines&) = delete;
  DebuggerLines& operator=(const DebuggerLines&) = delete;

  std::vector<std::wstring> Lines() const { return m_lines; }

 private:
  static LONG CALLBACK Handler(EXCEPTION_POINTERS* e);
  void* m_handler = nullptr;
  std::vector<std::wstring> m_lines;
};

}  // namespace qbtest
