// Modules, as the usage box loads USER32 and the log looks up GetTempPath2A:
// names, exports and references.
#include "conformance.h"

void func_module()
{
    // DLL names are matched without regard to case.
    HMODULE hUser32 = LoadLibraryA("USER32.DLL");
    ok(hUser32 != NULL, "LoadLibraryA(\"USER32.DLL\") loads USER32, error %lu\n", LastError());
    HMODULE hAgain = LoadLibraryA("user32.dll");
    ok(hAgain == hUser32, "a second LoadLibraryA gives the same handle %p, got %p\n", (void *)hUser32, (void *)hAgain);
    if (!hUser32) {
        return;
    }

    FARPROC pfn = GetProcAddress(hUser32, "MessageBoxA");
    ok(pfn != NULL, "USER32 exports MessageBoxA, error %lu\n", LastError());
    // Export names are matched exactly.
    ok_win_fails(GetProcAddress(hUser32, "messageboxa") != NULL, ERROR_PROC_NOT_FOUND,
                 "GetProcAddress(\"messageboxa\")");
    ok_win_fails(GetProcAddress(hUser32, "NoSuchExport") != NULL, ERROR_PROC_NOT_FOUND,
                 "GetProcAddress of an unknown name");
    ok_win_fails(LoadLibraryA("zul-no-such-module.dll") != NULL, ERROR_MOD_NOT_FOUND, "LoadLibraryA of a missing DLL");

    ok_win(FreeLibrary(hAgain), "FreeLibrary of the second reference");
    ok_win(FreeLibrary(hUser32), "FreeLibrary of the first reference");

    // KERNEL32 is always loaded. Where Windows has GetTempPath2A, it gives what
    // GetTempPathA gives, but SYSTEM a directory of its own.
    HMODULE hKernel32 = GetModuleHandleA("KERNEL32.DLL");
    SetLastError(0xdeadbeef);
    FARPROC pfnTemp2 = hKernel32 ? GetProcAddress(hKernel32, "GetTempPath2A") : NULL;
    unsigned long dwErr = LastError();
    todo_wine ok(pfnTemp2 != NULL, "GetModuleHandleA(\"KERNEL32.DLL\") %p exports GetTempPath2A\n", (void *)hKernel32);
    char sz2[MAX_PATH] = "", sz[MAX_PATH] = "";
    DWORD cch2 = pfnTemp2 ? ((DWORD(WINAPI *)(DWORD, LPSTR))(void (*)(void))pfnTemp2)(MAX_PATH, sz2) : 0;
    GetTempPathA(MAX_PATH, sz);
    ok(pfnTemp2 ? cch2 == strlen(sz2) && (!strcmp(sz, sz2) || strstr(sz2, "SystemTemp"))
                : hKernel32 && dwErr == ERROR_PROC_NOT_FOUND,
       "GetTempPath2A gives %s (GetTempPathA %s, or SYSTEM's own), error %lu\n", sz2, sz, dwErr);
}
