// The stand-in's registry: HKEY_LOCAL_MACHINE as a tree of keys, read from the REGEDIT4 text
// of <sysroot>/registry.reg. Shared by the registry and SetupAPI functions; internal.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

// Longest name of one key, as the registry accepts it.
const size_t s_cchMaxKeyName = 256;

// Orders names as the registry does: byte by byte with ASCII letters folded to lower case, a
// name before any longer name it begins. Equal under it means the same key or value.
struct ZulRegNameLess {
    bool operator()(const std::string &a, const std::string &b) const;
};

struct ZulRegValue {
    DWORD dwType = REG_NONE;
    std::vector<BYTE> data;
};

// A key: subkeys and values by name; a name keeps its first spelling.
class ZulRegKey
{
public:
    virtual ~ZulRegKey() = default;

    const ZulRegKey *FindSubkey(const std::string &sName) const;
    const ZulRegValue *FindValue(const std::string &sName) const;

    std::map<std::string, std::unique_ptr<ZulRegKey>, ZulRegNameLess> m_subkeys;
    std::map<std::string, ZulRegValue, ZulRegNameLess> m_values;
};

// Reads registry-file text into pMachine (HKEY_LOCAL_MACHINE). Only what the tests write is read:
// the REGEDIT4 header, then blank lines, ';' comments, [HKEY_LOCAL_MACHINE\path] keys and their
// "name"= or @= values: "text" (\\ and \" escaped), dword:8 hex digits, hex:bytes or hex(type):bytes.
// Anything else is refused: false, with the 1-based line and what is wrong with it.
bool ZulStandinReadRegText(const std::string &sText, ZulRegKey *pMachine, int *pnLine, std::string *psError);

// Follows a backslash-separated path from pStart as the registry opens a key: an empty path is the
// key itself, a run of backslashes separates as one, a leading one is a bad path. Returns the
// registry's error code; *ppKey is the key, or null.
LONG ZulStandinWalkKey(const ZulRegKey *pStart, const std::string &sPath, const ZulRegKey **ppKey);

// HKEY_LOCAL_MACHINE as read from <sysroot>/registry.reg on first use, kept until
// ZulStandinRegistryReset; empty without a sysroot or a file. Null when the file was refused
// (the reason went to stderr, naming the line).
const ZulRegKey *ZulStandinLoadedRegistry();

// A new key handle (an HKEY value) for pKey of the loaded registry; 0 when none is left.
uintptr_t ZulStandinNewKeyHandle(const ZulRegKey *pKey);

// Forgets the device sets, whose devices are keys of a registry that is going.
void ZulStandinForgetDeviceSets();

// RegQueryValueExA's part after the key is found: pValue null means the value does not exist.
LONG ZulStandinQueryValue(const ZulRegValue *pValue, DWORD *pdwType, BYTE *pData, DWORD *pcbData);
