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
    // What the one look-up of the process found (Find).
    PFN pfnFound = nullptr;
    bool bLookedUp = false;

    // The function in its module, which the process has loaded already
    // (KERNEL32, NTDLL) and never unloads: looked up once per process, null
    // when that module lacks it.
    PFN Find()
    {
        if (!bLookedUp) {
            HMODULE hModule = GetModuleHandleA(pszModule);
            pfnFound = hModule ? FindIn(hModule) : nullptr;
            bLookedUp = true;
        }
        return pfnFound;
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
inline RuntimeFunction<PFN_GETTEMPPATH2A> s_fnGetTempPath2A = {"kernel32.dll", "GetTempPath2A"};

// NTDLL: the one open that can be told not to wait for another process's
// oplock (FILE_COMPLETE_IF_OPLOCKED), and what its status means as an error.
typedef NTSTATUS(NTAPI *PFN_NTCREATEFILE)(PHANDLE FileHandle, ACCESS_MASK DesiredAccess,
                                          POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                                          PLARGE_INTEGER AllocationSize, ULONG FileAttributes, ULONG ShareAccess,
                                          ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer, ULONG EaLength);
typedef ULONG(NTAPI *PFN_RTLNTSTATUSTODOSERROR)(NTSTATUS Status);
inline constexpr const char s_szNtdll[] = "ntdll.dll";
inline RuntimeFunction<PFN_NTCREATEFILE> s_fnNtCreateFile = {s_szNtdll, "NtCreateFile"};
inline RuntimeFunction<PFN_RTLNTSTATUSTODOSERROR> s_fnRtlNtStatusToDosError = {s_szNtdll, "RtlNtStatusToDosError"};
// A rename relative to a held directory: SetFileInformationByHandle would
// read a relative name as the current directory's (Wine).
typedef NTSTATUS(NTAPI *PFN_NTSETINFORMATIONFILE)(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock,
                                                  PVOID FileInformation, ULONG Length, ULONG FileInformationClass);
inline RuntimeFunction<PFN_NTSETINFORMATIONFILE> s_fnNtSetInformationFile = {s_szNtdll, "NtSetInformationFile"};
// A listing read through a handle the no-wait open made, never a search by name.
typedef NTSTATUS(NTAPI *PFN_NTQUERYDIRECTORYFILE)(HANDLE FileHandle, HANDLE Event, PVOID ApcRoutine, PVOID ApcContext,
                                                  PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                                                  ULONG FileInformationClass, BOOLEAN ReturnSingleEntry,
                                                  PUNICODE_STRING FileName, BOOLEAN RestartScan);
inline RuntimeFunction<PFN_NTQUERYDIRECTORYFILE> s_fnNtQueryDirectoryFile = {s_szNtdll, "NtQueryDirectoryFile"};

// ADVAPI32's RtlGenRandom, exported by that name only: random bytes for names
// no one may guess (the DLL imports ADVAPI32, so it is loaded).
typedef BOOLEAN(WINAPI *PFN_RTLGENRANDOM)(PVOID RandomBuffer, ULONG RandomBufferLength);
inline RuntimeFunction<PFN_RTLGENRANDOM> s_fnRtlGenRandom = {"advapi32.dll", "SystemFunction036"};

// USER32, loaded for the usage box alone.
typedef int(WINAPI *PFN_MESSAGEBOXA)(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
typedef HWINSTA(WINAPI *PFN_GETPROCESSWINDOWSTATION)(void);
typedef BOOL(WINAPI *PFN_GETUSEROBJECTINFORMATIONA)(HANDLE hObj, int nIndex, PVOID pvInfo, DWORD nLength,
                                                    LPDWORD lpnLengthNeeded);
inline constexpr const char s_szUser32[] = "user32.dll";
inline const RuntimeFunction<PFN_MESSAGEBOXA> s_fnMessageBoxA = {s_szUser32, "MessageBoxA"};
inline const RuntimeFunction<PFN_GETPROCESSWINDOWSTATION> s_fnGetProcessWindowStation = {s_szUser32,
                                                                                         "GetProcessWindowStation"};
inline const RuntimeFunction<PFN_GETUSEROBJECTINFORMATIONA> s_fnGetUserObjectInformationA = {
    s_szUser32, "GetUserObjectInformationA"};
