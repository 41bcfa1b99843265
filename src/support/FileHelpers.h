// Existence test and logged removal of the files of a data-source instance, and
// who may change them and the directories they lie in.
#pragma once

#include <windows.h>

class InstallLog;
class StepRecord;

// True when a file or directory of that name (or matching that wildcard
// pattern) exists, whatever its attributes.
bool FileExists(const char *pszPath);

// True when the SID is the running account's (the process token's user).
bool IsRunningAccount(void *psid);

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
DirCheck OpenTrustedDirectory(const char *pszDir, bool bRemove, HANDLE *phDir, const char **ppszWhy);

// Opens the file once, exclusively, clears its attributes so that a read-only
// file can go, deletes it through that handle and logs the outcome; a link is
// left as it is. ERROR_SUCCESS when the file is gone, the error otherwise.
// bIfExists: a missing file is nothing to do, and nothing is logged (a
// directory held exclusively cannot be searched for it).
// pRecord: the file is moved into the record's folder instead, as it is.
unsigned long RemoveFileLogged(const char *pszPath, bool bLog, InstallLog *pLog, bool bIfExists = false,
                               StepRecord *pRecord = nullptr);
