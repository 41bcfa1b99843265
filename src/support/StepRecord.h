// The DLL form's record of what a command changes below the TWAIN directory,
// kept in a backup folder of its own, so that a rollback can put every data
// source back as it was: each step is written and flushed before it is made,
// and what a step replaces, renames away or deletes is moved into the folder,
// whole, through the handle the step holds. Only SYSTEM and Administrators
// may open the folder and what is moved into it.
#pragma once

#include <windows.h>

class InstallLog;

class StepRecord
{
public:
    // cbMax bounds the record; room for an undo mark per entry is kept in it.
    explicit StepRecord(DWORD cbMax = s_cbMaxRecord);
    virtual ~StepRecord();

    // The most a record may hold, and so the most an undo reads.
    static const DWORD s_cbMaxRecord = 8u << 20;

    // Makes the run's folder pszFolder (<WindowsDir>\ZULFuncts\<ProductCode>\<run>),
    // new, and the record in it. The folders on the way are made when missing;
    // each level is held, refused when it is a link, given the protected DACL
    // and refused when it is owned by anyone untrusted. False, with the reason
    // in the log, when the folder cannot be had.
    bool Begin(const char *pszFolder, InstallLog *pLog);

    // Before the file held on h (with DELETE, READ_CONTROL and WRITE_DAC)
    // leaves pszPath: records it with its DACL, moves it into the folder and
    // gives it the protected DACL. False, with the last error set, when any
    // of it fails; the file is where it was then.
    bool MoveAside(HANDLE h, const char *pszPath);
    // Before pszPath is made (bDirectory: a directory): rollback removes it.
    bool WillCreate(const char *pszPath, bool bDirectory);
    // Before the empty directory pszPath is removed: rollback makes it again,
    // with these attributes (its security is then what its parent gives it).
    bool WillRemoveDir(const char *pszPath, DWORD dwAttributes);
    // Before the file at pszFrom is renamed to pszTo: rollback renames it back.
    bool WillRename(const char *pszFrom, const char *pszTo);
    // The step just recorded failed and changed nothing (a rename refused):
    // its entry is marked undone, so that no rollback acts on it.
    bool Cancel();

    // Undoes the record in pszFolder in reverse order, for a command whose
    // data sources lie below pszBelow (<WindowsDir>\<twain>\<prefix>). Each
    // entry undone is marked in the record and never undone again; every
    // entry outside pszBelow, that fails the checks the commands make or that
    // cannot be undone is logged with its error. Then removes the folder, or
    // names it as left. True when everything was undone and the folder went.
    static bool Undo(const char *pszFolder, const char *pszBelow, InstallLog *pLog);
    // Removes pszFolder (a run's folder) with everything in it; names it when
    // it stays.
    static bool RemoveAll(const char *pszFolder, InstallLog *pLog);
    // After the run's folder pszFolder went: the product's folder and
    // ZULFuncts above it go when empty. Another installation's run folder
    // (its name does not begin with the first cchInstallation characters of
    // this run's) goes when it holds its record alone, and is named as left
    // when it holds anything moved aside; those of this installation are
    // left to their own commit or rollback.
    static void LetGo(const char *pszFolder, size_t cchInstallation, InstallLog *pLog);

private:
    StepRecord(const StepRecord &) = delete;
    StepRecord &operator=(const StepRecord &) = delete;

    bool Append(char chKind, const char *psz1, const char *psz2, const char *psz3 = nullptr);

    HANDLE m_hFolder; // the run's folder, held while the command runs
    HANDLE m_hRecord; // the record, written through
    DWORD m_cbMax;
    DWORD m_cbWritten;
    unsigned m_cEntries;
    unsigned m_cMoved;
    char m_szFolder[260];
};
