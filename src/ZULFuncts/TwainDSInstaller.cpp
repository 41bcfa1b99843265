// Construction, the TWAIN directory and the path layout of a data source.
#include "TwainDSInstaller.h"

#include "AllocationFailed.h"
#include "BoundedString.h"
#include "FileHandles.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "NameRules.h"

#include <stdlib.h>
#include <string.h>

#include <new>

const char TwainDSInstaller::s_szTemplateName[] = "qrvgnds2.tmp";

TwainDSInstaller::TwainDSInstaller(const char *pszHardwareId, const char *pszPrefix, const char *pszCheckKey,
                                   const char *pszCheckValue, const char *pszParamsKey, RunContext *pRun)
    : m_run(pRun ? *pRun : m_ownRun), m_szTwainDir(), m_steps(m_run.pRecord), m_pszParamsKey(pszParamsKey),
      m_pszCheckValue(pszCheckValue), m_pszCheckKey(pszCheckKey), m_pszHardwareId(nullptr), m_pszPrefix(pszPrefix),
      m_bReady(true)
{
    // The probe folds the identifier's case in place: it works on a copy of its own.
    if (pszHardwareId) {
        size_t cb = strlen(pszHardwareId) + 1;
        m_pszHardwareId = static_cast<char *>(malloc(cb));
        if (m_pszHardwareId) {
            memcpy(m_pszHardwareId, pszHardwareId, cb);
        } else {
            m_bReady = false;
            AllocationFailed(m_run);
        }
    }
    Init();
}

TwainDSInstaller::TwainDSInstaller(const char *pszPrefix, const char *pszCheckKey, const char *pszCheckValue,
                                   RunContext *pRun)
    : m_run(pRun ? *pRun : m_ownRun), m_szTwainDir(), m_steps(m_run.pRecord), m_pszParamsKey(nullptr),
      m_pszCheckValue(pszCheckValue), m_pszCheckKey(pszCheckKey), m_pszHardwareId(nullptr), m_pszPrefix(pszPrefix),
      m_bReady(true)
{
    Init();
}

void TwainDSInstaller::Init()
{
    m_bStopped = false;
    WindowsPath(m_szTwainDir, &m_bTwainDirTooLong, m_run.pszTwainName);
    m_bTemplateFits = !m_bTwainDirTooLong && BoundedCopy(m_szTemplate, sizeof m_szTemplate, m_szTwainDir) &&
                      BoundedAppend(m_szTemplate, sizeof m_szTemplate, "\\") &&
                      BoundedAppend(m_szTemplate, sizeof m_szTemplate, s_szTemplateName);

    m_pDevInfoData = static_cast<PSP_DEVINFO_DATA>(malloc(sizeof(SP_DEVINFO_DATA)));
    if (m_pDevInfoData) {
        m_pDevInfoData->cbSize = sizeof(SP_DEVINFO_DATA);
    } else {
        m_bReady = false;
        AllocationFailed(m_run);
    }
    m_hTwainDir = INVALID_HANDLE_VALUE;
    m_hTemplate = INVALID_HANDLE_VALUE;
    memset(&m_infoTemplate, 0, sizeof m_infoTemplate);
}

TwainDSInstaller::~TwainDSInstaller()
{
    if (m_hTemplate != INVALID_HANDLE_VALUE)
        CloseHandle(m_hTemplate);
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

void TwainDSInstaller::LogPathTooLong(const char *szInstance, bool bLog, InstallLog *pLog)
{
    if (bLog)
        LogPrintf(pLog, "Path too long, instance %s skipped", szInstance);
}

bool TwainDSInstaller::OpenInstanceDir(const StepPaths &paths, const char *szInstance, bool bRemove, HANDLE *phDir,
                                       DWORD *pdwError, bool bLog, InstallLog *pLog, DWORD *pdwAttributes)
{
    *pdwError = ERROR_SUCCESS;
    const char *pszWhy = nullptr;
    DirCheck check = OpenTrustedDirectory(NameBelow(m_hTwainDir, paths.pszDirName, paths.szDir), bRemove, phDir,
                                          &pszWhy, m_hTwainDir, pdwAttributes);
    if (check == DIR_TRUSTED)
        return true;
    if (check == DIR_UNOPENED) {
        *pdwError = GetLastError();
        // Nothing to hold: no directory (a file in its place fails the step later).
        if (bRemove || IsMissing(*pdwError) || *pdwError == ERROR_DIRECTORY)
            return true;
    }
    LogDirRefused(check, pszWhy, paths.szDir, "Reparse point, instance %s skipped", szInstance, bLog, pLog);
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
    // ends, with every step opened relative to the handle, the work stays in
    // the directory checked here; the check keeps others from renaming or
    // deleting it and its entries.
    const char *pszWhy = nullptr;
    DirCheck check = OpenTrustedDirectory(m_szTwainDir, false, &m_hTwainDir, &pszWhy);
    // A missing twain_32 is no danger: the commands find nothing.
    if (check == DIR_TRUSTED || (check == DIR_UNOPENED && IsMissing(GetLastError())))
        return true;
    LogDirRefused(check, pszWhy, m_szTwainDir, "Reparse point at %s, no data source changed", m_szTwainDir, bLog, pLog);
    return false;
}

bool TwainDSInstaller::TwainDirReady(bool bAdd, bool bLog, InstallLog *pLog)
{
    for (;;) {
        if (TwainDirUsable(bLog, pLog))
            return true;
        // The installer's form: an adding command that can make no data source fails.
        if (!bAdd || !RetryStep(m_szTwainDir, true, ERROR_ACCESS_DENIED))
            return false;
    }
}

InstallLog *TwainDSInstaller::CreateCommandLog(bool bAdd, bool &bLog)
{
    // The installer's log hears every line, whatever the flag says of the file.
    bool bFile = bLog;
    if (!bFile && !m_run.pfnLine)
        return nullptr;
    // From the C runtime, constructed in place: no C++ runtime library in the exe.
    void *pv = malloc(sizeof(InstallLog));
    bLog = pv != nullptr;
    if (!pv)
        return nullptr;
    return new (pv) InstallLog(bAdd ? "_add_ds.log" : "_remove_ds.log", bFile, m_run.pfnLine, m_run.pvLine);
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

bool TwainDSInstaller::RetryStep(const char *pszDs, bool bAdd, DWORD dwError)
{
    const StepObserver *pObserver = m_run.pObserver;
    if (!pObserver)
        return false;
    // The message names the data source the step is for.
    StepAnswer answer = pObserver->pfnFailed(pObserver->pvContext, bAdd, pszDs, dwError);
    if (answer == STEP_STOP)
        m_bStopped = true;
    return answer == STEP_RETRY;
}

void TwainDSInstaller::StepDone(const char *pszDirName)
{
    const StepObserver *pObserver = m_run.pObserver;
    if (pObserver && !pObserver->pfnDone(pObserver->pvContext, pszDirName))
        m_bStopped = true;
}

void TwainDSInstaller::RunStep(const char *szInstance, bool bAdd, bool bRename, bool bLog, InstallLog *pLog)
{
    StepPaths paths;
    bool bPaths = !m_bTwainDirTooLong && paths.Build(m_szTwainDir, m_pszPrefix, szInstance);
    for (;;) {
        DWORD dwError = ERROR_FILENAME_EXCED_RANGE;
        if (!bPaths)
            LogPathTooLong(szInstance, bLog, pLog);
        else if (bRename)
            dwError = RenameInstanceDS(paths, bAdd, bLog, pLog);
        else
            dwError = UpdateInstanceDS(paths, bAdd, bLog, pLog);
        // Removing what is not there (no instance directory) is done.
        if (!bAdd && IsMissing(dwError))
            dwError = ERROR_SUCCESS;
        if (dwError == ERROR_SUCCESS) {
            StepDone(paths.pszDirName);
            return;
        }
        // AddDS finding no inactive data source, or the .ds there already: a
        // repair, or another product's work.
        if (bRename && bAdd && (IsMissing(dwError) || dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_FILE_EXISTS))
            return;
        if (!RetryStep(bPaths ? paths.szDs : "", bAdd, dwError))
            return;
    }
}
