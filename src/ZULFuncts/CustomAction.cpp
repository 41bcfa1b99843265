// Entry point of ZULFuncts.dll, the form made for Windows Installer: a
// deferred custom action whose CustomActionData is the exe's command line.
// Every log line also goes into the installer's log, a device left without
// its data source fails the action, and nothing here ends the process, which
// is the installer's.
#include "AllocationFailed.h"
#include "CommandLine.h"
#include "InstallLog.h"
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
const char s_szRemoveFailedText[] = "ZULFuncts could not remove [1] (error [2])";

bool s_bAllocationFailed = false;

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

// Runs the command the text names, as the exe would. The help texts ask for
// a box that an installer must never show: they are refused like any text
// that names no command.
bool RunCommandLine(const char *pszCommandLine)
{
    // The exe's runtime skips the blanks before its command line.
    const char *pszText = pszCommandLine + strspn(pszCommandLine, " \t");
    size_t cb = strlen(pszText) + 1;
    char *pszWork = static_cast<char *>(malloc(cb));
    if (!pszWork)
        return false;
    memcpy(pszWork, pszText, cb);
    CommandLine commandLine;
    bool bRan = !CommandLine::IsHelpText(pszWork) && commandLine.ParseAndRun(pszWork);
    free(pszWork);
    return bRan;
}

} // namespace

// Where the exe ends with status 1, the action goes on to fail.
void AllocationFailed()
{
    s_bAllocationFailed = true;
}

extern "C" UINT __stdcall RunCommand(MSIHANDLE hInstall)
{
    ActionRun run = {hInstall, ERROR_SUCCESS};
    s_bAllocationFailed = false;
    InstallLog::SetLineSink(SendLine, &run);
    const StepObserver observer = {&run, OnStepDone, OnStepFailed};
    TwainDSInstaller::s_pObserver = &observer;

    char *pszCommandLine = GetPropertyText(hInstall, "CustomActionData");
    char szProductCode[40];
    DWORD cch = sizeof szProductCode;
    if (MsiGetPropertyA(hInstall, "ProductCode", szProductCode, &cch) != ERROR_SUCCESS)
        szProductCode[0] = '\0';
    char szTail[64];
    snprintf(szTail, sizeof szTail, " (%s)", szProductCode);
    SendOwnLine(&run, "ZULFuncts " ZUL_VERSION_QUAD ": ", pszCommandLine ? pszCommandLine : "", szTail);

    if (!pszCommandLine) {
        SendLine(&run, "ZULFuncts: CustomActionData unreadable");
        run.uResult = ERROR_INSTALL_FAILURE;
    } else if (!RunCommandLine(pszCommandLine) && !s_bAllocationFailed) {
        SendOwnLine(&run, "ZULFuncts: command line refused: ", pszCommandLine, "");
        run.uResult = ERROR_INSTALL_FAILURE;
    }
    if (s_bAllocationFailed) {
        SendLine(&run, "ZULFuncts: out of memory");
        run.uResult = ERROR_INSTALL_FAILURE;
    }

    TwainDSInstaller::s_pObserver = nullptr;
    InstallLog::SetLineSink(nullptr, nullptr);
    free(pszCommandLine);
    return run.uResult;
}
