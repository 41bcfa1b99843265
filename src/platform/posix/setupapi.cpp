// Device-installation functions of the POSIX stand-in, over the registry of registry.cpp.
// Devices are read where Windows and Wine keep them:
//   HKLM\System\CurrentControlSet\Enum\<enumerator>\<device>\<instance>  "ClassGUID", "Driver", ...
//   HKLM\System\CurrentControlSet\Control\Class\<Driver>                  the driver key
// Results, error codes and argument checks follow Wine 8.0's setupapi, checked call by call with
// a probe run under Wine. Handles are looked up before use, so a bad or destroyed one fails
// with ERROR_INVALID_HANDLE instead of being dereferenced.
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "regfile.h"

#ifndef ERROR_INVALID_FLAGS
#define ERROR_INVALID_FLAGS 1004L
#endif
#ifndef ERROR_UNSUPPORTED_TYPE
#define ERROR_UNSUPPORTED_TYPE 1630L
#endif
#ifndef DICS_FLAG_CONFIGSPECIFIC
#define DICS_FLAG_CONFIGSPECIFIC 0x00000002
#endif
#ifndef SPDRP_CLASS
#define SPDRP_CLASS 0x00000007
#endif

using namespace ZulStandin;

namespace {

const char s_szEnumPath[] = "System\\CurrentControlSet\\Enum";
const char s_szClassPath[] = "System\\CurrentControlSet\\Control\\Class";

// Instance IDs (enumerator\device\instance) are shorter than this on Windows.
const size_t kcchMaxDeviceId = 200;

// Wine reads ClassGUID into 40 characters and Driver into 100 bytes of UTF-16.
const size_t kcbMaxClassGuid = 40;
const size_t kcchMaxDriver = 50;

// Registry value behind each SPDRP_ property; null: not a registry property.
const char *const s_rgszPropertyValue[] = {
    "DeviceDesc", "HardwareId", "CompatibleIDs", nullptr, "Service", nullptr, nullptr, "Class", "ClassGUID",
    "Driver", "ConfigFlags", "Mfg", "FriendlyName", "LocationInformation", nullptr, "Capabilities", "UINumber",
    "UpperFilters", "LowerFilters", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "ContainerId",
};

struct Device {
    const RegKey *pKey;  // the instance key below Enum
    GUID guidClass;
    DWORD dwDevInst;
    ULONG_PTR id;  // what SP_DEVINFO_DATA.Reserved holds for it
};

struct DeviceSet {
    std::shared_ptr<const RegTree> pTree;  // the registry as it was when the set was taken
    std::vector<Device> devices;
};

struct SetupState {
    std::recursive_mutex mutex;
    std::map<uintptr_t, DeviceSet> sets;
    uintptr_t nextSet = 0x10000;
    ULONG_PTR nextDeviceId = 1;
    std::vector<bool> devnodes;  // device-node numbers in use; the lowest free one is taken
};

// Never destroyed, so that calls made from exit handlers still find it.
SetupState &State() {
    static SetupState *s_pState = new SetupState;
    return *s_pState;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (36 characters, no braces) to a GUID.
bool ParseGuid(const unsigned char *psz, GUID *pGuid) {
    static const int s_rgDigits[] = {8, 4, 4, 4, 12};
    uint8_t rgb[16];
    size_t iByte = 0, i = 0;
    for (int iGroup = 0; iGroup < 5; iGroup++) {
        if (iGroup > 0 && psz[i++] != '-') return false;
        for (int k = 0; k < s_rgDigits[iGroup]; k += 2) {
            int hi = HexValue(static_cast<char>(psz[i]));
            int lo = HexValue(static_cast<char>(psz[i + 1]));
            if (hi < 0 || lo < 0) return false;
            rgb[iByte++] = static_cast<uint8_t>(hi << 4 | lo);
            i += 2;
        }
    }
    pGuid->Data1 = static_cast<uint32_t>(rgb[0]) << 24 | static_cast<uint32_t>(rgb[1]) << 16 |
                   static_cast<uint32_t>(rgb[2]) << 8 | rgb[3];
    pGuid->Data2 = static_cast<uint16_t>(rgb[4] << 8 | rgb[5]);
    pGuid->Data3 = static_cast<uint16_t>(rgb[6] << 8 | rgb[7]);
    std::memcpy(pGuid->Data4, rgb + 8, 8);
    return true;
}

std::string GuidText(const GUID &guid) {
    char sz[40];
    std::snprintf(sz, sizeof(sz), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(guid.Data1),
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                  guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return sz;
}

bool EqualGuid(const GUID &a, const GUID &b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 && std::memcmp(a.Data4, b.Data4, 8) == 0;
}

// A device's class as Wine reads it: a REG_SZ "ClassGUID" of at most 40 characters with the
// braces at 0 and 37 and a well-formed GUID between them.
bool DeviceClass(const RegKey &instance, GUID *pGuid) {
    const RegValue *pValue = instance.FindValue("ClassGUID");
    if (!pValue || pValue->dwType != REG_SZ) return false;
    const std::vector<unsigned char> &data = pValue->data;
    if (data.size() > kcbMaxClassGuid || data.size() < 38 || data[0] != '{' || data[37] != '}') return false;
    return ParseGuid(data.data() + 1, pGuid);
}

DWORD AllocDevnode() {
    std::vector<bool> &devnodes = State().devnodes;
    for (size_t i = 0; i < devnodes.size(); i++) {
        if (!devnodes[i]) {
            devnodes[i] = true;
            return static_cast<DWORD>(i);
        }
    }
    devnodes.push_back(true);
    return static_cast<DWORD>(devnodes.size() - 1);
}

void FreeDevnode(DWORD dwDevInst) {
    std::vector<bool> &devnodes = State().devnodes;
    if (dwDevInst < devnodes.size()) devnodes[dwDevInst] = false;
}

class Enumeration {
public:
    Enumeration(DeviceSet &set, const GUID *pClass) : m_set(set), m_pClass(pClass) {}

    void Instances(const std::string &sEnumerator, const std::string &sDevice, const RegKey &device) {
        for (const auto &entry : device.m_subkeys) {
            GUID guid;
            if (!DeviceClass(*entry.second, &guid)) continue;
            if (m_pClass && !EqualGuid(guid, *m_pClass)) continue;
            if (sEnumerator.size() + sDevice.size() + entry.first.size() + 2 >= kcchMaxDeviceId) continue;
            SetupState &state = State();
            m_set.devices.push_back(Device{entry.second.get(), guid, AllocDevnode(), state.nextDeviceId++});
        }
    }

    void Devices(const std::string &sEnumerator, const RegKey &enumerator) {
        for (const auto &entry : enumerator.m_subkeys) Instances(sEnumerator, entry.first, *entry.second);
    }

private:
    DeviceSet &m_set;
    const GUID *m_pClass;
};

DeviceSet *FindSet(HDEVINFO hDevInfo) {
    SetupState &state = State();
    auto it = state.sets.find(reinterpret_cast<uintptr_t>(hDevInfo));
    if (it == state.sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

// The device a record describes; it must come from this set.
const Device *FindDevice(HDEVINFO hDevInfo, const SP_DEVINFO_DATA *pData, DeviceSet **ppSet) {
    DeviceSet *pSet = FindSet(hDevInfo);
    if (!pSet) return nullptr;
    if (pData && pData->cbSize == sizeof(SP_DEVINFO_DATA) && pData->Reserved) {
        for (const Device &device : pSet->devices) {
            if (device.id == pData->Reserved) {
                *ppSet = pSet;
                return &device;
            }
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
}

const RegKey *KeyAt(const RegTree &tree, const char *pszPath) {
    const RegKey *pKey = nullptr;
    WalkPath(&tree.m_roots[ROOT_LOCAL_MACHINE], pszPath, &pKey);
    return pKey;
}


// The driver key: Control\Class\<Driver>, Driver being a text value of at most 49 characters.
LONG OpenDriverKey(const RegTree &tree, const Device &device, const RegKey **ppKey) {
    static const RegKey s_emptyKey;
    const RegKey *pClassRoot = KeyAt(tree, s_szClassPath);
    if (!pClassRoot) pClassRoot = &s_emptyKey;
    const RegValue *pValue = device.pKey->FindValue("Driver");
    if (!pValue) return ERROR_FILE_NOT_FOUND;
    // REG_EXPAND_SZ passes too (Wine expands it first; the stand-in has nothing to expand).
    if (pValue->dwType != REG_SZ && pValue->dwType != REG_EXPAND_SZ) return ERROR_UNSUPPORTED_TYPE;
    if (pValue->data.size() > kcchMaxDriver) return ERROR_MORE_DATA;
    std::string sPath(pValue->data.begin(), pValue->data.end());
    sPath.resize(std::strlen(sPath.c_str()));
    return ErrorFromWalk(WalkPath(pClassRoot, sPath, ppKey));
}

// The class name that Wine writes into the device key's "Class" value when it takes the set:
// the class key's own "Class" text, when that fits 32 characters.
bool ClassName(const RegTree &tree, const GUID &guid, std::string *psName) {
    const RegKey *pClasses = KeyAt(tree, s_szClassPath);
    const RegKey *pClass = pClasses ? pClasses->FindSubkey(GuidText(guid)) : nullptr;
    const RegValue *pValue = pClass ? pClass->FindValue("Class") : nullptr;
    if (!pValue || pValue->data.size() > 32) return false;
    if (pValue->dwType != REG_SZ && pValue->dwType != REG_EXPAND_SZ && pValue->dwType != REG_MULTI_SZ) return false;
    std::string sName(pValue->data.begin(), pValue->data.end());
    sName.resize(std::strlen(sName.c_str()));
    *psName = sName;
    return true;
}

RegValue TextValue(const std::string &str) {
    RegValue value;
    value.dwType = REG_SZ;
    value.data.assign(str.begin(), str.end());
    value.data.push_back(0);
    return value;
}

}  // namespace

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID *ClassGuid, LPCSTR Enumerator, HWND hwndParent, DWORD Flags) {
    (void)hwndParent;
    if (!(Flags & DIGCF_ALLCLASSES) && !ClassGuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (Flags & DIGCF_ALLCLASSES) ClassGuid = nullptr;

    SetupState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    DeviceSet set;
    set.pTree = LoadedRegistry();
    // Flags 0 means every installed device, connected or not; DIGCF_PRESENT is not told apart
    // (Wine does not either). Interface sets are not kept: they come back empty.
    const RegKey *pEnum = KeyAt(*set.pTree, s_szEnumPath);
    if (pEnum && !(Flags & DIGCF_DEVICEINTERFACE)) {
        Enumeration enumeration(set, ClassGuid);
        if (Enumerator) {
            std::string sEnumerator = Enumerator;
            const RegKey *pKey = nullptr;
            if (WalkPath(pEnum, sEnumerator, &pKey) == WALK_OK) {
                size_t posSep = sEnumerator.find('\\');
                if (posSep == std::string::npos) {
                    enumeration.Devices(sEnumerator, *pKey);
                } else {
                    enumeration.Instances(sEnumerator.substr(0, posSep), sEnumerator.substr(posSep + 1), *pKey);
                }
            }
        } else {
            for (const auto &entry : pEnum->m_subkeys) enumeration.Devices(entry.first, *entry.second);
        }
    }
    uintptr_t v = state.nextSet;
    state.nextSet += 0x10;
    state.sets.emplace(v, std::move(set));
    return reinterpret_cast<HDEVINFO>(v);
}

BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
    SetupState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    DeviceSet *pSet = FindSet(DeviceInfoSet);
    if (!pSet) return FALSE;
    if (!DeviceInfoData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (MemberIndex >= pSet->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    const Device &device = pSet->devices[MemberIndex];
    DeviceInfoData->ClassGuid = device.guidClass;
    DeviceInfoData->DevInst = device.dwDevInst;
    DeviceInfoData->Reserved = device.id;
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              LPDWORD PropertyRegDataType, LPBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, LPDWORD RequiredSize) {
    SetupState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    DeviceSet *pSet = nullptr;
    const Device *pDevice = FindDevice(DeviceInfoSet, DeviceInfoData, &pSet);
    if (!pDevice) return FALSE;
    if (PropertyBufferSize && !PropertyBuffer) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    // Wine fails a property it does not map to a value without setting an error code.
    if (Property >= sizeof(s_rgszPropertyValue) / sizeof(s_rgszPropertyValue[0]) || !s_rgszPropertyValue[Property]) {
        return FALSE;
    }

    // Taking the set rewrites ClassGUID in its canonical form, and Class from the class key.
    RegValue synthesized;
    const RegValue *pValue = nullptr;
    std::string sClass;
    if (Property == SPDRP_CLASSGUID) {
        synthesized = TextValue(GuidText(pDevice->guidClass));
        pValue = &synthesized;
    } else if (Property == SPDRP_CLASS && ClassName(*pSet->pTree, pDevice->guidClass, &sClass)) {
        synthesized = TextValue(sClass);
        pValue = &synthesized;
    } else {
        pValue = pDevice->pKey->FindValue(s_rgszPropertyValue[Property]);
    }

    DWORD cb = PropertyBufferSize;
    LONG status = QueryValueData(pValue, PropertyRegDataType, PropertyBuffer, &cb);
    BOOL bResult = FALSE;
    if (status == ERROR_FILE_NOT_FOUND) {
        SetLastError(ERROR_INVALID_DATA);
    } else if (status == ERROR_MORE_DATA || !PropertyBufferSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
    } else if (status == ERROR_SUCCESS) {
        bResult = TRUE;
    } else {
        SetLastError(static_cast<DWORD>(status));
    }
    if (RequiredSize) *RequiredSize = cb;
    return bResult;
}

HKEY WINAPI SetupDiOpenDevRegKey(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Scope,
                                 DWORD HwProfile, DWORD KeyType, REGSAM samDesired) {
    (void)HwProfile;
    (void)samDesired;
    HKEY hInvalid = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    SetupState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    DeviceSet *pSet = nullptr;
    const Device *pDevice = FindDevice(DeviceInfoSet, DeviceInfoData, &pSet);
    if (!pDevice) return hInvalid;
    if ((Scope != DICS_FLAG_GLOBAL && Scope != DICS_FLAG_CONFIGSPECIFIC) ||
        (KeyType != DIREG_DEV && KeyType != DIREG_DRV)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return hInvalid;
    }

    // DIREG_DEV is the instance key's "Device Parameters" subkey; DIREG_DRV the driver key.
    const RegKey *pKey = nullptr;
    LONG status = (KeyType == DIREG_DEV) ? ErrorFromWalk(WalkPath(pDevice->pKey, "Device Parameters", &pKey))
                                         : OpenDriverKey(*pSet->pTree, *pDevice, &pKey);
    // Success clears the error code; a missing value or key is ERROR_KEY_DOES_NOT_EXIST.
    SetLastError(static_cast<DWORD>(status == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DOES_NOT_EXIST : status));
    if (status != ERROR_SUCCESS) return hInvalid;
    uintptr_t v = NewKeyHandle(pSet->pTree, pKey);
    if (!v) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return hInvalid;
    }
    return reinterpret_cast<HKEY>(v);
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    SetupState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    DeviceSet *pSet = FindSet(DeviceInfoSet);
    if (!pSet) return FALSE;
    for (const Device &device : pSet->devices) FreeDevnode(device.dwDevInst);
    state.sets.erase(reinterpret_cast<uintptr_t>(DeviceInfoSet));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
