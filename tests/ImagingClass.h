// The imaging devices' setup class, as the tests' registries and device searches name it.
#pragma once

#include <windows.h>

const char s_szImagingClass[] = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
const GUID s_guidImagingClass = {0x6BDD1FC6, 0x810F, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};
