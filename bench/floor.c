/*
 * The start-up floor of the benchmark: a GUI exe that does nothing. Compiles
 * as C for Windows and as C++ on the stand-in.
 */
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)lpCmdLine;
    (void)nShowCmd;
    return 0;
}
