/*
 * The smallest data source the Data Source Manager lists: DS_Entry answers
 * DG_CONTROL / DAT_IDENTITY / MSG_GET and nothing else. Its product name is
 * "Test source " and its own file name without the extension, so that one
 * DLL copied to several places shows which copies were found.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "twain.h"

static HINSTANCE s_hInstance;

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    (void)pReserved;
    if (dwReason == DLL_PROCESS_ATTACH)
        s_hInstance = hInstance;
    return TRUE;
}

static void FillIdentity(pTW_IDENTITY pIdentity)
{
    char szPath[MAX_PATH];
    const char *pszName = szPath;
    char *pszDot;
    DWORD cch = GetModuleFileNameA(s_hInstance, szPath, sizeof szPath);

    if (cch == 0 || cch >= sizeof szPath)
        strcpy(szPath, "?");
    for (const char *p = szPath; *p; ++p) {
        if (*p == '\\' || *p == '/')
            pszName = p + 1;
    }
    pszDot = strrchr(pszName, '.');
    if (pszDot)
        *pszDot = '\0';

    /* The manager has set Id; everything else is ours to fill. */
    memset(&pIdentity->Version, 0, sizeof pIdentity->Version);
    pIdentity->Version.MajorNum = 1;
    pIdentity->Version.Language = TWLG_ENGLISH;
    pIdentity->Version.Country = TWCY_USA;
    strcpy(pIdentity->Version.Info, "1.0");
    pIdentity->ProtocolMajor = TWON_PROTOCOLMAJOR;
    pIdentity->ProtocolMinor = TWON_PROTOCOLMINOR;
    pIdentity->SupportedGroups = DG_CONTROL | DG_IMAGE;
    snprintf(pIdentity->Manufacturer, sizeof pIdentity->Manufacturer, "%s", "ZULFuncts tests");
    snprintf(pIdentity->ProductFamily, sizeof pIdentity->ProductFamily, "%s", "Test sources");
    snprintf(pIdentity->ProductName, sizeof pIdentity->ProductName, "Test source %s", pszName);
}

TW_UINT16 PASCAL DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)
{
    (void)pOrigin;
    if (DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_GET && pData) {
        FillIdentity((pTW_IDENTITY)pData);
        return TWRC_SUCCESS;
    }
    return TWRC_FAILURE;
}
