// Files by name: move, copy, delete, attributes, the spelling of paths, and the runtime's calls.
#include "conformance.h"

#include <direct.h>
#include <stdio.h>

static void test_MoveAndCopy()
{
    std::string sA = Scratch("a.txt"), sB = Scratch("b.txt"), sC = Scratch("c.txt");
    ok(WriteText(sA, "alpha") && WriteText(sB, "beta"), "cannot write the scratch file, errno %d\n", errno);

    ok_win_fails(MoveFileA(sA.c_str(), sB.c_str()), ERROR_ALREADY_EXISTS, "MoveFileA onto an existing file");
    ok(ReadText(sA) == "alpha" && ReadText(sB) == "beta", "a failed MoveFileA changes neither file, got %s and %s\n",
       ReadText(sA).c_str(), ReadText(sB).c_str());
    ok_win_fails(MoveFileA(Scratch("missing.txt").c_str(), sC.c_str()), ERROR_FILE_NOT_FOUND,
                 "MoveFileA of a missing source");
    ok(!Exists(sC), "a failed MoveFileA creates no target, attributes %#lx\n", Attributes(sC));

    ok_win(MoveFileA(sA.c_str(), sC.c_str()), "MoveFileA to a free name");
    ok(!Exists(sA) && ReadText(sC) == "alpha", "MoveFileA moves the content to the new name, got %#lx and %s\n",
       Attributes(sA), ReadText(sC).c_str());
    ok_win(MoveFileExA(sC.c_str(), sB.c_str(), MOVEFILE_REPLACE_EXISTING),
           "MoveFileExA(MOVEFILE_REPLACE_EXISTING) onto an existing file");
    ok(!Exists(sC) && ReadText(sB) == "alpha",
       "MoveFileExA(MOVEFILE_REPLACE_EXISTING) replaces the target, got %#lx and %s\n", Attributes(sC),
       ReadText(sB).c_str());

    ok(WriteText(sA, "gamma"), "cannot write the scratch file, errno %d\n", errno);
    ok_win(CopyFileA(sA.c_str(), sB.c_str(), FALSE), "CopyFileA(FALSE) over an existing file");
    ok(ReadText(sB) == "gamma" && ReadText(sA) == "gamma", "CopyFileA(FALSE) overwrites the target, got %s and %s\n",
       ReadText(sA).c_str(), ReadText(sB).c_str());
    ok_win_fails(CopyFileA(Scratch("missing.txt").c_str(), sC.c_str(), FALSE), ERROR_FILE_NOT_FOUND,
                 "CopyFileA of a missing source");
    ok(!Exists(sC), "a failed CopyFileA creates no target, attributes %#lx\n", Attributes(sC));
    ok_win_fails(CopyFileA(sA.c_str(), Scratch("nodir\\c.txt").c_str(), FALSE), ERROR_PATH_NOT_FOUND,
                 "CopyFileA into a missing directory");

    DeleteFileA(sA.c_str());
    DeleteFileA(sB.c_str());
}

static void test_DeleteAndAttributes()
{
    std::string sRo = Scratch("ro.txt"), sDir = Scratch("full");
    ok(WriteText(sRo, "read-only"), "cannot write the scratch file, errno %d\n", errno);
    ok_win(SetFileAttributesA(sRo.c_str(), FILE_ATTRIBUTE_READONLY), "SetFileAttributesA(READONLY)");

    DWORD dwAttr = GetFileAttributesA(sRo.c_str());
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY) && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a read-only file has FILE_ATTRIBUTE_READONLY, got %#lx\n", (unsigned long)dwAttr);

    ok_win_fails(DeleteFileA(sRo.c_str()), ERROR_ACCESS_DENIED, "DeleteFileA of a read-only file");
    ok(Exists(sRo), "a read-only file stays after DeleteFileA, attributes %#lx\n", Attributes(sRo));
    ok_win(SetFileAttributesA(sRo.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL)");
    ok_win(DeleteFileA(sRo.c_str()), "DeleteFileA after clearing FILE_ATTRIBUTE_READONLY");
    ok(!Exists(sRo), "the file is gone after DeleteFileA, attributes %#lx\n", Attributes(sRo));

    ok_win_fails(DeleteFileA(sRo.c_str()), ERROR_FILE_NOT_FOUND, "DeleteFileA of a missing file");
    ok_win_fails(SetFileAttributesA(sRo.c_str(), FILE_ATTRIBUTE_NORMAL), ERROR_FILE_NOT_FOUND,
                 "SetFileAttributesA of a missing path");
    ok_win_fails(GetFileAttributesA(sRo.c_str()) != INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND,
                 "GetFileAttributesA of a missing file (INVALID_FILE_ATTRIBUTES)");

    ok_win(CreateDirectoryA(sDir.c_str(), NULL), "CreateDirectoryA");
    dwAttr = GetFileAttributesA(sDir.c_str());
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a directory has FILE_ATTRIBUTE_DIRECTORY, got %#lx\n", (unsigned long)dwAttr);
    ok_win(SetFileAttributesA(sDir.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL) on a directory");

    std::string sInner = sDir + "\\inner.txt";
    ok(WriteText(sInner, "x"), "cannot write the scratch file, errno %d\n", errno);
    ok_win_fails(RemoveDirectoryA(sDir.c_str()), ERROR_DIR_NOT_EMPTY, "RemoveDirectoryA of a non-empty directory");
    ok(Exists(sInner), "a failed RemoveDirectoryA leaves the content, attributes %#lx\n", Attributes(sInner));
    ok_win(DeleteFileA(sInner.c_str()), "DeleteFileA");
    ok_win(RemoveDirectoryA(sDir.c_str()), "RemoveDirectoryA of an empty directory");
}

static void test_PathSpelling()
{
    std::string sSub = Scratch("Sub");
    ok_win(CreateDirectoryA(sSub.c_str(), NULL), "CreateDirectoryA");
    ok(WriteText(sSub + "\\File.txt", "x"), "cannot write the scratch file, errno %d\n", errno);

    ok(Exists(g_sScratch + "/Sub/File.txt"), "forward slashes separate path components, attributes %#lx\n",
       Attributes(g_sScratch + "/Sub/File.txt"));
    ok(Exists(g_sScratch + "\\Sub/File.txt"), "backslashes and slashes mix in one path, attributes %#lx\n",
       Attributes(g_sScratch + "\\Sub/File.txt"));
    ok(Exists(g_sScratch + "\\SUB\\file.TXT"), "file names are matched without regard to case, attributes %#lx\n",
       Attributes(g_sScratch + "\\SUB\\file.TXT"));

    ok_win(CopyFileA((g_sScratch + "\\SUB\\FILE.TXT").c_str(), (g_sScratch + "\\sub\\COPY.txt").c_str(), FALSE),
           "CopyFileA from and into a directory named in another case");
    ok(Exists(sSub + "\\copy.txt"),
       "a new file goes into the existing directory named in another case, attributes %#lx\n",
       Attributes(sSub + "\\copy.txt"));
    ok_win(DeleteFileA((sSub + "\\copy.TXT").c_str()), "DeleteFileA with a name in another case");
    ok_win(DeleteFileA((g_sScratch + "/sub/file.txt").c_str()), "DeleteFileA with slashes");
    ok_win(RemoveDirectoryA((g_sScratch + "\\SUB").c_str()), "RemoveDirectoryA with a name in another case");
}

static void test_RuntimeFiles()
{
    std::string sRo = Scratch("ro.txt"), sDir = Scratch("rtdir");
    ok(WriteText(sRo, "x") && SetFileAttributesA(sRo.c_str(), FILE_ATTRIBUTE_READONLY),
       "cannot make the read-only scratch file\n");
    ok_crt_fails(remove(sRo.c_str()), CRT_EACCES, "remove() of a read-only file");
    ok(Exists(sRo), "a read-only file stays after remove(), attributes %#lx\n", Attributes(sRo));
    SetFileAttributesA(sRo.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok_crt(remove(sRo.c_str()), "remove() of a writable file");
    ok(!Exists(sRo), "the file is gone after remove(), attributes %#lx\n", Attributes(sRo));
    ok_crt_fails(remove(sRo.c_str()), CRT_ENOENT, "remove() of a missing file");

    ok_crt(_mkdir(sDir.c_str()), "_mkdir");
    ok_crt_fails(_mkdir(sDir.c_str()), CRT_EEXIST, "_mkdir of an existing directory");
    ok_crt_fails(_mkdir(Scratch("nodir\\child").c_str()), CRT_ENOENT, "_mkdir with a missing parent");

    ok_crt_fails(remove(sDir.c_str()), CRT_EACCES, "remove() of a directory");
    ok(Exists(sDir), "a directory stays after remove(), attributes %#lx\n", Attributes(sDir));

    std::string sInner = sDir + "\\inner";
    ok(WriteText(sInner, "x"), "cannot write the scratch file, errno %d\n", errno);
    ok_crt_fails(_rmdir(sDir.c_str()), CRT_ENOTEMPTY, "_rmdir of a non-empty directory");
    ok(Exists(sInner), "a failed _rmdir leaves the content, attributes %#lx\n", Attributes(sInner));
    DeleteFileA(sInner.c_str());
    ok_crt(_rmdir(sDir.c_str()), "_rmdir of an empty directory");
    ok_crt_fails(_rmdir(sDir.c_str()), CRT_ENOENT, "_rmdir of a missing directory");
}

void func_files()
{
    test_MoveAndCopy();
    test_DeleteAndAttributes();
    test_PathSpelling();
    test_RuntimeFiles();
}
