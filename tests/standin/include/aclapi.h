// POSIX stand-in for the part of <aclapi.h> that ZULFuncts uses: a file's owner
// and its discretionary access control list.
#pragma once

#include <windows.h>

typedef enum _SE_OBJECT_TYPE
{
    SE_UNKNOWN_OBJECT_TYPE = 0,
    SE_FILE_OBJECT = 1,
} SE_OBJECT_TYPE;

#ifdef __cplusplus
extern "C" {
#endif

DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                             PSID *ppsidOwner, PSID *ppsidGroup, PACL *ppDacl, PACL *ppSacl,
                             PSECURITY_DESCRIPTOR *ppSecurityDescriptor);

#ifdef __cplusplus
}
#endif
