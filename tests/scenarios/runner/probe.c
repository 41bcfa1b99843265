/*
 * Test program for the scenario runner. Its command line is a script of
 * commands separated by a lone ";" word:
 *
 *   exit N                 end now with status N
 *   copy A B / move A B    CopyFileA (overwriting) / MoveFileA
 *   del A / mkdir A        DeleteFileA / CreateDirectoryA
 *   readonly A             fails unless A has FILE_ATTRIBUTE_READONLY
 *   writable A             fails unless A exists without it
 *   write A WORD...        creates A holding the words joined by blanks, no newline
 *   log NAME WORD...       appends to the temp file NAME a stamp line, then one
 *                          CR LF line per word ("%W": the Windows directory,
 *                          "%T": the temp path, "%LW", "%LT": their lengths,
 *                          "%-": an empty line)
 *   say WORD...            prints the words and LF to stdout
 *   raw NAME ...           first command only: writes the whole command-line text
 *                          as received to the temp file NAME and ends
 *   key K / nokey K        fails unless HKEY_LOCAL_MACHINE\K can / cannot be opened
 *
 * A path "W:x\y" is x\y in the Windows directory, "T:x" is x in the temp
 * directory. The n-th command failing ends the run with status 100 + n; an
 * unknown command ends it with 99. Otherwise the status is 0.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_WORDS 64
#define STATUS_UNKNOWN 99
#define STATUS_FAILED_BASE 100

static char g_szWinDir[MAX_PATH];
static char g_szTempDir[MAX_PATH];

/* Expands the W: and T: prefixes into pszOut (cbOut bytes). */
static int ExpandPath(const char *pszIn, char *pszOut, size_t cbOut)
{
    int n;
    if (strncmp(pszIn, "W:", 2) == 0)
        n = snprintf(pszOut, cbOut, "%s\\%s", g_szWinDir, pszIn + 2);
    else if (strncmp(pszIn, "T:", 2) == 0)
        n = snprintf(pszOut, cbOut, "%s%s", g_szTempDir, pszIn + 2);
    else
        n = snprintf(pszOut, cbOut, "%s", pszIn);
    return n >= 0 && (size_t)n < cbOut;
}

static const char *LogWord(const char *pszWord)
{
    static char szNumber[16];
    if (strcmp(pszWord, "%LW") == 0 || strcmp(pszWord, "%LT") == 0) {
        snprintf(szNumber, sizeof(szNumber), "%u", (unsigned)strlen(pszWord[2] == 'W' ? g_szWinDir : g_szTempDir));
        return szNumber;
    }
    if (strcmp(pszWord, "%W") == 0)
        return g_szWinDir;
    if (strcmp(pszWord, "%T") == 0)
        return g_szTempDir;
    if (strcmp(pszWord, "%-") == 0)
        return "";
    return pszWord;
}

static int WriteLog(const char *pszName, char **ppWords, int cWords)
{
    char szPath[MAX_PATH];
    SYSTEMTIME st;
    FILE *pFile;
    int i;
    int bOk;

    int n = snprintf(szPath, sizeof(szPath), "%s%s", g_szTempDir, pszName);
    if (n < 0 || (size_t)n >= sizeof(szPath))
        return 0;
    pFile = fopen(szPath, "ab");
    if (pFile == NULL)
        return 0;
    GetLocalTime(&st);
    bOk = fprintf(pFile, "%02u:%02u:%02u\t%02u/%02u/%02u\t\r\n", (unsigned)st.wHour, (unsigned)st.wMinute,
                  (unsigned)st.wSecond, (unsigned)st.wMonth, (unsigned)st.wDay, (unsigned)(st.wYear % 100)) > 0;
    for (i = 0; i < cWords && bOk; i++)
        bOk = fprintf(pFile, "%s\r\n", LogWord(ppWords[i])) >= 0;
    return fclose(pFile) == 0 && bOk;
}

static int WriteFileText(const char *pszPath, char **ppWords, int cWords)
{
    FILE *pFile = fopen(pszPath, "wb");
    int i;
    int bOk = pFile != NULL;
    for (i = 0; i < cWords && bOk; i++)
        bOk = fprintf(pFile, i > 0 ? " %s" : "%s", ppWords[i]) >= 0;
    if (pFile != NULL && fclose(pFile) != 0)
        bOk = 0;
    return bOk;
}

static int WriteRaw(const char *pszName, const char *pszText)
{
    char szPath[MAX_PATH];
    FILE *pFile;
    size_t cb = strlen(pszText);
    int bOk;
    int n = snprintf(szPath, sizeof(szPath), "%s%s", g_szTempDir, pszName);
    if (n < 0 || (size_t)n >= sizeof(szPath))
        return 0;
    pFile = fopen(szPath, "wb");
    if (pFile == NULL)
        return 0;
    bOk = fwrite(pszText, 1, cb, pFile) == cb;
    return fclose(pFile) == 0 && bOk;
}

static int CanOpenKey(const char *pszKey)
{
    HKEY hKey;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, pszKey, &hKey) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(hKey);
    return 1;
}

static int HasAttribute(const char *pszPath, int bReadOnly)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return 0;
    return ((dwAttr & FILE_ATTRIBUTE_READONLY) != 0) == bReadOnly;
}

/* Runs one command; returns 1 on success, 0 on failure, -1 if unknown, -2 for exit. */
static int RunCommand(char **ppWords, int cWords, int *pnExit)
{
    char szA[MAX_PATH];
    char szB[MAX_PATH];
    const char *pszCmd = ppWords[0];

    if (strcmp(pszCmd, "exit") == 0 && cWords == 2) {
        *pnExit = atoi(ppWords[1]);
        return -2;
    }
    if (strcmp(pszCmd, "log") == 0 && cWords >= 2)
        return WriteLog(ppWords[1], ppWords + 2, cWords - 2);
    if (strcmp(pszCmd, "say") == 0) {
        int i;
        for (i = 1; i < cWords; i++)
            printf(i > 1 ? " %s" : "%s", ppWords[i]);
        printf("\n");
        return fflush(stdout) == 0;
    }
    if (cWords < 2 || !ExpandPath(ppWords[1], szA, sizeof(szA)))
        return -1;
    if (strcmp(pszCmd, "write") == 0)
        return WriteFileText(szA, ppWords + 2, cWords - 2);
    if (cWords == 2) {
        if (strcmp(pszCmd, "del") == 0)
            return DeleteFileA(szA) != 0;
        if (strcmp(pszCmd, "mkdir") == 0)
            return CreateDirectoryA(szA, NULL) != 0;
        if (strcmp(pszCmd, "readonly") == 0)
            return HasAttribute(szA, 1);
        if (strcmp(pszCmd, "writable") == 0)
            return HasAttribute(szA, 0);
        if (strcmp(pszCmd, "key") == 0)
            return CanOpenKey(ppWords[1]);
        if (strcmp(pszCmd, "nokey") == 0)
            return !CanOpenKey(ppWords[1]);
    }
    if (cWords == 3 && ExpandPath(ppWords[2], szB, sizeof(szB))) {
        if (strcmp(pszCmd, "copy") == 0)
            return CopyFileA(szA, szB, FALSE) != 0;
        if (strcmp(pszCmd, "move") == 0)
            return MoveFileA(szA, szB) != 0;
    }
    return -1;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    char *ppWords[MAX_WORDS];
    int cWords = 0;
    int nCommand = 0;
    static char szScript[8192];
    char *pszCursor = szScript;

    (void)hInstance;
    (void)hPrevInstance;
    (void)nShowCmd;
    if (GetWindowsDirectoryA(g_szWinDir, sizeof(g_szWinDir)) >= sizeof(g_szWinDir))
        g_szWinDir[0] = '\0';
    if (GetTempPathA(sizeof(g_szTempDir), g_szTempDir) >= sizeof(g_szTempDir))
        g_szTempDir[0] = '\0';
    /* Words are cut in place: work on a copy, not the process's command line. */
    if (strlen(lpCmdLine) >= sizeof(szScript))
        return STATUS_UNKNOWN;
    strcpy(szScript, lpCmdLine);
    if (strncmp(szScript, "raw ", 4) == 0) {
        char *pszName = szScript + 4;
        char *pszEnd = strchr(pszName, ' ');
        if (pszEnd != NULL)
            *pszEnd = '\0';
        return WriteRaw(pszName, lpCmdLine) ? 0 : STATUS_FAILED_BASE + 1;
    }

    for (;;) {
        char *pszWord;
        int bEnd;
        while (*pszCursor == ' ' || *pszCursor == '\t')
            pszCursor++;
        pszWord = pszCursor;
        while (*pszCursor != '\0' && *pszCursor != ' ' && *pszCursor != '\t')
            pszCursor++;
        bEnd = *pszCursor == '\0';
        if (!bEnd)
            *pszCursor++ = '\0';
        if (*pszWord != '\0' && strcmp(pszWord, ";") != 0) {
            if (cWords == MAX_WORDS)
                return STATUS_UNKNOWN;
            ppWords[cWords++] = pszWord;
        }
        if ((bEnd || strcmp(pszWord, ";") == 0) && cWords > 0) {
            int nExit = 0;
            int nResult;
            nCommand++;
            nResult = RunCommand(ppWords, cWords, &nExit);
            if (nResult == -2)
                return nExit;
            if (nResult == -1)
                return STATUS_UNKNOWN;
            if (nResult == 0)
                return STATUS_FAILED_BASE + nCommand;
            cWords = 0;
        }
        if (bEnd)
            return 0;
    }
}
