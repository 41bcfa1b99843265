// Registry functions of the POSIX stand-in, over the registry read from <sysroot>/registry.reg.
// Results and argument checks follow Wine 8.0 (kernelbase/advapi32), checked call by call with
// a probe run under Wine; where Wine would crash (null output pointers) an error is returned.
// The registry is read-only here: nothing writes to it, so a loaded tree never changes and
// handles can point into it for as long as they keep it alive.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

#include "regfile.h"
#include "standin.h"


namespace ZulStandin {

namespace {

// The longest subkey path that the ANSI open functions accept: they convert it into a
// 261-character buffer, and a longer one fails with ERROR_MORE_DATA.
const size_t kcchMaxAnsiPath = 260;

// First and last predefined handle value, HKEY_CLASSES_ROOT to HKEY_DYN_DATA.
const uintptr_t kPredefinedFirst = 0x80000000u;
const uintptr_t kPredefinedLast = 0x80000006u;

// Handle values of opened keys: small multiples of 4, below the predefined range.
const uintptr_t kFirstKeyHandle = 0x1000;
const uintptr_t kLastKeyHandle = 0x7FFFFFF0u;

struct OpenKey {
    std::shared_ptr<const RegTree> pTree;
    const RegKey *pKey;
};

struct RegistryState {
    std::recursive_mutex mutex;
    std::shared_ptr<const RegTree> pRegistry;
    std::map<uintptr_t, OpenKey> openKeys;
    uintptr_t nextHandle = kFirstKeyHandle;
    const RegKey emptyKey{};  // an alias root whose target key does not exist
};

// Never destroyed, so that calls made from exit handlers still find it.
RegistryState &State() {
    static RegistryState *s_pState = new RegistryState;
    return *s_pState;
}

std::string ReadFile(const std::string &sPath) {
    std::string sText;
    FILE *pFile = std::fopen(sPath.c_str(), "rb");
    if (!pFile) return sText;
    char buf[65536];
    size_t cb;
    while ((cb = std::fread(buf, 1, sizeof(buf), pFile)) > 0) sText.append(buf, cb);
    std::fclose(pFile);
    return sText;
}

bool IsPredefined(HKEY hKey) {
    uintptr_t v = reinterpret_cast<uintptr_t>(hKey);
    return v >= kPredefinedFirst && v <= kPredefinedLast;
}

// The tree and key a handle stands for; false for an unknown or closed handle.
bool ResolveKey(HKEY hKey, std::shared_ptr<const RegTree> &pTree, const RegKey *&pKey) {
    RegistryState &state = State();
    uintptr_t v = reinterpret_cast<uintptr_t>(hKey);
    if (IsPredefined(hKey)) {
        const PredefinedKey *pPredef = FindPredefinedKey(static_cast<uint32_t>(v));
        if (!pPredef) return false;
        pTree = LoadedRegistry();
        pKey = pTree->Resolve(*pPredef);
        if (!pKey) pKey = &state.emptyKey;
        return true;
    }
    auto it = state.openKeys.find(v);
    if (it == state.openKeys.end()) return false;
    pTree = it->second.pTree;
    pKey = it->second.pKey;
    return true;
}


}  // namespace

std::shared_ptr<const RegTree> LoadedRegistry() {
    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    if (!state.pRegistry) {
        std::shared_ptr<RegTree> pTree = std::make_shared<RegTree>();
        // No sysroot or no file: an empty registry.
        const char *pszSysroot = ZulStandinSysroot();
        if (pszSysroot && *pszSysroot) ImportRegText(ReadFile(std::string(pszSysroot) + "/registry.reg"), *pTree);
        state.pRegistry = pTree;
    }
    return state.pRegistry;
}

uintptr_t NewKeyHandle(std::shared_ptr<const RegTree> pTree, const RegKey *pKey) {
    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    if (state.nextHandle > kLastKeyHandle) return 0;
    uintptr_t v = state.nextHandle;
    state.nextHandle += 4;
    state.openKeys[v] = OpenKey{std::move(pTree), pKey};
    return v;
}

int32_t QueryValueData(const RegValue *pValue, uint32_t *pdwType, unsigned char *pData, uint32_t *pcbData) {
    uint32_t cbBuffer = pcbData ? *pcbData : 0;
    if (!pData && pcbData) *pcbData = 0;
    if (pdwType) *pdwType = REG_NONE;
    if (!pValue) return ERROR_FILE_NOT_FOUND;

    // Text data always ends with its terminator here (the import adds it), so it is copied as it is.
    uint32_t cb = static_cast<uint32_t>(pValue->data.size());
    LSTATUS status = ERROR_SUCCESS;
    if (pData && cb > 0) {
        // Too small a buffer is left untouched (Wine does so; Windows leaves it undefined).
        if (cb > cbBuffer) {
            status = ERROR_MORE_DATA;
        } else {
            std::memcpy(pData, pValue->data.data(), cb);
        }
    }
    if (pdwType) *pdwType = pValue->dwType;
    if (pcbData) *pcbData = cb;
    return status;
}

}  // namespace ZulStandin

using namespace ZulStandin;

void ZulStandinRegistryReset() {
    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    // Open handles keep the tree they were opened in.
    state.pRegistry.reset();
}

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    (void)ulOptions;
    (void)samDesired;
    bool bEmpty = !lpSubKey || !*lpSubKey;
    // A predefined key with no subkey is handed back as it is.
    if (phkResult && bEmpty && IsPredefined(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    if (hKey == HKEY_CLASSES_ROOT && lpSubKey && *lpSubKey == '\\') lpSubKey++;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    if (!hKey) return ERROR_INVALID_HANDLE;
    std::string sPath = lpSubKey ? lpSubKey : "";
    if (sPath.size() > kcchMaxAnsiPath) return ERROR_MORE_DATA;
    *phkResult = nullptr;

    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    std::shared_ptr<const RegTree> pTree;
    const RegKey *pKey = nullptr;
    if (!ResolveKey(hKey, pTree, pKey)) return ERROR_INVALID_HANDLE;
    // An empty path opens a new handle to the same key.
    const RegKey *pSubkey = nullptr;
    LSTATUS status = ErrorFromWalk(WalkPath(pKey, sPath, &pSubkey));
    if (status != ERROR_SUCCESS) return status;
    uintptr_t v = NewKeyHandle(pTree, pSubkey);
    if (!v) return ERROR_NOT_ENOUGH_MEMORY;
    *phkResult = reinterpret_cast<HKEY>(v);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    // No subkey: the same handle comes back, not checked and not duplicated; the caller closes it once.
    if (!lpSubKey || !*lpSubKey) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    return RegOpenKeyExA(hKey, lpSubKey, 0, KEY_READ, phkResult);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
    if ((lpData && !lpcbData) || lpReserved) return ERROR_INVALID_PARAMETER;
    if (!hKey) return ERROR_INVALID_HANDLE;

    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    std::shared_ptr<const RegTree> pTree;
    const RegKey *pKey = nullptr;
    if (!ResolveKey(hKey, pTree, pKey)) {
        // The outputs are reset before the handle is found to be bad.
        if (!lpData && lpcbData) *lpcbData = 0;
        if (lpType) *lpType = REG_NONE;
        return ERROR_INVALID_HANDLE;
    }
    // A null or empty name is the key's default value.
    const RegValue *pValue = pKey->FindValue(lpValueName ? lpValueName : "");
    return QueryValueData(pValue, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
    if (!hKey) return ERROR_INVALID_HANDLE;

    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    std::shared_ptr<const RegTree> pTree;
    const RegKey *pKey = nullptr;
    if (!ResolveKey(hKey, pTree, pKey)) return ERROR_INVALID_HANDLE;
    if (dwIndex >= pKey->m_subkeys.size()) return ERROR_NO_MORE_ITEMS;
    auto it = pKey->m_subkeys.begin();
    std::advance(it, dwIndex);
    const std::string &sName = it->first;
    // The name must fit with its terminator; otherwise the buffer is left untouched.
    if (sName.size() >= cchName) return ERROR_MORE_DATA;
    if (!lpName) return ERROR_INVALID_PARAMETER;
    std::memcpy(lpName, sName.c_str(), sName.size() + 1);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (!hKey) return ERROR_INVALID_HANDLE;
    // Wine takes any value from the predefined range up as a predefined key and succeeds.
    if (reinterpret_cast<uintptr_t>(hKey) >= kPredefinedFirst) return ERROR_SUCCESS;
    RegistryState &state = State();
    std::lock_guard<std::recursive_mutex> lock(state.mutex);
    return state.openKeys.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

int32_t ZulStandin::ErrorFromWalk(ZulStandin::WalkResult result) {
    switch (result) {
    case WALK_OK:
        return ERROR_SUCCESS;
    case WALK_NOT_FOUND:
        return ERROR_FILE_NOT_FOUND;
    case WALK_BAD_PATH:
        return ERROR_BAD_PATHNAME;
    case WALK_NAME_TOO_LONG:
        return ERROR_INVALID_PARAMETER;
    }
    return ERROR_INVALID_PARAMETER;
}
