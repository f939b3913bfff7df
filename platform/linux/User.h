// The one user-interface call the system makes. There is no desktop to show a dialog on, so
// the text goes to a replaceable sink: by default standard error, in tests a capture.
#pragma once

#include "Types.h"

#define MB_OK 0x00000000u
#define MB_ICONINFORMATION 0x00000040u
#define IDOK 1

// Shows `text` with `caption`; returns the button pressed (always IDOK here, at once).
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

using MessageBoxSink = int (*)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// Installs `sink` (null restores the standard-error default) and returns the previous one.
// Process-wide; meant to be set once before the calls it should see.
MessageBoxSink SetMessageBoxSink(MessageBoxSink sink);
