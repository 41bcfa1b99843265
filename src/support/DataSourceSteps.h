// The one layer every change to a data-source file or directory goes through:
// with a record, each step is written down first (what it replaces, renames
// away or deletes is moved into the record's folder); then it is made through
// the handle that holds what it changes, below the held directory.
#pragma once

#include <windows.h>

class InstallLog;
class StepRecord;

// The paths of one device's step, built once: its instance directory
// <TWAIN directory>\<prefix><instance>, the extension-less data source in it
// and the .ds; and each one's name in the directory that holds it.
struct StepPaths {
    char szDir[260];
    char szFile[260];
    char szDs[260];
    const char *pszDirName;  // in the TWAIN directory
    const char *pszFileName; // in szDir
    const char *pszDsName;   // in szDir

    // False when a path does not fit its buffer.
    bool Build(const char *pszTwainDir, const char *pszPrefix, const char *pszInstance);
};

// What to open below hRoot: its name there when hRoot holds a directory, the
// full path otherwise (the directory is missing, and so is what is below it).
// cppcheck-suppress constParameter
inline const char *NameBelow(HANDLE hRoot, const char *pszName, const char *pszPath)
{
    return hRoot != INVALID_HANDLE_VALUE && hRoot != nullptr ? pszName : pszPath;
}

class DataSourceSteps
{
public:
    explicit DataSourceSteps(StepRecord *pRecord);
    virtual ~DataSourceSteps();

    // The rights a file's handle needs for Remove: DELETE, and with a record
    // READ_CONTROL and WRITE_DAC, with which the moved file is shut to others.
    DWORD RemoveRights() const;

    // The file held on h leaves pszPath: moved aside with a record, deleted
    // otherwise. False with the last error set; nothing moved then.
    bool Remove(HANDLE h, const char *pszPath);
    // The file held on h at pszFrom takes the name pszToName in hDir (pszTo).
    bool Rename(HANDLE h, HANDLE hDir, const char *pszFrom, const char *pszTo, const char *pszToName);
    // Makes the directory pszName in hParent (pszPath) and holds it in
    // *phDir as OpenDirectory does: ERROR_SUCCESS, or the make's error; a
    // record that cannot be written fails it first (*pbRecordFailed).
    DWORD MakeDir(HANDLE hParent, const char *pszName, const char *pszPath, HANDLE *phDir, bool *pbRecordFailed);
    // Removes the empty directory held on hDir (DELETE), whose check read
    // dwAttributes; with bClearAttributes a read-only one loses that first. ERROR_SUCCESS, or
    // the record's error (nothing done); the attribute write's and the
    // removal's own errors in *pdwAttrError and *pdwRemoveError.
    DWORD RemoveDir(HANDLE hDir, const char *pszPath, DWORD dwAttributes, bool bClearAttributes, DWORD *pdwAttrError,
                    DWORD *pdwRemoveError);
    // The .ds pszDsName in hDir (pszDs) gets hTemplate's content (infoTemplate:
    // what its check read), through
    // its own handle; a .ds there before is moved aside whole with a record.
    // A .ds the copy made or left half written goes again. *pbLinked: the .ds
    // was a link, left as it is.
    DWORD CopyInto(HANDLE hTemplate, const BY_HANDLE_FILE_INFORMATION &infoTemplate, HANDLE hDir, const char *pszDsName,
                   const char *pszDs, bool *pbLinked);
    // Opens the file pszName in hDir (pszPath) once, exclusively, lets a
    // read-only one go, removes it through that handle (Remove) and logs the
    // outcome; a link is left as it is. ERROR_SUCCESS when it is gone.
    // bIfExists: a missing file is nothing to do, and nothing is logged.
    DWORD RemoveFileLogged(HANDLE hDir, const char *pszName, const char *pszPath, bool bIfExists, bool bLog,
                           InstallLog *pLog);

private:
    DataSourceSteps(const DataSourceSteps &) = delete;
    DataSourceSteps &operator=(const DataSourceSteps &) = delete;

    // With a record, a .ds there is moved aside and the new one recorded.
    DWORD MoveOldDs(HANDLE hDir, const char *pszDsName, const char *pszDs, bool *pbLinked);

    StepRecord *m_pRecord; // null: no record
};
