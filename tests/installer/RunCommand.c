/* Test helper for scripts/test-windows-installer: runs a command line exactly as given, as a
 * deployment tool runs an UninstallString (CreateProcess, the line untouched: Wine's own
 * launcher would quote an argument with spaces), waits for it, prints "exit code N" (the whole
 * 32-bit code: a Unix exit status keeps only its low byte, 3010 would read 194) and returns it
 * (125 when it cannot be started).
 *   runcommand [--basic-user] COMMAND_LINE
 * --basic-user: as a user who is not an administrator, as "runas /trustlevel:0x20000" does on
 * Windows: a restricted copy of our token in which the Administrators group only denies. */
#include <stdio.h>
#include <wchar.h>
#include <windows.h>

static HANDLE BasicUserToken(void) {
    HANDLE token = NULL, basic = NULL;
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID admins = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
        !AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins))
        return NULL;
    SID_AND_ATTRIBUTES disable = {admins, 0};
    if (!CreateRestrictedToken(token, DISABLE_MAX_PRIVILEGE, 1, &disable, 0, NULL, 0, NULL, &basic)) basic = NULL;
    FreeSid(admins);
    CloseHandle(token);
    return basic;
}

int wmain(int argc, wchar_t **argv) {
    int basicUser = argc == 3 && wcscmp(argv[1], L"--basic-user") == 0;
    if (argc != 2 + basicUser) {
        fputs("usage: runcommand [--basic-user] COMMAND_LINE\n", stderr);
        return 125;
    }
    wchar_t *commandLine = argv[1 + basicUser];
    STARTUPINFOW si = {sizeof si};
    PROCESS_INFORMATION pi;
    BOOL started;
    if (basicUser) {
        HANDLE token = BasicUserToken();
        if (!token) {
            fprintf(stderr, "runcommand: no restricted token (error %lu)\n", GetLastError());
            return 125;
        }
        started = CreateProcessAsUserW(token, NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    } else {
        started = CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi);
    }
    if (!started) {
        fprintf(stderr, "runcommand: cannot start %ls (error %lu)\n", commandLine, GetLastError());
        return 125;
    }
    DWORD code = 125;
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &code);
    printf("exit code %lu\n", code);
    return (int)code;
}
