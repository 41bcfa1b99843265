// The DLL form's record of what a command changes below twain_32, kept in a
// backup folder of its own, so that a rollback can put every data source back
// as it was: each step is written and flushed before it is made, and what a
// step replaces, renames away or deletes is moved into the folder, whole,
// through the handle the step holds.
#pragma once

#include <windows.h>

class InstallLog;

class StepRecord
{
public:
    StepRecord();
    virtual ~StepRecord();

    // Makes the run's folder pszFolder (<WindowsDir>\ZULFuncts\<ProductCode>\<run>),
    // new, and the record in it. The folders on the way are made when missing
    // and, like the run's own, held and checked: no link, only trusted
    // accounts may change them. False, with the reason in the log, when the
    // folder cannot be had.
    bool Begin(const char *pszFolder, InstallLog *pLog);

    // Before the file held on h (with DELETE) leaves
    // pszPath: records it, then moves it into the folder. False, with the
    // last error set, when either fails; nothing was moved then.
    bool MoveAside(HANDLE h, const char *pszPath);
    // Before pszPath is made (bDirectory: a directory): rollback removes it.
    bool WillCreate(const char *pszPath, bool bDirectory);
    // Before the empty directory pszPath is removed: rollback makes it again,
    // with these attributes (its security is then what twain_32 gives it).
    bool WillRemoveDir(const char *pszPath, DWORD dwAttributes);
    // Before the file at pszFrom is renamed to pszTo: rollback renames it back.
    bool WillRename(const char *pszFrom, const char *pszTo);

    // Undoes the record in pszFolder in reverse order, for a command whose
    // data sources lie below pszBelow (<WindowsDir>\twain_32\<prefix>): every
    // entry outside it, or that fails the checks the commands make, is logged
    // and skipped. Then removes the folder. True when nothing was skipped.
    static bool Undo(const char *pszFolder, const char *pszBelow, InstallLog *pLog);
    // Removes pszFolder (a product's folder of runs) with everything in it.
    static bool RemoveAll(const char *pszFolder, InstallLog *pLog);

private:
    StepRecord(const StepRecord &) = delete;
    StepRecord &operator=(const StepRecord &) = delete;

    bool Append(char chKind, const char *psz1, const char *psz2);

    HANDLE m_hFolder; // the run's folder, held while the command runs
    HANDLE m_hRecord; // the record, written through
    unsigned m_cMoved;
    char m_szFolder[260];
};
