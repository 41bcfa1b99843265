// What the program relies on when it loads USER32 for the usage box, checked
// against the stand-in natively and against Wine: the same source, the same
// expectations. Prints one line per failed check; exit status 0 when all hold.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

int s_nFailures = 0;

void Check(bool bHolds, const char *pszWhat)
{
    if (!bHolds) {
        printf("FAIL: %s\n", pszWhat);
        s_nFailures++;
    }
}

typedef int(WINAPI *PFN_MESSAGEBOXA)(HWND, LPCSTR, LPCSTR, UINT);

} // namespace

int main()
{
    // DLL names are matched without regard to case.
    HMODULE hUser32 = LoadLibraryA("USER32.DLL");
    Check(hUser32 != nullptr, "LoadLibraryA(\"USER32.DLL\") loads USER32");
    HMODULE hAgain = LoadLibraryA("user32.dll");
    Check(hAgain == hUser32, "a second LoadLibraryA gives the same handle");

    FARPROC pfn = GetProcAddress(hUser32, "MessageBoxA");
    Check(pfn != nullptr, "USER32 exports MessageBoxA");

    // Export names are matched exactly.
    SetLastError(0);
    Check(GetProcAddress(hUser32, "messageboxa") == nullptr && GetLastError() == ERROR_PROC_NOT_FOUND,
          "GetProcAddress(\"messageboxa\") fails with ERROR_PROC_NOT_FOUND");
    SetLastError(0);
    Check(GetProcAddress(hUser32, "NoSuchExport") == nullptr && GetLastError() == ERROR_PROC_NOT_FOUND,
          "GetProcAddress of an unknown name fails with ERROR_PROC_NOT_FOUND");

    SetLastError(0);
    Check(LoadLibraryA("zul-no-such-module.dll") == nullptr && GetLastError() == ERROR_MOD_NOT_FOUND,
          "LoadLibraryA of a missing DLL fails with ERROR_MOD_NOT_FOUND");

    Check(FreeLibrary(hAgain) != FALSE, "FreeLibrary of the second reference succeeds");
    Check(FreeLibrary(hUser32) != FALSE, "FreeLibrary of the first reference succeeds");

    if (s_nFailures == 0)
        printf("all module checks hold\n");
    return s_nFailures == 0 ? 0 : 1;
}
