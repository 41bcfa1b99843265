// The runtime's remove() for the sources that call it (see zul_crt_remove in
// tests/standin/CMakeLists.txt): msvcrt's takes Windows paths and removes neither
// directories nor read-only files, the C library's does; and libstdc++ needs the C
// library's. Included ahead of the source, after <cstdio>, which #undefs remove.
#pragma once

#include <stdio.h>
#ifdef __cplusplus
#include <cstdio>
extern "C"
#endif
    int
    ZulStandinRemove(const char *pszPath);

#define remove ZulStandinRemove
