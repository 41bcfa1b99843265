// A program with a memory error, undefined behaviour or a leak on request,
// that then exits 1 as a refused command line does: the sanitizer build must
// make each of them fail a scenario that expects the refusal.
#include <windows.h>

#include <limits.h>
#include <stdlib.h>
#include <string.h>

void *volatile g_pLost;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int)
{
    if (strcmp(lpCmdLine, "overflow") == 0) {
        char *p = static_cast<char *>(malloc(8));
        volatile int i = 8;
        p[i] = 1;
        free(p);
    } else if (strcmp(lpCmdLine, "undefined") == 0) {
        volatile int n = INT_MAX;
        n = n + 1;
    } else if (strcmp(lpCmdLine, "leak") == 0) {
        g_pLost = malloc(64);
        g_pLost = nullptr;
    }
    return 1;
}
