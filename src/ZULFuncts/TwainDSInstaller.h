// The object of one command: its parameters, the imaging devices, the search
// over the TWAIN directory, and where a data source lives on disk.
#pragma once

#include "ImagingDeviceEnumerator.h"
#include "StepObserver.h"

#include <windows.h>

#include <setupapi.h>

#include <io.h>
#include <stddef.h>
#include <stdint.h>

class InstallLog;
class StepRecord;

class TwainDSInstaller
{
public:
    // AddDS and RemoveDS.
    TwainDSInstaller(const char *pszHardwareId, const char *pszPrefix, const char *pszCheckKey,
                     const char *pszCheckValue, const char *pszParamsKey);
    // MAddDS and MRemoveDS.
    TwainDSInstaller(const char *pszPrefix, const char *pszCheckKey, const char *pszCheckValue);
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
    DWORD RenameInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog);
    DWORD UpdateInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog);
    bool NextTwainDir(char *szInstance, size_t cbInstance);
    bool InstanceExists(const char *szInstance, bool bLog, InstallLog *pLog);

    // <WindowsDir>\twain_32; empty when the Windows directory cannot be read.
    static char m_szTwainDir[260];
    // The Windows directory was read but twain_32 does not fit after it.
    static bool m_bTwainDirTooLong;
    // Set by the installer's form for its command; null in the exe.
    static const StepObserver *s_pObserver;
    // Where the installer's form records each step for its rollback; null
    // in the exe and when rollback is disabled.
    static StepRecord *s_pRecord;
    // Reads m_szTwainDir (and m_bTwainDirTooLong); false when it is unknown.
    static bool FindTwainDir();

    ImagingDeviceEnumerator m_enum;
    PSP_DEVINFO_DATA m_pDevInfoData;
    struct _finddata_t m_findData;
    bool m_bFindDone;
    intptr_t m_hFind;
    const char *m_pszParamsKey;
    const char *m_pszCheckValue;
    const char *m_pszCheckKey;
    char *m_pszHardwareId;
    const char *m_pszPrefix;
    // twain_32, held from its check to the end of the command (shared for
    // reading and writing, not deleting); INVALID_HANDLE_VALUE when it is not.
    HANDLE m_hTwainDir;
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
    // Tells the observer that the instance's step failed with dwError: true
    // to run it again. A stop sets m_bStopped.
    bool RetryStep(const char *szInstance, bool bAdd, DWORD dwError);
    // Tells the observer that an instance's data source was made or removed.
    void StepDone(const char *szInstance);

    // The command's log when bLog is set, named for its direction; bLog is
    // cleared when the log cannot be allocated, so no write goes through null.
    static InstallLog *CreateCommandLog(bool bAdd, bool &bLog);
    // Closes and frees what CreateCommandLog made (null: nothing).
    static void DestroyCommandLog(InstallLog *pLog);
    static void LogLabelLine(InstallLog *pLog, const char *pszLabel, const char *pszValue);

    // The instance's directory, its extension-less data source and its .ds
    // file. False when a path does not fit its 260-byte buffer; the caller
    // then passes the instance over and says so in the log.
    bool BuildInstancePaths(const char *szInstance, char *szTwainDir, char *szFileName, char *szFileNameDs);
    void LogPathTooLong(const char *szInstance, bool bLog, InstallLog *pLog);
    // Opens the instance's directory for the step (OpenDirectory; exclusively
    // when the step removes it) into *phDir and checks it as twain_32 is
    // checked. False, with a line in the log, when it is refused: a link
    // (symbolic link, junction: the work would be done where it leads), one
    // others may change, or, unless bRemove, one that cannot be opened. True
    // otherwise; *phDir is INVALID_HANDLE_VALUE then when the open failed
    // (*pdwError): there is no directory, or, for bRemove, it cannot be held.
    bool OpenInstanceDir(const char *szTwainDir, const char *szInstance, bool bRemove, HANDLE *phDir, DWORD *pdwError,
                         bool bLog, InstallLog *pLog);
    // MAddDS's step once the directory is checked: the template, read and
    // checked through its own handle, copied to the .ds through the .ds's own
    // handle; hDir, when no directory was there, is made and held.
    DWORD InstallTemplate(const char *szInstance, const char *szTwainDir, const char *szFileName,
                          const char *szFileNameDs, const char *szFileNameGenericDs, HANDLE &hDir, bool bLog,
                          InstallLog *pLog);
    // MRemoveDS's step: both data-source files, then the directory held in hDir.
    DWORD RemoveInstance(const char *szTwainDir, const char *szFileName, const char *szFileNameDs, HANDLE hDir,
                         bool bLog, InstallLog *pLog);
    // AddDS's rename or RemoveDS's deletion of the file held on hFile (DELETE).
    static bool ChangeDataSource(HANDLE hFile, bool bAdd, const char *szFileName, const char *szFileNameDs);
    // Records the removal of the directory held on hDir, with its attributes.
    static bool RecordDirRemoval(HANDLE hDir, const char *szTwainDir);
    static void LogDirRemovalFailed(DWORD dwAttrError, DWORD dwRemoveError, bool bLog, InstallLog *pLog);
    // False (and the reason in the log) when the TWAIN directory is unknown, is
    // a link, or others than the trusted accounts may change it; it is held
    // in m_hTwainDir otherwise.
    bool TwainDirUsable(bool bLog, InstallLog *pLog);

    bool OpenCheckKey(PSP_DEVINFO_DATA pdeid, HKEY *phDriverKey, HKEY *phValueKey);
    static void CloseCheckKey(HKEY hDriverKey, HKEY hValueKey);
};
