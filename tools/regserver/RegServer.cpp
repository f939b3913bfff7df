// regserver: registers or unregisters a COM server DLL of this program's own bitness in one
// hive, for the installer. The installer is 32-bit (it must run on 32-bit Windows) and cannot
// load the 64-bit DLL, and regsvr32 always writes through the merged HKEY_CLASSES_ROOT, which
// for a per-user install is the wrong hive. So each architecture ships this program: it points
// its own HKEY_CLASSES_ROOT at <hive>\Software\Classes and calls the DLL's own entry point.
// A 64-bit build writes the 64-bit classes, a 32-bit one on 64-bit Windows the 32-bit
// (WOW6432Node) ones, because that is the view the key is opened in.
//
//   regserver (/machine | /user) [/u] DLL
//
// Exit status: 0 done; 1 the entry point failed (its HRESULT on standard error); 2 usage
// error, or the DLL or the classes key cannot be opened.
#include <cstdio>
#include <cwchar>

#include "platform/Platform.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

using EntryPoint = HRESULT(STDAPICALLTYPE*)();

int Usage() {
    std::fputs("usage: regserver (/machine | /user) [/u] DLL\n", stderr);
    return kExitUsage;
}

// HKEY_CLASSES_ROOT of this process points at `classes` while alive.
class ClassesRootOverride {
public:
    explicit ClassesRootOverride(HKEY classes) : ok_(RegOverridePredefKey(HKEY_CLASSES_ROOT, classes) == ERROR_SUCCESS) {}
    ClassesRootOverride(const ClassesRootOverride&) = delete;
    ClassesRootOverride& operator=(const ClassesRootOverride&) = delete;
    ~ClassesRootOverride() {
        if (ok_) RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    bool ok() const { return ok_; }

private:
    bool ok_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    HKEY hive = nullptr;
    bool unregister = false;
    const wchar_t* dllPath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (_wcsicmp(argv[i], L"/machine") == 0)
            hive = HKEY_LOCAL_MACHINE;
        else if (_wcsicmp(argv[i], L"/user") == 0)
            hive = HKEY_CURRENT_USER;
        else if (_wcsicmp(argv[i], L"/u") == 0)
            unregister = true;
        else if (!dllPath && argv[i][0] != L'/')
            dllPath = argv[i];
        else
            return Usage();
    }
    if (!hive || !dllPath) return Usage();

    HKEY classes = nullptr;
    LSTATUS status = RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "regserver: cannot open the classes key (error %ld)\n", static_cast<long>(status));
        return kExitUsage;
    }
    int exitCode = kExitDone;
    {
        ClassesRootOverride redirect(classes);
        // Loaded only after the redirection, so nothing the DLL does at load time sees the merged view.
        HMODULE dll = redirect.ok() ? LoadLibraryExW(dllPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
        const char* name = unregister ? "DllUnregisterServer" : "DllRegisterServer";
        auto entry = dll ? reinterpret_cast<EntryPoint>(GetProcAddress(dll, name)) : nullptr;
        if (!redirect.ok()) {
            std::fputs("regserver: cannot redirect HKEY_CLASSES_ROOT\n", stderr);
            exitCode = kExitUsage;
        } else if (!entry) {
            std::fprintf(stderr, "regserver: cannot load %ls or find %s (error %lu)\n", dllPath, name, GetLastError());
            exitCode = kExitUsage;
        } else if (const HRESULT hr = entry(); FAILED(hr)) {
            std::fprintf(stderr, "regserver: %s returned 0x%08lX\n", name, static_cast<unsigned long>(hr));
            exitCode = kExitFailed;
        }
        if (dll) FreeLibrary(dll);
    }
    RegCloseKey(classes);
    return exitCode;
}
