// The link seams of seams.def: the prototypes of every __real_ and __wrap_
// function, and the macros that turn a line's parameter types into a
// parameter list (a1, a2, ...) for a test to write its wrappers from.
//
// A test makes its wrappers by defining the six line macros and including
// seams.def, which drops them again at its end; or, for the failed calls
// alone, ZUL_FAULT and faulted.inc.
#pragma once

#include <windows.h>

#include <aclapi.h>
#include <direct.h>
#include <io.h>
#include <setupapi.h>
#include <winternl.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#define ZUL_CAT_(a, b) a##b
#define ZUL_CAT(a, b) ZUL_CAT_(a, b)
#define ZUL_STR_(a) #a
#define ZUL_STR(a) ZUL_STR_(a)

#define ZUL_NARGS_(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11, n, ...) n
#define ZUL_NARGS(...) ZUL_NARGS_(__VA_ARGS__, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)

// (T1, T2) -> T1 a1, T2 a2
#define ZUL_PARAMS(...) ZUL_CAT(ZUL_PARAMS_, ZUL_NARGS(__VA_ARGS__))(__VA_ARGS__)
#define ZUL_PARAMS_1(t1) t1 a1
#define ZUL_PARAMS_2(t1, t2) ZUL_PARAMS_1(t1), t2 a2
#define ZUL_PARAMS_3(t1, t2, t3) ZUL_PARAMS_2(t1, t2), t3 a3
#define ZUL_PARAMS_4(t1, t2, t3, t4) ZUL_PARAMS_3(t1, t2, t3), t4 a4
#define ZUL_PARAMS_5(t1, t2, t3, t4, t5) ZUL_PARAMS_4(t1, t2, t3, t4), t5 a5
#define ZUL_PARAMS_6(t1, t2, t3, t4, t5, t6) ZUL_PARAMS_5(t1, t2, t3, t4, t5), t6 a6
#define ZUL_PARAMS_7(t1, t2, t3, t4, t5, t6, t7) ZUL_PARAMS_6(t1, t2, t3, t4, t5, t6), t7 a7
#define ZUL_PARAMS_8(t1, t2, t3, t4, t5, t6, t7, t8) ZUL_PARAMS_7(t1, t2, t3, t4, t5, t6, t7), t8 a8
#define ZUL_PARAMS_9(t1, t2, t3, t4, t5, t6, t7, t8, t9) ZUL_PARAMS_8(t1, t2, t3, t4, t5, t6, t7, t8), t9 a9
#define ZUL_PARAMS_10(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10) ZUL_PARAMS_9(t1, t2, t3, t4, t5, t6, t7, t8, t9), t10 a10
#define ZUL_PARAMS_11(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10, t11)                                                    \
    ZUL_PARAMS_10(t1, t2, t3, t4, t5, t6, t7, t8, t9, t10), t11 a11

// (T1, T2) -> a1, a2
#define ZUL_ARGS(...) ZUL_CAT(ZUL_ARGS_, ZUL_NARGS(__VA_ARGS__))
#define ZUL_ARGS_1 a1
#define ZUL_ARGS_2 ZUL_ARGS_1, a2
#define ZUL_ARGS_3 ZUL_ARGS_2, a3
#define ZUL_ARGS_4 ZUL_ARGS_3, a4
#define ZUL_ARGS_5 ZUL_ARGS_4, a5
#define ZUL_ARGS_6 ZUL_ARGS_5, a6
#define ZUL_ARGS_7 ZUL_ARGS_6, a7
#define ZUL_ARGS_8 ZUL_ARGS_7, a8
#define ZUL_ARGS_9 ZUL_ARGS_8, a9
#define ZUL_ARGS_10 ZUL_ARGS_9, a10
#define ZUL_ARGS_11 ZUL_ARGS_10, a11

#define ZUL_REAL(fn) ZUL_CAT(__real_, fn)
#define ZUL_WRAP(fn) ZUL_CAT(__wrap_, fn)

#define ZUL_DECLARE(fn, R, P)                                                                                          \
    R ZUL_REAL(fn)(ZUL_PARAMS P);                                                                                      \
    R ZUL_WRAP(fn)(ZUL_PARAMS P);

extern "C" {
#define ZUL_SEAM(fn, R, P, failure) ZUL_DECLARE(fn, R, P)
#define ZUL_SEAM_OPENS(fn, R, P, failure, opened) ZUL_DECLARE(fn, R, P)
#define ZUL_SEAM_CLOSES(fn, R, P, failure) ZUL_DECLARE(fn, R, P)
#define ZUL_OPENS(fn, R, P, opened) ZUL_DECLARE(fn, R, P)
#define ZUL_CLOSES(fn, R, P) ZUL_DECLARE(fn, R, P)
#define ZUL_CALL(fn, R, P) ZUL_DECLARE(fn, R, P)
#include "seams.def"
}
