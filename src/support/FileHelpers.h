// Existence test and logged removal of the files of a data-source instance, and
// who may change them and the directories they lie in.
#pragma once

#include <windows.h>

class InstallLog;

// True when a file or directory of that name (or matching that wildcard
// pattern) exists, whatever its attributes.
bool FileExists(const char *pszPath);

// <WindowsDir>\pszName1[\pszName2[\pszName3]] in szPath (260 bytes). False,
// with szPath empty, when the Windows directory cannot be read or, with
// *pbTooLong set when given, when the path does not fit.
bool WindowsPath(char *szPath, bool *pbTooLong, const char *pszName1, const char *pszName2 = nullptr,
                 const char *pszName3 = nullptr);

// True when the SID is the running account's (the process token's user).
bool IsRunningAccount(void *psid);

// The accounts trusted with what the program works on: the running account,
// SYSTEM, the Administrators group and TrustedInstaller (data sources, the
// TWAIN directory and the backup folders).
bool IsTrustedAccount(void *psid);
// The log's narrower rule, for a file in a directory every user reaches: the
// same without TrustedInstaller, which never makes a log there.
bool IsTrustedLogOwner(void *psid);

// Reads the owner and DACL of a directory or file through its handle (which
// needs READ_CONTROL). False, with the reason for the log in *ppszWhy, when
// the owner is none of the running account, SYSTEM, the Administrators group
// and TrustedInstaller, when there is no DACL, when it cannot be read, or when
// an allow entry lets anyone else change it: add, delete or rename entries,
// write data or attributes, delete it or change who may. An entry counts when
// it applies to the object or is inherited by what is made in it (a new
// instance directory or .ds gets it); an inherited CREATOR OWNER entry becomes
// the creator's, this program's.
bool OnlyTrustedMayChange(HANDLE h, const char **ppszWhy);

// What opening a directory the program works in found (OpenTrustedDirectory).
enum DirCheck
{
    DIR_TRUSTED,       // held in *phDir
    DIR_UNOPENED,      // the open failed: its error is the last error
    DIR_REPARSE_POINT, // a link or junction, never worked through
    DIR_UNTRUSTED      // others may change it, or that cannot be read: *ppszWhy says which
};

// Opens the directory (OpenDirectory; exclusively for bRemove) and checks it
// on its handle: no reparse point, and only trusted accounts may change it
// (OnlyTrustedMayChange). *phDir holds it when it passes and is
// INVALID_HANDLE_VALUE otherwise.
// Below the held directory hRoot when it is given (pszDir then a name in it);
// *pdwAttributes, when given, gets the attributes of a directory that passes.
DirCheck OpenTrustedDirectory(const char *pszDir, bool bRemove, HANDLE *phDir, const char **ppszWhy,
                              HANDLE hRoot = nullptr, DWORD *pdwAttributes = nullptr);

// The check of OpenTrustedDirectory on a directory held on *phDir
// (INVALID_HANDLE_VALUE: DIR_UNOPENED), which is closed unless it passes.
DirCheck CheckTrustedDirectory(HANDLE *phDir, const char **ppszWhy, DWORD *pdwAttributes = nullptr);

// The one line a refused directory gets: "<why>: <dir>, no data source
// changed" (an open that failed: "Security unreadable"), or for a reparse
// point the caller's own format, given pszReparseArg. Nothing for DIR_TRUSTED.
void LogDirRefused(DirCheck check, const char *pszWhy, const char *pszDir, const char *pszReparseFormat,
                   const char *pszReparseArg, bool bLog, InstallLog *pLog);
