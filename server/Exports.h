// Declarations of the DLL's exports, for programs and tests that link the server directly.
#pragma once

#include "platform/Platform.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
