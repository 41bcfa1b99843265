// AddDS and RemoveDS: activate or remove the data source of every device whose
// check value contains the hardware identifier.
#include "TwainDSInstaller.h"

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

    if (TwainDirUsable(bLog, pLog)) {
        char szInstance[5] = {0};
        while (NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
            if (MatchesHardwareId(m_pDevInfoData))
                RenameInstanceDS(szInstance, bAdd, bLog, pLog);
        }
    }

    DestroyCommandLog(pLog);
}

void TwainDSInstaller::RenameInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog)
{
    char szTwainDir[260];
    char szFileName[260];
    char szFileNameDs[260];
    if (!BuildInstancePaths(szInstance, szTwainDir, szFileName, szFileNameDs)) {
        LogPathTooLong(szInstance, bLog, pLog);
        return;
    }
    if (InstanceDirIsLink(szTwainDir, szInstance, bLog, pLog))
        return;
    if (bAdd) {
        if (bLog) {
            LogLabelLine(pLog, "Existing File:", szFileName);
            LogLabelLine(pLog, "New File:", szFileNameDs);
        }
        MoveFileA(szFileName, szFileNameDs);
    } else {
        // The add case's labels with the two paths exchanged; log readers know them so.
        if (bLog) {
            LogLabelLine(pLog, "Existing File:", szFileNameDs);
            LogLabelLine(pLog, "New File:", szFileName);
        }
        DeleteFileA(szFileNameDs);
        RemoveDirectoryA(szTwainDir);
    }
}
