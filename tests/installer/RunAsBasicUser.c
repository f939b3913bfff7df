/* Test helper for scripts/test-windows-installer: runs a command line as a basic (not
 * administrator) user would, as "runas /trustlevel:0x20000" does on Windows: the process gets a
 * restricted copy of our token in which the Administrators group only denies. Returns the
 * command's exit code (125 when it cannot be started).
 *   runasbasicuser COMMAND_LINE */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) return 125;
    HANDLE token = NULL, basic = NULL;
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID admins = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
        !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
        fprintf(stderr, "runasbasicuser: no token (error %lu)\n", GetLastError());
        return 125;
    }
    SID_AND_ATTRIBUTES disable = {admins, 0};
    if (!CreateRestrictedToken(token, DISABLE_MAX_PRIVILEGE, 1, &disable, 0, NULL, 0, NULL, &basic)) {
        fprintf(stderr, "runasbasicuser: no restricted token (error %lu)\n", GetLastError());
        return 125;
    }
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    if (!CreateProcessAsUserW(basic, NULL, argv[1], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        fprintf(stderr, "runasbasicuser: cannot start %ls (error %lu)\n", argv[1], GetLastError());
        return 125;
    }
    DWORD code = 125;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    return (int)code;
}
