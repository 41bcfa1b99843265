// Entry point of ZULFuncts.dll, the form made for Windows Installer: a
// deferred custom action whose CustomActionData is the exe's command line.
// Every log line also goes into the installer's log, a device left without
// its data source fails the action, and nothing here ends the process, which
// is the installer's.
#include "ActionData.h"
#include "AllocationFailed.h"
#include "CommandLine.h"
#include "FileHelpers.h"
#include "InstallLog.h"
#include "RuntimeFunctions.h"
#include "RunContext.h"
#include "StepRecord.h"
#include "TwainDSInstaller.h"
#include "ZULFunctsVersion.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char s_szRetryText[] = "ZULFuncts could not install the data source [1] (error [2]). Close the programs that "
                             "use it and choose Retry, or Cancel.";
const char s_szFailedText[] =
    "ZULFuncts could not install the data source [1] (error [2]). The installation log says why.";
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
    // Only another program's hold may end: for anything else Retry cannot help.
    if (dwError != ERROR_SHARING_VIOLATION && dwError != ERROR_LOCK_VIOLATION) {
        SendMessage(pRun->hInstall, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_ERROR | MB_OK), s_szFailedText, pszPath,
                    szError);
        return STEP_STOP;
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

// <WindowsDir>\<twain>\<prefix> of the command line's command: where every
// path its record names must lie. False when the text is refused.
bool DataSourcesBelow(const ActionData &data, char *szBelow)
{
    char *pszWork = WorkingCopy(data.pszCommandLine);
    if (!pszWork)
        return false;
    CommandLine commandLine;
    bool bParsed = commandLine.Parse(pszWork) != CommandLine::CMD_NONE &&
                   WindowsPath(szBelow, nullptr, data.pszTwainName, commandLine.m_szPrefix);
    free(pszWork);
    return bParsed;
}

// The run's backup folder, derived: never taken from the text. The deferred
// and rollback actions (bCheckProduct) can read ProductCode and check that
// the text names this product; a commit action cannot.
bool RunFolder(MSIHANDLE hInstall, const ActionData &data, bool bCheckProduct, char *szFolder)
{
    char szProductCode[40];
    DWORD cch = sizeof szProductCode;
    if (bCheckProduct && (MsiGetPropertyA(hInstall, "ProductCode", szProductCode, &cch) != ERROR_SUCCESS ||
                          strcmp(szProductCode, data.szProductCode) != 0))
        return false;
    return WindowsPath(szFolder, nullptr, "ZULFuncts", data.szProductCode, data.szRun);
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
    ActionData data = {false, "", "", "twain_32", nullptr};
    const bool bParsed = pszData && ParseActionData(pszData, &data);
    char szFolder[260];
    const bool bFolder = bParsed && (!data.bRecord || RunFolder(hInstall, data, true, szFolder));
    char szProductCode[40];
    DWORD cch = sizeof szProductCode;
    if (MsiGetPropertyA(hInstall, "ProductCode", szProductCode, &cch) != ERROR_SUCCESS)
        szProductCode[0] = '\0';
    char szTail[64];
    snprintf(szTail, sizeof szTail, " (%s) (%s)", data.pszTwainName, szProductCode);
    SendOwnLine(&run, "ZULFuncts " ZUL_VERSION_QUAD ": ", bParsed ? data.pszCommandLine : "", szTail);

    // With rollback enabled, every step is recorded in a folder of the run's
    // own before it is made; without it, none.
    StepRecord record;
    bool bRecording = false;
    if (bFolder && data.bRecord) {
        InstallLog log(nullptr, false, SendLine, &run);
        bRecording = record.Begin(szFolder, &log);
    }
    if (!bFolder) {
        SendLine(&run, "ZULFuncts: CustomActionData unreadable");
        run.uResult = ERROR_INSTALL_FAILURE;
    } else if (data.bRecord && !bRecording) {
        SendOwnLine(&run, "ZULFuncts: no backup folder, nothing changed: ", szFolder, "");
        run.uResult = ERROR_INSTALL_FAILURE;
    } else {
        context.pRecord = bRecording ? &record : nullptr;
        context.pszTwainName = data.pszTwainName;
        if (!RunCommandLine(data.pszCommandLine, context) && !context.bAllocationFailed) {
            SendOwnLine(&run, "ZULFuncts: command line refused: ", data.pszCommandLine, "");
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

// Names an installation's action sets share: the property that holds the
// installation part of their runs' names.
const char s_szInstallationProperty[] = "ZulRunInstallation";

void AppendHex(char *psz, const BYTE *pb, size_t cb)
{
    static const char s_szDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < cb; i++) {
        psz[2 * i] = s_szDigits[pb[i] >> 4];
        psz[2 * i + 1] = s_szDigits[pb[i] & 15];
    }
    psz[2 * cb] = '\0';
}

// A run's name no one can guess (RtlGenRandom): the installation's part,
// made by the first set that asks, then the set's own.
bool MakeRunName(MSIHANDLE hInstall, char *szRun)
{
    PFN_RTLGENRANDOM pfnRtlGenRandom = s_fnRtlGenRandom.Find();
    BYTE rgb[12];
    if (!pfnRtlGenRandom || !pfnRtlGenRandom(rgb, sizeof rgb))
        return false;
    char szInstallation[s_cchRunInstallation + 1];
    DWORD cch = sizeof szInstallation;
    bool bShared = MsiGetPropertyA(hInstall, s_szInstallationProperty, szInstallation, &cch) == ERROR_SUCCESS &&
                   cch == s_cchRunInstallation;
    if (!bShared)
        AppendHex(szInstallation, rgb, 8);
    memcpy(szRun, szInstallation, s_cchRunInstallation);
    szRun[s_cchRunInstallation] = '-';
    AppendHex(szRun + s_cchRunInstallation + 1, rgb + 8, 4);
    return IsRunName(szRun) &&
           (bShared || MsiSetPropertyA(hInstall, s_szInstallationProperty, szInstallation) == ERROR_SUCCESS);
}

// The scheduling action, immediate: the deferred action and the rollback and
// commit actions around it cannot read properties, so it hands each whether
// rollback is enabled, the product, the run's name, the TWAIN directory and
// the command line.
UINT Schedule(MSIHANDLE hInstall, const char *pszTwainName, const char *pszAction, const char *pszRollback,
              const char *pszCommit)
{
    // Set from the unit's command-line text just before.
    char *pszCommandLine = GetPropertyText(hInstall, pszAction);
    char szProductCode[40];
    DWORD cch = sizeof szProductCode;
    char szRun[s_cchRunName + 1];
    if (!pszCommandLine || MsiGetPropertyA(hInstall, "ProductCode", szProductCode, &cch) != ERROR_SUCCESS ||
        !IsProductCode(szProductCode) || !MakeRunName(hInstall, szRun)) {
        free(pszCommandLine);
        return ERROR_INSTALL_FAILURE;
    }
    bool bRecord = MsiGetMode(hInstall, MSIRUNMODE_ROLLBACKENABLED) != FALSE;
    size_t cb = strlen(pszCommandLine) + 128;
    char *pszData = static_cast<char *>(malloc(cb));
    UINT uResult = ERROR_INSTALL_FAILURE;
    if (pszData) {
        snprintf(pszData, cb, "%c;%s;%s;%s;%s", bRecord ? '1' : '0', szProductCode, szRun, pszTwainName,
                 pszCommandLine);
        if (MsiSetPropertyA(hInstall, pszAction, pszData) == ERROR_SUCCESS &&
            MsiSetPropertyA(hInstall, pszRollback, pszData) == ERROR_SUCCESS &&
            MsiSetPropertyA(hInstall, pszCommit, pszData) == ERROR_SUCCESS)
            uResult = ERROR_SUCCESS;
    }
    free(pszData);
    free(pszCommandLine);
    return uResult;
}

// Rollback (bUndo) or commit: what the run recorded is put back, or let go;
// then the folders above it go when empty, and another installation's run
// that still holds what it moved aside is named.
bool FinishRun(MSIHANDLE hInstall, const ActionData &data, bool bUndo, InstallLog *pLog)
{
    char szFolder[260];
    char szBelow[260];
    if (!RunFolder(hInstall, data, bUndo, szFolder)) {
        LogPrintf(pLog, "ZULFuncts: CustomActionData unreadable");
        return false;
    }
    bool bDone;
    if (bUndo) {
        LogPrintf(pLog, "ZULFuncts rollback: %s", szFolder);
        bDone = DataSourcesBelow(data, szBelow);
        if (bDone)
            bDone = StepRecord::Undo(szFolder, szBelow, pLog);
        else
            LogPrintf(pLog, "Backup folder left: %s", szFolder);
    } else {
        bDone = StepRecord::RemoveAll(szFolder, pLog);
    }
    StepRecord::LetGo(szFolder, s_cchRunInstallation, pLog);
    return bDone;
}

UINT Finish(MSIHANDLE hInstall, bool bUndo)
{
    ActionRun run = {hInstall, ERROR_SUCCESS};
    char *pszData = GetPropertyText(hInstall, "CustomActionData");
    ActionData data = {false, "", "", "twain_32", nullptr};
    bool bParsed = pszData && ParseActionData(pszData, &data);
    if (!bParsed || data.bRecord) {
        {
            InstallLog log(nullptr, false, SendLine, &run);
            if (!bParsed)
                LogPrintf(&log, "ZULFuncts: CustomActionData unreadable");
            if (!bParsed || !FinishRun(hInstall, data, bUndo, &log))
                run.uResult = ERROR_INSTALL_FAILURE;
        }
    }
    free(pszData);
    return run.uResult;
}

} // namespace

extern "C" UINT __stdcall ScheduleAddDataSources(MSIHANDLE hInstall)
{
    return Schedule(hInstall, "twain_32", "ZulAddDataSources", "ZulRollbackAddDataSources", "ZulCommitAddDataSources");
}

extern "C" UINT __stdcall ScheduleRemoveDataSources(MSIHANDLE hInstall)
{
    return Schedule(hInstall, "twain_32", "ZulRemoveDataSources", "ZulRollbackRemoveDataSources",
                    "ZulCommitRemoveDataSources");
}

extern "C" UINT __stdcall ScheduleAddDataSources64(MSIHANDLE hInstall)
{
    return Schedule(hInstall, "twain_64", "ZulAddDataSources64", "ZulRollbackAddDataSources64",
                    "ZulCommitAddDataSources64");
}

extern "C" UINT __stdcall ScheduleRemoveDataSources64(MSIHANDLE hInstall)
{
    return Schedule(hInstall, "twain_64", "ZulRemoveDataSources64", "ZulRollbackRemoveDataSources64",
                    "ZulCommitRemoveDataSources64");
}

extern "C" UINT __stdcall RollbackCommand(MSIHANDLE hInstall)
{
    return Finish(hInstall, true);
}

extern "C" UINT __stdcall CommitCommand(MSIHANDLE hInstall)
{
    return Finish(hInstall, false);
}
