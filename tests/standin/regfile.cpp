// The stand-in's registry tree and the reader of the registry files the tests write (see
// regfile.h). A line the reader does not know is an error, never passed over: a test that
// writes one learns it at once instead of testing against a registry it did not mean.
#include "regfile.h"
#include "standin.h"

#include <string.h>

static const char s_szHeader[] = "REGEDIT4";
static const char s_szMachine[] = "[HKEY_LOCAL_MACHINE\\";

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ZulRegNameLess::operator()(const std::string &a, const std::string &b) const
{
    size_t cch = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < cch; i++) {
        unsigned char ca = ZulStandinFoldAscii(static_cast<unsigned char>(a[i]));
        unsigned char cb = ZulStandinFoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb;
    }
    return a.size() < b.size();
}

const ZulRegKey *ZulRegKey::FindSubkey(const std::string &sName) const
{
    auto it = m_subkeys.find(sName);
    return it == m_subkeys.end() ? nullptr : it->second.get();
}

const ZulRegValue *ZulRegKey::FindValue(const std::string &sName) const
{
    auto it = m_values.find(sName);
    return it == m_values.end() ? nullptr : &it->second;
}

LONG ZulStandinWalkKey(const ZulRegKey *pStart, const std::string &sPath, const ZulRegKey **ppKey)
{
    *ppKey = nullptr;
    if (!sPath.empty() && sPath[0] == '\\')
        return ERROR_BAD_PATHNAME;
    const ZulRegKey *pKey = pStart;
    size_t i = 0;
    while (i < sPath.size()) {
        size_t j = sPath.find('\\', i);
        if (j == std::string::npos)
            j = sPath.size();
        if (j - i > s_cchMaxKeyName)
            return ERROR_INVALID_PARAMETER;
        pKey = pKey->FindSubkey(sPath.substr(i, j - i));
        if (!pKey)
            return ERROR_FILE_NOT_FOUND;
        i = j;
        while (i < sPath.size() && sPath[i] == '\\')
            i++;
    }
    *ppKey = pKey;
    return ERROR_SUCCESS;
}

// A quoted text from its opening quote at *pi: \\ and \" are its escapes. Leaves *pi after the
// closing quote; false when the text does not end or has another escape.
static bool ReadQuoted(const std::string &sLine, size_t *pi, std::string *psText)
{
    size_t i = *pi + 1;
    psText->clear();
    while (i < sLine.size() && sLine[i] != '"') {
        if (sLine[i] == '\\') {
            if (i + 1 >= sLine.size() || (sLine[i + 1] != '\\' && sLine[i + 1] != '"'))
                return false;
            i++;
        }
        *psText += sLine[i++];
    }
    if (i >= sLine.size())
        return false;
    *pi = i + 1;
    return true;
}

// "aa,bb,..." of two hex digits each, or nothing.
static bool ReadHexBytes(const std::string &sText, std::vector<BYTE> *pData)
{
    for (size_t i = 0; i < sText.size(); i += 3) {
        int hi = HexValue(sText[i]);
        int lo = i + 1 < sText.size() ? HexValue(sText[i + 1]) : -1;
        if (hi < 0 || lo < 0 || (i + 2 < sText.size() && sText[i + 2] != ',') || i + 3 == sText.size())
            return false;
        pData->push_back(static_cast<BYTE>(hi << 4 | lo));
    }
    return true;
}

// The data after the '=' of a value line.
static bool ReadData(const std::string &sData, ZulRegValue *pValue)
{
    if (!sData.empty() && sData[0] == '"') {
        std::string sText;
        size_t i = 0;
        if (!ReadQuoted(sData, &i, &sText) || i != sData.size())
            return false;
        pValue->dwType = REG_SZ;
        pValue->data.assign(sText.begin(), sText.end());
        pValue->data.push_back(0);
        return true;
    }
    if (sData.compare(0, 6, "dword:") == 0) {
        if (sData.size() != 14)
            return false;
        DWORD dw = 0;
        for (size_t i = 6; i < 14; i++) {
            int n = HexValue(sData[i]);
            if (n < 0)
                return false;
            dw = dw << 4 | static_cast<DWORD>(n);
        }
        pValue->dwType = REG_DWORD;
        pValue->data.assign(reinterpret_cast<const BYTE *>(&dw), reinterpret_cast<const BYTE *>(&dw) + 4);
        return true;
    }
    size_t posBytes;
    pValue->dwType = REG_BINARY;
    if (sData.compare(0, 4, "hex:") == 0) {
        posBytes = 4;
    } else if (sData.compare(0, 4, "hex(") == 0) {
        size_t posClose = sData.find("):");
        if (posClose == std::string::npos || posClose < 5 || posClose > 12)
            return false;
        pValue->dwType = 0;
        for (size_t i = 4; i < posClose; i++) {
            int n = HexValue(sData[i]);
            if (n < 0)
                return false;
            pValue->dwType = pValue->dwType << 4 | static_cast<DWORD>(n);
        }
        posBytes = posClose + 2;
    } else {
        return false;
    }
    return ReadHexBytes(sData.substr(posBytes), &pValue->data);
}

// The key of a [HKEY_LOCAL_MACHINE\path] line, created with the keys above it.
static const char *ReadKeyLine(const std::string &sLine, ZulRegKey *pMachine, ZulRegKey **ppKey)
{
    size_t cchPrefix = sizeof(s_szMachine) - 1;
    if (sLine.size() <= cchPrefix + 1 || sLine.back() != ']')
        return "a key is [HKEY_LOCAL_MACHINE\\path]";
    std::string sPath = sLine.substr(cchPrefix, sLine.size() - cchPrefix - 1);
    if (sPath.size() > MAX_PATH)
        return "a key path over 260 characters";
    ZulRegKey *pKey = pMachine;
    size_t i = 0;
    while (i <= sPath.size()) {
        size_t j = sPath.find('\\', i);
        if (j == std::string::npos)
            j = sPath.size();
        if (j == i || j - i > s_cchMaxKeyName)
            return "an empty or over-long key name";
        std::unique_ptr<ZulRegKey> &pSubkey = pKey->m_subkeys[sPath.substr(i, j - i)];
        if (!pSubkey)
            pSubkey.reset(new ZulRegKey);
        pKey = pSubkey.get();
        i = j + 1;
    }
    *ppKey = pKey;
    return nullptr;
}

// A line of the file; the error, or null.
static const char *ReadLine(const std::string &sLine, ZulRegKey *pMachine, ZulRegKey **ppKey)
{
    if (sLine.empty() || sLine[0] == ';')
        return nullptr;
    if (sLine.find('\0') != std::string::npos)
        return "a zero byte";
    if (sLine.compare(0, sizeof(s_szMachine) - 1, s_szMachine) == 0)
        return ReadKeyLine(sLine, pMachine, ppKey);
    std::string sName;
    size_t i = 1;
    if (sLine[0] == '"') {
        i = 0;
        if (!ReadQuoted(sLine, &i, &sName))
            return "a value name is a quoted text, with \\\\ and \\\" its only escapes";
    } else if (sLine[0] != '@') {
        return "neither a key, a value, a comment nor blank";
    }
    if (i >= sLine.size() || sLine[i] != '=')
        return "a value name without '=' after it";
    if (!*ppKey)
        return "a value before the first key";
    ZulRegValue value;
    if (!ReadData(sLine.substr(i + 1), &value))
        return "value data is \"text\", dword:8 hex digits, hex:bytes or hex(type):bytes";
    (*ppKey)->m_values[sName] = value;
    return nullptr;
}

bool ZulStandinReadRegText(const std::string &sText, ZulRegKey *pMachine, int *pnLine, std::string *psError)
{
    ZulRegKey *pKey = nullptr;
    size_t pos = 0;
    for (int nLine = 1; pos < sText.size(); nLine++) {
        size_t posEnd = sText.find('\n', pos);
        if (posEnd == std::string::npos)
            posEnd = sText.size();
        std::string sLine = sText.substr(pos, posEnd - pos);
        pos = posEnd + 1;
        if (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        const char *pszError = nullptr;
        if (nLine == 1)
            pszError = sLine == s_szHeader ? nullptr : "the first line is REGEDIT4";
        else
            pszError = ReadLine(sLine, pMachine, &pKey);
        if (pszError) {
            *pnLine = nLine;
            *psError = pszError;
            return false;
        }
    }
    if (sText.empty()) {
        *pnLine = 1;
        *psError = "the first line is REGEDIT4";
        return false;
    }
    return true;
}
