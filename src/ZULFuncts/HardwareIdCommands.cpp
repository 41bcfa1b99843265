// AddDS and RemoveDS: activate or remove the data source of every device whose
// check value contains the hardware identifier.
#include "TwainDSInstaller.h"

#include "FileHelpers.h"
#include "InstallLog.h"

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
            if (MatchesHardwareId(m_pDevInfoData)) {
                while (!RenameInstanceDS(szInstance, bAdd, bLog, pLog) && RetryStep(bAdd)) {
                }
            }
        }
    }

    DestroyCommandLog(pLog);
}

bool TwainDSInstaller::RenameInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog)
{
    char szTwainDir[260];
    char szFileName[260];
    char szFileNameDs[260];
    if (!BuildInstancePaths(szInstance, szTwainDir, szFileName, szFileNameDs)) {
        LogPathTooLong(szInstance, bLog, pLog);
        return StepFailed(szInstance, ERROR_FILENAME_EXCED_RANGE);
    }
    if (InstanceDirIsLink(szTwainDir, szInstance, bLog, pLog))
        return StepFailed(szTwainDir, ERROR_ACCESS_DENIED);
    if (bAdd) {
        if (bLog) {
            LogLabelLine(pLog, "Existing File:", szFileName);
            LogLabelLine(pLog, "New File:", szFileNameDs);
        }
        if (!MoveFileA(szFileName, szFileNameDs)) {
            // No inactive data source, or an active one already: a repair, or another product's work.
            DWORD dwError = GetLastError();
            if (FileExists(szFileNameDs) || !FileExists(szFileName))
                return true;
            return StepFailed(szFileName, dwError);
        }
    } else {
        // The add case's labels with the two paths exchanged; log readers know them so.
        if (bLog) {
            LogLabelLine(pLog, "Existing File:", szFileNameDs);
            LogLabelLine(pLog, "New File:", szFileName);
        }
        BOOL bDeleted = DeleteFileA(szFileNameDs);
        DWORD dwError = bDeleted ? ERROR_SUCCESS : GetLastError();
        RemoveDirectoryA(szTwainDir);
        if (!bDeleted)
            return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND
                       ? true
                       : StepFailed(szFileNameDs, dwError);
    }
    StepDone(szInstance);
    return true;
}
