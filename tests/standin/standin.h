// Internals shared by the files of the POSIX stand-in; never seen by the program.
#pragma once

#include "crterrno.h"

#include <windows.h>

#include <string>

// Directory named by ZULFUNCTS_SYSROOT, or null when it is unset or empty.
const char *ZulStandinSysroot();

// Windows path (backslashes or slashes) to a POSIX path. Each existing component is
// matched without regard to case, as a Windows file system does; the components that
// do not exist are kept as written.
std::string ZulStandinPosixPath(const char *pszWinPath);

// Windows error code (GetLastError) for a POSIX errno value.
DWORD ZulStandinErrorFromErrno(int err);
// As ZulStandinErrorFromErrno, but ENOENT becomes ERROR_PATH_NOT_FOUND when the
// directory that should hold pszWinPath's last component is missing.
DWORD ZulStandinErrorForPath(int err, const char *pszWinPath);

// msvcrt errno value for a Windows error code, as the runtime maps them.
int ZulStandinErrnoFromError(DWORD dwError);

// Read-only, as Wine keeps FILE_ATTRIBUTE_READONLY: no write permission for anyone.
bool ZulStandinIsReadOnly(unsigned int mode);
// Sets the last error and returns FALSE.
BOOL ZulStandinFail(DWORD dwError);

// The attributes Windows shows for a file of that mode (a link's: its target's, bLink set):
// a directory, or an archive, read-only without write permission; a link is a reparse point.
DWORD ZulStandinAttributes(unsigned int mode, bool bLink);

// An ASCII letter in lower case, any other byte as it is: how Windows folds file and key names.
inline unsigned char ZulStandinFoldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}
// Case-insensitive comparison of ASCII letters, as Windows compares file and key names.
bool ZulStandinEqualNoCase(const std::string &a, const std::string &b);

// The descriptor of a file handle from CreateFileA, or -1 (last error set).
int ZulStandinFileDescriptor(HANDLE h);
// The access a handle was opened with (0 for no handle).
ACCESS_MASK ZulStandinHandleAccess(HANDLE h);
// Gives the file on fd the modes a self-relative descriptor's DACL shows: the
// Users group's rights become the group bits, Everyone's the others'; the
// owner's bits stay. False (last error set) for a descriptor it cannot read.
bool ZulStandinApplyDescriptor(int fd, PSECURITY_DESCRIPTOR pSD);
// Another process's oplock on the file at the POSIX path (null: none): NtCreateFile of it
// fails with status (STATUS_SHARING_VIOLATION, the batch oplock's break underway), or, for
// STATUS_OPLOCK_BREAK_IN_PROGRESS, opens it and returns that status.
void ZulStandinHoldOplock(const char *pszPath, NTSTATUS status);
// Whether h is the handle OpenProcessToken gives.
bool ZulStandinIsTokenHandle(HANDLE h);

// Forget the registry read from <sysroot>/registry.reg, so the next call reads it anew; the key
// handles and device sets taken from it become invalid handles.
void ZulStandinRegistryReset();
