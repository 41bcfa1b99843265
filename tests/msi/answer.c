/* Installs a package through the installer's API with an external user
 * interface that answers the program's Retry/Cancel question, as a person
 * would: answer MSI FILE retry|cancel [FILE2]. FILE is held open without
 * sharing until the question comes; Retry lets go of it first. FILE2, when
 * given, is held from the question until the installation has ended, so that
 * its rollback cannot touch it. Prints the program's rollback lines, the
 * number of questions and the installer's result, and exits with that result. */
#include <windows.h>

#include <msi.h>
#include <stdio.h>
#include <string.h>

static HANDLE s_hHeld = INVALID_HANDLE_VALUE;
static HANDLE s_hHeldLater = INVALID_HANDLE_VALUE;
static const char *s_pszHoldLater;
static int s_bRetry;
static int s_cQuestions;

static int WINAPI Answer(void *pvContext, UINT uType, LPCSTR pszMessage)
{
    (void)pvContext;
    if (pszMessage && (uType & 0xff000000) == INSTALLMESSAGE_INFO &&
        (strstr(pszMessage, "Rollback failed on ") || strstr(pszMessage, "Backup folder left: ")))
        printf("%s\n", pszMessage);
    if ((uType & 0xff000000) != INSTALLMESSAGE_ERROR || !pszMessage || !strstr(pszMessage, "ZULFuncts could not"))
        return 0;
    if (s_pszHoldLater && s_hHeldLater == INVALID_HANDLE_VALUE)
        s_hHeldLater = CreateFileA(s_pszHoldLater, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
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
    if (argc != 4 && argc != 5)
        return 2;
    s_pszHoldLater = argc == 5 ? argv[4] : NULL;
    s_bRetry = strcmp(argv[3], "retry") == 0;
    s_hHeld = CreateFileA(argv[2], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (s_hHeld == INVALID_HANDLE_VALUE)
        return 3;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    MsiSetExternalUIA(Answer, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_INFO, NULL);
    uResult = MsiInstallProductA(argv[1], "");
    printf("questions=%d result=%u\n", s_cQuestions, uResult);
    fflush(stdout);
    if (s_hHeld != INVALID_HANDLE_VALUE)
        CloseHandle(s_hHeld);
    if (s_hHeldLater != INVALID_HANDLE_VALUE)
        CloseHandle(s_hHeldLater);
    return (int)uResult;
}
