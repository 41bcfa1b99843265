#include "ActionData.h"

#include "BoundedString.h"

#include <windows.h>

#include <string.h>

namespace {

bool IsHexRun(const char *psz, size_t cch)
{
    return strspn(psz, "0123456789ABCDEF") >= cch;
}

// The field up to the next ';', copied to szOut (cbOut bytes); the text
// after it, or null when there is no ';' or the field does not fit.
char *TakeField(char *psz, char *szOut, size_t cbOut)
{
    char *pszEnd = strchr(psz, ';');
    if (!pszEnd || static_cast<size_t>(pszEnd - psz) >= cbOut)
        return nullptr;
    memcpy(szOut, psz, static_cast<size_t>(pszEnd - psz));
    szOut[pszEnd - psz] = '\0';
    return pszEnd + 1;
}

} // namespace

bool IsProductCode(const char *psz)
{
    // {8-4-4-4-12}, as Windows Installer writes it: upper-case hex digits.
    static const size_t s_rgcchGroup[] = {8, 4, 4, 4, 12};
    if (strlen(psz) != 38 || psz[0] != '{' || psz[37] != '}')
        return false;
    const char *p = psz + 1;
    for (size_t i = 0; i < 5; i++) {
        if (!IsHexRun(p, s_rgcchGroup[i]) || p[s_rgcchGroup[i]] != (i < 4 ? '-' : '}'))
            return false;
        p += s_rgcchGroup[i] + 1;
    }
    return true;
}

bool IsRunName(const char *psz)
{
    return strlen(psz) == s_cchRunName && IsHexRun(psz, s_cchRunInstallation) && psz[s_cchRunInstallation] == '-' &&
           IsHexRun(psz + s_cchRunInstallation + 1, s_cchRunName - s_cchRunInstallation - 1);
}

bool ParseActionData(char *pszData, ActionData *pData)
{
    pData->bRecord = false;
    pData->szProductCode[0] = '\0';
    pData->szRun[0] = '\0';
    pData->pszTwainName = "twain_32";
    pData->pszCommandLine = pszData;
    // No command word begins with a digit.
    if ((pszData[0] != '0' && pszData[0] != '1') || pszData[1] != ';')
        return true;
    char szTwain[16];
    char *psz = TakeField(pszData + 2, pData->szProductCode, sizeof pData->szProductCode);
    psz = psz ? TakeField(psz, pData->szRun, sizeof pData->szRun) : nullptr;
    psz = psz ? TakeField(psz, szTwain, sizeof szTwain) : nullptr;
    if (!psz || !IsProductCode(pData->szProductCode) || !IsRunName(pData->szRun))
        return false;
    // A fixed token, which also bounds what a rollback may touch.
    if (strcmp(szTwain, "twain_32") == 0)
        pData->pszTwainName = "twain_32";
    else if (strcmp(szTwain, "twain_64") == 0)
        pData->pszTwainName = "twain_64";
    else
        return false;
    pData->bRecord = pszData[0] == '1';
    pData->pszCommandLine = psz;
    return true;
}
