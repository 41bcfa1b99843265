// Entry point of ZULFuncts.dll, the form made for Windows Installer: a
// deferred custom action whose CustomActionData is the exe's command line.
// Every log line also goes into the installer's log, a device left without
// its data source fails the action, and nothing here ends the process, which
// is the installer's.
#include "AllocationFailed.h"
#include "CommandLine.h"
#include "BoundedString.h"
#include "InstallLog.h"
#include "RunContext.h"
#include "StepRecord.h"
#include "TwainDSInstaller.h"
#include "ZULFunctsVersion.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <mbstring.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szRetryText[] = "ZULFuncts could not install the data source [1] (error [2]). Close the programs that "
                             "use it and choose Retry, or Cancel.";
const char s_szRemoveFailedText[] = "ZULFuncts could not remove [1] (error [2])";

// One run of the action: where its messages go and what it returns.
struct ActionRun {
    MSIHANDLE hInstall;
    UINT uResult;
};

// Sends a message whose template is pszTemplate, with up to two text fields.
int SendMessage(MSIHANDLE hInstall, INSTALLMESSAGE eType, const char *pszTemplate, const char *psz1, const char *psz2)
{
    PMSIHANDLE hRecord = MsiCreateRecord(psz2 ? 2 : 1);
    if (!hRecord)
        return 0;
    if (pszTemplate)
        MsiRecordSetStringA(hRecord, 0, pszTemplate);
    MsiRecordSetStringA(hRecord, 1, psz1);
    if (psz2)
        MsiRecordSetStringA(hRecord, 2, psz2);
    return MsiProcessMessage(hInstall, eType, hRecord);
}

// A log line, as the field of a "[1]" template: its brackets and braces
// stay text.
void SendLine(void *pvRun, const char *pszLine)
{
    SendMessage(static_cast<ActionRun *>(pvRun)->hInstall, INSTALLMESSAGE_INFO, "[1]", pszLine, nullptr);
}

bool OnStepDone(void *pvRun, const char *pszInstanceDir)
{
    ActionRun *pRun = static_cast<ActionRun *>(pvRun);
    // A cancel from the progress dialog comes back as the answer to progress.
    if (SendMessage(pRun->hInstall, INSTALLMESSAGE_ACTIONDATA, nullptr, pszInstanceDir, nullptr) != IDCANCEL)
        return true;
    pRun->uResult = ERROR_INSTALL_USEREXIT;
    return false;
}

// An adding command asks whether to try again; a silent install answers 0,
// which stops like Cancel. A removing command never asks: the uninstall goes
// on, and the action fails at its end.
StepAnswer OnStepFailed(void *pvRun, bool bAdd, const char *pszPath, DWORD dwError)
{
    ActionRun *pRun = static_cast<ActionRun *>(pvRun);
    char szError[16];
    snprintf(szError, sizeof szError, "%lu", static_cast<unsigned long>(dwError));
    pRun->uResult = ERROR_INSTALL_FAILURE;
    if (!bAdd) {
        SendMessage(pRun->hInstall, INSTALLMESSAGE_INFO, s_szRemoveFailedText, pszPath, szError);
        return STEP_GO_ON;
    }
    int nAnswer = SendMessage(pRun->hInstall, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_RETRYCANCEL),
                              s_szRetryText, pszPath, szError);
    if (nAnswer != IDRETRY)
        return STEP_STOP;
    pRun->uResult = ERROR_SUCCESS;
    return STEP_RETRY;
}

// A property's whole text, from the C runtime's heap; null when it cannot be read.
char *GetPropertyText(MSIHANDLE hInstall, const char *pszName)
{
    char szEmpty[1] = "";
    DWORD cch = 0;
    UINT uRead = MsiGetPropertyA(hInstall, pszName, szEmpty, &cch);
    if (uRead != ERROR_MORE_DATA && uRead != ERROR_SUCCESS)
        return nullptr;
    DWORD cchBuffer = cch + 1;
    char *psz = static_cast<char *>(malloc(cchBuffer));
    if (psz && MsiGetPropertyA(hInstall, pszName, psz, &cchBuffer) != ERROR_SUCCESS) {
        free(psz);
        psz = nullptr;
    }
    return psz;
}

// A line of the action's own, before or instead of the command's log: pszText
// after pszHead, then pszTail.
void SendOwnLine(ActionRun *pRun, const char *pszHead, const char *pszText, const char *pszTail)
{
    size_t cb = strlen(pszHead) + strlen(pszText) + strlen(pszTail) + 1;
    char *pszLine = static_cast<char *>(malloc(cb));
    if (!pszLine)
        return;
    snprintf(pszLine, cb, "%s%s%s", pszHead, pszText, pszTail);
    SendLine(pRun, pszLine);
    free(pszLine);
}

// The command line as the exe gets it, in a buffer the parser may split:
// its runtime skips the blanks before it. Null when it cannot be allocated.
char *WorkingCopy(const char *pszCommandLine)
{
    const char *pszText = pszCommandLine + strspn(pszCommandLine, " \t");
    size_t cb = strlen(pszText) + 1;
    char *pszWork = static_cast<char *>(malloc(cb));
    if (pszWork)
        memcpy(pszWork, pszText, cb);
    return pszWork;
}

// CustomActionData of the deferred, rollback and commit actions as the
// scheduling action writes it: "1;<run folder>;<command line>" (0 instead of
// 1 when rollback is disabled). A plain command line, with no folder, runs
// without a record.
struct ActionData {
    bool bRecord;
    const char *pszFolder;
    const char *pszCommandLine;
};

void SplitActionData(char *pszData, ActionData *pData)
{
    pData->bRecord = false;
    pData->pszFolder = "";
    pData->pszCommandLine = pszData;
    // No command word begins with a digit.
    char *pszFolderEnd =
        (pszData[0] == '0' || pszData[0] == '1') && pszData[1] == ';' ? strchr(pszData + 2, ';') : nullptr;
    if (!pszFolderEnd)
        return;
    *pszFolderEnd = '\0';
    pData->bRecord = pszData[0] == '1';
    pData->pszFolder = pszData + 2;
    pData->pszCommandLine = pszFolderEnd + 1;
}

// <WindowsDir>\twain_32\<prefix> of the command line's command: where every
// path its record names must lie. False when the text is refused.
bool DataSourcesBelow(const char *pszCommandLine, char *szBelow, size_t cbBelow,
                      const char *pszTwainName = RunContext().pszTwainName)
{
    char *pszWork = WorkingCopy(pszCommandLine);
    if (!pszWork)
        return false;
    CommandLine commandLine;
    char szTwainDir[260];
    bool bTooLong = false;
    bool bParsed = commandLine.Parse(pszWork) != CommandLine::CMD_NONE &&
                   TwainDSInstaller::FindTwainDir(pszTwainName, szTwainDir, &bTooLong) &&
                   BoundedCopy(szBelow, cbBelow, szTwainDir) && BoundedAppend(szBelow, cbBelow, "\\") &&
                   BoundedAppend(szBelow, cbBelow, commandLine.m_szPrefix);
    free(pszWork);
    return bParsed;
}

// Runs the command the text names, as the exe would. The help texts ask for
// a box that an installer must never show: they are refused like any text
// that names no command.
bool RunCommandLine(const char *pszCommandLine, RunContext &run)
{
    char *pszWork = WorkingCopy(pszCommandLine);
    if (!pszWork)
        return false;
    CommandLine commandLine;
    bool bRan = !CommandLine::IsHelpText(pszWork) && commandLine.ParseAndRun(pszWork, run);
    free(pszWork);
    return bRan;
}

} // namespace

// Where the exe ends with status 1, the action goes on to fail.
void AllocationFailed(RunContext &run)
{
    run.bAllocationFailed = true;
}

extern "C" UINT __stdcall RunCommand(MSIHANDLE hInstall)
{
    ActionRun run = {hInstall, ERROR_SUCCESS};
    const StepObserver observer = {&run, OnStepDone, OnStepFailed};
    RunContext context;
    context.pfnLine = SendLine;
    context.pvLine = &run;
    context.pObserver = &observer;

    char *pszData = GetPropertyText(hInstall, "CustomActionData");
    ActionData data = {false, "", nullptr};
    if (pszData)
        SplitActionData(pszData, &data);
    const char *pszCommandLine = data.pszCommandLine;
    char szProductCode[40];
    DWORD cch = sizeof szProductCode;
    if (MsiGetPropertyA(hInstall, "ProductCode", szProductCode, &cch) != ERROR_SUCCESS)
        szProductCode[0] = '\0';
    char szTail[64];
    snprintf(szTail, sizeof szTail, " (%s)", szProductCode);
    SendOwnLine(&run, "ZULFuncts " ZUL_VERSION_QUAD ": ", pszCommandLine ? pszCommandLine : "", szTail);

    // With rollback enabled, every step is recorded in a folder of the run's
    // own before it is made; without it, none.
    StepRecord record;
    bool bRecording = false;
    if (pszCommandLine && data.bRecord) {
        InstallLog log(nullptr, false, SendLine, &run);
        bRecording = record.Begin(data.pszFolder, &log);
    }
    if (!pszCommandLine) {
        SendLine(&run, "ZULFuncts: CustomActionData unreadable");
        run.uResult = ERROR_INSTALL_FAILURE;
    } else if (data.bRecord && !bRecording) {
        SendOwnLine(&run, "ZULFuncts: no backup folder, nothing changed: ", data.pszFolder, "");
        run.uResult = ERROR_INSTALL_FAILURE;
    } else {
        context.pRecord = bRecording ? &record : nullptr;
        if (!RunCommandLine(pszCommandLine, context) && !context.bAllocationFailed) {
            SendOwnLine(&run, "ZULFuncts: command line refused: ", pszCommandLine, "");
            run.uResult = ERROR_INSTALL_FAILURE;
        }
    }
    if (context.bAllocationFailed) {
        SendLine(&run, "ZULFuncts: out of memory");
        run.uResult = ERROR_INSTALL_FAILURE;
    }
    free(pszData);
    return run.uResult;
}

namespace {

// The scheduling action, immediate: the deferred action and the rollback and
// commit actions around it cannot read properties, so it hands each the
// command line, the run's folder and whether rollback is enabled.
UINT Schedule(MSIHANDLE hInstall, const char *pszAction, const char *pszRollback, const char *pszCommit)
{
    // Set from the unit's command-line text just before.
    char *pszCommandLine = GetPropertyText(hInstall, pszAction);
    char szProductCode[40];
    DWORD cch = sizeof szProductCode;
    if (!pszCommandLine || MsiGetPropertyA(hInstall, "ProductCode", szProductCode, &cch) != ERROR_SUCCESS) {
        free(pszCommandLine);
        return ERROR_INSTALL_FAILURE;
    }
    // A name no earlier run of this product used: the time, and the process.
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    char szRun[32];
    snprintf(szRun, sizeof szRun, "%08lX%08lX.%lu", static_cast<unsigned long>(ft.dwHighDateTime),
             static_cast<unsigned long>(ft.dwLowDateTime), static_cast<unsigned long>(GetCurrentProcessId()));
    char szWindows[MAX_PATH];
    UINT cchWindows = GetWindowsDirectoryA(szWindows, sizeof szWindows);
    bool bRecord = MsiGetMode(hInstall, MSIRUNMODE_ROLLBACKENABLED) != FALSE;
    size_t cb = strlen(pszCommandLine) + 2 * MAX_PATH;
    char *pszData = static_cast<char *>(malloc(cb));
    UINT uResult = ERROR_INSTALL_FAILURE;
    if (pszData && cchWindows > 0 && cchWindows < sizeof szWindows) {
        const char *pszSeparator = szWindows[cchWindows - 1] == '\\' ? "" : "\\";
        snprintf(pszData, cb, "%c;%s%sZULFuncts\\%s\\%s;%s", bRecord ? '1' : '0', szWindows, pszSeparator,
                 szProductCode, szRun, pszCommandLine);
        if (MsiSetPropertyA(hInstall, pszAction, pszData) == ERROR_SUCCESS &&
            MsiSetPropertyA(hInstall, pszRollback, pszData) == ERROR_SUCCESS &&
            MsiSetPropertyA(hInstall, pszCommit, pszData) == ERROR_SUCCESS)
            uResult = ERROR_SUCCESS;
    }
    free(pszData);
    free(pszCommandLine);
    return uResult;
}

// Rollback (bUndo) or commit: what the run recorded is put back, or let go.
UINT Finish(MSIHANDLE hInstall, bool bUndo)
{
    ActionRun run = {hInstall, ERROR_SUCCESS};
    char *pszData = GetPropertyText(hInstall, "CustomActionData");
    ActionData data = {false, "", nullptr};
    if (pszData)
        SplitActionData(pszData, &data);
    if (data.bRecord) {
        {
            InstallLog log(nullptr, false, SendLine, &run);
            char szBelow[260];
            char szProduct[260];
            char *pszRun = reinterpret_cast<char *>(
                _mbsrchr(reinterpret_cast<unsigned char *>(const_cast<char *>(data.pszFolder)), '\\'));
            if (bUndo) {
                LogPrintf(&log, "ZULFuncts rollback: %s", data.pszFolder);
                if (!DataSourcesBelow(data.pszCommandLine, szBelow, sizeof szBelow) ||
                    !StepRecord::Undo(data.pszFolder, szBelow, &log))
                    run.uResult = ERROR_INSTALL_FAILURE;
            } else if (pszRun && BoundedCopy(szProduct, sizeof szProduct, data.pszFolder)) {
                // Every run of the product: one whose rollback never came is let go too.
                szProduct[pszRun - data.pszFolder] = '\0';
                if (!StepRecord::RemoveAll(szProduct, &log))
                    run.uResult = ERROR_INSTALL_FAILURE;
            }
        }
    }
    free(pszData);
    return run.uResult;
}

} // namespace

extern "C" UINT __stdcall ScheduleAddDataSources(MSIHANDLE hInstall)
{
    return Schedule(hInstall, "ZulAddDataSources", "ZulRollbackAddDataSources", "ZulCommitAddDataSources");
}

extern "C" UINT __stdcall ScheduleRemoveDataSources(MSIHANDLE hInstall)
{
    return Schedule(hInstall, "ZulRemoveDataSources", "ZulRollbackRemoveDataSources", "ZulCommitRemoveDataSources");
}

extern "C" UINT __stdcall RollbackCommand(MSIHANDLE hInstall)
{
    return Finish(hInstall, true);
}

extern "C" UINT __stdcall CommitCommand(MSIHANDLE hInstall)
{
    return Finish(hInstall, false);
}
