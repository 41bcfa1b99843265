// POSIX stand-in for the runtime's <mbctype.h>: the multibyte code page and
// the lead and trail byte tests, declared with the string routines.
#pragma once

#include <mbstring.h>
