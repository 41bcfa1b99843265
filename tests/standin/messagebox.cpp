// A message box has no screen here: its caption, an empty line and its text go
// to standard output, and the user "presses" OK at once.
#include <windows.h>

#include <stdio.h>

extern "C" int WINAPI MessageBoxA(HWND, LPCSTR lpText, LPCSTR lpCaption, UINT)
{
    printf("%s\n\n%s\n", lpCaption ? lpCaption : "Error", lpText ? lpText : "");
    fflush(stdout);
    return IDOK;
}
