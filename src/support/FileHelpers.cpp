#include "FileHelpers.h"

#include "InstallLog.h"

#include <windows.h>

#include <aclapi.h>
#include <errno.h>
#include <stdio.h>

bool FileExists(const char *pszPath)
{
    WIN32_FIND_DATAA findData;
    HANDLE hFind = FindFirstFileA(pszPath, &findData);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    FindClose(hFind);
    return true;
}

bool IsReparsePoint(const char *pszPath)
{
    DWORD dwAttributes = GetFileAttributesA(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsRunningAccount(void *psid)
{
    HANDLE hToken;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    alignas(TOKEN_USER) BYTE rgbUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    const TOKEN_USER *pUser = reinterpret_cast<const TOKEN_USER *>(rgbUser);
    DWORD cb = 0;
    bool bSame =
        GetTokenInformation(hToken, TokenUser, rgbUser, sizeof rgbUser, &cb) && EqualSid(pUser->User.Sid, psid);
    CloseHandle(hToken);
    return bSame;
}

namespace {

// NT SERVICE\TrustedInstaller, which owns what Windows itself installs: SID
// holds one sub-authority, the other five follow it.
const struct {
    SID sid;
    DWORD rgdwMore[5];
} s_trustedInstaller = {{1, 6, {{0, 0, 0, 0, 0, 5}}, {80}},
                        {956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};

bool IsTrustedAccount(PSID psid)
{
    return IsWellKnownSid(psid, WinLocalSystemSid) || IsWellKnownSid(psid, WinBuiltinAdministratorsSid) ||
           EqualSid(psid, const_cast<SID *>(&s_trustedInstaller.sid)) || IsRunningAccount(psid);
}

// Whether an allow entry that applies to the directory itself lets someone
// untrusted add, delete or rename entries, or change the DACL or owner.
bool LetsOthersChange(const ACE_HEADER *pHeader)
{
    const ACCESS_MASK changeRights =
        FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER;
    const ACCESS_ALLOWED_ACE *pAce = reinterpret_cast<const ACCESS_ALLOWED_ACE *>(pHeader);
    PSID psid = nullptr;
    switch (pHeader->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
        psid = const_cast<DWORD *>(&pAce->SidStart);
        break;
    case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
        break; // a trustee not read here counts as untrusted
    default:
        return false; // denies and audits grant nothing
    }
    if (pHeader->AceFlags & INHERIT_ONLY_ACE)
        return false;
    ACCESS_MASK mask = pAce->Mask;
    if (mask & GENERIC_WRITE)
        mask |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_ALL)
        mask |= FILE_ALL_ACCESS;
    return (mask & changeRights) && !(psid && IsTrustedAccount(psid));
}

} // namespace

bool OnlyTrustedMayChange(const char *pszDir, const char **ppszWhy)
{
    *ppszWhy = "Security unreadable";
    HANDLE h = CreateFileA(pszDir, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
    }
    PSID psidOwner = nullptr;
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pSD = nullptr;
    DWORD dwResult = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &psidOwner, nullptr, &pDacl, nullptr, &pSD);
    CloseHandle(h);
    if (dwResult != ERROR_SUCCESS)
        return false;
    bool bOnlyTrusted = false;
    if (!psidOwner || !IsTrustedAccount(psidOwner)) {
        *ppszWhy = "Owned by another user";
    } else if (!pDacl) {
        *ppszWhy = "Writable by other users"; // no DACL: everyone may do anything
    } else {
        bOnlyTrusted = true;
        for (DWORD i = 0; bOnlyTrusted && i < pDacl->AceCount; i++) {
            void *pAce = nullptr;
            if (!GetAce(pDacl, i, &pAce)) {
                bOnlyTrusted = false;
            } else if (LetsOthersChange(static_cast<const ACE_HEADER *>(pAce))) {
                *ppszWhy = "Writable by other users";
                bOnlyTrusted = false;
            }
        }
    }
    LocalFree(pSD);
    return bOnlyTrusted;
}

bool RemoveFileLogged(const char *pszPath, DWORD *pdwError, bool bLog, InstallLog *pLog)
{
    if (!SetFileAttributesA(pszPath, FILE_ATTRIBUTE_NORMAL) && bLog)
        LogLastError(pLog, GetLastError(), "SetFileAttributes failed on %s", pszPath);
    if (remove(pszPath) != 0) {
        int err = errno;
        *pdwError = GetLastError();
        if (bLog)
            LogErrno(pLog, err, "_tremove failed on %s", pszPath);
        return false;
    }
    if (bLog)
        LogPrintf(pLog, "_tremove succefully removed %s", pszPath);
    return true;
}
