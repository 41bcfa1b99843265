// Files by name: move, copy, delete, attributes, the spelling of paths, and the runtime's calls.
#include "conformance.h"

#include <direct.h>
#include <stdio.h>

static void test_MoveAndCopy()
{
    std::string strA = Scratch("a.txt"), strB = Scratch("b.txt"), strC = Scratch("c.txt");
    ok(WriteText(strA, "alpha") && WriteText(strB, "beta"), "cannot write the scratch file, errno %d\n", errno);

    ok_win_fails(MoveFileA(strA.c_str(), strB.c_str()), ERROR_ALREADY_EXISTS, "MoveFileA onto an existing file");
    ok(ReadText(strA) == "alpha" && ReadText(strB) == "beta",
       "a failed MoveFileA changes neither file, got %s and %s\n", ReadText(strA).c_str(), ReadText(strB).c_str());
    ok_win_fails(MoveFileA(Scratch("missing.txt").c_str(), strC.c_str()), ERROR_FILE_NOT_FOUND,
                 "MoveFileA of a missing source");
    ok(!Exists(strC), "a failed MoveFileA creates no target, attributes %#lx\n", Attributes(strC));

    ok_win(MoveFileA(strA.c_str(), strC.c_str()), "MoveFileA to a free name");
    ok(!Exists(strA) && ReadText(strC) == "alpha", "MoveFileA moves the content to the new name, got %#lx and %s\n",
       Attributes(strA), ReadText(strC).c_str());
    ok_win(MoveFileExA(strC.c_str(), strB.c_str(), MOVEFILE_REPLACE_EXISTING),
           "MoveFileExA(MOVEFILE_REPLACE_EXISTING) onto an existing file");
    ok(!Exists(strC) && ReadText(strB) == "alpha",
       "MoveFileExA(MOVEFILE_REPLACE_EXISTING) replaces the target, got %#lx and %s\n", Attributes(strC),
       ReadText(strB).c_str());

    ok(WriteText(strA, "gamma"), "cannot write the scratch file, errno %d\n", errno);
    ok_win(CopyFileA(strA.c_str(), strB.c_str(), FALSE), "CopyFileA(FALSE) over an existing file");
    ok(ReadText(strB) == "gamma" && ReadText(strA) == "gamma",
       "CopyFileA(FALSE) overwrites the target, got %s and %s\n", ReadText(strA).c_str(), ReadText(strB).c_str());
    ok_win_fails(CopyFileA(Scratch("missing.txt").c_str(), strC.c_str(), FALSE), ERROR_FILE_NOT_FOUND,
                 "CopyFileA of a missing source");
    ok(!Exists(strC), "a failed CopyFileA creates no target, attributes %#lx\n", Attributes(strC));
    ok_win_fails(CopyFileA(strA.c_str(), Scratch("nodir\\c.txt").c_str(), FALSE), ERROR_PATH_NOT_FOUND,
                 "CopyFileA into a missing directory");

    DeleteFileA(strA.c_str());
    DeleteFileA(strB.c_str());
}

static void test_DeleteAndAttributes()
{
    std::string strRo = Scratch("ro.txt"), strDir = Scratch("full");
    ok(WriteText(strRo, "read-only"), "cannot write the scratch file, errno %d\n", errno);
    ok_win(SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_READONLY), "SetFileAttributesA(READONLY)");

    DWORD dwAttr = GetFileAttributesA(strRo.c_str());
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY) && !(dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a read-only file has FILE_ATTRIBUTE_READONLY, got %#lx\n", (unsigned long)dwAttr);

    ok_win_fails(DeleteFileA(strRo.c_str()), ERROR_ACCESS_DENIED, "DeleteFileA of a read-only file");
    ok(Exists(strRo), "a read-only file stays after DeleteFileA, attributes %#lx\n", Attributes(strRo));
    ok_win(SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL)");
    ok_win(DeleteFileA(strRo.c_str()), "DeleteFileA after clearing FILE_ATTRIBUTE_READONLY");
    ok(!Exists(strRo), "the file is gone after DeleteFileA, attributes %#lx\n", Attributes(strRo));

    ok_win_fails(DeleteFileA(strRo.c_str()), ERROR_FILE_NOT_FOUND, "DeleteFileA of a missing file");
    ok_win_fails(SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_NORMAL), ERROR_FILE_NOT_FOUND,
                 "SetFileAttributesA of a missing path");
    ok_win_fails(GetFileAttributesA(strRo.c_str()) != INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND,
                 "GetFileAttributesA of a missing file (INVALID_FILE_ATTRIBUTES)");

    ok_win(CreateDirectoryA(strDir.c_str(), NULL), "CreateDirectoryA");
    dwAttr = GetFileAttributesA(strDir.c_str());
    ok(dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY),
       "GetFileAttributesA of a directory has FILE_ATTRIBUTE_DIRECTORY, got %#lx\n", (unsigned long)dwAttr);
    ok_win(SetFileAttributesA(strDir.c_str(), FILE_ATTRIBUTE_NORMAL), "SetFileAttributesA(NORMAL) on a directory");

    std::string strInner = strDir + "\\inner.txt";
    ok(WriteText(strInner, "x"), "cannot write the scratch file, errno %d\n", errno);
    ok_win_fails(RemoveDirectoryA(strDir.c_str()), ERROR_DIR_NOT_EMPTY, "RemoveDirectoryA of a non-empty directory");
    ok(Exists(strInner), "a failed RemoveDirectoryA leaves the content, attributes %#lx\n", Attributes(strInner));
    ok_win(DeleteFileA(strInner.c_str()), "DeleteFileA");
    ok_win(RemoveDirectoryA(strDir.c_str()), "RemoveDirectoryA of an empty directory");
}

static void test_PathSpelling()
{
    std::string strSub = Scratch("Sub");
    ok_win(CreateDirectoryA(strSub.c_str(), NULL), "CreateDirectoryA");
    ok(WriteText(strSub + "\\File.txt", "x"), "cannot write the scratch file, errno %d\n", errno);

    ok(Exists(g_strScratch + "/Sub/File.txt"), "forward slashes separate path components, attributes %#lx\n",
       Attributes(g_strScratch + "/Sub/File.txt"));
    ok(Exists(g_strScratch + "\\Sub/File.txt"), "backslashes and slashes mix in one path, attributes %#lx\n",
       Attributes(g_strScratch + "\\Sub/File.txt"));
    ok(Exists(g_strScratch + "\\SUB\\file.TXT"), "file names are matched without regard to case, attributes %#lx\n",
       Attributes(g_strScratch + "\\SUB\\file.TXT"));

    ok_win(CopyFileA((g_strScratch + "\\SUB\\FILE.TXT").c_str(), (g_strScratch + "\\sub\\COPY.txt").c_str(), FALSE),
           "CopyFileA from and into a directory named in another case");
    ok(Exists(strSub + "\\copy.txt"),
       "a new file goes into the existing directory named in another case, attributes %#lx\n",
       Attributes(strSub + "\\copy.txt"));
    ok_win(DeleteFileA((strSub + "\\copy.TXT").c_str()), "DeleteFileA with a name in another case");
    ok_win(DeleteFileA((g_strScratch + "/sub/file.txt").c_str()), "DeleteFileA with slashes");
    ok_win(RemoveDirectoryA((g_strScratch + "\\SUB").c_str()), "RemoveDirectoryA with a name in another case");
}

static void test_RuntimeFiles()
{
    std::string strRo = Scratch("ro.txt"), strDir = Scratch("rtdir");
    ok(WriteText(strRo, "x") && SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_READONLY),
       "cannot make the read-only scratch file\n");
    ok_crt_fails(remove(strRo.c_str()), CRT_EACCES, "remove() of a read-only file");
    ok(Exists(strRo), "a read-only file stays after remove(), attributes %#lx\n", Attributes(strRo));
    SetFileAttributesA(strRo.c_str(), FILE_ATTRIBUTE_NORMAL);
    ok_crt(remove(strRo.c_str()), "remove() of a writable file");
    ok(!Exists(strRo), "the file is gone after remove(), attributes %#lx\n", Attributes(strRo));
    ok_crt_fails(remove(strRo.c_str()), CRT_ENOENT, "remove() of a missing file");

    ok_crt(_mkdir(strDir.c_str()), "_mkdir");
    ok_crt_fails(_mkdir(strDir.c_str()), CRT_EEXIST, "_mkdir of an existing directory");
    ok_crt_fails(_mkdir(Scratch("nodir\\child").c_str()), CRT_ENOENT, "_mkdir with a missing parent");

    ok_crt_fails(remove(strDir.c_str()), CRT_EACCES, "remove() of a directory");
    ok(Exists(strDir), "a directory stays after remove(), attributes %#lx\n", Attributes(strDir));

    std::string strInner = strDir + "\\inner";
    ok(WriteText(strInner, "x"), "cannot write the scratch file, errno %d\n", errno);
    ok_crt_fails(_rmdir(strDir.c_str()), CRT_ENOTEMPTY, "_rmdir of a non-empty directory");
    ok(Exists(strInner), "a failed _rmdir leaves the content, attributes %#lx\n", Attributes(strInner));
    DeleteFileA(strInner.c_str());
    ok_crt(_rmdir(strDir.c_str()), "_rmdir of an empty directory");
    ok_crt_fails(_rmdir(strDir.c_str()), CRT_ENOENT, "_rmdir of a missing directory");
}

void func_files()
{
    test_MoveAndCopy();
    test_DeleteAndAttributes();
    test_PathSpelling();
    test_RuntimeFiles();
}
