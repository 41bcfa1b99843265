// Modules: the stand-in's own functions are its only DLLs. USER32 is the one
// that can be loaded, and it exports what the usage box needs; KERNEL32 and
// NTDLL are always loaded, and export what the program looks up at run time.
#include <windows.h>
#include <winternl.h>

#include "standin.h"

#include <string.h>

#include <iterator>

namespace {

// Any address unique to the module serves as its handle.
char s_user32;
char s_kernel32;
char s_ntdll;

const char *const s_rgpszUser32Names[] = {"user32.dll", "user32"};
const char *const s_rgpszKernel32Names[] = {"kernel32.dll", "kernel32"};
const char *const s_rgpszNtdllNames[] = {"ntdll.dll", "ntdll"};

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
// As Windows 10 and 11 with current updates have it.
const Export s_rgKernel32Exports[] = {
    {"GetTempPath2A", reinterpret_cast<void (*)(void)>(&GetTempPath2A)},
};
const Export s_rgNtdllExports[] = {
    {"NtCreateFile", reinterpret_cast<void (*)(void)>(&NtCreateFile)},
    {"RtlNtStatusToDosError", reinterpret_cast<void (*)(void)>(&RtlNtStatusToDosError)},
    {"NtSetInformationFile", reinterpret_cast<void (*)(void)>(&NtSetInformationFile)},
    {"NtQueryDirectoryFile", reinterpret_cast<void (*)(void)>(&NtQueryDirectoryFile)},
};

bool IsUser32(HMODULE hModule)
{
    return hModule == static_cast<HMODULE>(&s_user32);
}

// The module whose names include lpName, in any case; null (last error set) for another name.
HMODULE ModuleNamed(LPCSTR lpName, const char *const (&rgpszNames)[2], char *pModule)
{
    for (const char *pszName : rgpszNames) {
        if (lpName && ZulStandinEqualNoCase(lpName, pszName))
            return static_cast<HMODULE>(pModule);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

} // namespace

extern "C" HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    return ModuleNamed(lpLibFileName, s_rgpszUser32Names, &s_user32);
}

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    HMODULE hModule = ModuleNamed(lpModuleName, s_rgpszNtdllNames, &s_ntdll);
    return hModule ? hModule : ModuleNamed(lpModuleName, s_rgpszKernel32Names, &s_kernel32);
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    bool bKernel32 = hModule == static_cast<HMODULE>(&s_kernel32);
    bool bNtdll = hModule == static_cast<HMODULE>(&s_ntdll);
    if (!IsUser32(hModule) && !bKernel32 && !bNtdll) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // A value below 0x10000 is an ordinal, which the stand-in does not export;
    // names are compared in exact case, as Windows does.
    if (reinterpret_cast<uintptr_t>(lpProcName) > 0xFFFF) {
        const Export *pFirst = bNtdll ? s_rgNtdllExports : bKernel32 ? s_rgKernel32Exports : s_rgUser32Exports;
        const Export *pEnd = bNtdll      ? std::end(s_rgNtdllExports)
                             : bKernel32 ? std::end(s_rgKernel32Exports)
                                         : std::end(s_rgUser32Exports);
        for (const Export *p = pFirst; p != pEnd; p++) {
            if (strcmp(lpProcName, p->pszName) == 0)
                return reinterpret_cast<FARPROC>(p->pfn);
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
