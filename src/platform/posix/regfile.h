// In-memory registry of the POSIX stand-in, and the reader of the REGEDIT4 text that fills it.
// The import follows what Wine's regedit does with the same file, line for line; the tree
// follows what the registry then answers (name matching, subkey order, path walking).
// Standard library only: the reader is also fed arbitrary bytes by a fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ZulStandin {

// Longest key name component, and longest value name, that the registry accepts.
const size_t kcchMaxKeyName = 256;
const size_t kcchMaxValueName = 16383;

// Orders names as the registry does: byte by byte with ASCII letters folded to lower case,
// a name before any longer name it begins. Equal under it means the same key or value.
struct NameLess {
    bool operator()(const std::string &a, const std::string &b) const;
};

struct RegValue {
    uint32_t dwType = 0;
    std::vector<unsigned char> data;
};

// A key: subkeys and values by name. The map key keeps the first spelling of each name.
class RegKey {
public:
    typedef std::map<std::string, std::unique_ptr<RegKey>, NameLess> SubkeyMap;
    typedef std::map<std::string, RegValue, NameLess> ValueMap;

    RegKey() = default;
    ~RegKey();
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;

    const RegKey *FindSubkey(const std::string &sName) const;
    RegKey *FindSubkey(const std::string &sName);
    // The subkey of that name, created when it does not exist yet.
    RegKey *CreateSubkey(const std::string &sName);
    bool DeleteSubkey(const std::string &sName);

    const RegValue *FindValue(const std::string &sName) const;
    void SetValue(const std::string &sName, uint32_t dwType, std::vector<unsigned char> data);
    bool DeleteValue(const std::string &sName);

    SubkeyMap m_subkeys;
    ValueMap m_values;
};

enum RootIndex { ROOT_LOCAL_MACHINE, ROOT_CURRENT_USER, ROOT_USERS, ROOT_DYN_DATA, ROOT_COUNT };

// A predefined key: HKEY_LOCAL_MACHINE and the others. Some are aliases of a key below
// another root, as Wine has them (HKEY_CLASSES_ROOT is HKLM\Software\Classes).
struct PredefinedKey {
    uint32_t dwHandle;
    const char *pszName;
    RootIndex root;
    const char *pszAliasPath;  // null: the root itself
};

// The predefined key of that handle value or of that name (any case), or null.
const PredefinedKey *FindPredefinedKey(uint32_t dwHandle);
const PredefinedKey *FindPredefinedKey(const std::string &sName);

class RegTree {
public:
    RegKey m_roots[ROOT_COUNT];

    // The key that a predefined key stands for; null when it is an alias whose target does not exist.
    const RegKey *Resolve(const PredefinedKey &predef) const;
};

enum WalkResult { WALK_OK, WALK_NOT_FOUND, WALK_BAD_PATH, WALK_NAME_TOO_LONG };

// Follows a backslash-separated subkey path from pStart as the registry does when it opens a key:
// an empty path is the key itself; a leading backslash is a bad path; a run of backslashes between
// or after names counts as one separator; a name longer than kcchMaxKeyName is refused.
WalkResult WalkPath(const RegKey *pStart, const std::string &sPath, const RegKey **ppKey);

// The registry's error code (LSTATUS) for a walk's result; defined with the registry functions.
int32_t ErrorFromWalk(WalkResult result);

// Reads registry-file text (REGEDIT4 or version 5.00; ANSI bytes, or UTF-16LE after a byte-order
// mark) into the tree, changing it as the import would. Returns false when the text has no valid
// header (then nothing is imported) or when the import stops at a line that makes it give up
// (deleting a key with an unknown root, or a root itself); the changes before that line stay.
bool ImportRegText(const std::string &sText, RegTree &tree);

// Shared with setupapi.cpp; implemented in registry.cpp.

// The registry read from <sysroot>/registry.reg, read on first use and kept until
// ZulStandinRegistryReset. Never null.
std::shared_ptr<const RegTree> LoadedRegistry();

// A new key handle (an HKEY value) for pKey, a key of pTree; 0 when no handle is left.
uintptr_t NewKeyHandle(std::shared_ptr<const RegTree> pTree, const RegKey *pKey);

// RegQueryValueExA's part after the key is found: pValue null means the value does not exist.
// pdwType, pData and pcbData are the caller's arguments (pData requires pcbData).
int32_t QueryValueData(const RegValue *pValue, uint32_t *pdwType, unsigned char *pData, uint32_t *pcbData);

}  // namespace ZulStandin
