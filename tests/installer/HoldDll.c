/* Test helper for scripts/test-windows-installer: keeps a DLL loaded, as Explorer does with a
 * thumbnail handler, until a release file appears (or a minute has passed).
 *   holddll DLL RELEASE_FILE
 * Prints "held" once the DLL is loaded; exits 1 if it cannot be loaded. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
    if (argc != 3) return 2;
    HMODULE dll = LoadLibraryExW(argv[1], NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!dll) return 1;
    puts("held");
    fflush(stdout);
    for (int i = 0; i < 600 && GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    FreeLibrary(dll);
    return 0;
}
