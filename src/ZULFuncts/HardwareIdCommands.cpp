// AddDS and RemoveDS: activate or remove the data source of every device whose
// check value contains the hardware identifier.
#include "TwainDSInstaller.h"

#include "FileHandles.h"
#include "InstallLog.h"
#include "StepRecord.h"

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

    if (m_bReady && TwainDirUsable(bLog, pLog)) {
        char szInstance[5] = {0};
        while (!m_bStopped && NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
            if (MatchesHardwareId(m_pDevInfoData))
                RunStep(szInstance, bAdd, true, bLog, pLog);
        }
    }

    DestroyCommandLog(pLog);
}

DWORD TwainDSInstaller::RenameInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog)
{
    char szTwainDir[260];
    char szFileName[260];
    char szFileNameDs[260];
    if (!BuildInstancePaths(szInstance, szTwainDir, szFileName, szFileNameDs)) {
        LogPathTooLong(szInstance, bLog, pLog);
        return ERROR_FILENAME_EXCED_RANGE;
    }
    // Held for the step; removed through this handle when RemoveDS empties it.
    HANDLE hDir = INVALID_HANDLE_VALUE;
    DWORD dwError = ERROR_SUCCESS;
    if (!OpenInstanceDir(szTwainDir, szInstance, !bAdd, &hDir, &dwError, bLog, pLog))
        return dwError;
    // The add case's labels; RemoveDS's have the two paths exchanged, which log readers know.
    if (bLog) {
        LogLabelLine(pLog, "Existing File:", bAdd ? szFileName : szFileNameDs);
        LogLabelLine(pLog, "New File:", bAdd ? szFileNameDs : szFileName);
    }
    // No file below a directory that could not be held is touched; no failure is logged.
    if (hDir == INVALID_HANDLE_VALUE && !bAdd)
        return dwError;
    // DELETE, which a rename needs as a deletion does.
    bool bLinked = false;
    // Moved aside, its DACL is kept and replaced (READ_CONTROL, WRITE_DAC).
    const DWORD dwAccess = s_pRecord && !bAdd ? DELETE | READ_CONTROL | WRITE_DAC : DELETE;
    HANDLE hFile = OpenFileExclusive(bAdd ? szFileName : szFileNameDs, dwAccess, FILE_OPEN, &bLinked);
    if (bLinked && bLog)
        LogPrintf(pLog, "Linked file: %s, left as it is", bAdd ? szFileName : szFileNameDs);
    if (hFile == INVALID_HANDLE_VALUE) {
        dwError = GetLastError();
        // No .ds to delete: RemoveDS has done its work once the directory goes.
        if (!bAdd && IsMissing(dwError) && !bLinked)
            dwError = ERROR_SUCCESS;
    } else if (!ChangeDataSource(hFile, bAdd, szFileName, szFileNameDs)) {
        dwError = GetLastError();
    }
    if (hFile != INVALID_HANDLE_VALUE)
        CloseHandle(hFile);
    // Fails, changing nothing, unless the directory is empty.
    if (hDir != INVALID_HANDLE_VALUE) {
        if (!bAdd && (!s_pRecord || RecordDirRemoval(hDir, szTwainDir)))
            DeleteByHandle(hDir);
        CloseHandle(hDir);
    }
    return dwError;
}

bool TwainDSInstaller::ChangeDataSource(HANDLE hFile, bool bAdd, const char *szFileName, const char *szFileNameDs)
{
    // Recorded, the rename is written down first, and the deleted .ds moved aside whole.
    if (!bAdd)
        return s_pRecord ? s_pRecord->MoveAside(hFile, szFileNameDs) : DeleteByHandle(hFile);
    return (!s_pRecord || s_pRecord->WillRename(szFileName, szFileNameDs)) &&
           RenameByHandle(hFile, szFileNameDs, false);
}
