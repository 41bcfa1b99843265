/*
 * The work floor of the benchmark: the calls that MAddDS and MRemoveDS cannot
 * do without, made by name, with no check of what lies on disk, no check of
 * the handles and no log. The program's time over this one's is the price of
 * its care.
 *   work-floor MAddDS PREFIX KEY   copies the template into PREFIX<instance>
 *                                  for each imaging device whose driver key's
 *                                  subkey KEY holds MarelCLSID;
 *   work-floor MRemoveDS PREFIX    removes each PREFIX* directory of the TWAIN
 *                                  directory that no device's instance names.
 * Compiles as C for Windows and as C++ on the stand-in, whose names have C++
 * linkage.
 */
#include <windows.h>
#include <setupapi.h>

#include <io.h>
#include <mbstring.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static const GUID s_guidImaging = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

/* A path of at most 259 characters: a longer one is cut and then names nothing there is. */
static void Path(char *szPath, const char *pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(szPath, 260, pszFormat, args);
    va_end(args);
}

/* Device i of the list, and its instance: the last part of its driver key's name. */
static BOOL Device(HDEVINFO hDevs, DWORD i, SP_DEVINFO_DATA *pData, char *szInstance)
{
    char szDriver[260] = "";
    const char *pszSlash;
    pData->cbSize = sizeof *pData;
    if (!SetupDiEnumDeviceInfo(hDevs, i, pData))
        return FALSE;
    SetupDiGetDeviceRegistryPropertyA(hDevs, pData, SPDRP_DRIVER, NULL, (BYTE *)szDriver, sizeof szDriver - 1, NULL);
    pszSlash = strrchr(szDriver, '\\');
    Path(szInstance, "%s", pszSlash ? pszSlash + 1 : "");
    return TRUE;
}

static BOOL Marked(HDEVINFO hDevs, SP_DEVINFO_DATA *pData, const char *pszKey)
{
    HKEY hDriver = SetupDiOpenDevRegKey(hDevs, pData, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_QUERY_VALUE);
    HKEY hKey;
    BOOL bMarked = FALSE;
    if (RegOpenKeyA(hDriver, pszKey, &hKey) == ERROR_SUCCESS) {
        bMarked = RegQueryValueExA(hKey, "MarelCLSID", NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
        RegCloseKey(hKey);
    }
    RegCloseKey(hDriver);
    return bMarked;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    char szCommand[16] = "", szPrefix[64] = "", szKey[64] = "";
    char szWindows[260], szTwain[260], szInstance[260], szDir[260], szPath[260];
    SP_DEVINFO_DATA data;
    HDEVINFO hDevs;
    DWORD i;
    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    if (sscanf(lpCmdLine, "%15s %63s %63s", szCommand, szPrefix, szKey) < 2)
        return 1;
    GetWindowsDirectoryA(szWindows, sizeof szWindows);
    Path(szTwain, "%s\\twain_32", szWindows);
    hDevs = SetupDiGetClassDevsA(&s_guidImaging, NULL, NULL, 0);

    if (strcmp(szCommand, "MAddDS") == 0) {
        char szTemplate[260];
        Path(szTemplate, "%s\\qrvgnds2.tmp", szTwain);
        for (i = 0; Device(hDevs, i, &data, szInstance); i++) {
            if (!Marked(hDevs, &data, szKey))
                continue;
            Path(szDir, "%s\\%s%s", szTwain, szPrefix, szInstance);
            Path(szPath, "%s\\%s%s.ds", szDir, szPrefix, szInstance);
            CreateDirectoryA(szDir, NULL);
            CopyFileA(szTemplate, szPath, FALSE);
        }
    } else {
        struct _finddata_t found;
        intptr_t hFind;
        Path(szPath, "%s\\%s*", szTwain, szPrefix);
        hFind = _findfirst(szPath, &found);
        if (hFind != -1) {
            do {
                const char *pszEntry = found.name + strlen(szPrefix);
                BOOL bOwned = FALSE;
                for (i = 0; !bOwned && Device(hDevs, i, &data, szInstance); i++)
                    bOwned = _mbsicmp((const unsigned char *)pszEntry, (const unsigned char *)szInstance) == 0;
                if (bOwned || !(found.attrib & _A_SUBDIR))
                    continue;
                Path(szDir, "%s\\%s", szTwain, found.name);
                Path(szPath, "%s\\%s.ds", szDir, found.name);
                DeleteFileA(szPath);
                RemoveDirectoryA(szDir);
            } while (_findnext(hFind, &found) == 0);
            _findclose(hFind);
        }
    }
    SetupDiDestroyDeviceInfoList(hDevs);
    return 0;
}
