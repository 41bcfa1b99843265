// Byte-string copy and append into fixed buffers that never write past the
// buffer: when the whole text does not fit, they report false and leave the
// destination terminated (copy: empty; append: unchanged).
#pragma once

#include <stddef.h>

bool BoundedCopy(char *szDest, size_t cbDest, const char *pszSrc);
bool BoundedAppend(char *szDest, size_t cbDest, const char *pszSrc);
