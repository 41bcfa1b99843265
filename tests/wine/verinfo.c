/*
 * Prints what Windows reads from an exe's resources, one "name=value" line
 * each: the fixed version numbers, the translation, the version strings, and
 * last the RT_MANIFEST resource 1 after a line "manifest:".
 *
 * Usage: verinfo.exe FILE      exit status 0, or 1 with a message on stderr
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static const char *const s_rgpszStrings[] = {
    "CompanyName",      "FileDescription", "FileVersion", "InternalName",   "LegalCopyright",
    "OriginalFilename", "PrivateBuild",    "ProductName", "ProductVersion",
};

static int Fail(const char *pszWhat)
{
    fprintf(stderr, "verinfo: %s failed (error %lu)\n", pszWhat, (unsigned long)GetLastError());
    return 1;
}

static void PrintQuad(const char *pszName, DWORD dwMS, DWORD dwLS)
{
    printf("%s=%lu.%lu.%lu.%lu\n", pszName, (unsigned long)HIWORD(dwMS), (unsigned long)LOWORD(dwMS),
           (unsigned long)HIWORD(dwLS), (unsigned long)LOWORD(dwLS));
}

static int PrintVersion(const char *pszFile)
{
    DWORD dwHandle = 0;
    DWORD cbInfo = GetFileVersionInfoSizeA(pszFile, &dwHandle);
    void *pInfo;
    VS_FIXEDFILEINFO *pFixed;
    WORD *pwTranslation;
    UINT cb;
    size_t i;

    if (cbInfo == 0)
        return Fail("GetFileVersionInfoSizeA");
    pInfo = malloc(cbInfo);
    if (!pInfo || !GetFileVersionInfoA(pszFile, 0, cbInfo, pInfo))
        return Fail("GetFileVersionInfoA");
    if (!VerQueryValueA(pInfo, "\\", (void **)&pFixed, &cb) || cb < sizeof *pFixed)
        return Fail("VerQueryValueA(\\)");
    PrintQuad("fixed.file", pFixed->dwFileVersionMS, pFixed->dwFileVersionLS);
    PrintQuad("fixed.product", pFixed->dwProductVersionMS, pFixed->dwProductVersionLS);
    printf("fixed.type=%lu\n", (unsigned long)pFixed->dwFileType);
    printf("fixed.flags=%lu\n", (unsigned long)(pFixed->dwFileFlags & pFixed->dwFileFlagsMask));
    if (!VerQueryValueA(pInfo, "\\VarFileInfo\\Translation", (void **)&pwTranslation, &cb) || cb < 4)
        return Fail("VerQueryValueA(Translation)");
    printf("translation=%04x%04x\n", pwTranslation[0], pwTranslation[1]);
    for (i = 0; i < sizeof s_rgpszStrings / sizeof s_rgpszStrings[0]; i++) {
        char szQuery[128];
        char *pszValue;
        snprintf(szQuery, sizeof szQuery, "\\StringFileInfo\\%04x%04x\\%s", pwTranslation[0], pwTranslation[1],
                 s_rgpszStrings[i]);
        if (VerQueryValueA(pInfo, szQuery, (void **)&pszValue, &cb) && cb > 0)
            printf("string.%s=%s\n", s_rgpszStrings[i], pszValue);
    }
    free(pInfo);
    return 0;
}

static int PrintManifest(const char *pszFile)
{
    HMODULE hModule = LoadLibraryExA(pszFile, NULL, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC hResource;
    HGLOBAL hData;
    const void *pData;

    if (!hModule)
        return Fail("LoadLibraryExA");
    hResource = FindResourceA(hModule, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    if (!hResource) {
        /* A DLL has none; the exe's absence shows as an empty manifest. */
        FreeLibrary(hModule);
        return 0;
    }
    hData = LoadResource(hModule, hResource);
    pData = hData ? LockResource(hData) : NULL;
    if (!pData)
        return Fail("LoadResource");
    printf("manifest:\n");
    fwrite(pData, 1, SizeofResource(hModule, hResource), stdout);
    printf("\n");
    FreeLibrary(hModule);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: verinfo.exe FILE\n");
        return 1;
    }
    if (PrintVersion(argv[1]) != 0 || PrintManifest(argv[1]) != 0)
        return 1;
    fflush(stdout);
    return 0;
}
