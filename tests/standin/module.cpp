// Modules: the stand-in's own functions are its only DLLs. USER32 is the one
// that can be loaded, and it exports what the usage box needs.
#include <windows.h>

#include "standin.h"

#include <string.h>

namespace {

// Any address unique to the module serves as its handle.
char s_user32;

const char *const s_rgpszUser32Names[] = {"user32.dll", "user32"};

struct Export {
    const char *pszName;
    void (*pfn)(void);
};

// Through void (*)(void), which converts to any function pointer type.
const Export s_rgUser32Exports[] = {
    {"MessageBoxA", reinterpret_cast<void (*)(void)>(&MessageBoxA)},
    {"GetProcessWindowStation", reinterpret_cast<void (*)(void)>(&GetProcessWindowStation)},
    {"GetUserObjectInformationA", reinterpret_cast<void (*)(void)>(&GetUserObjectInformationA)},
};

bool IsUser32(HMODULE hModule)
{
    return hModule == static_cast<HMODULE>(&s_user32);
}

} // namespace

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName) {
        for (const char *pszName : s_rgpszUser32Names) {
            if (ZulStandinEqualNoCase(lpLibFileName, pszName))
                return static_cast<HMODULE>(&s_user32);
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!IsUser32(hModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A value below 0x10000 is an ordinal, which the stand-in does not export;
    // names are compared in exact case, as Windows does.
    if (reinterpret_cast<uintptr_t>(lpProcName) > 0xFFFF) {
        for (const Export &exp : s_rgUser32Exports) {
            if (strcmp(lpProcName, exp.pszName) == 0)
                return reinterpret_cast<FARPROC>(exp.pfn);
        }
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (!IsUser32(hLibModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
