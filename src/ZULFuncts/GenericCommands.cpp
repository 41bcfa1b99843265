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

#include <mbstring.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szMarkerValue[] = "MarelCLSID";

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

    if (m_bReady && TwainDirReady(bAdd, bLog, pLog)) {
        char szInstance[5] = {0};
        if (bAdd) {
            // The marker decides; the check value is only logged.
            while (!m_bStopped && NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
                if (HasDriverValue(m_pDevInfoData, s_szMarkerValue, bLog, pLog))
                    RunStep(szInstance, true, false, bLog, pLog);
            }
        } else {
            // Runs the search to its end, which closes it.
            while (!m_bStopped && NextTwainDir(szInstance, sizeof szInstance, bLog, pLog)) {
                if (bLog)
                    LogPrintf(pLog, "Found Twain_32 directory for Instance %s", szInstance);
                if (!InstanceExists(szInstance, bLog, pLog))
                    RunStep(szInstance, false, false, bLog, pLog);
            }
        }
    }

    DestroyCommandLog(pLog);
}

DWORD TwainDSInstaller::UpdateInstanceDS(const StepPaths &paths, bool bAdd, bool bLog, InstallLog *pLog)
{
    const char *szInstance = paths.pszDirName + strlen(m_pszPrefix);
    if (!m_bTemplateFits) {
        LogPathTooLong(szInstance, bLog, pLog);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    // Held for the whole step; MRemoveDS removes the directory through it.
    HANDLE hDir = INVALID_HANDLE_VALUE;
    DWORD dwError = ERROR_SUCCESS, dwAttributes = 0;
    if (!OpenInstanceDir(paths, szInstance, !bAdd, &hDir, &dwError, bLog, pLog, &dwAttributes))
        return dwError;
    if (bLog) {
        LogPrintf(pLog, "m_szTwainDir = %s", m_szTwainDir);
        LogPrintf(pLog, "szTwainDir = %s", paths.szDir);
        LogPrintf(pLog, "szFileName = %s", paths.szFile);
        LogPrintf(pLog, "szFileNameDs = %s", paths.szDs);
        LogPrintf(pLog, "szFileNameGenericDs = %s", m_szTemplate);
    }
    if (bAdd)
        dwError = InstallTemplate(paths, szInstance, dwError, hDir, bLog, pLog);
    else if (hDir == INVALID_HANDLE_VALUE)
        // A directory that cannot be held: nothing in it is touched, and both
        // of its steps fail with the open's error.
        LogDirRemovalFailed(dwError, dwError, bLog, pLog);
    else
        dwError = RemoveInstance(paths, hDir, dwAttributes, bLog, pLog);
    if (hDir != INVALID_HANDLE_VALUE)
        CloseHandle(hDir);
    return dwError;
}

DWORD TwainDSInstaller::HoldTemplate(bool *pbStop, bool bLog, InstallLog *pLog)
{
    *pbStop = false;
    if (m_hTemplate != INVALID_HANDLE_VALUE)
        return ERROR_SUCCESS;
    // Read through its own handle: READ_CONTROL for its check.
    bool bLinked = false;
    HANDLE h = OpenFileExclusiveAt(m_hTwainDir, NameBelow(m_hTwainDir, s_szTemplateName, m_szTemplate),
                                   FILE_READ_DATA | READ_CONTROL, FILE_OPEN, &bLinked, nullptr, &m_infoTemplate);
    DWORD dwError = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    const char *pszWhy = nullptr;
    *pbStop = true;
    if (bLinked) {
        if (bLog)
            LogPrintf(pLog, "Linked file: %s, left as it is", m_szTemplate);
    } else if (IsMissing(dwError)) {
        if (bLog)
            LogPrintf(pLog, "Failed to find szFileNameGenericDs = %s", m_szTemplate);
    } else if (h != INVALID_HANDLE_VALUE && !OnlyTrustedMayChange(h, &pszWhy)) {
        if (bLog)
            LogPrintf(pLog, "%s: %s, no data source changed", pszWhy, m_szTemplate);
        CloseHandle(h);
        dwError = ERROR_ACCESS_DENIED;
    } else {
        // Any other failure of the open is the copy's (a sharing violation).
        *pbStop = false;
        m_hTemplate = h;
    }
    return dwError;
}

DWORD TwainDSInstaller::MakeInstanceDir(const StepPaths &paths, const char *szInstance, DWORD dwDirError, HANDLE &hDir,
                                        bool bLog, InstallLog *pLog)
{
    // A name in the directory's place is no directory, and is not made again.
    if (IsMissing(dwDirError)) {
        bool bRecordFailed = false;
        DWORD dwError = m_steps.MakeDir(m_hTwainDir, paths.pszDirName, paths.szDir, &hDir, &bRecordFailed);
        if (bRecordFailed)
            return dwError;
        // Made new in the held twain_32, whose check covered what it passes
        // on: no link, ours, and no entry for others but those checked there.
        if (dwError == ERROR_SUCCESS)
            return ERROR_SUCCESS;
        if (bLog)
            LogErrno(pLog, CrtErrno(dwError), "_mkdir fail to create %s", paths.szDir);
    }
    DWORD dwError = ERROR_SUCCESS;
    return OpenInstanceDir(paths, szInstance, false, &hDir, &dwError, bLog, pLog) ? ERROR_SUCCESS : dwError;
}

DWORD TwainDSInstaller::InstallTemplate(const StepPaths &paths, const char *szInstance, DWORD dwDirError, HANDLE &hDir,
                                        bool bLog, InstallLog *pLog)
{
    // An extension-less data source an earlier step left goes first.
    if (hDir != INVALID_HANDLE_VALUE)
        m_steps.RemoveFileLogged(hDir, paths.pszFileName, paths.szFile, true, bLog, pLog);
    bool bStop = false;
    DWORD dwError = HoldTemplate(&bStop, bLog, pLog);
    if (bStop)
        return dwError;
    if (hDir == INVALID_HANDLE_VALUE) {
        DWORD dwMakeError = MakeInstanceDir(paths, szInstance, dwDirError, hDir, bLog, pLog);
        if (dwMakeError != ERROR_SUCCESS)
            return dwMakeError;
    }
    bool bLinked = false;
    if (m_hTemplate != INVALID_HANDLE_VALUE)
        dwError = m_steps.CopyInto(m_hTemplate, m_infoTemplate, hDir, paths.pszDsName, paths.szDs, &bLinked);
    if (bLinked) {
        if (bLog)
            LogPrintf(pLog, "Linked file: %s, left as it is", paths.szDs);
    } else if (dwError == ERROR_SUCCESS) {
        if (bLog) {
            LogPrintf(pLog, "CopyFile succeeded on %s", m_szTemplate);
            LogPrintf(pLog, "Copied to %s", paths.szDs);
        }
    } else if (bLog) {
        LogLastError(pLog, dwError, "CopyFile failed");
    }
    return dwError;
}

DWORD TwainDSInstaller::RemoveInstance(const StepPaths &paths, HANDLE hDir, DWORD dwAttributes, bool bLog,
                                       InstallLog *pLog)
{
    DWORD dwError = m_steps.RemoveFileLogged(hDir, paths.pszFileName, paths.szFile, true, bLog, pLog);
    DWORD dwDsError = m_steps.RemoveFileLogged(hDir, paths.pszDsName, paths.szDs, true, bLog, pLog);
    if (dwDsError != ERROR_SUCCESS)
        dwError = dwDsError;
    // Goes when the handle closes; fails, changing nothing, unless it is empty.
    DWORD dwAttrError = ERROR_SUCCESS, dwRemoveError = ERROR_SUCCESS;
    DWORD dwRecordError = m_steps.RemoveDir(hDir, paths.szDir, dwAttributes, true, &dwAttrError, &dwRemoveError);
    if (dwRecordError != ERROR_SUCCESS)
        return dwRecordError;
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

bool TwainDSInstaller::NextTwainDir(char *szInstance, size_t cbInstance, bool bLog, InstallLog *pLog)
{
    if (!m_listing.IsOpen()) {
        if (m_bTwainDirTooLong || m_szTwainDir[0] == '\0')
            return false;
        // Nothing to list is nothing to sweep; a listing refused is said.
        if (!m_listing.Open(m_szTwainDir)) {
            if (GetLastError() == ERROR_SHARING_VIOLATION && bLog)
                LogPrintf(pLog, "Held by another process: %s, no data source changed", m_szTwainDir);
            return false;
        }
    }
    size_t cchPrefix = strlen(m_pszPrefix);
    char szName[260];
    DWORD dwAttributes = 0;
    while (m_listing.Next(szName, sizeof szName, &dwAttributes)) {
        // Only an entry whose whole suffix fits is handed out, and only when
        // its name begins with the prefix: a cut or shifted suffix would name
        // another instance. Nor is an entry whose name Windows reads as
        // another one, or a link, whose removal would be done where it leads,
        // or what is not a directory.
        bool bUsable = strlen(szName) >= cchPrefix &&
                       _mbsnbicmp(reinterpret_cast<const unsigned char *>(szName),
                                  reinterpret_cast<const unsigned char *>(m_pszPrefix), cchPrefix) == 0 &&
                       strlen(szName + cchPrefix) < cbInstance && IsUsableInstance(m_pszPrefix, szName + cchPrefix) &&
                       !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (bUsable) {
            memcpy(szInstance, szName + cchPrefix, strlen(szName + cchPrefix) + 1);
            return true;
        }
    }
    if (GetLastError() == ERROR_SHARING_VIOLATION && bLog)
        LogPrintf(pLog, "Held by another process: %s, no data source changed", m_szTwainDir);
    m_listing.Close();
    return false;
}

bool TwainDSInstaller::InstanceExists(const char *szInstance, bool bLog, InstallLog *pLog)
{
    char *pszDevice = static_cast<char *>(malloc(260));
    if (!pszDevice) {
        // Whether a device has it cannot be told: it stays, and the command ends.
        AllocationFailed(m_run);
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
