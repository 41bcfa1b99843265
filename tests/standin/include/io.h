// POSIX stand-in for the runtime's <io.h>: wildcard directory search, and
// descriptors on kernel32 file handles. The _O_ flags are msvcrt's (<fcntl.h>
// there).
#pragma once

#include <stdint.h>
#include <time.h>

#define _A_SUBDIR 0x10

typedef unsigned long _fsize_t;

struct _finddata_t {
    unsigned attrib;
    time_t time_create;
    time_t time_access;
    time_t time_write;
    _fsize_t size;
    char name[260];
};

#ifdef __cplusplus
extern "C" {
#endif

#define _O_APPEND 0x0008
#define _O_BINARY 0x8000

intptr_t _findfirst(const char *filespec, struct _finddata_t *fileinfo);
int _findnext(intptr_t handle, struct _finddata_t *fileinfo);
int _findclose(intptr_t handle);

// The descriptor takes the handle over: closing it (or a stream on it) closes the handle.
int _open_osfhandle(intptr_t osfhandle, int flags);
int _close(int fd);

#ifdef __cplusplus
}
#endif
