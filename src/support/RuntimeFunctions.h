// Functions found at run time: those not every supported Windows has, and
// those of a DLL loaded only when needed. Each is named once here, with its
// module and its type; callers ask for it and go without it when it is null.
#pragma once

#include <windows.h>

#include <winternl.h>

template <typename PFN>
struct RuntimeFunction {
    const char *pszModule;
    const char *pszName;

    // The function in its module, which the process has loaded already
    // (KERNEL32, NTDLL); null when that module lacks it.
    PFN Find() const
    {
        HMODULE hModule = GetModuleHandleA(pszModule);
        return hModule ? FindIn(hModule) : nullptr;
    }

    // The function in the module as loaded by the caller.
    // Through void (*)(void), which converts to any function pointer type
    // without a cast-function-type warning.
    PFN FindIn(HMODULE hModule) const
    {
        return reinterpret_cast<PFN>(reinterpret_cast<void (*)(void)>(GetProcAddress(hModule, pszName)));
    }
};

// KERNEL32 of Windows 11 and Server 2022 on; Wine 8 and older Windows lack it.
typedef DWORD(WINAPI *PFN_GETTEMPPATH2A)(DWORD BufferLength, LPSTR Buffer);
inline constexpr RuntimeFunction<PFN_GETTEMPPATH2A> s_fnGetTempPath2A = {"kernel32.dll", "GetTempPath2A"};

// NTDLL: the one open that can be told not to wait for another process's
// oplock (FILE_COMPLETE_IF_OPLOCKED), and what its status means as an error.
typedef NTSTATUS(NTAPI *PFN_NTCREATEFILE)(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                                          POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                                          PLARGE_INTEGER AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                                          ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer, ULONG EaLength);
typedef ULONG(NTAPI *PFN_RTLNTSTATUSTODOSERROR)(NTSTATUS Status);
inline constexpr const char s_szNtdll[] = "ntdll.dll";
inline constexpr RuntimeFunction<PFN_NTCREATEFILE> s_fnNtCreateFile = {s_szNtdll, "NtCreateFile"};
inline constexpr RuntimeFunction<PFN_RTLNTSTATUSTODOSERROR> s_fnRtlNtStatusToDosError = {s_szNtdll,
                                                                                         "RtlNtStatusToDosError"};

// ADVAPI32's RtlGenRandom, exported by that name only: random bytes for names
// no one may guess (the DLL imports ADVAPI32, so it is loaded).
typedef BOOLEAN(WINAPI *PFN_RTLGENRANDOM)(PVOID RandomBuffer, ULONG RandomBufferLength);
inline constexpr RuntimeFunction<PFN_RTLGENRANDOM> s_fnRtlGenRandom = {"advapi32.dll", "SystemFunction036"};

// USER32, loaded for the usage box alone.
typedef int(WINAPI *PFN_MESSAGEBOXA)(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
typedef HWINSTA(WINAPI *PFN_GETPROCESSWINDOWSTATION)(void);
typedef BOOL(WINAPI *PFN_GETUSEROBJECTINFORMATIONA)(HANDLE hObj, int nIndex, PVOID pvInfo, DWORD nLength,
                                                    LPDWORD lpnLengthNeeded);
inline constexpr const char s_szUser32[] = "user32.dll";
inline constexpr RuntimeFunction<PFN_MESSAGEBOXA> s_fnMessageBoxA = {s_szUser32, "MessageBoxA"};
inline constexpr RuntimeFunction<PFN_GETPROCESSWINDOWSTATION> s_fnGetProcessWindowStation = {s_szUser32,
                                                                                             "GetProcessWindowStation"};
inline constexpr RuntimeFunction<PFN_GETUSEROBJECTINFORMATIONA> s_fnGetUserObjectInformationA = {
    s_szUser32, "GetUserObjectInformationA"};
