// AddDS and RemoveDS: activate or remove the data source of every device whose
// check value contains the hardware identifier.
#include "TwainDSInstaller.h"

#include "FileHandles.h"
#include "InstallLog.h"

#include <string.h>

void TwainDSInstaller::AddTwainDS(bool bAdd, bool bLog)
{
    InstallLog *pLog = CreateCommandLog(bAdd, bLog);
    if (bLog) {
        LogLabelLine(pLog, "Hardware Identifier:", m_pszHardwareId);
        LogLabelLine(pLog, "Data source prefix:", m_pszPrefix);
        LogLabelLine(pLog, "Check Key:", m_pszCheckKey);
        LogLabelLine(pLog, "Check Value:", m_pszCheckValue);
        LogLabelLine(pLog, "Params Key:", m_pszParamsKey);
    }

    if (m_bReady && TwainDirReady(bAdd, bLog, pLog)) {
        char szInstance[5] = {0};
        while (!m_bStopped && NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
            if (MatchesHardwareId(m_pDevInfoData))
                RunStep(szInstance, bAdd, true, bLog, pLog);
        }
    }

    DestroyCommandLog(pLog);
}

DWORD TwainDSInstaller::RenameInstanceDS(const StepPaths &paths, bool bAdd, bool bLog, InstallLog *pLog)
{
    const char *szInstance = paths.pszDirName + strlen(m_pszPrefix);
    // Held for the step; removed through this handle when RemoveDS empties it.
    HANDLE hDir = INVALID_HANDLE_VALUE;
    DWORD dwError = ERROR_SUCCESS, dwAttributes = 0;
    if (!OpenInstanceDir(paths, szInstance, !bAdd, &hDir, &dwError, bLog, pLog, &dwAttributes))
        return dwError;
    const char *pszFrom = bAdd ? paths.szFile : paths.szDs;
    // The add case's labels; RemoveDS's have the two paths exchanged, which log readers know.
    if (bLog) {
        LogLabelLine(pLog, "Existing File:", pszFrom);
        LogLabelLine(pLog, "New File:", bAdd ? paths.szDs : paths.szFile);
    }
    // No file below a directory that could not be held is touched; no failure is logged.
    if (hDir == INVALID_HANDLE_VALUE && !bAdd)
        return dwError;
    // DELETE, which a rename needs as a deletion does.
    bool bLinked = false;
    HANDLE hFile = OpenFileExclusiveAt(hDir, NameBelow(hDir, bAdd ? paths.pszFileName : paths.pszDsName, pszFrom),
                                       bAdd ? DELETE : m_steps.RemoveRights(), FILE_OPEN, &bLinked);
    if (bLinked && bLog)
        LogPrintf(pLog, "Linked file: %s, left as it is", pszFrom);
    if (hFile == INVALID_HANDLE_VALUE) {
        dwError = GetLastError();
        // No .ds to delete: RemoveDS has done its work once the directory goes.
        if (!bAdd && IsMissing(dwError) && !bLinked)
            dwError = ERROR_SUCCESS;
    } else if (!ChangeDataSource(hFile, hDir, bAdd, paths)) {
        dwError = GetLastError();
    }
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    // Fails, changing nothing, unless the directory is empty.
    if (hDir != INVALID_HANDLE_VALUE) {
        DWORD dwAttrError = ERROR_SUCCESS, dwRemoveError = ERROR_SUCCESS;
        if (!bAdd)
            m_steps.RemoveDir(hDir, paths.szDir, dwAttributes, false, &dwAttrError, &dwRemoveError);
        CloseHandle(hDir);
    }
    return dwError;
}

bool TwainDSInstaller::ChangeDataSource(HANDLE hFile, HANDLE hDir, bool bAdd, const StepPaths &paths)
{
    // Recorded, the rename is written down first, and the deleted .ds moved aside whole.
    if (!bAdd)
        return m_steps.Remove(hFile, paths.szDs);
    return m_steps.Rename(hFile, hDir, paths.szFile, paths.szDs, paths.pszDsName);
}
