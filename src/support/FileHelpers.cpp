#include "FileHelpers.h"

#include "BoundedString.h"
#include "FileHandles.h"
#include "InstallLog.h"

#include <windows.h>

#include <aclapi.h>

bool WindowsPath(char *szPath, bool *pbTooLong, const char *pszName1, const char *pszName2, const char *pszName3)
{
    const size_t cb = 260;
    UINT cch = GetWindowsDirectoryA(szPath, cb);
    bool bFits = cch < cb;
    if (cch != 0 && bFits) {
        bFits = szPath[cch - 1] == '\\' || BoundedAppend(szPath, cb, "\\");
        bFits = bFits && BoundedAppend(szPath, cb, pszName1);
        const char *const rgpszMore[] = {pszName2, pszName3};
        for (const char *pszName : rgpszMore) {
            if (pszName)
                bFits = bFits && BoundedAppend(szPath, cb, "\\") && BoundedAppend(szPath, cb, pszName);
        }
    }
    if (pbTooLong)
        *pbTooLong = !bFits;
    if (cch == 0 || !bFits)
        szPath[0] = '\0';
    return szPath[0] != '\0';
}

bool FileExists(const char *pszPath)
{
    WIN32_FIND_DATAA findData;
    HANDLE hFind = FindFirstFileA(pszPath, &findData);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    FindClose(hFind);
    return true;
}

bool IsRunningAccount(void *psid)
{
    // The process's user never changes: read once, on the first call that can.
    alignas(TOKEN_USER) static BYTE s_rgbUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    static bool s_bRead = false;
    if (!s_bRead) {
        HANDLE hToken;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
            return false;
        DWORD cb = 0;
        s_bRead = GetTokenInformation(hToken, TokenUser, s_rgbUser, sizeof s_rgbUser, &cb) != FALSE;
        CloseHandle(hToken);
        if (!s_bRead)
            return false;
    }
    return EqualSid(reinterpret_cast<const TOKEN_USER *>(s_rgbUser)->User.Sid, psid) != FALSE;
}

namespace {

// NT SERVICE\TrustedInstaller, which owns what Windows itself installs: SID
// holds one sub-authority, the other five follow it.
const struct {
    SID sid;
    DWORD rgdwMore[5];
} s_trustedInstaller = {{1, 6, {{0, 0, 0, 0, 0, 5}}, {80}},
                        {956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};

// CREATOR OWNER, S-1-3-0.
const SID s_sidCreatorOwner = {1, 1, {{0, 0, 0, 0, 0, 3}}, {0}};

// Whether an allow entry lets someone untrusted change the object or what is
// made in it: add, delete or rename entries, write data or attributes, delete
// it, or change its DACL or owner.
bool LetsOthersChange(const ACE_HEADER *pHeader)
{
    const ACCESS_MASK changeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                     DELETE | WRITE_DAC | WRITE_OWNER;
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
    // Inherit-only and inherited by nothing: it applies nowhere.
    if ((pHeader->AceFlags & INHERIT_ONLY_ACE) && !(pHeader->AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)))
        return false;
    ACCESS_MASK mask = pAce->Mask;
    if (mask & GENERIC_WRITE)
        mask |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_ALL)
        mask |= FILE_ALL_ACCESS;
    // CREATOR OWNER grants nothing on the object itself; what is made in it
    // gets the entry for its creator, this program. CREATOR GROUP's entry
    // goes to the creator's primary group, which for a user is every user.
    bool bTrusted = psid && (IsTrustedAccount(psid) || EqualSid(psid, const_cast<SID *>(&s_sidCreatorOwner)));
    return (mask & changeRights) && !bTrusted;
}

} // namespace

bool IsTrustedLogOwner(void *psid)
{
    return IsRunningAccount(psid) || IsWellKnownSid(psid, WinLocalSystemSid) ||
           IsWellKnownSid(psid, WinBuiltinAdministratorsSid);
}

bool IsTrustedAccount(void *psid)
{
    return IsTrustedLogOwner(psid) || EqualSid(psid, const_cast<SID *>(&s_trustedInstaller.sid));
}

bool OnlyTrustedMayChange(HANDLE h, const char **ppszWhy)
{
    *ppszWhy = "Security unreadable";
    PSID psidOwner = nullptr;
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pSD = nullptr;
    DWORD dwResult = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     &psidOwner, nullptr, &pDacl, nullptr, &pSD);
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

DirCheck OpenTrustedDirectory(const char *pszDir, bool bRemove, HANDLE *phDir, const char **ppszWhy, HANDLE hRoot,
                              DWORD *pdwAttributes)
{
    *phDir = OpenDirectory(pszDir, bRemove, hRoot);
    return CheckTrustedDirectory(phDir, ppszWhy, pdwAttributes);
}

DirCheck CheckTrustedDirectory(HANDLE *phDir, const char **ppszWhy, DWORD *pdwAttributes)
{
    *ppszWhy = nullptr;
    if (*phDir == INVALID_HANDLE_VALUE)
        return DIR_UNOPENED;
    DirCheck check = DIR_TRUSTED;
    BY_HANDLE_FILE_INFORMATION info;
    if (!ReadFileFacts(*phDir, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        check = DIR_REPARSE_POINT;
    else if (!OnlyTrustedMayChange(*phDir, ppszWhy))
        check = DIR_UNTRUSTED;
    if (check != DIR_TRUSTED) {
        CloseHandle(*phDir);
        *phDir = INVALID_HANDLE_VALUE;
    } else if (pdwAttributes) {
        *pdwAttributes = info.dwFileAttributes;
    }
    return check;
}

void LogDirRefused(DirCheck check, const char *pszWhy, const char *pszDir, const char *pszReparseFormat,
                   const char *pszReparseArg, bool bLog, InstallLog *pLog)
{
    if (!bLog || check == DIR_TRUSTED)
        return;
    if (check == DIR_REPARSE_POINT) {
        LogPrintf(pLog, pszReparseFormat, pszReparseArg);
        return;
    }
    LogPrintf(pLog, "%s: %s, no data source changed", pszWhy ? pszWhy : "Security unreadable", pszDir);
}
