// POSIX stand-in for the runtime's <direct.h> directory routines.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

int _mkdir(const char *dirname);
int _rmdir(const char *dirname);

#ifdef __cplusplus
}
#endif
