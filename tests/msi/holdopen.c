/* Holds a file open for reading, as a scanning application that loaded it
 * might, until a stop file appears (at most 120 s): holdopen FILE READY STOP.
 * It lets others read, rename and delete the file, so only an open that
 * shares nothing is refused. It makes READY once the file is held. */
#include <windows.h>

int main(int argc, char **argv)
{
    HANDLE hFile, hReady;
    int i;
    if (argc != 4)
        return 2;
    hFile = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 1;
    hReady = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (hReady == INVALID_HANDLE_VALUE)
        return 1;
    CloseHandle(hReady);
    for (i = 0; i < 1200 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(100);
    CloseHandle(hFile);
    return 0;
}
