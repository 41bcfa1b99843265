#include "DataSourceSteps.h"

#include "BoundedString.h"
#include "FileHandles.h"
#include "InstallLog.h"
#include "StepRecord.h"

#include <string.h>

bool StepPaths::Build(const char *pszTwainDir, const char *pszPrefix, const char *pszInstance)
{
    const size_t cb = 260;
    if (!BoundedCopy(szDir, cb, pszTwainDir) || !BoundedAppend(szDir, cb, "\\"))
        return false;
    pszDirName = szDir + strlen(szDir);
    if (!BoundedAppend(szDir, cb, pszPrefix) || !BoundedAppend(szDir, cb, pszInstance) ||
        !BoundedCopy(szFile, cb, szDir) || !BoundedAppend(szFile, cb, "\\"))
        return false;
    pszFileName = szFile + strlen(szFile);
    pszDsName = szDs + strlen(szFile);
    return BoundedAppend(szFile, cb, pszDirName) && BoundedCopy(szDs, cb, szFile) && BoundedAppend(szDs, cb, ".ds");
}

DataSourceSteps::DataSourceSteps(StepRecord *pRecord) : m_pRecord(pRecord)
{
}

DataSourceSteps::~DataSourceSteps()
{
}

DWORD DataSourceSteps::RemoveRights() const
{
    return DELETE | (m_pRecord ? READ_CONTROL | WRITE_DAC : 0);
}

bool DataSourceSteps::Remove(HANDLE h, const char *pszPath)
{
    return m_pRecord ? m_pRecord->MoveAside(h, pszPath) : DeleteByHandle(h);
}

bool DataSourceSteps::Rename(HANDLE h, HANDLE hDir, const char *pszFrom, const char *pszTo, const char *pszToName)
{
    if (m_pRecord && !m_pRecord->WillRename(pszFrom, pszTo))
        return false;
    if (RenameByHandle(h, NameBelow(hDir, pszToName, pszTo), false, hDir))
        return true;
    // Refused (the .ds there already): a rollback must not rename that one.
    DWORD dwError = GetLastError();
    if (m_pRecord)
        m_pRecord->Cancel();
    SetLastError(dwError);
    return false;
}

DWORD DataSourceSteps::MakeDir(HANDLE hParent, const char *pszName, const char *pszPath, HANDLE *phDir,
                               bool *pbRecordFailed)
{
    *phDir = INVALID_HANDLE_VALUE;
    *pbRecordFailed = m_pRecord && !m_pRecord->WillCreate(pszPath, true);
    if (*pbRecordFailed)
        return GetLastError();
    // Made and held in one open, with the security the parent gives it.
    *phDir = OpenNoWaitAt(hParent, NameBelow(hParent, pszName, pszPath), READ_CONTROL | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE);
    return *phDir == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
}

DWORD DataSourceSteps::RemoveDir(HANDLE hDir, const char *pszPath, DWORD dwAttributes, bool bClearAttributes,
                                 DWORD *pdwAttrError, DWORD *pdwRemoveError)
{
    *pdwAttrError = ERROR_SUCCESS;
    *pdwRemoveError = ERROR_SUCCESS;
    if (m_pRecord && !m_pRecord->WillRemoveDir(pszPath, dwAttributes))
        return GetLastError();
    // Only read-only keeps a directory from going: no write that changes nothing.
    if (bClearAttributes && (dwAttributes & FILE_ATTRIBUTE_READONLY) &&
        !SetAttributesByHandle(hDir, FILE_ATTRIBUTE_NORMAL))
        *pdwAttrError = GetLastError();
    if (!DeleteByHandle(hDir))
        *pdwRemoveError = GetLastError();
    return ERROR_SUCCESS;
}

DWORD DataSourceSteps::MoveOldDs(HANDLE hDir, const char *pszDsName, const char *pszDs, bool *pbLinked)
{
    if (!m_pRecord)
        return ERROR_SUCCESS;
    // Recorded, the .ds there is moved aside whole and a new one made, so
    // that a rollback can put the old one back as it was.
    HANDLE hOld = OpenFileExclusiveAt(hDir, NameBelow(hDir, pszDsName, pszDs), RemoveRights(), FILE_OPEN, pbLinked);
    DWORD dwError = hOld == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (hOld != INVALID_HANDLE_VALUE) {
        if (!m_pRecord->MoveAside(hOld, pszDs))
            dwError = GetLastError();
        CloseHandle(hOld);
    } else if (IsMissing(dwError)) {
        dwError = ERROR_SUCCESS;
    }
    if (dwError == ERROR_SUCCESS && !m_pRecord->WillCreate(pszDs, false))
        dwError = GetLastError();
    return dwError;
}

DWORD DataSourceSteps::CopyInto(HANDLE hTemplate, const BY_HANDLE_FILE_INFORMATION &infoTemplate, HANDLE hDir,
                                const char *pszDsName, const char *pszDs, bool *pbLinked)
{
    *pbLinked = false;
    DWORD dwError = MoveOldDs(hDir, pszDsName, pszDs, pbLinked);
    if (dwError != ERROR_SUCCESS || *pbLinked)
        return dwError;
    // FILE_WRITE_DATA, and FILE_WRITE_ATTRIBUTES for the template's
    // attributes; DELETE for a .ds that a failed copy made or left half
    // written, which goes as CopyFile's would.
    bool bNew = false, bWritten = false;
    HANDLE hDs = OpenFileExclusiveAt(hDir, NameBelow(hDir, pszDsName, pszDs),
                                     FILE_WRITE_DATA | FILE_WRITE_ATTRIBUTES | DELETE, FILE_OPEN_IF, pbLinked, &bNew);
    if (hDs == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (!CopyByHandle(hTemplate, infoTemplate, hDs, bNew, &bWritten)) {
        dwError = GetLastError();
        if (bNew || bWritten)
            DeleteByHandle(hDs);
    }
    CloseHandle(hDs);
    return dwError;
}

DWORD DataSourceSteps::RemoveFileLogged(HANDLE hDir, const char *pszName, const char *pszPath, bool bIfExists,
                                        bool bLog, InstallLog *pLog)
{
    // FILE_WRITE_ATTRIBUTES to let a read-only file go first.
    bool bLinked = false;
    BY_HANDLE_FILE_INFORMATION info = {};
    HANDLE h = OpenFileExclusiveAt(hDir, NameBelow(hDir, pszName, pszPath), RemoveRights() | FILE_WRITE_ATTRIBUTES,
                                   FILE_OPEN, &bLinked, nullptr, &info);
    DWORD dwError = h == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (bIfExists && dwError == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (bLinked) {
        if (bLog)
            LogPrintf(pLog, "Linked file: %s, left as it is", pszPath);
        return dwError;
    }
    // A file that cannot be opened fails both steps with the open's error.
    // Moved aside, it goes whole, read-only or not.
    bool bClear = h != INVALID_HANDLE_VALUE && !m_pRecord && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    if ((h == INVALID_HANDLE_VALUE || (bClear && !SetAttributesByHandle(h, FILE_ATTRIBUTE_NORMAL))) && bLog)
        LogLastError(pLog, h == INVALID_HANDLE_VALUE ? dwError : GetLastError(), "SetFileAttributes failed on %s",
                     pszPath);
    if (h != INVALID_HANDLE_VALUE && !Remove(h, pszPath))
        dwError = GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (dwError != ERROR_SUCCESS) {
        if (bLog)
            LogErrno(pLog, CrtErrno(dwError), "_tremove failed on %s", pszPath);
    } else if (bLog) {
        LogPrintf(pLog, "_tremove succefully removed %s", pszPath);
    }
    return dwError;
}
