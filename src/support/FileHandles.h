// Data-source files and directories opened once, through an open that never
// waits on another process, and changed only through that handle: each
// replace, rename, delete and attribute change is one call on a handle, where
// a record of the step can be taken before it.
#pragma once

#include <windows.h>

#include <winternl.h>

// Opens pszPath through NTDLL's NtCreateFile with FILE_COMPLETE_IF_OPLOCKED,
// never through a link at the name (FILE_OPEN_REPARSE_POINT), synchronous.
// dwDisposition is FILE_OPEN, FILE_CREATE or FILE_OPEN_IF; dwOptions
// FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE. Another process's handle or
// oplock makes it fail at once with ERROR_SHARING_VIOLATION. On failure
// INVALID_HANDLE_VALUE with the last error set: ERROR_PROC_NOT_FOUND when
// NtCreateFile cannot be found, and nothing is opened by name instead.
// *pbCreated, when given, tells whether the open made the file.
HANDLE OpenNoWait(const char *pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition, DWORD dwOptions,
                  bool *pbCreated = nullptr);
// The same below the held directory hRoot (OBJECT_ATTRIBUTES.RootDirectory):
// pszPath is then a name in it, opened with no window between the parent's
// check and the child's open. A null or invalid hRoot: pszPath is a full path.
HANDLE OpenNoWaitAt(HANDLE hRoot, const char *pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                    DWORD dwOptions, bool *pbCreated = nullptr);

// What the checks and the copy read of an open file (FILE_READ_ATTRIBUTES):
// attributes, times, size and number of names, from FileBasicInfo and
// FileStandardInfo. The volume serial and file index stay 0: under Wine,
// GetFileInformationByHandle asks the mount manager for them, a dozen server
// round trips on every call.
bool ReadFileFacts(HANDLE h, BY_HANDLE_FILE_INFORMATION *pInfo);

// The one link rule: a reparse point, or a file with more than one name.
bool IsLinked(const BY_HANDLE_FILE_INFORMATION &info);

// A data-source file, opened exclusively (share 0) with dwAccess and
// FILE_READ_ATTRIBUTES. A reparse point or a file with more than one name is
// closed again and refused: INVALID_HANDLE_VALUE with *pbLinked set. A file
// the open made and cannot check goes again when dwAccess has DELETE.
HANDLE OpenFileExclusive(const char *pszPath, DWORD dwAccess, DWORD dwDisposition, bool *pbLinked,
                         bool *pbCreated = nullptr);
// The same below hRoot (OpenNoWaitAt); *pInfo, when given, gets what the
// check read. A file the open made is not checked again unless pInfo is given.
HANDLE OpenFileExclusiveAt(HANDLE hRoot, const char *pszPath, DWORD dwAccess, DWORD dwDisposition, bool *pbLinked,
                           bool *pbCreated = nullptr, BY_HANDLE_FILE_INFORMATION *pInfo = nullptr);

// A data-source directory, held with READ_CONTROL and FILE_READ_ATTRIBUTES,
// rights no other process's sharing can refuse; for a step that removes it
// (bRemove), with DELETE and FILE_WRITE_ATTRIBUTES as well. Shared for
// reading and writing (a rename below it opens it for writing). Without read,
// write or delete access the hold itself refuses no other open: what keeps
// others from renaming or deleting it is its DACL, checked on this handle.
// Below hRoot when it is given (OpenNoWaitAt).
HANDLE OpenDirectory(const char *pszPath, bool bRemove, HANDLE hRoot = nullptr);

// True when the handle shows a reparse point, or shows nothing.
bool IsReparsePointHandle(HANDLE h);

// Replaces hTo's content (FILE_WRITE_DATA and FILE_WRITE_ATTRIBUTES, at its
// start; bEmpty: it has none) with hFrom's (FILE_READ_DATA, read from its
// start; info: what GetFileInformationByHandle read of it), and gives it
// hFrom's attributes and time of last write, as CopyFile does. False with the
// last error set; *pbWritten tells whether hTo's content was changed before
// the failure.
bool CopyByHandle(HANDLE hFrom, const BY_HANDLE_FILE_INFORMATION &info, HANDLE hTo, bool bEmpty, bool *pbWritten);

// FileBasicInfo: the attributes, times unchanged (FILE_WRITE_ATTRIBUTES).
bool SetAttributesByHandle(HANDLE h, DWORD dwAttributes);
// FileDispositionInfo: the name goes when the handle closes (DELETE).
bool DeleteByHandle(HANDLE h);
// FileRenameInfo: the open file takes the full path pszNewPath (DELETE), or
// the name pszNewPath in the directory hRoot when it is given.
bool RenameByHandle(HANDLE h, const char *pszNewPath, bool bReplaceIfExists, HANDLE hRoot = nullptr);

// The entries of a directory, read through a handle with FILE_LIST_DIRECTORY
// that the no-wait open made (NtQueryDirectoryFile): never a search by name,
// which would wait on, or be refused by, whoever holds the directory.
class DirectoryListing
{
public:
    DirectoryListing();
    virtual ~DirectoryListing();

    // False, with the last error set, when the directory cannot be listed:
    // ERROR_SHARING_VIOLATION when another process holds it unshared.
    bool Open(const char *pszDir);
    bool IsOpen() const { return m_hDir != INVALID_HANDLE_VALUE; }
    // The next entry's name, as the ANSI code page writes it, and its
    // attributes. False at the end (ERROR_NO_MORE_FILES) or on a failure.
    // A name the code page cannot write exactly is passed over.
    bool Next(char *szName, size_t cbName, DWORD *pdwAttributes);
    void Close();

private:
    DirectoryListing(const DirectoryListing &) = delete;
    DirectoryListing &operator=(const DirectoryListing &) = delete;

    bool Fill();

    HANDLE m_hDir;
    ULONG m_cbFilled; // of the entries in m_rgb
    ULONG m_ibNext;   // the next entry's offset; m_cbFilled when none is left
    alignas(8) BYTE m_rgb[4096];
};

// The errno that msvcrt's file routines set for a Windows error, in msvcrt's
// numbers (2, 13, 41, ...), for the log lines that say errno.
int CrtErrno(DWORD dwError);

// The open found nothing to open: the path, or a directory on it, is missing.
inline bool IsMissing(DWORD dwError)
{
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}
