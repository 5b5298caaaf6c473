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

// A method whose behaviour this build does not provide: E_NOTIMPL, with
// error information that says so.
HRESULT NotAvailable(REFCLSID clsid, REFIID iid);

// Diagnostic text for a debugger; does nothing in release builds.
void DebugTrace(const wchar_t* text);

// A line for the debugger, in every build (OutputDebugStringW).
void DebuggerLine(const wchar_t* text);

// A message box with the string-table text `textId`: no owner window, the
// system's default caption, an OK button, brought to the foreground. Waits
// until the user closes it.
void ShowMessage(UINT textId);

}  // namespace qb
