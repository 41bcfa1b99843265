// The conformance program: every area in turn, or the areas named on the command line.
#include "conformance.h"

#include <time.h>

std::string g_sScratch;

bool WriteText(const std::string &sPath, const char *pszText)
{
    FILE *pFile = fopen(StdioPath(sPath).c_str(), "wb");
    if (!pFile) {
        return false;
    }
    size_t cch = strlen(pszText);
    bool bOk = fwrite(pszText, 1, cch, pFile) == cch;
    return fclose(pFile) == 0 && bOk;
}

LONG QueryValue(HKEY hKey, const char *pszName, DWORD *pdwType, char *pszBuf, DWORD *pcb)
{
    *pcb = MAX_PATH;
    memset(pszBuf, 0, MAX_PATH);
    if (pdwType) {
        *pdwType = REG_NONE;
    }
    return RegQueryValueExA(hKey, pszName, NULL, pdwType, (LPBYTE)pszBuf, pcb);
}

std::string ReadText(const std::string &sPath)
{
    std::string s;
    FILE *pFile = fopen(StdioPath(sPath).c_str(), "rb");
    if (!pFile) {
        return "<missing>";
    }
    char buf[256];
    size_t cb;
    while ((cb = fread(buf, 1, sizeof(buf), pFile)) > 0) {
        s.append(buf, cb);
    }
    fclose(pFile);
    return s;
}

static const struct {
    const char *pszName;
    void (*pfn)();
} s_rgAreas[] = {
    {"files", func_files},   {"find", func_find},     {"handles", func_handles},   {"strings", func_strings},
    {"system", func_system}, {"module", func_module}, {"registry", func_registry}, {"setupapi", func_setupapi},
};

int main(int argc, char **argv)
{
    char szTemp[MAX_PATH];
    DWORD cch = GetTempPathA(MAX_PATH, szTemp);
    if (cch == 0 || cch >= MAX_PATH) {
        printf("GetTempPathA failed, got %lu\n", (unsigned long)cch);
        return 1;
    }
    // A fresh directory of our own, so that nothing left from another run can disturb the checks.
    bool bCreated = false;
    for (unsigned long n = (unsigned long)time(NULL) % 100000, cTries = 0; !bCreated && cTries < 100; ++n, ++cTries) {
        char szName[32];
        snprintf(szName, sizeof(szName), "zulconf_%lu", n);
        g_sScratch = std::string(szTemp) + szName;
        bCreated = CreateDirectoryA(g_sScratch.c_str(), NULL) != FALSE;
    }
    if (!bCreated) {
        printf("cannot create a scratch directory in %s, error %lu\n", szTemp, LastError());
        return 1;
    }

    int cRun = 0;
    for (const auto &area : s_rgAreas) {
        bool bWanted = argc < 2;
        for (int i = 1; i < argc; ++i) {
            bWanted = bWanted || strcmp(argv[i], area.pszName) == 0;
        }
        if (bWanted) {
            area.pfn();
            ++cRun;
        }
    }
    if (cRun == 0) {
        printf("no area of that name; the areas are files find handles strings system module registry setupapi\n");
        return 1;
    }

    ok_win(RemoveDirectoryA(g_sScratch.c_str()), "RemoveDirectoryA of the emptied scratch directory");
    return WtestSummary("conformance");
}
