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
    // The steps of one instance. False when the step failed in a way the
    // observer is told of (m_szStepPath and m_dwStepError say where and why).
    bool RenameInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog);
    bool UpdateInstanceDS(const char *szInstance, bool bAdd, bool bLog, InstallLog *pLog);
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
    // False when a record could not be allocated: the command does nothing.
    bool m_bReady;
    // The observer ended the command.
    bool m_bStopped;
    // The last failed step's path and Windows error.
    char m_szStepPath[260];
    DWORD m_dwStepError;

private:
    TwainDSInstaller(const TwainDSInstaller &) = delete;
    TwainDSInstaller &operator=(const TwainDSInstaller &) = delete;

    void Init();

    // The failed step's record; false, so that a step can end with it.
    bool StepFailed(const char *pszPath, DWORD dwError);
    // Asks the observer about the failed step: true to run it again. A stop
    // sets m_bStopped.
    bool RetryStep(bool bAdd);
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
    // True (and a line in the log) when the instance's directory is a link
    // (symbolic link, junction): the work would be done where it leads, so
    // the instance is passed over.
    bool InstanceDirIsLink(const char *szTwainDir, const char *szInstance, bool bLog, InstallLog *pLog);
    // False (and the reason in the log) when the TWAIN directory is unknown, is
    // a link, or others than the trusted accounts may change its entries.
    bool TwainDirUsable(bool bLog, InstallLog *pLog);

    bool OpenCheckKey(PSP_DEVINFO_DATA pdeid, HKEY *phDriverKey, HKEY *phValueKey);
    static void CloseCheckKey(HKEY hDriverKey, HKEY hValueKey);
};
