// POSIX stand-in for the part of <winternl.h> that ZULFuncts uses: NtCreateFile,
// which the program finds in NTDLL at run time, and the status-to-error mapping.
#pragma once

#include <windows.h>

#define NTAPI

typedef struct _UNICODE_STRING {
    WORD Length;        // bytes, without a terminator
    WORD MaximumLength; // bytes
    WCHAR *Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

#define OBJ_CASE_INSENSITIVE 0x00000040L

#define FILE_OPEN 0x00000001
#define FILE_CREATE 0x00000002
#define FILE_OPEN_IF 0x00000003

#define FILE_DIRECTORY_FILE 0x00000001
#define FILE_SYNCHRONOUS_IO_NONALERT 0x00000020
#define FILE_NON_DIRECTORY_FILE 0x00000040
#define FILE_COMPLETE_IF_OPLOCKED 0x00000100
#define FILE_OPEN_FOR_BACKUP_INTENT 0x00004000
#define FILE_OPEN_REPARSE_POINT 0x00200000

// IO_STATUS_BLOCK.Information of an open, and of a sharing violation that a batch oplock caused.
#define FILE_OPENED 0x00000001
#define FILE_CREATED 0x00000002
#define FILE_OPBATCH_BREAK_UNDERWAY 0x00000009

#ifdef __cplusplus
extern "C" {
#endif

NTSTATUS NTAPI NtCreateFile(PHANDLE FileHandle, ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                            PIO_STATUS_BLOCK IoStatusBlock, PLARGE_INTEGER AllocationSize, ULONG FileAttributes,
                            ULONG ShareAccess, ULONG CreateDisposition, ULONG CreateOptions, PVOID EaBuffer,
                            ULONG EaLength);
ULONG NTAPI RtlNtStatusToDosError(NTSTATUS Status);
// FileDirectoryInformation (1) alone, the whole listing in one call when it fits.
NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE FileHandle, HANDLE Event, PVOID ApcRoutine, PVOID ApcContext,
                                    PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                                    ULONG FileInformationClass, BOOLEAN ReturnSingleEntry, PUNICODE_STRING FileName,
                                    BOOLEAN RestartScan);
// FileRenameInformation (10) alone, whose buffer is laid out as FILE_RENAME_INFO.
NTSTATUS NTAPI NtSetInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation,
                                    ULONG Length, ULONG FileInformationClass);

#ifdef __cplusplus
}
#endif
