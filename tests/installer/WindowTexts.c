/* Test helper for scripts/test-windows-installer: prints the title of every visible top-level
 * window and the text of each of its visible child windows, one per line, so a script can see
 * what a page says. Text of another process's controls needs WM_GETTEXT (GetWindowText
 * returns only captions across processes). */
#include <stdio.h>
#include <windows.h>

static void Print(const char *prefix, HWND window) {
    wchar_t text[1024];
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &length)) return;
    text[length < 1024 ? length : 1023] = 0;
    if (text[0]) printf("%s%ls\n", prefix, text);
}

static BOOL CALLBACK Child(HWND window, LPARAM unused) {
    (void)unused;
    if (IsWindowVisible(window)) Print("  ", window);
    return TRUE;
}

static BOOL CALLBACK TopLevel(HWND window, LPARAM unused) {
    (void)unused;
    if (!IsWindowVisible(window)) return TRUE;
    Print("window: ", window);
    EnumChildWindows(window, Child, 0);
    return TRUE;
}

int main(void) {
    EnumWindows(TopLevel, 0);
    return 0;
}
