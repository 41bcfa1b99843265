// Construction, the TWAIN directory and the path layout of a data source.
#include "TwainDSInstaller.h"

#include "AllocationFailed.h"
#include "BoundedString.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "NameRules.h"
#include "StepRecord.h"

#include <stdlib.h>
#include <string.h>

#include <new>

char TwainDSInstaller::m_szTwainDir[260];
bool TwainDSInstaller::m_bTwainDirTooLong = false;
const StepObserver *TwainDSInstaller::s_pObserver = nullptr;
StepRecord *TwainDSInstaller::s_pRecord = nullptr;

TwainDSInstaller::TwainDSInstaller(const char *pszHardwareId, const char *pszPrefix, const char *pszCheckKey,
                                   const char *pszCheckValue, const char *pszParamsKey)
    : m_pszParamsKey(pszParamsKey), m_pszCheckValue(pszCheckValue), m_pszCheckKey(pszCheckKey),
      m_pszHardwareId(nullptr), m_pszPrefix(pszPrefix), m_bReady(true)
{
    // The probe folds the identifier's case in place: it works on a copy of its own.
    if (pszHardwareId) {
        size_t cb = strlen(pszHardwareId) + 1;
        m_pszHardwareId = static_cast<char *>(malloc(cb));
        if (m_pszHardwareId) {
            memcpy(m_pszHardwareId, pszHardwareId, cb);
        } else {
            m_bReady = false;
            AllocationFailed();
        }
    }
    Init();
}

TwainDSInstaller::TwainDSInstaller(const char *pszPrefix, const char *pszCheckKey, const char *pszCheckValue)
    : m_pszParamsKey(nullptr), m_pszCheckValue(pszCheckValue), m_pszCheckKey(pszCheckKey), m_pszHardwareId(nullptr),
      m_pszPrefix(pszPrefix), m_bReady(true)
{
    Init();
}

bool TwainDSInstaller::FindTwainDir()
{
    m_bTwainDirTooLong = false;
    UINT cch = GetWindowsDirectoryA(m_szTwainDir, sizeof m_szTwainDir);
    if (cch == 0) {
        m_szTwainDir[0] = '\0';
    } else if (cch >= sizeof m_szTwainDir) {
        m_szTwainDir[0] = '\0';
        m_bTwainDirTooLong = true;
    } else {
        bool bFits = true;
        if (m_szTwainDir[cch - 1] != '\\')
            bFits = BoundedAppend(m_szTwainDir, sizeof m_szTwainDir, "\\");
        if (!bFits || !BoundedAppend(m_szTwainDir, sizeof m_szTwainDir, "twain_32")) {
            m_szTwainDir[0] = '\0';
            m_bTwainDirTooLong = true;
        }
    }
    return m_szTwainDir[0] != '\0';
}

void TwainDSInstaller::Init()
{
    m_bStopped = false;
    FindTwainDir();

    m_pDevInfoData = static_cast<PSP_DEVINFO_DATA>(malloc(sizeof(SP_DEVINFO_DATA)));
    if (m_pDevInfoData) {
        m_pDevInfoData->cbSize = sizeof(SP_DEVINFO_DATA);
    } else {
        m_bReady = false;
        AllocationFailed();
    }
    m_hFind = -1;
    memset(&m_findData, 0, sizeof m_findData);
    m_bFindDone = false;
    m_hTwainDir = INVALID_HANDLE_VALUE;
}

TwainDSInstaller::~TwainDSInstaller()
{
    // A search the observer stopped is still open.
    if (m_hFind != -1 && !m_bFindDone)
        _findclose(m_hFind);
    if (m_hTwainDir != INVALID_HANDLE_VALUE)
        CloseHandle(m_hTwainDir);
    free(m_pszHardwareId);
    free(m_pDevInfoData);
}

bool TwainDSInstaller::NextInstance(char *szInstance, size_t cbInstance, bool bLog, InstallLog *pLog)
{
    while (m_enum.EnumImagingDevices(m_pDevInfoData, bLog, pLog)) {
        if (!m_enum.GetDriverInstance(m_pDevInfoData, szInstance, cbInstance, bLog, pLog))
            continue;
        if (IsUsableInstance(m_pszPrefix, szInstance))
            return true;
        // Windows would read the instance's name as another one: which entry
        // the device owns cannot be told, so it counts as unreadable.
        m_enum.m_bIncomplete = true;
    }
    return false;
}

bool TwainDSInstaller::BuildInstancePaths(const char *szInstance, char *szTwainDir, char *szFileName,
                                          char *szFileNameDs)
{
    const size_t cb = 260;
    if (m_bTwainDirTooLong)
        return false;
    return BoundedCopy(szTwainDir, cb, m_szTwainDir) && BoundedAppend(szTwainDir, cb, "\\") &&
           BoundedAppend(szTwainDir, cb, m_pszPrefix) && BoundedAppend(szTwainDir, cb, szInstance) &&
           BoundedCopy(szFileName, cb, szTwainDir) && BoundedAppend(szFileName, cb, "\\") &&
           BoundedAppend(szFileName, cb, m_pszPrefix) && BoundedAppend(szFileName, cb, szInstance) &&
           BoundedCopy(szFileNameDs, cb, szFileName) && BoundedAppend(szFileNameDs, cb, ".ds");
}

void TwainDSInstaller::LogPathTooLong(const char *szInstance, bool bLog, InstallLog *pLog)
{
    if (bLog)
        LogPrintf(pLog, "Path too long, instance %s skipped", szInstance);
}

bool TwainDSInstaller::OpenInstanceDir(const char *szTwainDir, const char *szInstance, bool bRemove, HANDLE *phDir,
                                       DWORD *pdwError, bool bLog, InstallLog *pLog)
{
    *pdwError = ERROR_SUCCESS;
    const char *pszWhy = nullptr;
    switch (OpenTrustedDirectory(szTwainDir, bRemove, phDir, &pszWhy)) {
    case DIR_TRUSTED:
        return true;
    case DIR_UNOPENED:
        *pdwError = GetLastError();
        // Nothing to hold: no directory (a file in its place fails the step later).
        if (bRemove || IsMissing(*pdwError) || *pdwError == ERROR_DIRECTORY)
            return true;
        pszWhy = "Security unreadable";
        break;
    case DIR_REPARSE_POINT:
        if (bLog)
            LogPrintf(pLog, "Reparse point, instance %s skipped", szInstance);
        break;
    case DIR_UNTRUSTED:
        break;
    }
    if (pszWhy && bLog)
        LogPrintf(pLog, "%s: %s, no data source changed", pszWhy, szTwainDir);
    *pdwError = ERROR_ACCESS_DENIED;
    return false;
}

bool TwainDSInstaller::TwainDirUsable(bool bLog, InstallLog *pLog)
{
    // Without the Windows directory every path would lie at the root of the drive.
    if (m_szTwainDir[0] == '\0' && !m_bTwainDirTooLong) {
        if (bLog)
            LogPrintf(pLog, "GetWindowsDirectory failed, no data source changed");
        return false;
    }
    if (m_bTwainDirTooLong)
        return true; // every step says its path is too long
    // Whoever may change entries of the directory could swap one for a link
    // between a check and the act that follows it. Held until the command
    // ends, it can be neither renamed nor deleted.
    const char *pszWhy = nullptr;
    switch (OpenTrustedDirectory(m_szTwainDir, false, &m_hTwainDir, &pszWhy)) {
    case DIR_TRUSTED:
        return true;
    case DIR_UNOPENED:
        // A missing twain_32 is no danger: the commands find nothing.
        if (IsMissing(GetLastError()))
            return true;
        pszWhy = "Security unreadable";
        break;
    case DIR_REPARSE_POINT:
        if (bLog)
            LogPrintf(pLog, "Reparse point at %s, no data source changed", m_szTwainDir);
        return false;
    case DIR_UNTRUSTED:
        break;
    }
    if (bLog)
        LogPrintf(pLog, "%s: %s, no data source changed", pszWhy, m_szTwainDir);
    return false;
}

InstallLog *TwainDSInstaller::CreateCommandLog(bool bAdd, bool &bLog)
{
    // The installer's log hears every line, whatever the flag says of the file.
    bool bFile = bLog;
    if (!bFile && !InstallLog::HasLineSink())
        return nullptr;
    // From the C runtime, constructed in place: no C++ runtime library in the exe.
    void *pv = malloc(sizeof(InstallLog));
    bLog = pv != nullptr;
    if (!pv)
        return nullptr;
    return new (pv) InstallLog(bAdd ? "_add_ds.log" : "_remove_ds.log", bFile);
}

void TwainDSInstaller::DestroyCommandLog(InstallLog *pLog)
{
    if (!pLog)
        return;
    pLog->~InstallLog();
    free(pLog);
}

void TwainDSInstaller::LogLabelLine(InstallLog *pLog, const char *pszLabel, const char *pszValue)
{
    pLog->WriteLabel(pszLabel);
    pLog->WriteLine(pszValue ? pszValue : "");
}

bool TwainDSInstaller::RetryStep(const char *szInstance, bool bAdd, DWORD dwError)
{
    if (!s_pObserver)
        return false;
    // The message names the data source the step is for.
    char szTwainDir[260];
    char szFileName[260];
    char szFileNameDs[260];
    if (!BuildInstancePaths(szInstance, szTwainDir, szFileName, szFileNameDs))
        szFileNameDs[0] = '\0';
    StepAnswer answer = s_pObserver->pfnFailed(s_pObserver->pvContext, bAdd, szFileNameDs, dwError);
    if (answer == STEP_STOP)
        m_bStopped = true;
    return answer == STEP_RETRY;
}

void TwainDSInstaller::StepDone(const char *szInstance)
{
    if (!s_pObserver)
        return;
    char szDirName[260];
    if (BoundedCopy(szDirName, sizeof szDirName, m_pszPrefix) &&
        BoundedAppend(szDirName, sizeof szDirName, szInstance) &&
        !s_pObserver->pfnDone(s_pObserver->pvContext, szDirName))
        m_bStopped = true;
}

void TwainDSInstaller::RunStep(const char *szInstance, bool bAdd, bool bRename, bool bLog, InstallLog *pLog)
{
    for (;;) {
        DWORD dwError =
            bRename ? RenameInstanceDS(szInstance, bAdd, bLog, pLog) : UpdateInstanceDS(szInstance, bAdd, bLog, pLog);
        if (dwError == ERROR_SUCCESS) {
            StepDone(szInstance);
            return;
        }
        // AddDS finding no inactive data source, or the .ds there already: a
        // repair, or another product's work.
        if (bRename && bAdd && (IsMissing(dwError) || dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS))
            return;
        if (!RetryStep(szInstance, bAdd, dwError))
            return;
    }
}

bool TwainDSInstaller::RecordDirRemoval(HANDLE hDir, const char *szTwainDir)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(hDir, &info) && s_pRecord->WillRemoveDir(szTwainDir, info.dwFileAttributes);
}
