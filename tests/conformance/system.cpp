// The system: the Windows and temporary directories, the time, the account and the owners of
// files, and the window station.
#include "conformance.h"

#include <aclapi.h>

#ifndef _WIN32
#include <unistd.h>
#endif

// A SID from its parts: S-1-5-r0-r1.
static void MakeNtSid(BYTE *pb, DWORD dwRid0, DWORD dwRid1, BYTE cRid)
{
    SID *pSid = (SID *)pb;
    pSid->Revision = 1;
    pSid->SubAuthorityCount = cRid;
    memset(pSid->IdentifierAuthority.Value, 0, 6);
    pSid->IdentifierAuthority.Value[5] = 5;
    memcpy(pb + 8, &dwRid0, 4);
    memcpy(pb + 12, &dwRid1, 4);
}

static bool OwnerIs(HANDLE h, PSID psid, bool *pbWellKnown)
{
    PSID psidOwner = NULL;
    PSECURITY_DESCRIPTOR pSD = NULL;
    DWORD dwErr = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &psidOwner, NULL, NULL, NULL, &pSD);
    ok(dwErr == ERROR_SUCCESS && psidOwner != NULL, "GetSecurityInfo(OWNER) of a file succeeds, got %lu\n",
       (unsigned long)dwErr);
    if (dwErr != ERROR_SUCCESS || !psidOwner) {
        return false;
    }
    bool bSame = EqualSid(psidOwner, psid) != FALSE;
    *pbWellKnown =
        IsWellKnownSid(psidOwner, WinLocalSystemSid) || IsWellKnownSid(psidOwner, WinBuiltinAdministratorsSid);
    HLOCAL hLeft = LocalFree(pSD);
    ok(hLeft == NULL, "LocalFree of the security descriptor returns NULL, got %p\n", (void *)hLeft);
    return bSame;
}

static void test_Owners()
{
    alignas(DWORD) BYTE rgbSystem[SECURITY_MAX_SID_SIZE], rgbAdmins[SECURITY_MAX_SID_SIZE];
    MakeNtSid(rgbSystem, 18, 0, 1);
    MakeNtSid(rgbAdmins, 32, 544, 2);
    ok(IsWellKnownSid(rgbSystem, WinLocalSystemSid) && !IsWellKnownSid(rgbSystem, WinBuiltinAdministratorsSid),
       "S-1-5-18 is WinLocalSystemSid\n");
    ok(IsWellKnownSid(rgbAdmins, WinBuiltinAdministratorsSid) && !IsWellKnownSid(rgbAdmins, WinLocalSystemSid),
       "S-1-5-32-544 is WinBuiltinAdministratorsSid\n");
    ok(EqualSid(rgbSystem, rgbSystem) && !EqualSid(rgbSystem, rgbAdmins), "EqualSid compares SIDs\n");

    HANDLE hToken = NULL;
    ok_win(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken), "OpenProcessToken(TOKEN_QUERY)");
    union {
        TOKEN_USER user;
        BYTE rgb[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } token;
    DWORD cb = 0;
    ok(GetTokenInformation(hToken, TokenUser, &token, sizeof(token), &cb) && cb <= sizeof(token),
       "GetTokenInformation(TokenUser) fits a TOKEN_USER and the largest SID, error %lu\n", LastError());
    ok_win(CloseHandle(hToken), "CloseHandle of the token");
    trace("the running account is %s\n", IsWellKnownSid(token.user.User.Sid, WinLocalSystemSid) ? "SYSTEM" : "a user");

    std::string sFile = Scratch("owned.log");
    HANDLE h = OpenLogFile(sFile, OPEN_ALWAYS);
    bool bWellKnown = false;
    ok(h != INVALID_HANDLE_VALUE && OwnerIs(h, token.user.User.Sid, &bWellKnown),
       "a file the process made is owned by the token's user\n");
    CloseHandle(h);
#ifndef _WIN32
    ok(chown(StdioPath(sFile).c_str(), 12345, (gid_t)-1) == 0, "cannot give the file to another user, errno %d\n",
       errno);
    h = OpenLogFile(sFile, OPEN_EXISTING);
    ok(h != INVALID_HANDLE_VALUE && !OwnerIs(h, token.user.User.Sid, &bWellKnown) && !bWellKnown,
       "a file of another user is owned by neither the token's user, SYSTEM nor Administrators\n");
    CloseHandle(h);
#else
    skip("Wine 8 gives every file the running user as owner: another user's file is checked natively only\n");
#endif
    DeleteFileA(sFile.c_str());

    // Directory security, read as the TWAIN directory's check reads it, entries
    // inherited by new children included: owned by the running account; others
    // than SYSTEM and the owner may read twain_32 and what is made in it, and
    // also add, delete and rename entries of /tmp (mode 1777) and set attributes.
    char szTwain[MAX_PATH] = "";
    GetWindowsDirectoryA(szTwain, MAX_PATH - 10);
    const char *rgpszDirs[] = {strcat(szTwain, "\\twain_32"), WtestUnderWine() ? "Z:\\tmp" : "/tmp"};
    for (int i = 0; i < 2; ++i) {
        h = CreateFileA(rgpszDirs[i], READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        PSID psidOwner = NULL;
        PACL pDacl = NULL;
        PSECURITY_DESCRIPTOR pSD = NULL;
        DWORD dwErr = GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      &psidOwner, NULL, &pDacl, NULL, &pSD);
        CloseHandle(h);
        DWORD dwOthers = 0, iAce = 0;
        ACCESS_ALLOWED_ACE *pAce = NULL;
        for (; pDacl && GetAce(pDacl, iAce, (LPVOID *)&pAce); ++iAce) {
            // What applies to the directory or is inherited by what is made in it.
            bool bApplies = !(pAce->Header.AceFlags & INHERIT_ONLY_ACE) ||
                            (pAce->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
            if (pAce->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && bApplies &&
                !IsWellKnownSid(&pAce->SidStart, WinLocalSystemSid) && !EqualSid(&pAce->SidStart, psidOwner)) {
                dwOthers |= pAce->Mask;
            }
        }
        DWORD dwChange = dwOthers & (FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                                     DELETE | WRITE_DAC | WRITE_OWNER);
        ok(dwErr == ERROR_SUCCESS && pDacl && iAce == pDacl->AceCount && EqualSid(psidOwner, token.user.User.Sid) &&
               (dwOthers & FILE_GENERIC_READ) == FILE_GENERIC_READ &&
               dwChange ==
                   (i ? FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE : 0),
           "%s: error %lu, %lu of the DACL's entries, others' rights %#lx\n", rgpszDirs[i], (unsigned long)dwErr,
           (unsigned long)iAce, (unsigned long)dwOthers);
        LocalFree(pSD);
    }
}

static void test_System()
{
    char szDir[MAX_PATH + 1];
    memset(szDir, 0, sizeof(szDir));
    UINT cch = GetWindowsDirectoryA(szDir, MAX_PATH);
    ok(cch > 0 && cch < MAX_PATH, "GetWindowsDirectoryA returns a length in 1..259, got %u\n", cch);
    ok(strlen(szDir) == cch, "GetWindowsDirectoryA returns the text's length, got %u for %s\n", cch, szDir);
    DWORD dwAttr = GetFileAttributesA(szDir);
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY), "the Windows directory %s exists\n",
       szDir);

    memset(szDir, 0, sizeof(szDir));
    DWORD cchTemp = GetTempPathA(MAX_PATH, szDir);
    ok(cchTemp > 0 && cchTemp < MAX_PATH && strlen(szDir) == cchTemp, "GetTempPathA returns its length, got %lu\n",
       (unsigned long)cchTemp);
    ok(cchTemp > 0 && (szDir[cchTemp - 1] == '\\' || szDir[cchTemp - 1] == '/'),
       "GetTempPathA ends with a separator: %s\n", szDir);

    SYSTEMTIME st;
    memset(&st, 0xff, sizeof(st));
    GetLocalTime(&st);
    ok(st.wYear >= 2020 && st.wYear < 2100 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 && st.wDay <= 31,
       "GetLocalTime gives a plausible date, got %u-%u-%u\n", st.wYear, st.wMonth, st.wDay);
    ok(st.wHour < 24 && st.wMinute < 60 && st.wSecond < 61 && st.wDayOfWeek < 7,
       "GetLocalTime gives a plausible time, got %u:%u:%u\n", st.wHour, st.wMinute, st.wSecond);
}

typedef HWINSTA(WINAPI *PFN_GETPROCESSWINDOWSTATION)(void);
typedef BOOL(WINAPI *PFN_GETUSEROBJECTINFORMATIONA)(HANDLE, int, PVOID, DWORD, LPDWORD);

// The usage box asks USER32, loaded at run time, whether its window station is
// visible. A test started from a desktop session runs on WinSta0, which is.
static void test_WindowStation()
{
    HMODULE hUser32 = LoadLibraryA("user32.dll");
    ok(hUser32 != NULL, "LoadLibraryA(\"user32.dll\") succeeds, error %lu\n", LastError());
    if (!hUser32) {
        return;
    }
    PFN_GETPROCESSWINDOWSTATION pfnGetProcessWindowStation =
        (PFN_GETPROCESSWINDOWSTATION)(void (*)(void))GetProcAddress(hUser32, "GetProcessWindowStation");
    PFN_GETUSEROBJECTINFORMATIONA pfnGetUserObjectInformationA =
        (PFN_GETUSEROBJECTINFORMATIONA)(void (*)(void))GetProcAddress(hUser32, "GetUserObjectInformationA");
    ok(pfnGetProcessWindowStation != NULL && pfnGetUserObjectInformationA != NULL,
       "USER32 exports GetProcessWindowStation and GetUserObjectInformationA\n");
    if (!pfnGetProcessWindowStation || !pfnGetUserObjectInformationA) {
        FreeLibrary(hUser32);
        return;
    }

    HWINSTA hStation = pfnGetProcessWindowStation();
    ok(hStation != NULL, "GetProcessWindowStation gives a handle, error %lu\n", LastError());
    HWINSTA hAgain = pfnGetProcessWindowStation();
    ok(hAgain == hStation, "GetProcessWindowStation gives the same handle %p again, got %p\n", (void *)hStation,
       (void *)hAgain);

    USEROBJECTFLAGS flags;
    memset(&flags, 0, sizeof(flags));
    DWORD cbNeeded = 0;
    ok_win(pfnGetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags), &cbNeeded),
           "GetUserObjectInformationA(UOI_FLAGS) of the process's station");
    ok(cbNeeded == sizeof(USEROBJECTFLAGS), "UOI_FLAGS needs %u bytes, got %lu\n", (unsigned)sizeof(USEROBJECTFLAGS),
       (unsigned long)cbNeeded);
    ok(flags.dwFlags & WSF_VISIBLE, "the desktop session's station has WSF_VISIBLE, flags 0x%lx\n",
       (unsigned long)flags.dwFlags);

    // Too small a buffer fails (Wine: ERROR_BUFFER_OVERFLOW; Windows documents no
    // code) and reports the size needed.
    cbNeeded = 0;
    ok(!pfnGetUserObjectInformationA(hStation, UOI_FLAGS, &flags, sizeof(flags) - 1, &cbNeeded),
       "GetUserObjectInformationA fails with a buffer too small\n");
    ok(cbNeeded == sizeof(USEROBJECTFLAGS), "and reports the size needed, got %lu\n", (unsigned long)cbNeeded);
    ok_win_fails(pfnGetUserObjectInformationA(NULL, UOI_FLAGS, &flags, sizeof(flags), &cbNeeded), ERROR_INVALID_HANDLE,
                 "GetUserObjectInformationA of a null handle");
    ok_win(FreeLibrary(hUser32), "FreeLibrary of USER32");
}

void func_system()
{
    test_System();
    test_Owners();
    test_WindowStation();
}
