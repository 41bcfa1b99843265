// setupapi's device functions that the imaging-device walk calls, over the registry of
// registry.cpp. Devices are read where Windows and Wine keep them:
//   HKLM\System\CurrentControlSet\Enum\<enumerator>\<device>\<instance>  "ClassGUID", "Driver"
//   HKLM\System\CurrentControlSet\Control\Class\<Driver>                  the driver key
// Handles are looked up before use, so a bad one fails with ERROR_INVALID_HANDLE instead of
// being dereferenced. tests/conformance/setupapi.cpp holds the contract.
#include <setupapi.h>

#include <string.h>

#include <map>
#include <vector>

#include "regfile.h"

static const char s_szEnumPath[] = "System\\CurrentControlSet\\Enum";
static const char s_szClassPath[] = "System\\CurrentControlSet\\Control\\Class";

// Wine reads ClassGUID into 40 bytes and Driver into 50 characters.
static const size_t s_cbMaxClassGuid = 40;
static const size_t s_cbMaxDriver = 50;

struct Device {
    const ZulRegKey *pKey; // the instance key below Enum
    GUID guidClass;
    DWORD dwDevInst;
    ULONG_PTR id; // what SP_DEVINFO_DATA.Reserved holds for it
};

typedef std::vector<Device> DeviceSet;

struct SetupState {
    std::map<uintptr_t, DeviceSet> mapSets;
    uintptr_t uNextSet = 0x10000;
    ULONG_PTR idNextDevice = 1;
    DWORD dwNextDevInst = 1;
};

// Never destroyed, so that calls made from exit handlers still find it.
static SetupState &State()
{
    static SetupState *s_pState = new SetupState;
    return *s_pState;
}

// The hex digits of psz[0..cch) as a number, or false.
static bool ParseHex(const BYTE *psz, size_t cch, uint32_t *pn)
{
    *pn = 0;
    for (size_t i = 0; i < cch; i++) {
        char c = static_cast<char>(psz[i]);
        uint32_t n = (c >= '0' && c <= '9') ? c - '0' : (c | 0x20) - 'a' + 10;
        if (n > 15)
            return false;
        *pn = *pn << 4 | n;
    }
    return true;
}

// A device's class as Wine reads it: a REG_SZ "ClassGUID" of at most 40 bytes that begins with
// {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, in either case.
static bool DeviceClass(const ZulRegKey &instance, GUID *pGuid)
{
    const ZulRegValue *pValue = instance.FindValue("ClassGUID");
    if (!pValue || pValue->dwType != REG_SZ || pValue->data.size() > s_cbMaxClassGuid || pValue->data.size() < 38)
        return false;
    const BYTE *p = pValue->data.data();
    uint32_t n[4];
    if (p[0] != '{' || p[9] != '-' || p[14] != '-' || p[19] != '-' || p[24] != '-' || p[37] != '}')
        return false;
    if (!ParseHex(p + 1, 8, &pGuid->Data1) || !ParseHex(p + 10, 4, &n[0]) || !ParseHex(p + 15, 4, &n[1]))
        return false;
    pGuid->Data2 = static_cast<uint16_t>(n[0]);
    pGuid->Data3 = static_cast<uint16_t>(n[1]);
    for (int i = 0; i < 8; i++) {
        if (!ParseHex(p + (i < 2 ? 20 + 2 * i : 21 + 2 * i), 2, &n[2]))
            return false;
        pGuid->Data4[i] = static_cast<uint8_t>(n[2]);
    }
    return true;
}

static DeviceSet *FindSet(HDEVINFO hDevInfo)
{
    SetupState &state = State();
    auto it = state.mapSets.find(reinterpret_cast<uintptr_t>(hDevInfo));
    if (it == state.mapSets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

// The device a record describes; it must come from this set.
static const Device *FindDevice(HDEVINFO hDevInfo, const SP_DEVINFO_DATA *pData)
{
    const DeviceSet *pSet = FindSet(hDevInfo);
    if (!pSet)
        return nullptr;
    if (pData && pData->cbSize == sizeof(SP_DEVINFO_DATA) && pData->Reserved) {
        for (const Device &device : *pSet) {
            if (device.id == pData->Reserved)
                return &device;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

// The driver key: Control\Class\<Driver>, Driver being a text value of at most 49 characters.
static LONG OpenDriverKey(const ZulRegKey &machine, const Device &device, const ZulRegKey **ppKey)
{
    const ZulRegValue *pValue = device.pKey->FindValue("Driver");
    if (!pValue)
        return ERROR_FILE_NOT_FOUND;
    if (pValue->dwType != REG_SZ)
        return ERROR_UNSUPPORTED_TYPE;
    if (pValue->data.size() > s_cbMaxDriver)
        return ERROR_MORE_DATA;
    const ZulRegKey *pClasses = nullptr;
    LONG status = ZulStandinWalkKey(&machine, s_szClassPath, &pClasses);
    if (status != ERROR_SUCCESS)
        return status;
    const char *pszDriver = reinterpret_cast<const char *>(pValue->data.data());
    return ZulStandinWalkKey(pClasses, std::string(pszDriver, strnlen(pszDriver, pValue->data.size())), ppKey);
}

extern "C" HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, LPCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    (void)hwndParent;
    // Only a class's devices, connected or not (DIGCF_PRESENT is not told apart, as Wine does not).
    if (!ClassGuid || Enumerator || (Flags & ~DIGCF_PRESENT)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    SetupState &state = State();
    DeviceSet set;
    const ZulRegKey *pMachine = ZulStandinLoadedRegistry();
    if (!pMachine) {
        SetLastError(ERROR_BADDB);
        return INVALID_HANDLE_VALUE;
    }
    static const ZulRegKey s_noDevices;
    const ZulRegKey *pEnum = nullptr;
    if (ZulStandinWalkKey(pMachine, s_szEnumPath, &pEnum) != ERROR_SUCCESS)
        pEnum = &s_noDevices;
    for (const auto &enumerator : pEnum->m_subkeys) {
        for (const auto &device : enumerator.second->m_subkeys) {
            for (const auto &instance : device.second->m_subkeys) {
                GUID guid;
                if (DeviceClass(*instance.second, &guid) && memcmp(&guid, ClassGuid, sizeof(GUID)) == 0)
                    set.push_back(Device{instance.second.get(), guid, state.dwNextDevInst++, state.idNextDevice++});
            }
        }
    }
    uintptr_t v = state.uNextSet;
    state.uNextSet += 0x10;
    state.mapSets.emplace(v, std::move(set));
    return reinterpret_cast<HDEVINFO>(v);
}

extern "C" BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    DeviceSet *pSet = FindSet(DeviceInfoSet);
    if (!pSet)
        return FALSE;
    if (!DeviceInfoData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= pSet->size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const Device &device = (*pSet)[MemberIndex];
    DeviceInfoData->ClassGuid = device.guidClass;
    DeviceInfoData->DevInst = device.dwDevInst;
    DeviceInfoData->Reserved = device.id;
    return TRUE;
}

extern "C" BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                                         DWORD Property, LPDWORD PropertyRegDataType,
                                                         LPBYTE PropertyBuffer, DWORD PropertyBufferSize,
                                                         LPDWORD RequiredSize)
{
    const Device *pDevice = FindDevice(DeviceInfoSet, DeviceInfoData);
    if (!pDevice)
        return FALSE;
    if (PropertyBufferSize && !PropertyBuffer) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    // The one property the program reads.
    if (Property != SPDRP_DRIVER) {
        SetLastError(ERROR_INVALID_REG_PROPERTY);
        return FALSE;
    }
    DWORD cb = PropertyBufferSize;
    LONG status = ZulStandinQueryValue(pDevice->pKey->FindValue("Driver"), PropertyRegDataType, PropertyBuffer, &cb);
    BOOL bResult = FALSE;
    if (status == ERROR_FILE_NOT_FOUND)
        SetLastError(ERROR_INVALID_DATA);
    else if (status == ERROR_MORE_DATA || !PropertyBufferSize)
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    else
        bResult = TRUE;
    if (RequiredSize)
        *RequiredSize = cb;
    return bResult;
}

extern "C" HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                            DWORD HwProfile, DWORD KeyType, REGSAM samDesired)
{
    (void)HwProfile;
    (void)samDesired;
    HKEY hInvalid = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    const Device *pDevice = FindDevice(DeviceInfoSet, DeviceInfoData);
    if (!pDevice)
        return hInvalid;
    // The one key the program opens.
    if (Scope != DICS_FLAG_GLOBAL || KeyType != DIREG_DRV) {
        SetLastError(ERROR_INVALID_FLAGS);
        return hInvalid;
    }
    const ZulRegKey *pKey = nullptr;
    LONG status = OpenDriverKey(*ZulStandinLoadedRegistry(), *pDevice, &pKey);
    // Success clears the error code; a missing value or key is ERROR_KEY_DOES_NOT_EXIST.
    SetLastError(static_cast<DWORD>(status == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DOES_NOT_EXIST : status));
    if (status != ERROR_SUCCESS)
        return hInvalid;
    uintptr_t v = ZulStandinNewKeyHandle(pKey);
    if (!v) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return hInvalid;
    }
    return reinterpret_cast<HKEY>(v);
}

void ZulStandinForgetDeviceSets()
{
    State().mapSets.clear();
}

extern "C" BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    if (!FindSet(DeviceInfoSet))
        return FALSE;
    State().mapSets.erase(reinterpret_cast<uintptr_t>(DeviceInfoSet));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
