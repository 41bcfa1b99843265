/* Installs a package through the installer's API with an external user
 * interface that answers the program's Retry/Cancel question, as a person
 * would: answer MSI FILE retry|cancel. FILE is held open without sharing
 * until the question comes; Retry lets go of it first. Prints the number of
 * questions and the installer's result, and exits with that result. */
#include <windows.h>

#include <msi.h>
#include <stdio.h>
#include <string.h>

static HANDLE s_hHeld = INVALID_HANDLE_VALUE;
static int s_bRetry;
static int s_cQuestions;

static int WINAPI Answer(void *pvContext, UINT uType, LPCSTR pszMessage)
{
    (void)pvContext;
    if ((uType & 0xff000000) != INSTALLMESSAGE_ERROR || !pszMessage || !strstr(pszMessage, "ZULFuncts could not"))
        return 0;
    s_cQuestions++;
    if (s_hHeld != INVALID_HANDLE_VALUE) {
        CloseHandle(s_hHeld);
        s_hHeld = INVALID_HANDLE_VALUE;
    }
    return s_bRetry ? IDRETRY : IDCANCEL;
}

int main(int argc, char **argv)
{
    UINT uResult;
    if (argc != 4)
        return 2;
    s_bRetry = strcmp(argv[3], "retry") == 0;
    s_hHeld = CreateFileA(argv[2], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (s_hHeld == INVALID_HANDLE_VALUE)
        return 3;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    MsiSetExternalUIA(Answer, INSTALLLOGMODE_ERROR, NULL);
    uResult = MsiInstallProductA(argv[1], "");
    printf("questions=%d result=%u\n", s_cQuestions, uResult);
    fflush(stdout);
    if (s_hHeld != INVALID_HANDLE_VALUE)
        CloseHandle(s_hHeld);
    return (int)uResult;
}
