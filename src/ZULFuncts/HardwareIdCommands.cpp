// AddDS and RemoveDS: activate or remove the data source of every device whose
// check value contains the hardware identifier.
#include "TwainDSInstaller.h"

#include "InstallLog.h"

#include <new>

static void LogLabel(InstallLog *pLog, const char *pszLabel, const char *pszValue)
{
    pLog->WriteLabel(pszLabel);
    pLog->WriteLine(pszValue ? pszValue : "");
}

void TwainDSInstaller::AddTwainDS(bool bAdd, bool bLog)
{
    InstallLog *pLog = nullptr;
    if (bLog) {
        pLog = new (std::nothrow) InstallLog(bAdd ? "_add_ds.log" : "_remove_ds.log");
        bLog = pLog != nullptr;
    }
    if (bLog) {
        LogLabel(pLog, "Hardware Identifier:", m_pszHardwareId);
        LogLabel(pLog, "Data source prefix:", m_pszPrefix);
        LogLabel(pLog, "Check Key:", m_pszCheckKey);
        LogLabel(pLog, "Check Value:", m_pszCheckValue);
        LogLabel(pLog, "Params Key:", m_pszParamsKey);
    }

    if (TwainDirKnown(bLog, pLog)) {
        char szInstance[5] = {0};
        while (NextInstance(szInstance, sizeof szInstance, bLog, pLog)) {
            if (MatchesHardwareId(m_pDevInfoData))
                RenameInstanceDS(szInstance, bAdd, bLog, pLog);
        }
    }

    delete pLog;
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
    if (bAdd) {
        if (bLog) {
            LogLabel(pLog, "Existing File:", szFileName);
            LogLabel(pLog, "New File:", szFileNameDs);
        }
        MoveFileA(szFileName, szFileNameDs);
    } else {
        // The add case's labels with the two paths exchanged; log readers know them so.
        if (bLog) {
            LogLabel(pLog, "Existing File:", szFileNameDs);
            LogLabel(pLog, "New File:", szFileName);
        }
        DeleteFileA(szFileNameDs);
        RemoveDirectoryA(szTwainDir);
    }
}
