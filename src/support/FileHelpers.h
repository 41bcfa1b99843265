// Existence test and logged removal of the files of a data-source instance, and
// who may change the directory they lie in.
#pragma once

#include <windows.h>

class InstallLog;

// True when a file or directory of that name (or matching that wildcard
// pattern) exists, whatever its attributes.
bool FileExists(const char *pszPath);

// True when the path names a reparse point (symbolic link, junction) itself,
// not what it leads to.
bool IsReparsePoint(const char *pszPath);

// True when the SID is the running account's (the process token's user).
bool IsRunningAccount(void *psid);

// Reads the directory's owner and DACL through a handle. False, with the
// reason for the log in *ppszWhy, when anyone but the running account,
// SYSTEM, the Administrators group or TrustedInstaller may add, delete or
// rename its entries or change who may, or when that cannot be read. A
// directory that does not exist holds nothing to protect: true.
bool OnlyTrustedMayChange(const char *pszDir, const char **ppszWhy);

// Clears the file's attributes so that a read-only file can go, deletes it, and
// logs the outcome. False, with the Windows error in *pdwError, when it stays.
bool RemoveFileLogged(const char *pszPath, DWORD *pdwError, bool bLog, InstallLog *pLog);
