// The C runtime's errno values as msvcrt numbers them: the stand-in's runtime calls set these,
// and the conformance checks expect them on both sides. Some differ from Linux's (ENOTEMPTY is
// 41 there, 39 here).
#pragma once

enum CrtErrno
{
    CRT_ENOENT = 2,
    CRT_EBADF = 9,
    CRT_ENOMEM = 12,
    CRT_EACCES = 13,
    CRT_EEXIST = 17,
    CRT_EINVAL = 22,
    CRT_ENOSPC = 28,
    CRT_ENOTEMPTY = 41,
};
