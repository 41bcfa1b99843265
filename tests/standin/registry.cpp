// advapi32's registry functions that the driver-key probes call, over HKEY_LOCAL_MACHINE as read
// from <sysroot>/registry.reg. Nothing writes to it, so a loaded registry never changes; a new one
// is a new machine, where the handles into the old one are invalid. The program runs on one
// thread. tests/conformance/registry.cpp holds the contract.
#include "regfile.h"
#include "standin.h"

#include <stdio.h>
#include <string.h>

// The longest subkey path the ANSI functions take: they convert it into a 261-character buffer.
static const size_t s_cchMaxAnsiPath = 260;

// Handle values of opened keys: small multiples of 4, below the predefined keys' range.
static const uintptr_t s_uFirstKeyHandle = 0x1000;
static const uintptr_t s_uLastKeyHandle = 0x7FFFFFF0u;
static const uintptr_t s_uFirstPredefinedKey = 0x80000000u;

struct RegistryState {
    bool bLoaded = false;
    std::unique_ptr<ZulRegKey> pMachine; // null when registry.reg was refused
    std::map<uintptr_t, const ZulRegKey *> mapOpenKeys;
    uintptr_t uNextHandle = s_uFirstKeyHandle; // never reused, so an invalid handle stays invalid
};

// Never destroyed, so that calls made from exit handlers still find it.
static RegistryState &State()
{
    static RegistryState *s_pState = new RegistryState;
    return *s_pState;
}

static std::string ReadWholeFile(FILE *pFile)
{
    std::string sText;
    char buf[65536];
    size_t cb;
    while ((cb = fread(buf, 1, sizeof(buf), pFile)) > 0)
        sText.append(buf, cb);
    return sText;
}

const ZulRegKey *ZulStandinLoadedRegistry()
{
    RegistryState &state = State();
    if (state.bLoaded)
        return state.pMachine.get();
    state.bLoaded = true;
    std::unique_ptr<ZulRegKey> pMachine(new ZulRegKey);
    const char *pszSysroot = ZulStandinSysroot();
    std::string sPath = std::string(pszSysroot ? pszSysroot : "") + "/registry.reg";
    FILE *pFile = pszSysroot ? fopen(sPath.c_str(), "rb") : nullptr;
    if (pFile) {
        std::string sText = ReadWholeFile(pFile);
        fclose(pFile);
        int nLine = 0;
        std::string sError;
        if (!ZulStandinReadRegText(sText, pMachine.get(), &nLine, &sError)) {
            fprintf(stderr, "%s:%d: registry file refused: %s\n", sPath.c_str(), nLine, sError.c_str());
            pMachine.reset();
        }
    }
    state.pMachine = std::move(pMachine);
    return state.pMachine.get();
}

void ZulStandinRegistryReset()
{
    RegistryState &state = State();
    state.mapOpenKeys.clear();
    ZulStandinForgetDeviceSets();
    state.bLoaded = false;
    state.pMachine.reset();
}

uintptr_t ZulStandinNewKeyHandle(const ZulRegKey *pKey)
{
    RegistryState &state = State();
    if (state.uNextHandle > s_uLastKeyHandle)
        return 0;
    uintptr_t v = state.uNextHandle;
    state.uNextHandle += 4;
    state.mapOpenKeys[v] = pKey;
    return v;
}

LONG ZulStandinQueryValue(const ZulRegValue *pValue, DWORD *pdwType, BYTE *pData, DWORD *pcbData)
{
    DWORD cbBuffer = pcbData ? *pcbData : 0;
    if (!pData && pcbData)
        *pcbData = 0;
    if (pdwType)
        *pdwType = REG_NONE;
    if (!pValue)
        return ERROR_FILE_NOT_FOUND;
    // Text data always ends with its terminator here, so it is copied as it is.
    DWORD cb = static_cast<DWORD>(pValue->data.size());
    LONG status = ERROR_SUCCESS;
    if (pData && cb > 0) {
        // Too small a buffer is left untouched, as Wine leaves it.
        if (cb > cbBuffer)
            status = ERROR_MORE_DATA;
        else
            memcpy(pData, pValue->data.data(), cb);
    }
    if (pdwType)
        *pdwType = pValue->dwType;
    if (pcbData)
        *pcbData = cb;
    return status;
}

// The key a handle stands for: HKEY_LOCAL_MACHINE or an open key. Returns the error code:
// ERROR_INVALID_HANDLE for anything else, ERROR_BADDB when registry.reg was refused.
static LONG ResolveKey(HKEY hKey, const ZulRegKey **ppKey)
{
    RegistryState &state = State();
    if (hKey == HKEY_LOCAL_MACHINE) {
        *ppKey = ZulStandinLoadedRegistry();
        return *ppKey ? ERROR_SUCCESS : ERROR_BADDB;
    }
    auto it = state.mapOpenKeys.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == state.mapOpenKeys.end())
        return ERROR_INVALID_HANDLE;
    *ppKey = it->second;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    // No subkey: the same handle comes back, not checked and not duplicated; the caller closes it once.
    if (!lpSubKey || !*lpSubKey) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    if (!hKey)
        return ERROR_INVALID_HANDLE;
    if (strlen(lpSubKey) > s_cchMaxAnsiPath)
        return ERROR_MORE_DATA;
    *phkResult = nullptr;

    const ZulRegKey *pKey = nullptr, *pSubkey = nullptr;
    LONG status = ResolveKey(hKey, &pKey);
    if (status == ERROR_SUCCESS)
        status = ZulStandinWalkKey(pKey, lpSubKey, &pSubkey);
    if (status != ERROR_SUCCESS)
        return status;
    uintptr_t v = ZulStandinNewKeyHandle(pSubkey);
    if (!v)
        return ERROR_NOT_ENOUGH_MEMORY;
    *phkResult = reinterpret_cast<HKEY>(v);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData)
{
    if ((lpData && !lpcbData) || lpReserved)
        return ERROR_INVALID_PARAMETER;

    const ZulRegKey *pKey = nullptr;
    LONG status = ResolveKey(hKey, &pKey);
    if (status != ERROR_SUCCESS) {
        // The outputs are reset before the handle is found to be bad.
        ZulStandinQueryValue(nullptr, lpType, lpData, lpcbData);
        return status;
    }
    // A null or empty name is the key's default value.
    return ZulStandinQueryValue(pKey->FindValue(lpValueName ? lpValueName : ""), lpType, lpData, lpcbData);
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (!hKey)
        return ERROR_INVALID_HANDLE;
    // Wine takes any value from the predefined range up as a predefined key and succeeds.
    if (reinterpret_cast<uintptr_t>(hKey) >= s_uFirstPredefinedKey)
        return ERROR_SUCCESS;
    return State().mapOpenKeys.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
