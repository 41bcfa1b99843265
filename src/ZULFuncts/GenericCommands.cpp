// MAddDS and MRemoveDS: install the generic data-source template for every
// marked device, and sweep the TWAIN directory for instances no device has.
#include "TwainDSInstaller.h"

#include "AllocationFailed.h"
#include "BoundedString.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "NameRules.h"
#include "StepRecord.h"

#include <direct.h>
#include <errno.h>
#include <mbstring.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szMarkerValue[] = "MarelCLSID";
const char s_szTemplateName[] = "qrvgnds2.tmp";

} // namespace

void TwainDSInstaller::MAddTwainDS(bool bAdd, bool bLog)
{
    InstallLog *pLog = CreateCommandLog(bAdd, bLog);
    if (bLog) {
        LogPrintf(pLog, "In function MAddTwainDS");
        LogPrintf(pLog, "bAdd = %d", bAdd ? 1 : 0);
        LogLabelLine(pLog, "Data source prefix:", m_pszPrefix);
        LogLabelLine(pLog, "Check Key:", m_pszCheckKey);
        LogLabelLine(pLog, "Check Value:", m_pszCheckValue);
    }

    if (m_bReady && TwainDirUsable(bLog, pLog)) {
        char szInstance[5] = {0};
        if (bAdd) {
            // The marker decides; the check value is only logged.
            while (!m_bStopped && NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
                if (HasDriverValue(m_pDevInfoData, s_szMarkerValue, bLog, pLog))
                    RunStep(szInstance, true, false, bLog, pLog);
            }
        } else {
            // Runs the search to its end, which closes it.
            while (!m_bStopped && NextTwainDir(szInstance, sizeof szInstance)) {
                if (bLog)
                    LogPrintf(pLog, "Found Twain_32 directory for Instance %s", szInstance);
                if (!InstanceExists(szInstance, bLog, pLog))
                    RunStep(szInstance, false, false, bLog, pLog);
            }
        }
    }

    DestroyCommandLog(pLog);
}

DWORD TwainDSInstaller::UpdateInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog)
{
    char szTwainDir[260];
    char szFileName[260];
    char szFileNameDs[260];
    char szFileNameGenericDs[260];
    if (!BuildInstancePaths(szInstance, szTwainDir, szFileName, szFileNameDs) ||
        !BoundedCopy(szFileNameGenericDs, sizeof szFileNameGenericDs, m_szTwainDir) ||
        !BoundedAppend(szFileNameGenericDs, sizeof szFileNameGenericDs, "\\") ||
        !BoundedAppend(szFileNameGenericDs, sizeof szFileNameGenericDs, s_szTemplateName)) {
        LogPathTooLong(szInstance, bLog, pLog);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    // Held for the whole step; MRemoveDS removes the directory through it.
    HANDLE hDir = INVALID_HANDLE_VALUE;
    DWORD dwError = ERROR_SUCCESS;
    if (!OpenInstanceDir(szTwainDir, szInstance, !bAdd, &hDir, &dwError, bLog, pLog))
        return dwError;
    if (bLog) {
        LogPrintf(pLog, "m_szTwainDir = %s", m_szTwainDir);
        LogPrintf(pLog, "szTwainDir = %s", szTwainDir);
        LogPrintf(pLog, "szFileName = %s", szFileName);
        LogPrintf(pLog, "szFileNameDs = %s", szFileNameDs);
        LogPrintf(pLog, "szFileNameGenericDs = %s", szFileNameGenericDs);
    }
    if (bAdd)
        dwError =
            InstallTemplate(szInstance, szTwainDir, szFileName, szFileNameDs, szFileNameGenericDs, hDir, bLog, pLog);
    else if (hDir == INVALID_HANDLE_VALUE)
        // A directory that cannot be held: nothing in it is touched, and both
        // of its steps fail with the open's error.
        LogDirRemovalFailed(dwError, dwError, bLog, pLog);
    else
        dwError = RemoveInstance(szTwainDir, szFileName, szFileNameDs, hDir, bLog, pLog);
    if (hDir != INVALID_HANDLE_VALUE)
        CloseHandle(hDir);
    return dwError;
}

DWORD TwainDSInstaller::InstallTemplate(const char *szInstance, const char *szTwainDir, const char *szFileName,
                                        const char *szFileNameDs, const char *szFileNameGenericDs, HANDLE &hDir,
                                        bool bLog, InstallLog *pLog)
{
    // An extension-less data source an earlier step left goes first.
    if (FileExists(szFileName))
        RemoveFileLogged(szFileName, bLog, pLog, false, s_pRecord);

    // The template, read through its own handle: READ_CONTROL for its check.
    bool bLinked = false;
    const char *pszWhy = nullptr;
    HANDLE hTemplate = OpenFileExclusive(szFileNameGenericDs, FILE_READ_DATA | READ_CONTROL, FILE_OPEN, &bLinked);
    DWORD dwError = hTemplate == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (bLinked) {
        if (bLog)
            LogPrintf(pLog, "Linked file: %s, left as it is", szFileNameGenericDs);
        return dwError;
    }
    if (IsMissing(dwError)) {
        if (bLog)
            LogPrintf(pLog, "Failed to find szFileNameGenericDs = %s", szFileNameGenericDs);
        return dwError;
    }
    if (hTemplate != INVALID_HANDLE_VALUE && !OnlyTrustedMayChange(hTemplate, &pszWhy)) {
        if (bLog)
            LogPrintf(pLog, "%s: %s, no data source changed", pszWhy, szFileNameGenericDs);
        CloseHandle(hTemplate);
        return ERROR_ACCESS_DENIED;
    }
    // Any other failure of the template's open is the copy's (a sharing violation).

    if (hDir == INVALID_HANDLE_VALUE) {
        if (!FileExists(szTwainDir)) {
            if (s_pRecord && !s_pRecord->WillCreate(szTwainDir, true)) {
                dwError = GetLastError();
                if (hTemplate != INVALID_HANDLE_VALUE)
                    CloseHandle(hTemplate);
                return dwError;
            }
            if (_mkdir(szTwainDir) != 0 && bLog)
                LogErrno(pLog, errno, "_mkdir fail to create %s", szTwainDir);
        }
        DWORD dwDirError = ERROR_SUCCESS;
        if (!OpenInstanceDir(szTwainDir, szInstance, false, &hDir, &dwDirError, bLog, pLog)) {
            if (hTemplate != INVALID_HANDLE_VALUE)
                CloseHandle(hTemplate);
            return dwDirError;
        }
    }
    // The .ds, opened before anything is written: FILE_WRITE_DATA, and
    // FILE_WRITE_ATTRIBUTES for the template's attributes; DELETE for a .ds
    // that a failed copy made or left half written, which goes as CopyFile's would.
    HANDLE hDs = INVALID_HANDLE_VALUE;
    bool bNew = false, bWritten = false;
    // Recorded, the .ds there is moved aside whole and a new one made, so
    // that a rollback can put the old one back as it was.
    if (hTemplate != INVALID_HANDLE_VALUE && s_pRecord) {
        HANDLE hOld = OpenFileExclusive(szFileNameDs, DELETE | READ_CONTROL | WRITE_DAC, FILE_OPEN, &bLinked);
        dwError = hOld == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (hOld != INVALID_HANDLE_VALUE) {
            if (!s_pRecord->MoveAside(hOld, szFileNameDs))
                dwError = GetLastError();
            CloseHandle(hOld);
        } else if (IsMissing(dwError)) {
            dwError = ERROR_SUCCESS;
        }
        if (dwError == ERROR_SUCCESS && !s_pRecord->WillCreate(szFileNameDs, false))
            dwError = GetLastError();
    }
    if (hTemplate != INVALID_HANDLE_VALUE && dwError == ERROR_SUCCESS && !bLinked) {
        hDs = OpenFileExclusive(szFileNameDs, FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | DELETE, FILE_OPEN_IF, &bLinked,
                                &bNew);
        dwError = hDs == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    }
    if (bLinked) {
        if (bLog)
            LogPrintf(pLog, "Linked file: %s, left as it is", szFileNameDs);
    } else if (hDs != INVALID_HANDLE_VALUE && CopyByHandle(hTemplate, hDs, &bWritten)) {
        if (bLog) {
            LogPrintf(pLog, "CopyFile succeeded on %s", szFileNameGenericDs);
            LogPrintf(pLog, "Copied to %s", szFileNameDs);
        }
    } else {
        if (hDs != INVALID_HANDLE_VALUE) {
            dwError = GetLastError();
            if (bNew || bWritten)
                DeleteByHandle(hDs);
        }
        if (bLog)
            LogLastError(pLog, dwError, "CopyFile failed");
    }
    if (hDs != INVALID_HANDLE_VALUE)
        CloseHandle(hDs);
    if (hTemplate != INVALID_HANDLE_VALUE)
        CloseHandle(hTemplate);
    return dwError;
}

DWORD TwainDSInstaller::RemoveInstance(const char *szTwainDir, const char *szFileName, const char *szFileNameDs,
                                       HANDLE hDir, bool bLog, InstallLog *pLog)
{
    DWORD dwError = RemoveFileLogged(szFileName, bLog, pLog, true, s_pRecord);
    DWORD dwDsError = RemoveFileLogged(szFileNameDs, bLog, pLog, true, s_pRecord);
    if (dwDsError != ERROR_SUCCESS)
        dwError = dwDsError;
    // Goes when the handle closes; fails, changing nothing, unless it is empty.
    if (s_pRecord && !RecordDirRemoval(hDir, szTwainDir))
        return GetLastError();
    DWORD dwAttrError = SetAttributesByHandle(hDir, FILE_ATTRIBUTE_NORMAL) ? ERROR_SUCCESS : GetLastError();
    DWORD dwRemoveError = DeleteByHandle(hDir) ? ERROR_SUCCESS : GetLastError();
    LogDirRemovalFailed(dwAttrError, dwRemoveError, bLog, pLog);
    return dwError;
}

void TwainDSInstaller::LogDirRemovalFailed(DWORD dwAttrError, DWORD dwRemoveError, bool bLog, InstallLog *pLog)
{
    if (!bLog)
        return;
    if (dwAttrError != ERROR_SUCCESS)
        LogPrintf(pLog, "SetFileAttributes failed, GetLastError returned %d", static_cast<int>(dwAttrError));
    if (dwRemoveError != ERROR_SUCCESS)
        LogPrintf(pLog, "_trmdir failed, errno = %d", CrtErrno(dwRemoveError));
}

bool TwainDSInstaller::NextTwainDir(char *szInstance, size_t cbInstance)
{
    size_t cchPrefix = strlen(m_pszPrefix);
    for (;;) {
        if (m_bFindDone) {
            m_hFind = -1;
            m_bFindDone = false;
            return false;
        }
        if (m_hFind == -1) {
            char *pszPattern = static_cast<char *>(malloc(260));
            if (!pszPattern)
                return false;
            bool bFits = !m_bTwainDirTooLong && BoundedCopy(pszPattern, 260, m_szTwainDir) &&
                         BoundedAppend(pszPattern, 260, "\\") && BoundedAppend(pszPattern, 260, m_pszPrefix) &&
                         BoundedAppend(pszPattern, 260, "*");
            if (bFits)
                m_hFind = _findfirst(pszPattern, &m_findData);
            free(pszPattern);
            if (m_hFind == -1)
                return false;
        }

        // Only an entry whose whole suffix fits is handed out, and only when the
        // name really begins with the prefix (the search also matches short
        // names): a cut or shifted suffix would name another instance. Nor is
        // an entry whose name Windows reads as another one, or a link, whose
        // removal would be done where it leads, or what is not a directory.
        const char *pszName = m_findData.name;
        bool bUsable = strlen(pszName) >= cchPrefix &&
                       _mbsnbicmp(reinterpret_cast<const unsigned char *>(pszName),
                                  reinterpret_cast<const unsigned char *>(m_pszPrefix), cchPrefix) == 0 &&
                       strlen(pszName + cchPrefix) < cbInstance && IsUsableInstance(m_pszPrefix, pszName + cchPrefix) &&
                       !(m_findData.attrib & FILE_ATTRIBUTE_REPARSE_POINT) && (m_findData.attrib & _A_SUBDIR);
        if (bUsable)
            memcpy(szInstance, pszName + cchPrefix, strlen(pszName + cchPrefix) + 1);

        if (_findnext(m_hFind, &m_findData) != 0) {
            _findclose(m_hFind);
            m_bFindDone = true;
        }
        if (bUsable)
            return true;
    }
}

bool TwainDSInstaller::InstanceExists(const char *szInstance, bool bLog, InstallLog *pLog)
{
    char *pszDevice = static_cast<char *>(malloc(260));
    if (!pszDevice) {
        // Whether a device has it cannot be told: it stays, and the command ends.
        AllocationFailed();
        m_bStopped = true;
        return true;
    }
    // Every search considers every device, whatever an earlier one left the cursor at.
    m_enum.m_idx = 0;
    bool bExists = false;
    while (NextInstance(pszDevice, 260, bLog, pLog)) {
        if (_mbsicmp(reinterpret_cast<const unsigned char *>(szInstance),
                     reinterpret_cast<const unsigned char *>(pszDevice)) == 0) {
            if (bLog)
                LogPrintf(pLog, "%s exists", szInstance);
            bExists = true;
            break;
        }
    }
    free(pszDevice);
    // A device the walk could not read may own the instance: its data source stays.
    return bExists || m_enum.m_bIncomplete;
}
