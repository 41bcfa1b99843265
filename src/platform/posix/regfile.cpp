// Registry tree and REGEDIT4 import of the POSIX stand-in (see regfile.h).
// Every rule of the import below was checked against `wine regedit /S` on Wine 8.0, including
// the odd ones (which malformed lines are dropped, what a bad continuation line swallows).
#include "regfile.h"

#include <cstring>
#include <utility>

namespace ZulStandin {

namespace {

const PredefinedKey s_predefined[] = {
    {0x80000000u, "HKEY_CLASSES_ROOT", ROOT_LOCAL_MACHINE, "Software\\Classes"},
    {0x80000001u, "HKEY_CURRENT_USER", ROOT_CURRENT_USER, nullptr},
    {0x80000002u, "HKEY_LOCAL_MACHINE", ROOT_LOCAL_MACHINE, nullptr},
    {0x80000003u, "HKEY_USERS", ROOT_USERS, nullptr},
    {0x80000005u, "HKEY_CURRENT_CONFIG", ROOT_LOCAL_MACHINE, "System\\CurrentControlSet\\Hardware Profiles\\Current"},
    {0x80000006u, "HKEY_DYN_DATA", ROOT_DYN_DATA, nullptr},
};

const char s_szHeader4[] = "REGEDIT4";
const char s_szHeader5[] = "Windows Registry Editor Version 5.00";

const uint32_t REG_TYPE_SZ = 1;
const uint32_t REG_TYPE_EXPAND_SZ = 2;
const uint32_t REG_TYPE_BINARY = 3;
const uint32_t REG_TYPE_DWORD = 4;
const uint32_t REG_TYPE_MULTI_SZ = 7;

unsigned char FoldCase(char c) {
    unsigned char uc = static_cast<unsigned char>(c);
    return (uc >= 'A' && uc <= 'Z') ? static_cast<unsigned char>(uc - 'A' + 'a') : uc;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The white space that the C runtime's wcstoul skips.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsHexDigit(char c) { return HexValue(c) >= 0; }

bool EqualNoCase(const char *a, const char *b, size_t cch) {
    for (size_t i = 0; i < cch; i++) {
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    }
    return true;
}

// wcstoul(psz, &end, 16) with Windows' 32-bit unsigned long: blanks, a sign and a 0x prefix are
// accepted; without any digit the end is psz itself and the result 0; an overflow gives 0xFFFFFFFF.
uint32_t StrToUL16(const char *psz, const char **ppEnd, bool *pbOverflow = nullptr) {
    const char *p = psz;
    while (IsSpace(*p)) p++;
    bool bNegative = false;
    if (*p == '+' || *p == '-') {
        bNegative = (*p == '-');
        p++;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(p[2])) p += 2;
    const char *pDigits = p;
    uint32_t dwValue = 0;
    bool bOverflow = false;
    while (IsHexDigit(*p)) {
        if (dwValue > 0x0FFFFFFFu) bOverflow = true;
        dwValue = (dwValue << 4) | static_cast<uint32_t>(HexValue(*p));
        p++;
    }
    if (p == pDigits) {
        *ppEnd = psz;
        return 0;
    }
    *ppEnd = p;
    if (pbOverflow) *pbOverflow = bOverflow;
    if (bOverflow) return 0xFFFFFFFFu;
    return bNegative ? 0u - dwValue : dwValue;
}

// A quoted text from just after its opening quote: \\ \" \n \r are escapes, \0 and a backslash at
// the end make it invalid, any other escaped character stands for itself.
bool Unescape(const std::string &str, size_t pos, std::string &sOut, size_t *pAfter) {
    sOut.clear();
    size_t i = pos;
    while (i < str.size()) {
        char c = str[i];
        if (c == '"') {
            *pAfter = i + 1;
            return true;
        }
        if (c == '\\') {
            i++;
            if (i >= str.size()) return false;
            char e = str[i];
            if (e == '0') return false;
            sOut += (e == 'n') ? '\n' : (e == 'r') ? '\r' : e;
        } else {
            sOut += c;
        }
        i++;
    }
    return false;
}

// The root named at the start of a key path: the name in any case, then the end or a backslash.
const PredefinedKey *RootOfPath(const std::string &sPath) {
    for (const PredefinedKey &predef : s_predefined) {
        size_t cch = std::strlen(predef.pszName);
        if (sPath.size() >= cch && EqualNoCase(sPath.data(), predef.pszName, cch) &&
            (sPath.size() == cch || sPath[cch] == '\\')) {
            return &predef;
        }
    }
    return nullptr;
}

// Creates the keys of a path as RegCreateKeyEx does: null for a leading backslash or an
// over-long name (the keys before that one stay created).
RegKey *CreatePath(RegKey *pBase, const std::string &sPath) {
    if (!sPath.empty() && sPath[0] == '\\') return nullptr;
    RegKey *pKey = pBase;
    size_t i = 0;
    while (i < sPath.size()) {
        size_t j = sPath.find('\\', i);
        if (j == std::string::npos) j = sPath.size();
        if (j - i > kcchMaxKeyName) return nullptr;
        pKey = pKey->CreateSubkey(sPath.substr(i, j - i));
        i = j;
        while (i < sPath.size() && sPath[i] == '\\') i++;
    }
    return pKey;
}

// The key that a predefined key stands for in the tree being written; an alias target is
// created, as Wine creates it the first time the root is used.
RegKey *PredefinedBase(RegTree &tree, const PredefinedKey &predef) {
    RegKey *pRoot = &tree.m_roots[predef.root];
    return predef.pszAliasPath ? CreatePath(pRoot, predef.pszAliasPath) : pRoot;
}

std::string NarrowFromUtf16(const std::string &sText) {
    std::string sOut;
    sOut.reserve(sText.size() / 2);
    for (size_t i = 2; i + 1 < sText.size(); i += 2) {
        unsigned int u = static_cast<unsigned char>(sText[i]) | (static_cast<unsigned char>(sText[i + 1]) << 8);
        if (u == 0) break;
        sOut += (u < 0x100) ? static_cast<char>(u) : '?';
    }
    return sOut;
}

class Importer {
public:
    Importer(RegTree &tree, bool bUnicode) : m_tree(tree), m_bUnicode(bUnicode) {}

    // Returns false when the import gives up at this line.
    bool Line(const std::string &sLine);
    void End();

private:
    enum HexResult { HEX_FAIL, HEX_DONE, HEX_MORE };

    bool KeyLine(const std::string &sLine, size_t pos);
    bool DeleteKeyLine(const std::string &sPath);
    void ValueLine(const std::string &sName, const std::string &sLine, size_t pos);
    void StringData(const std::string &sName, const std::string &sData);
    void DwordData(const std::string &sName, const std::string &sData, size_t pos);
    void HexData(const char *psz);
    HexResult HexChunk(const char *psz, const char **ppRest);
    void FinishHex();
    void SetValue(const std::string &sName, uint32_t dwType, std::vector<unsigned char> data);

    RegTree &m_tree;
    bool m_bUnicode;
    RegKey *m_pKey = nullptr;  // the key that value lines go to; null: they are dropped

    // Hex data continued over lines with a trailing backslash.
    bool m_bHexPending = false;
    std::string m_sHexName;
    uint32_t m_dwHexType = 0;
    std::vector<unsigned char> m_hex;
};

bool Importer::Line(const std::string &sLine) {
    size_t i = 0;
    while (i < sLine.size() && IsBlank(sLine[i])) i++;
    if (m_bHexPending) {
        // Blank and comment lines are passed over; any other line that does not start with a
        // hex digit ends the value, which is dropped, and is itself lost.
        if (i == sLine.size() || sLine[i] == ';') return true;
        if (!IsHexDigit(sLine[i])) {
            m_bHexPending = false;
            return true;
        }
        HexData(sLine.c_str() + i);
        return true;
    }
    if (i == sLine.size()) return true;
    switch (sLine[i]) {
    case '[':
        return KeyLine(sLine, i + 1);
    case '@':
        ValueLine(std::string(), sLine, i + 1);
        return true;
    case '"': {
        std::string sName;
        size_t posAfter = 0;
        if (Unescape(sLine, i + 1, sName, &posAfter)) ValueLine(sName, sLine, posAfter);
        return true;
    }
    default:
        return true;
    }
}

void Importer::End() {
    if (m_bHexPending) FinishHex();
}

bool Importer::KeyLine(const std::string &sLine, size_t pos) {
    // A line without a closing bracket, or with a blank after the opening one, is passed over
    // and the key of the lines before stays current. The name ends at the last bracket.
    if (pos >= sLine.size() || IsBlank(sLine[pos])) return true;
    size_t posEnd = sLine.rfind(']');
    if (posEnd == std::string::npos || posEnd < pos) return true;
    std::string sPath = sLine.substr(pos, posEnd - pos);
    m_pKey = nullptr;
    if (!sPath.empty() && sPath[0] == '-') {
        // [-path] deletes; anything but a root name after the dash is passed over.
        if (sPath.size() > 1 && (sPath[1] == 'H' || sPath[1] == 'h')) return DeleteKeyLine(sPath.substr(1));
        return true;
    }
    const PredefinedKey *pPredef = RootOfPath(sPath);
    if (!pPredef) return true;
    RegKey *pBase = PredefinedBase(m_tree, *pPredef);
    size_t posSep = sPath.find('\\');
    m_pKey = (posSep == std::string::npos) ? pBase : CreatePath(pBase, sPath.substr(posSep + 1));
    return true;
}

bool Importer::DeleteKeyLine(const std::string &sPath) {
    const PredefinedKey *pPredef = RootOfPath(sPath);
    size_t posSep = sPath.find('\\');
    if (!pPredef || posSep == std::string::npos || posSep + 1 == sPath.size()) return false;
    RegKey *pParent = PredefinedBase(m_tree, *pPredef);
    std::string sSub = sPath.substr(posSep + 1);
    if (sSub[0] == '\\') return true;
    size_t i = 0;
    while (true) {
        size_t j = sSub.find('\\', i);
        if (j == std::string::npos) j = sSub.size();
        if (j - i > kcchMaxKeyName) return true;
        std::string sName = sSub.substr(i, j - i);
        RegKey *pKey = pParent->FindSubkey(sName);
        if (!pKey) return true;
        i = j;
        while (i < sSub.size() && sSub[i] == '\\') i++;
        if (i == sSub.size()) {
            pParent->DeleteSubkey(sName);
            return true;
        }
        pParent = pKey;
    }
}

void Importer::ValueLine(const std::string &sName, const std::string &sLine, size_t pos) {
    size_t i = pos;
    while (i < sLine.size() && IsBlank(sLine[i])) i++;
    if (i >= sLine.size() || sLine[i] != '=') return;
    i++;
    while (i < sLine.size() && IsBlank(sLine[i])) i++;
    size_t posEnd = sLine.size();
    while (posEnd > i && IsBlank(sLine[posEnd - 1])) posEnd--;
    std::string sData = sLine.substr(i, posEnd - i);
    if (sData.empty()) return;

    if (sData[0] == '-') {
        size_t k = 1;
        while (k < sData.size() && IsBlank(sData[k])) k++;
        if ((k == sData.size() || sData[k] == ';') && m_pKey && sName.size() <= kcchMaxValueName) {
            m_pKey->DeleteValue(sName);
        }
        return;
    }
    if (sData[0] == '"') {
        StringData(sName, sData);
        return;
    }
    if (sData.compare(0, 6, "dword:") == 0) {
        DwordData(sName, sData, 6);
        return;
    }
    uint32_t dwType = REG_TYPE_BINARY;
    size_t posHex;
    if (sData.compare(0, 4, "hex:") == 0) {
        posHex = 4;
    } else if (sData.compare(0, 4, "hex(") == 0) {
        // hex(N): N in hex; "0x" is refused, though the number may otherwise be written as wcstoul reads it.
        if (sData.size() < 5 || (sData.size() > 5 && (sData[5] == 'x' || sData[5] == 'X'))) return;
        const char *pszType = sData.c_str() + 4;
        const char *pEnd = nullptr;
        bool bOverflow = false;
        dwType = StrToUL16(pszType, &pEnd, &bOverflow);
        if (pEnd[0] != ')' || pEnd[1] != ':' || bOverflow) return;
        posHex = static_cast<size_t>(pEnd + 2 - sData.c_str());
    } else {
        return;
    }
    m_sHexName = sName;
    m_dwHexType = dwType;
    m_hex.clear();
    if (posHex == sData.size()) {
        // "hex:" with nothing after it: empty data, and no terminator added even for text types.
        SetValue(sName, dwType, std::vector<unsigned char>());
        return;
    }
    HexData(sData.c_str() + posHex);
}

void Importer::StringData(const std::string &sName, const std::string &sData) {
    std::string sText;
    size_t posAfter = 0;
    if (!Unescape(sData, 1, sText, &posAfter)) return;
    while (posAfter < sData.size() && IsBlank(sData[posAfter])) posAfter++;
    if (posAfter < sData.size() && sData[posAfter] != ';') return;
    std::vector<unsigned char> data(sText.begin(), sText.end());
    data.push_back(0);
    SetValue(sName, REG_TYPE_SZ, std::move(data));
}

void Importer::DwordData(const std::string &sName, const std::string &sData, size_t pos) {
    size_t i = pos;
    while (i < sData.size() && IsBlank(sData[i])) i++;
    if (i == sData.size()) return;
    uint32_t dwValue = 0;
    size_t cDigits = 0;
    while (i < sData.size() && IsHexDigit(sData[i])) {
        dwValue = (dwValue << 4) | static_cast<uint32_t>(HexValue(sData[i]));
        cDigits++;
        i++;
    }
    if (cDigits > 8) return;
    while (i < sData.size() && IsBlank(sData[i])) i++;
    if (i < sData.size() && sData[i] != ';') return;
    std::vector<unsigned char> data(4);
    for (int k = 0; k < 4; k++) data[k] = static_cast<unsigned char>(dwValue >> (8 * k));
    SetValue(sName, REG_TYPE_DWORD, std::move(data));
}

// Bytes of a hex list: "aa,bb,..." where each byte is read as wcstoul reads it. A backslash in
// place of a byte continues the list on the next line.
Importer::HexResult Importer::HexChunk(const char *psz, const char **ppRest) {
    const char *p = psz;
    while (*p) {
        const char *pEnd = nullptr;
        uint32_t dwByte = StrToUL16(p, &pEnd);
        if (dwByte > 0xFF) return HEX_FAIL;
        if (pEnd == p) {
            while (IsBlank(*pEnd)) pEnd++;
            if (*pEnd == '\\') {
                *ppRest = pEnd + 1;
                return HEX_MORE;
            }
            return (*pEnd == ';') ? HEX_DONE : HEX_FAIL;
        }
        m_hex.push_back(static_cast<unsigned char>(dwByte));
        if (*pEnd && *pEnd != ',') {
            while (IsBlank(*pEnd)) pEnd++;
            return (*pEnd && *pEnd != ';') ? HEX_FAIL : HEX_DONE;
        }
        if (*pEnd) pEnd++;
        p = pEnd;
    }
    return HEX_DONE;
}

void Importer::HexData(const char *psz) {
    const char *pRest = nullptr;
    HexResult result = HexChunk(psz, &pRest);
    m_bHexPending = false;
    if (result == HEX_FAIL) return;
    if (result == HEX_DONE) {
        FinishHex();
        return;
    }
    // After the backslash only blanks or a comment may follow.
    while (IsBlank(*pRest)) pRest++;
    if (*pRest && *pRest != ';') return;
    m_bHexPending = true;
}

void Importer::FinishHex() {
    m_bHexPending = false;
    std::vector<unsigned char> data;
    if (m_dwHexType == REG_TYPE_SZ || m_dwHexType == REG_TYPE_EXPAND_SZ || m_dwHexType == REG_TYPE_MULTI_SZ) {
        // Text given in hex is terminated when it is not already; in a UTF-16 file its bytes are
        // UTF-16 and come back as one byte per character, as the ANSI query returns them.
        if (m_bUnicode) {
            size_t cUnits = m_hex.size() / 2;
            for (size_t k = 0; k < cUnits; k++) {
                unsigned int u = m_hex[2 * k] | (m_hex[2 * k + 1] << 8);
                data.push_back(u < 0x100 ? static_cast<unsigned char>(u) : static_cast<unsigned char>('?'));
            }
            if (cUnits > 0 && (m_hex[2 * cUnits - 2] | m_hex[2 * cUnits - 1]) != 0) data.push_back(0);
        } else {
            data = m_hex;
            if (!data.empty() && data.back() != 0) data.push_back(0);
        }
    } else {
        data = m_hex;
    }
    m_hex.clear();
    SetValue(m_sHexName, m_dwHexType, std::move(data));
}

void Importer::SetValue(const std::string &sName, uint32_t dwType, std::vector<unsigned char> data) {
    if (!m_pKey || sName.size() > kcchMaxValueName) return;
    m_pKey->SetValue(sName, dwType, std::move(data));
}

}  // namespace

bool NameLess::operator()(const std::string &a, const std::string &b) const {
    size_t cch = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < cch; i++) {
        unsigned char ca = FoldCase(a[i]);
        unsigned char cb = FoldCase(b[i]);
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

RegKey::~RegKey() {
    // Dismantled without recursion: an imported tree may be as deep as its longest line allows.
    std::vector<std::unique_ptr<RegKey>> pending;
    for (auto &entry : m_subkeys) pending.push_back(std::move(entry.second));
    m_subkeys.clear();
    while (!pending.empty()) {
        std::unique_ptr<RegKey> pKey = std::move(pending.back());
        pending.pop_back();
        for (auto &entry : pKey->m_subkeys) pending.push_back(std::move(entry.second));
        pKey->m_subkeys.clear();
    }
}

const RegKey *RegKey::FindSubkey(const std::string &sName) const {
    auto it = m_subkeys.find(sName);
    return it == m_subkeys.end() ? nullptr : it->second.get();
}

RegKey *RegKey::FindSubkey(const std::string &sName) {
    auto it = m_subkeys.find(sName);
    return it == m_subkeys.end() ? nullptr : it->second.get();
}

RegKey *RegKey::CreateSubkey(const std::string &sName) {
    auto it = m_subkeys.find(sName);
    if (it != m_subkeys.end()) return it->second.get();
    return m_subkeys.emplace(sName, std::unique_ptr<RegKey>(new RegKey)).first->second.get();
}

bool RegKey::DeleteSubkey(const std::string &sName) { return m_subkeys.erase(sName) != 0; }

const RegValue *RegKey::FindValue(const std::string &sName) const {
    auto it = m_values.find(sName);
    return it == m_values.end() ? nullptr : &it->second;
}

void RegKey::SetValue(const std::string &sName, uint32_t dwType, std::vector<unsigned char> data) {
    RegValue &value = m_values[sName];
    value.dwType = dwType;
    value.data = std::move(data);
}

bool RegKey::DeleteValue(const std::string &sName) { return m_values.erase(sName) != 0; }

const PredefinedKey *FindPredefinedKey(uint32_t dwHandle) {
    for (const PredefinedKey &predef : s_predefined) {
        if (predef.dwHandle == dwHandle) return &predef;
    }
    return nullptr;
}

const PredefinedKey *FindPredefinedKey(const std::string &sName) {
    for (const PredefinedKey &predef : s_predefined) {
        if (sName.size() == std::strlen(predef.pszName) && EqualNoCase(sName.data(), predef.pszName, sName.size())) {
            return &predef;
        }
    }
    return nullptr;
}

const RegKey *RegTree::Resolve(const PredefinedKey &predef) const {
    const RegKey *pRoot = &m_roots[predef.root];
    if (!predef.pszAliasPath) return pRoot;
    const RegKey *pKey = nullptr;
    return WalkPath(pRoot, predef.pszAliasPath, &pKey) == WALK_OK ? pKey : nullptr;
}

WalkResult WalkPath(const RegKey *pStart, const std::string &sPath, const RegKey **ppKey) {
    *ppKey = nullptr;
    if (!sPath.empty() && sPath[0] == '\\') return WALK_BAD_PATH;
    const RegKey *pKey = pStart;
    size_t i = 0;
    while (i < sPath.size()) {
        size_t j = sPath.find('\\', i);
        if (j == std::string::npos) j = sPath.size();
        if (j - i > kcchMaxKeyName) return WALK_NAME_TOO_LONG;
        pKey = pKey->FindSubkey(sPath.substr(i, j - i));
        if (!pKey) return WALK_NOT_FOUND;
        i = j;
        while (i < sPath.size() && sPath[i] == '\\') i++;
    }
    *ppKey = pKey;
    return WALK_OK;
}

bool ImportRegText(const std::string &sText, RegTree &tree) {
    bool bUnicode = sText.size() >= 2 && static_cast<unsigned char>(sText[0]) == 0xFF &&
                    static_cast<unsigned char>(sText[1]) == 0xFE;
    // A zero byte (or UTF-16 unit) ends the text, as it ends regedit's reading of the file.
    std::string sNarrow = bUnicode ? NarrowFromUtf16(sText) : sText.substr(0, sText.find('\0'));

    Importer importer(tree, bUnicode);
    bool bHeader = true;
    size_t pos = 0;
    while (pos <= sNarrow.size()) {
        size_t posEnd = sNarrow.find_first_of("\r\n", pos);
        if (posEnd == std::string::npos) posEnd = sNarrow.size();
        std::string sLine = sNarrow.substr(pos, posEnd - pos);
        pos = posEnd + 1;
        if (posEnd < sNarrow.size() && sNarrow[posEnd] == '\r' && pos < sNarrow.size() && sNarrow[pos] == '\n') pos++;

        if (bHeader) {
            size_t i = 0;
            while (i < sLine.size() && IsBlank(sLine[i])) i++;
            std::string sHeader = sLine.substr(i);
            if (sHeader != s_szHeader4 && sHeader != s_szHeader5) return false;
            bHeader = false;
            continue;
        }
        if (!importer.Line(sLine)) return false;
    }
    importer.End();
    return true;
}

}  // namespace ZulStandin
