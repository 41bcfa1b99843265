#include "FileHelpers.h"

#include "InstallLog.h"

#include <windows.h>

#include <errno.h>
#include <stdio.h>

bool FileExists(const char *pszPath)
{
    WIN32_FIND_DATAA findData;
    HANDLE hFind = FindFirstFileA(pszPath, &findData);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    FindClose(hFind);
    return true;
}

bool IsReparsePoint(const char *pszPath)
{
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void RemoveFileLogged(const char *pszPath, bool bLog, InstallLog *pLog)
{
    if (!SetFileAttributesA(pszPath, FILE_ATTRIBUTE_NORMAL) && bLog) {
        DWORD dwError = GetLastError();
        LogPrintf(pLog, "SetFileAttributes failed on %s", pszPath);
        LogPrintf(pLog, "GetLastError returned %d", static_cast<int>(dwError));
    }
    if (remove(pszPath) != 0) {
        if (bLog) {
            int err = errno;
            LogPrintf(pLog, "_tremove failed on %s", pszPath);
            LogPrintf(pLog, "errno = %d", err);
        }
    } else if (bLog) {
        LogPrintf(pLog, "_tremove succefully removed %s", pszPath);
    }
}
