// Reads in the current device's driver key (or its check subkey) to decide
// whether the device is one the command acts on.
#include "TwainDSInstaller.h"

#include "InstallLog.h"
#include "NameRules.h"

#include <mbstring.h>

bool TwainDSInstaller::OpenCheckKey(PSP_DEVINFO_DATA pdeid, HKEY *phDriverKey, HKEY *phValueKey)
{
    if (m_enum.m_hImagingKey == INVALID_HANDLE_VALUE)
        return false;
    HKEY hDriverKey =
        SetupDiOpenDevRegKey(m_enum.m_hImagingKey, pdeid, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    if (hDriverKey == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))
        return false;
    HKEY hValueKey = hDriverKey;
    if (m_pszCheckKey && RegOpenKeyA(hDriverKey, m_pszCheckKey, &hValueKey) != ERROR_SUCCESS) {
        RegCloseKey(hDriverKey);
        return false;
    }
    *phDriverKey = hDriverKey;
    *phValueKey = hValueKey;
    return true;
}

// An empty check-key name hands back the driver key itself: close it once.
void TwainDSInstaller::CloseCheckKey(HKEY hDriverKey, HKEY hValueKey)
{
    if (hValueKey != hDriverKey)
        RegCloseKey(hValueKey);
    RegCloseKey(hDriverKey);
}

bool TwainDSInstaller::MatchesHardwareId(PSP_DEVINFO_DATA pdeid)
{
    HKEY hDriverKey;
    HKEY hValueKey;
    if (!m_pszHardwareId || !OpenCheckKey(pdeid, &hDriverKey, &hValueKey))
        return false;
    // One byte beyond the 260 read, so that data without a zero byte still ends.
    unsigned char szValue[261];
    DWORD cbValue = 260;
    bool bMatch = false;
    if (RegQueryValueExA(hValueKey, m_pszCheckValue, nullptr, nullptr, szValue, &cbValue) == ERROR_SUCCESS) {
        szValue[cbValue <= 260 ? cbValue : 260] = '\0';
        // The fold and the search would take the terminator for the trail byte
        // of a last lead byte and walk on past the text: only whole characters
        // are compared.
        DropLoneLeadByte(reinterpret_cast<char *>(szValue));
        DropLoneLeadByte(m_pszHardwareId);
        unsigned char *pszId = reinterpret_cast<unsigned char *>(m_pszHardwareId);
        _mbslwr(szValue);
        _mbslwr(pszId);
        // An empty identifier is in every text but does not match an empty one.
        bMatch = szValue[0] != '\0' && _mbsstr(szValue, pszId) != nullptr;
    }
    CloseCheckKey(hDriverKey, hValueKey);
    return bMatch;
}

bool TwainDSInstaller::HasDriverValue(PSP_DEVINFO_DATA pdeid, const char *szValueName, bool bLog, InstallLog *pLog)
{
    HKEY hDriverKey;
    HKEY hValueKey;
    if (!OpenCheckKey(pdeid, &hDriverKey, &hValueKey))
        return false;
    bool bExists = RegQueryValueExA(hValueKey, szValueName, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (bExists && bLog)
        LogPrintf(pLog, "%s value name exists", szValueName);
    CloseCheckKey(hDriverKey, hValueKey);
    return bExists;
}
