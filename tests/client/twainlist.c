/*
 * Lists the data sources the Data Source Manager finds, as a scanner
 * application sees them: one product name per line, in the manager's order.
 *
 * Usage: twainlist.exe [DSM-DLL]   (default: TWAINDSM.dll, found as Windows finds DLLs)
 * Exit status 0 when the list was read to its end, 1 with a message on stderr.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "twain.h"

static int Fail(const char *pszWhat, unsigned long ulCode)
{
    fprintf(stderr, "twainlist: %s (%lu)\n", pszWhat, ulCode);
    return 1;
}

int main(int argc, char **argv)
{
    const char *pszDsm = argc > 1 ? argv[1] : "TWAINDSM.dll";
    HMODULE hDsm;
    DSMENTRYPROC pfnDsmEntry;
    TW_IDENTITY app;
    TW_IDENTITY source;
    HWND hParent;
    TW_UINT16 rc;
    int nStatus = 0;

    if (argc > 2) {
        fprintf(stderr, "usage: twainlist.exe [DSM-DLL]\n");
        return 1;
    }
    hDsm = LoadLibraryA(pszDsm);
    if (!hDsm)
        return Fail("cannot load the manager, error", GetLastError());
    /* Through void (*)(void), which converts to any function pointer type. */
    pfnDsmEntry = (DSMENTRYPROC)(void (*)(void))GetProcAddress(hDsm, "DSM_Entry");
    if (!pfnDsmEntry)
        return Fail("the manager exports no DSM_Entry, error", GetLastError());

    memset(&app, 0, sizeof app);
    app.Version.MajorNum = 1;
    app.Version.Language = TWLG_ENGLISH;
    app.Version.Country = TWCY_USA;
    strcpy(app.Version.Info, "1.0");
    app.ProtocolMajor = TWON_PROTOCOLMAJOR;
    app.ProtocolMinor = TWON_PROTOCOLMINOR;
    app.SupportedGroups = DF_APP2 | DG_CONTROL | DG_IMAGE;
    strcpy(app.Manufacturer, "ZULFuncts tests");
    strcpy(app.ProductFamily, "Test applications");
    strcpy(app.ProductName, "Data source lister");

    /* The manager wants a parent window for its dialogs; listing shows none. */
    hParent = GetDesktopWindow();
    rc = pfnDsmEntry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, (TW_MEMREF)&hParent);
    if (rc != TWRC_SUCCESS)
        return Fail("MSG_OPENDSM failed, return code", rc);

    memset(&source, 0, sizeof source);
    rc = pfnDsmEntry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, (TW_MEMREF)&source);
    while (rc == TWRC_SUCCESS) {
        printf("%.*s\n", (int)sizeof source.ProductName, source.ProductName);
        memset(&source, 0, sizeof source);
        rc = pfnDsmEntry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, (TW_MEMREF)&source);
    }
    if (rc != TWRC_ENDOFLIST)
        nStatus = Fail("listing stopped early, return code", rc);

    pfnDsmEntry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, (TW_MEMREF)&hParent);
    fflush(stdout);
    FreeLibrary(hDsm);
    return nStatus;
}
