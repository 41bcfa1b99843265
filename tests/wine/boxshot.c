/*
 * Finds a message box by its caption, checks its text, saves a picture of it
 * and presses its OK button, as a person would.
 *
 * Usage: boxshot.exe CAPTION TEXT-START BMP-FILE [SECONDS]
 *   waits up to SECONDS (default 30) for a top-level dialog titled CAPTION,
 *   requires a child whose text begins with TEXT-START and an "OK" button,
 *   writes the window as it is on the screen to BMP-FILE (24-bit), clicks OK
 *   and waits for the box to close.
 * Exit status 0, or 1 with a message on stderr.
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Children {
    const char *pszTextStart;
    HWND hText;
    HWND hOk;
};

static int Fail(const char *pszWhat)
{
    fprintf(stderr, "boxshot: %s (error %lu)\n", pszWhat, (unsigned long)GetLastError());
    return 1;
}

static BOOL CALLBACK VisitChild(HWND hWnd, LPARAM lParam)
{
    struct Children *pChildren = (struct Children *)lParam;
    char szClass[64];
    char szText[1024];
    GetClassNameA(hWnd, szClass, sizeof szClass);
    GetWindowTextA(hWnd, szText, sizeof szText);
    if (_stricmp(szClass, "Button") == 0 && strcmp(szText, "OK") == 0)
        pChildren->hOk = hWnd;
    else if (strncmp(szText, pChildren->pszTextStart, strlen(pChildren->pszTextStart)) == 0)
        pChildren->hText = hWnd;
    return TRUE;
}

/* The screen's pixels under the window, bottom-up 24-bit rows, to a BMP file. */
static int SaveWindowPicture(HWND hWnd, const char *pszPath)
{
    RECT rc;
    int cx, cy;
    DWORD cbRow, cbPixels;
    BITMAPINFO bmi;
    BITMAPFILEHEADER bfh;
    void *pBits = NULL;
    HDC hdcScreen, hdcMem;
    HBITMAP hBitmap;
    FILE *pFile;
    BOOL bCopied;

    if (!GetWindowRect(hWnd, &rc))
        return Fail("GetWindowRect failed");
    cx = rc.right - rc.left;
    cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0)
        return Fail("the window is empty");
    cbRow = ((DWORD)cx * 3 + 3) & ~3u;
    cbPixels = cbRow * (DWORD)cy;

    memset(&bmi, 0, sizeof bmi);
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = cx;
    bmi.bmiHeader.biHeight = cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    bmi.bmiHeader.biSizeImage = cbPixels;

    hdcScreen = GetDC(NULL);
    hdcMem = CreateCompatibleDC(hdcScreen);
    hBitmap = CreateDIBSection(hdcScreen, &bmi, DIB_RGB_COLORS, &pBits, NULL, 0);
    if (!hdcScreen || !hdcMem || !hBitmap || !pBits)
        return Fail("cannot make a bitmap");
    SelectObject(hdcMem, hBitmap);
    bCopied = BitBlt(hdcMem, 0, 0, cx, cy, hdcScreen, rc.left, rc.top, SRCCOPY);
    GdiFlush();
    if (!bCopied)
        return Fail("BitBlt from the screen failed");

    memset(&bfh, 0, sizeof bfh);
    bfh.bfType = 0x4D42; /* "BM" */
    bfh.bfOffBits = sizeof bfh + sizeof bmi.bmiHeader;
    bfh.bfSize = bfh.bfOffBits + cbPixels;
    pFile = fopen(pszPath, "wb");
    if (!pFile || fwrite(&bfh, sizeof bfh, 1, pFile) != 1 ||
        fwrite(&bmi.bmiHeader, sizeof bmi.bmiHeader, 1, pFile) != 1 || fwrite(pBits, 1, cbPixels, pFile) != cbPixels ||
        fclose(pFile) != 0)
        return Fail("cannot write the picture");

    DeleteObject(hBitmap);
    DeleteDC(hdcMem);
    ReleaseDC(NULL, hdcScreen);
    return 0;
}

int main(int argc, char **argv)
{
    struct Children children;
    HWND hBox = NULL;
    DWORD dwDeadline;
    int nSeconds = argc > 4 ? atoi(argv[4]) : 30;

    if (argc < 4 || argc > 5) {
        fprintf(stderr, "usage: boxshot.exe CAPTION TEXT-START BMP-FILE [SECONDS]\n");
        return 1;
    }
    dwDeadline = GetTickCount() + (DWORD)nSeconds * 1000;
    while (!hBox || !IsWindowVisible(hBox)) {
        if ((LONG)(GetTickCount() - dwDeadline) >= 0)
            return Fail("no visible window with that caption");
        Sleep(100);
        /* #32770 is the dialog class a message box has. */
        hBox = FindWindowA("#32770", argv[1]);
    }
    /* Let it finish painting before the picture is taken. */
    RedrawWindow(hBox, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(500);

    children.pszTextStart = argv[2];
    children.hText = NULL;
    children.hOk = NULL;
    EnumChildWindows(hBox, VisitChild, (LPARAM)&children);
    if (!children.hText)
        return Fail("no text beginning as expected in the box");
    if (!children.hOk)
        return Fail("no OK button in the box");

    if (SaveWindowPicture(hBox, argv[3]) != 0)
        return 1;

    /* A click: the button's own press and release, then BN_CLICKED to the box. */
    PostMessageA(children.hOk, BM_CLICK, 0, 0);
    while (IsWindow(hBox)) {
        if ((LONG)(GetTickCount() - dwDeadline) >= 0)
            return Fail("the box did not close after OK");
        Sleep(100);
    }
    printf("box closed\n");
    return 0;
}
