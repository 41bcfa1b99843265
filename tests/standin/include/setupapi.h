// POSIX stand-in for the parts of <setupapi.h> that ZULFuncts uses.
#pragma once

#include <windows.h>

typedef void *HDEVINFO;

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

#define DIGCF_PRESENT 0x00000002

#define SPDRP_DRIVER 0x00000009

#define DICS_FLAG_GLOBAL 0x00000001
#define DIREG_DRV 0x00000002

#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_INVALID_REG_PROPERTY 0xE0000209L
#define ERROR_KEY_DOES_NOT_EXIST 0xE0000204L

#ifdef __cplusplus
extern "C" {
#endif

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, LPCSTR Enumerator, HWND hwndParent, DWORD Flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              LPDWORD PropertyRegDataType, LPBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, LPDWORD RequiredSize);
HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope, DWORD HwProfile,
                                 DWORD KeyType, REGSAM samDesired);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

#ifdef __cplusplus
}
#endif
