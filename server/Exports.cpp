// The four functions the DLL exports.
#include "server/ClassFactory.h"
#include "server/Module.h"
#include "server/Registration.h"

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!IsEqualCLSID(rclsid, CLSID_KwbThumbnailProvider)) return CLASS_E_CLASSNOTAVAILABLE;
    return CreateClassFactory(kPageStoreReader, riid, ppv);
}

STDAPI DllCanUnloadNow() { return ModuleObjectCount() > 0 ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    try {
        return RegisterServer(ModuleHandle());
    } catch (...) {
        return E_FAIL;
    }
}

STDAPI DllUnregisterServer() {
    try {
        return UnregisterServer();
    } catch (...) {
        return E_FAIL;
    }
}
