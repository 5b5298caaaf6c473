// Rich error information for automation clients.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace qb {

// Raises error information for a class: the description (a text, or a
// string-table identifier below 0x10000 loaded from the module's resources,
// "Unknown Error" when missing), the class's ProgID as source and iid as its
// GUID, made the thread's error object. Returns hr; with hr 0 it returns
// DISP_E_EXCEPTION for a text, or 0x80040000 | identifier for a string-table
// identifier.
HRESULT ReportError(REFCLSID clsid, LPCOLESTR description, REFIID iid, HRESULT hr = 0);

// The same for a narrow description in the system ANSI code page.
HRESULT ReportErrorAnsi(REFCLSID clsid, const char* description, REFIID iid, HRESULT hr = 0);

// A failure that carries no error information of its own: clears the
// thread's error object, so that a client never reads an earlier, unrelated
// message with it. Returns hr.
HRESULT PlainFailure(HRESULT hr);

// A message box for the user with the string-table text `id`: no owner
// window, the system's default caption, MB_SETFOREGROUND. Returns when the
// user has closed it (at once where the process cannot show windows).
// Where nobody can answer it, in a window station that is not interactive
// (a service, a scheduled task without a desktop), no box is shown: the
// text goes to the debugger and the call returns as if the box had been
// closed, instead of waiting for ever.
void ShowMessage(UINT id);

// Whether `station` is one a user sees and works in (its UOI_FLAGS carry
// WSF_VISIBLE). A station whose flags cannot be read counts as interactive.
bool IsInteractiveStation(HWINSTA station);

// Diagnostic text for a debugger; does nothing in release builds.
void DebugTrace(const wchar_t* text);

// A line for the debugger, in every build (OutputDebugStringW).
void DebuggerLine(const wchar_t* text);

}  // namespace qb
