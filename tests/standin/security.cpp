// Owners and the process token. A Unix account is a security identifier: root
// is LocalSystem (S-1-5-18), as which installers run their custom actions;
// any other uid u is S-1-5-21-0-0-0-u, a user of the machine's domain as Wine
// names its user.
#include "standin.h"

#include <aclapi.h>

#include <errno.h>

#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const HANDLE s_hToken = reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x7F10));

const size_t s_cbSidHead = 8; // revision, count, authority

const DWORD s_rgSystemRid[] = {18}; // LocalSystem, S-1-5-18

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
    if (uid == 0) {
        MakeNtSid(pv, s_rgSystemRid, 1);
        return;
    }
    const DWORD rgUser[] = {21, 0, 0, 0, static_cast<DWORD>(uid)};
    MakeNtSid(pv, rgUser, 5);
}

// The rights of one rwx triple of a mode, as Wine gives them.
ACCESS_MASK RightsOfBits(unsigned int bits)
{
    const ACCESS_MASK dwWriteRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                                      0x0110; // FILE_WRITE_ATTRIBUTES, FILE_WRITE_EA
    return ((bits & 4) ? FILE_GENERIC_READ : 0) | ((bits & 2) ? dwWriteRights : 0) |
           ((bits & 1) ? FILE_GENERIC_EXECUTE : 0);
}

// Appends an allow entry; the ACL's buffer has room for four.
void AddAllowed(ACL *pAcl, const void *pSid, ACCESS_MASK mask, BYTE flags)
{
    if (mask == 0)
        return;
    size_t cbSid = SidSize(static_cast<const SID *>(pSid));
    BYTE *pb = reinterpret_cast<BYTE *>(pAcl) + pAcl->AclSize;
    ACCESS_ALLOWED_ACE *pAce = reinterpret_cast<ACCESS_ALLOWED_ACE *>(pb);
    pAce->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    pAce->Header.AceFlags = flags;
    pAce->Header.AceSize = static_cast<WORD>(offsetof(ACCESS_ALLOWED_ACE, SidStart) + cbSid);
    pAce->Mask = mask;
    memcpy(&pAce->SidStart, pSid, cbSid);
    pAcl->AclSize = static_cast<WORD>(pAcl->AclSize + pAce->Header.AceSize);
    pAcl->AceCount++;
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

// The descriptor holds the owner and a DACL made from the mode, as Wine shows
// one: SYSTEM and the owner may do anything, the group's bits go to the Users
// group and the others' to Everyone; a directory's entries are inherited.
namespace {

// The owner (at the block's start) and the DACL of the file on fd, in one
// block from malloc.
DWORD DescribeFile(int fd, BYTE **ppb, ACL **ppAcl)
{
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        return ERROR_INVALID_HANDLE;
    BYTE *pb = static_cast<BYTE *>(
        malloc(SECURITY_MAX_SID_SIZE + sizeof(ACL) + 4 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)));
    if (!pb)
        return ERROR_NOT_ENOUGH_MEMORY;
    SidOfUid(st.st_uid, pb);
    ACL *pAcl = reinterpret_cast<ACL *>(pb + SECURITY_MAX_SID_SIZE);
    *pAcl = ACL{ACL_REVISION, 0, sizeof(ACL), 0, 0};
    static const DWORD rgUsers[] = {32, 545};
    static const SID s_sidEveryone = {1, 1, {{0, 0, 0, 0, 0, 1}}, {0}};
    alignas(DWORD) BYTE rgbSystem[SECURITY_MAX_SID_SIZE], rgbUsers[SECURITY_MAX_SID_SIZE];
    MakeNtSid(rgbSystem, s_rgSystemRid, 1);
    MakeNtSid(rgbUsers, rgUsers, 2);
    BYTE flags = S_ISDIR(st.st_mode) ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    AddAllowed(pAcl, rgbSystem, FILE_ALL_ACCESS, flags);
    if (st.st_uid != 0)
        AddAllowed(pAcl, pb, FILE_ALL_ACCESS, flags);
    AddAllowed(pAcl, rgbUsers, RightsOfBits(st.st_mode >> 3), flags);
    AddAllowed(pAcl, &s_sidEveryone, RightsOfBits(st.st_mode), flags);
    *ppb = pb;
    *ppAcl = pAcl;
    return ERROR_SUCCESS;
}

// The mode bits of the rights an allow entry gives.
unsigned int BitsOfRights(ACCESS_MASK mask)
{
    return ((mask & FILE_READ_DATA) ? 4 : 0) | ((mask & FILE_WRITE_DATA) ? 2 : 0) | ((mask & FILE_EXECUTE) ? 1 : 0);
}

} // namespace

extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                                        PSID *ppsidOwner, PSID *ppsidGroup, PACL *ppDacl, PACL *ppSacl,
                                        PSECURITY_DESCRIPTOR *ppSecurityDescriptor)
{
    const SECURITY_INFORMATION dwKnown = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (ObjectType != SE_FILE_OBJECT || SecurityInfo == 0 || (SecurityInfo & ~dwKnown) || !ppSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    BYTE *pb = nullptr;
    ACL *pAcl = nullptr;
    DWORD dwResult = DescribeFile(ZulStandinFileDescriptor(handle), &pb, &pAcl);
    if (dwResult != ERROR_SUCCESS)
        return dwResult;
    if (ppsidOwner)
        *ppsidOwner = (SecurityInfo & OWNER_SECURITY_INFORMATION) ? pb : nullptr;
    if (ppsidGroup)
        *ppsidGroup = nullptr;
    if (ppDacl)
        *ppDacl = (SecurityInfo & DACL_SECURITY_INFORMATION) ? pAcl : nullptr;
    if (ppSacl)
        *ppSacl = nullptr;
    *ppSecurityDescriptor = pb;
    return ERROR_SUCCESS;
}

extern "C" BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID *pAce)
{
    if (!pAcl || dwAceIndex >= pAcl->AceCount)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    BYTE *pb = reinterpret_cast<BYTE *>(pAcl) + sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; i++)
        pb += reinterpret_cast<ACE_HEADER *>(pb)->AceSize;
    *pAce = pb;
    return TRUE;
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
    static const DWORD rgAdministrators[] = {32, 544};
    alignas(DWORD) BYTE rgbKnown[SECURITY_MAX_SID_SIZE];
    if (WellKnownSidType == WinLocalSystemSid)
        MakeNtSid(rgbKnown, s_rgSystemRid, 1);
    else if (WellKnownSidType == WinBuiltinAdministratorsSid)
        MakeNtSid(rgbKnown, rgAdministrators, 2);
    else
        return FALSE;
    return EqualSid(pSid, rgbKnown);
}

// The DACL alone, as the mode shows it, self-relative.
extern "C" BOOL WINAPI GetKernelObjectSecurity(HANDLE Handle, SECURITY_INFORMATION RequestedInformation,
                                               PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                                               LPDWORD lpnLengthNeeded)
{
    if (RequestedInformation != DACL_SECURITY_INFORMATION)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    if (!(ZulStandinHandleAccess(Handle) & READ_CONTROL))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    BYTE *pb = nullptr;
    ACL *pAcl = nullptr;
    DWORD dwResult = DescribeFile(ZulStandinFileDescriptor(Handle), &pb, &pAcl);
    if (dwResult != ERROR_SUCCESS)
        return ZulStandinFail(dwResult);
    SECURITY_DESCRIPTOR_RELATIVE header = {
        SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE | SE_DACL_PRESENT, 0, 0, 0, sizeof header};
    *lpnLengthNeeded = static_cast<DWORD>(sizeof header + pAcl->AclSize);
    bool bFits = nLength >= *lpnLengthNeeded;
    if (bFits) {
        memcpy(pSecurityDescriptor, &header, sizeof header);
        memcpy(static_cast<BYTE *>(pSecurityDescriptor) + sizeof header, pAcl, pAcl->AclSize);
    }
    free(pb);
    return bFits ? TRUE : ZulStandinFail(ERROR_INSUFFICIENT_BUFFER);
}

// The DACL goes into the mode (ZulStandinApplyDescriptor); the owner never changes.
extern "C" BOOL WINAPI SetKernelObjectSecurity(HANDLE Handle, SECURITY_INFORMATION SecurityInformation,
                                               PSECURITY_DESCRIPTOR SecurityDescriptor)
{
    if (SecurityInformation != DACL_SECURITY_INFORMATION)
        return ZulStandinFail(ERROR_INVALID_PARAMETER);
    if (!(ZulStandinHandleAccess(Handle) & WRITE_DAC))
        return ZulStandinFail(ERROR_ACCESS_DENIED);
    int fd = ZulStandinFileDescriptor(Handle);
    return fd >= 0 && ZulStandinApplyDescriptor(fd, SecurityDescriptor);
}

extern "C" BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor)
{
    const SECURITY_DESCRIPTOR_RELATIVE *pHeader =
        static_cast<const SECURITY_DESCRIPTOR_RELATIVE *>(pSecurityDescriptor);
    if (pHeader->Revision != SECURITY_DESCRIPTOR_REVISION || !(pHeader->Control & SE_SELF_RELATIVE))
        return ZulStandinFail(ERROR_INVALID_SECURITY_DESCR);
    if (!(pHeader->Control & SE_DACL_PRESENT) || pHeader->Dacl == 0)
        return TRUE;
    const ACL *pAcl = reinterpret_cast<const ACL *>(static_cast<const BYTE *>(pSecurityDescriptor) + pHeader->Dacl);
    size_t cbUsed = sizeof(ACL);
    for (WORD i = 0; i < pAcl->AceCount && cbUsed + sizeof(ACE_HEADER) <= pAcl->AclSize; i++)
        cbUsed += reinterpret_cast<const ACE_HEADER *>(reinterpret_cast<const BYTE *>(pAcl) + cbUsed)->AceSize;
    bool bValid = (pAcl->AclRevision == ACL_REVISION || pAcl->AclRevision == 4) && pAcl->AclSize >= sizeof(ACL) &&
                  cbUsed <= pAcl->AclSize;
    return bValid ? TRUE : ZulStandinFail(ERROR_INVALID_SECURITY_DESCR);
}

bool ZulStandinApplyDescriptor(int fd, PSECURITY_DESCRIPTOR pSD)
{
    struct stat st;
    if (!IsValidSecurityDescriptor(pSD) || fstat(fd, &st) != 0)
        return false;
    const SECURITY_DESCRIPTOR_RELATIVE *pHeader = static_cast<const SECURITY_DESCRIPTOR_RELATIVE *>(pSD);
    mode_t mode = st.st_mode & 07700;
    const BYTE *pbAcl = static_cast<const BYTE *>(pSD) + pHeader->Dacl;
    const ACL *pAcl = reinterpret_cast<const ACL *>(pbAcl);
    static const DWORD rgUsers[] = {32, 545};
    static const SID s_sidEveryone = {1, 1, {{0, 0, 0, 0, 0, 1}}, {0}};
    alignas(DWORD) BYTE rgbUsers[SECURITY_MAX_SID_SIZE];
    MakeNtSid(rgbUsers, rgUsers, 2);
    size_t cb = sizeof(ACL);
    for (WORD i = 0; pHeader->Dacl && i < pAcl->AceCount; i++) {
        const ACCESS_ALLOWED_ACE *pAce = reinterpret_cast<const ACCESS_ALLOWED_ACE *>(pbAcl + cb);
        cb += pAce->Header.AceSize;
        PSID psid = const_cast<DWORD *>(&pAce->SidStart);
        if (pAce->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (pAce->Header.AceFlags & INHERIT_ONLY_ACE))
            continue;
        if (EqualSid(psid, rgbUsers))
            mode |= BitsOfRights(pAce->Mask) << 3;
        else if (EqualSid(psid, const_cast<SID *>(&s_sidEveryone)))
            mode |= BitsOfRights(pAce->Mask);
    }
    if (fchmod(fd, mode) != 0)
        return ZulStandinFail(ZulStandinErrorFromErrno(errno)) != FALSE;
    return true;
}
