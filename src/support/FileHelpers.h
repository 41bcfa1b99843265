// Existence test and logged removal of the files of a data-source instance.
#pragma once

class InstallLog;

// True when a file or directory of that name (or matching that wildcard
// pattern) exists, whatever its attributes.
bool FileExists(const char *pszPath);

// True when the path names a reparse point (symbolic link, junction) itself,
// not what it leads to.
bool IsReparsePoint(const char *pszPath);

// Clears the file's attributes so that a read-only file can go, deletes it, and
// logs the outcome.
void RemoveFileLogged(const char *pszPath, bool bLog, InstallLog *pLog);
