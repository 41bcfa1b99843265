// Owners and the process token. A Unix account is a security identifier: root
// is LocalSystem (S-1-5-18), as which installers run their custom actions;
// any other uid u is S-1-5-21-0-0-0-u, a user of the machine's domain as Wine
// names its user.
#include "standin.h"

#include <aclapi.h>

#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const HANDLE s_hToken = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7F10));

const size_t s_cbSidHead = 8; // revision, count, authority

size_t SidSize(const SID *pSid)
{
    return s_cbSidHead + 4 * static_cast<size_t>(pSid->SubAuthorityCount);
}

// Writes the SID of S-1-5-r0-r1-... to pv (room for SECURITY_MAX_SID_SIZE bytes).
void MakeNtSid(void *pv, const DWORD *prgRid, BYTE cRid)
{
    SID *pSid = static_cast<SID *>(pv);
    pSid->Revision = 1;
    pSid->SubAuthorityCount = cRid;
    memset(pSid->IdentifierAuthority.Value, 0, 6);
    pSid->IdentifierAuthority.Value[5] = 5;
    memcpy(reinterpret_cast<BYTE *>(pv) + s_cbSidHead, prgRid, 4 * static_cast<size_t>(cRid));
}

void SidOfUid(uid_t uid, void *pv)
{
    static const DWORD rgSystem[] = {18};
    if (uid == 0) {
        MakeNtSid(pv, rgSystem, 1);
        return;
    }
    const DWORD rgUser[] = {21, 0, 0, 0, static_cast<DWORD>(uid)};
    MakeNtSid(pv, rgUser, 5);
}

} // namespace

bool ZulStandinIsTokenHandle(HANDLE h)
{
    return h == s_hToken;
}

extern "C" HANDLE WINAPI GetCurrentProcess(void)
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

extern "C" BOOL WINAPI OpenProcessToken(HANDLE, DWORD, PHANDLE TokenHandle)
{
    *TokenHandle = s_hToken;
    return TRUE;
}

extern "C" BOOL WINAPI GetTokenInformation(HANDLE TokenHandle, TOKEN_INFORMATION_CLASS TokenInformationClass,
                                           LPVOID TokenInformation, DWORD TokenInformationLength, LPDWORD ReturnLength)
{
    if (TokenHandle != s_hToken) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (TokenInformationClass != TokenUser) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    alignas(DWORD) BYTE rgbSid[SECURITY_MAX_SID_SIZE];
    SidOfUid(geteuid(), rgbSid);
    size_t cbSid = SidSize(reinterpret_cast<SID *>(rgbSid));
    *ReturnLength = static_cast<DWORD>(sizeof(TOKEN_USER) + cbSid);
    if (TokenInformationLength < *ReturnLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    TOKEN_USER *pUser = static_cast<TOKEN_USER *>(TokenInformation);
    BYTE *pbSid = static_cast<BYTE *>(TokenInformation) + sizeof(TOKEN_USER);
    memcpy(pbSid, rgbSid, cbSid);
    pUser->User.Sid = pbSid;
    pUser->User.Attributes = 0;
    return TRUE;
}

// Only a file's owner is known here; the descriptor returned is that SID alone.
extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                                        PSID *ppsidOwner, PSID *ppsidGroup, PACL *ppDacl, PACL *ppSacl,
                                        PSECURITY_DESCRIPTOR *ppSecurityDescriptor)
{
    if (ObjectType != SE_FILE_OBJECT || SecurityInfo != OWNER_SECURITY_INFORMATION || !ppSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    int fd = ZulStandinFileDescriptor(handle);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return ERROR_INVALID_HANDLE;
    void *pSid = malloc(SECURITY_MAX_SID_SIZE);
    if (!pSid)
        return ERROR_NOT_ENOUGH_MEMORY;
    SidOfUid(st.st_uid, pSid);
    if (ppsidOwner)
        *ppsidOwner = pSid;
    if (ppsidGroup)
        *ppsidGroup = nullptr;
    if (ppDacl)
        *ppDacl = nullptr;
    if (ppSacl)
        *ppSacl = nullptr;
    *ppSecurityDescriptor = pSid;
    return ERROR_SUCCESS;
}

extern "C" HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    free(hMem);
    return nullptr;
}

extern "C" BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2)
{
    const SID *p1 = static_cast<const SID *>(pSid1);
    const SID *p2 = static_cast<const SID *>(pSid2);
    return p1->SubAuthorityCount == p2->SubAuthorityCount && memcmp(p1, p2, SidSize(p1)) == 0;
}

extern "C" BOOL WINAPI IsWellKnownSid(PSID pSid, WELL_KNOWN_SID_TYPE WellKnownSidType)
{
    static const DWORD rgSystem[] = {18};
    static const DWORD rgAdministrators[] = {32, 544};
    alignas(DWORD) BYTE rgbKnown[SECURITY_MAX_SID_SIZE];
    if (WellKnownSidType == WinLocalSystemSid)
        MakeNtSid(rgbKnown, rgSystem, 1);
    else if (WellKnownSidType == WinBuiltinAdministratorsSid)
        MakeNtSid(rgbKnown, rgAdministrators, 2);
    else
        return FALSE;
    return EqualSid(pSid, rgbKnown);
}
