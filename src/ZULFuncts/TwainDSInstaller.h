// The object of one command: its parameters, the imaging devices, the search
// over the TWAIN directory, and where a data source lives on disk.
#pragma once

#include "DataSourceSteps.h"
#include "FileHandles.h"
#include "ImagingDeviceEnumerator.h"
#include "RunContext.h"
#include "StepObserver.h"

#include <windows.h>

#include <setupapi.h>

#include <stddef.h>
#include <stdint.h>

class InstallLog;

class TwainDSInstaller
{
public:
    // AddDS and RemoveDS, for the run pRun (null: the exe's, with no record and no observer).
    TwainDSInstaller(const char *pszHardwareId, const char *pszPrefix, const char *pszCheckKey,
                     const char *pszCheckValue, const char *pszParamsKey, RunContext *pRun = nullptr);
    // MAddDS and MRemoveDS.
    TwainDSInstaller(const char *pszPrefix, const char *pszCheckKey, const char *pszCheckValue,
                     RunContext *pRun = nullptr);
    virtual ~TwainDSInstaller();

    // AddDS (bAdd) and RemoveDS: rename or remove the data source of every
    // device whose check value contains the hardware identifier.
    void AddTwainDS(bool bAdd, bool bLog);
    // MAddDS (bAdd): install the template for every marked device.
    // MRemoveDS: remove the data sources of instances no device has any more.
    void MAddTwainDS(bool bAdd, bool bLog);

    bool NextInstance(char *szInstance, size_t cbInstance, bool bLog, InstallLog *pLog);
    bool MatchesHardwareId(PSP_DEVINFO_DATA pdeid);
    bool HasDriverValue(PSP_DEVINFO_DATA pdeid, const char *szValueName, bool bLog, InstallLog *pLog);
    // The steps of one instance: ERROR_SUCCESS when they did what they are
    // for (the data source renamed, copied or removed), the error otherwise.
    DWORD RenameInstanceDS(const StepPaths &paths, bool bAdd, bool bLog, InstallLog *pLog);
    DWORD UpdateInstanceDS(const StepPaths &paths, bool bAdd, bool bLog, InstallLog *pLog);
    // The next instance of the prefix in the TWAIN directory's listing;
    // false at its end (the next call starts it again) or when it cannot be
    // read: held by another process, that is in the log.
    bool NextTwainDir(char *szInstance, size_t cbInstance, bool bLog = false, InstallLog *pLog = nullptr);
    bool InstanceExists(const char *szInstance, bool bLog, InstallLog *pLog);

    // The run's own: its TWAIN directory, its observer and its record.
    RunContext m_ownRun; // the exe's, when no run is given
    RunContext &m_run;
    // <WindowsDir>\<the run's TWAIN directory name>; empty when unknown.
    char m_szTwainDir[260];
    // The Windows directory was read but the TWAIN directory does not fit after it.
    bool m_bTwainDirTooLong;
    // MAddDS's template, s_szTemplateName in the TWAIN directory, and whether its path fits.
    char m_szTemplate[260];
    bool m_bTemplateFits;
    static const char s_szTemplateName[];
    // Every change to a data source goes through it.
    DataSourceSteps m_steps;
    ImagingDeviceEnumerator m_enum;
    PSP_DEVINFO_DATA m_pDevInfoData;
    // MRemoveDS's sweep of the TWAIN directory, open while it runs.
    DirectoryListing m_listing;
    const char *m_pszParamsKey;
    const char *m_pszCheckValue;
    const char *m_pszCheckKey;
    char *m_pszHardwareId;
    const char *m_pszPrefix;
    // twain_32, held from its check to the end of the command (shared for
    // reading and writing, not deleting); INVALID_HANDLE_VALUE when it is not.
    HANDLE m_hTwainDir;
    // MAddDS's template, opened and checked once and held to the end of the
    // command; INVALID_HANDLE_VALUE until an open succeeds. What its check read.
    HANDLE m_hTemplate;
    BY_HANDLE_FILE_INFORMATION m_infoTemplate;
    // False when a record could not be allocated: the command does nothing.
    bool m_bReady;
    // The observer ended the command.
    bool m_bStopped;

private:
    TwainDSInstaller(const TwainDSInstaller &) = delete;
    TwainDSInstaller &operator=(const TwainDSInstaller &) = delete;

    void Init();

    // Runs the instance's step (bRename: AddDS's and RemoveDS's, else
    // MAddDS's and MRemoveDS's) and tells the observer how it went; again
    // while the observer asks for it.
    void RunStep(const char *szInstance, bool bAdd, bool bRename, bool bLog, InstallLog *pLog);
    // Tells the observer that the step for pszDs failed with dwError: true
    // to run it again. A stop sets m_bStopped.
    bool RetryStep(const char *pszDs, bool bAdd, DWORD dwError);
    // Tells the observer that an instance's data source was made or removed.
    void StepDone(const char *pszDirName);

    // The command's log when bLog is set, named for its direction; bLog is
    // cleared when the log cannot be allocated, so no write goes through null.
    InstallLog *CreateCommandLog(bool bAdd, bool &bLog);
    // Closes and frees what CreateCommandLog made (null: nothing).
    static void DestroyCommandLog(InstallLog *pLog);
    static void LogLabelLine(InstallLog *pLog, const char *pszLabel, const char *pszValue);

    static void LogPathTooLong(const char *szInstance, bool bLog, InstallLog *pLog);
    // Opens the instance's directory below twain_32 for the step
    // (OpenDirectory; exclusively when the step removes it) into *phDir and
    // checks it as twain_32 is checked. False, with a line in the log, when
    // it is refused: a link (symbolic link, junction: the work would be done
    // where it leads), one others may change, or, unless bRemove, one that
    // cannot be opened. True otherwise; *phDir is INVALID_HANDLE_VALUE then
    // when the open failed (*pdwError): there is no directory, or, for
    // bRemove, it cannot be held. *pdwAttributes, when given, gets the
    // attributes of a directory that passes.
    bool OpenInstanceDir(const StepPaths &paths, const char *szInstance, bool bRemove, HANDLE *phDir, DWORD *pdwError,
                         bool bLog, InstallLog *pLog, DWORD *pdwAttributes = nullptr);
    // MAddDS's step once the directory is checked: the template, held once
    // for the command, copied to the .ds through the .ds's own handle; hDir,
    // when no directory was there (dwDirError), is made and held.
    DWORD InstallTemplate(const StepPaths &paths, const char *szInstance, DWORD dwDirError, HANDLE &hDir, bool bLog,
                          InstallLog *pLog);
    // Opens and checks the template unless it is held: ERROR_SUCCESS when it
    // is; *pbStop when the step ends here (missing, a link, others may change
    // it: the line is in the log), else its open's error is the copy's.
    DWORD HoldTemplate(bool *pbStop, bool bLog, InstallLog *pLog);
    // Makes the instance's directory when the step's open found none, and
    // holds it in hDir: ERROR_SUCCESS, or the error that ends the step.
    DWORD MakeInstanceDir(const StepPaths &paths, const char *szInstance, DWORD dwDirError, HANDLE &hDir, bool bLog,
                          InstallLog *pLog);
    // MRemoveDS's step: both data-source files, then the directory held in hDir.
    DWORD RemoveInstance(const StepPaths &paths, HANDLE hDir, DWORD dwAttributes, bool bLog, InstallLog *pLog);
    // AddDS's rename or RemoveDS's deletion of the file held on hFile.
    bool ChangeDataSource(HANDLE hFile, HANDLE hDir, bool bAdd, const StepPaths &paths);
    static void LogDirRemovalFailed(DWORD dwAttrError, DWORD dwRemoveError, bool bLog, InstallLog *pLog);
    // False (and the reason in the log) when the TWAIN directory is unknown, is
    // a link, or others than the trusted accounts may change it; it is held
    // in m_hTwainDir otherwise.
    bool TwainDirUsable(bool bLog, InstallLog *pLog);
    // TwainDirUsable; for an adding command, a refusal is also a failed step
    // of the observer's, which may ask for it again.
    bool TwainDirReady(bool bAdd, bool bLog, InstallLog *pLog);

    bool OpenCheckKey(PSP_DEVINFO_DATA pdeid, HKEY *phDriverKey, HKEY *phValueKey);
    static void CloseCheckKey(HKEY hDriverKey, HKEY hValueKey);
};
