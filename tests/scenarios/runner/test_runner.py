#!/usr/bin/env python3
"""Unit tests of the scenario runner's parsing and matching, and of the prefix's registry clean-up."""

import os
import tempfile
import unittest

from harness import wine
from harness.scenario import backends, check, format as fmt


class ContentExpressions(unittest.TestCase):
    def test_sums_repeats_and_bytes(self):
        self.assertEqual(fmt.content_value("'ab' + b'\\x00\\xff' * 2 + 3 * 'c' + 'x' * 0"),
                         b"ab\x00\xff\x00\xffccc")
        self.assertEqual(fmt.content_value("'\\xe9\\r\\n'  # trailing comment"), b"\xe9\r\n")

    def test_anything_but_literals_is_rejected_unevaluated(self):
        for text in ("__import__('os').getcwd()", "open('x').read()", "name", "'a' * -1", "'a' * 'b'",
                     "'a' * 1.5", "f'{1}'", "'\\u0100'", "'a' - 'b'", "'a' * 10**9", "'a' * (10**3)", ""):
            with self.assertRaises(fmt.ScenarioError, msg=text):
                fmt.content_value(text)


class ScenarioParsing(unittest.TestCase):
    def parse(self, text):
        return fmt.parse_scenario("x.scn", "x", text)

    def test_header_values_and_comments(self):
        scn = self.parse("# c\ndescription = d  # note\ncommand = ' a # b '  # note\nexit = 0x10\n"
                         "backends = wine\noption native-tmpdir = missing # why\n")
        self.assertEqual((scn.description, scn.command, scn.exit, scn.backends), ("d", " a # b ", 16, ["wine"]))
        self.assertEqual(scn.options, {"native-tmpdir": "missing"})

    def test_header_errors(self):
        for text in ("bogus = 1\n", "command = 'a'\ncommand = 'b'\n", "command = 'a\\0b'\n", "exit = x\n",
                     "backends = dos\n", "option native-sysroot = long:\n", "option native-window-station = \n", "option other = 1\n", "just text\n",
                     "= files\n", "= log a/b.log\n"):
            with self.assertRaises(fmt.ScenarioError, msg=text):
                self.parse(text)

    def test_file_lines(self):
        scn = self.parse("= files before\n"
                         "file 'temp/a = b.txt' readonly = 'x = y'  # comment\n"
                         "file temp/empty\n"
                         "dir windows/twain_32/d\n"
                         "link temp/l -> scratch/t\n"
                         "\n# comment\n"
                         "= files after\n"
                         "file temp/w readonly\n")
        a, empty, d, link = scn.before
        self.assertEqual((a.kind, a.path, a.readonly, a.content), ("file", "temp/a = b.txt", True, b"x = y"))
        self.assertEqual((empty.content, empty.readonly), (None, False))
        self.assertEqual((d.kind, d.path), ("dir", "windows/twain_32/d"))
        self.assertEqual((link.kind, link.target), ("link", "scratch/t"))
        self.assertEqual([(e.path, e.readonly) for e in scn.after], [("temp/w", True)])

    def test_file_line_errors_name_the_line(self):
        for line in ("file /abs", "file elsewhere/x", "file temp/../x", "file temp\\x", "dir temp/d = 'x'",
                     "file temp/x shiny", "link temp/l", "pipe temp/p"):
            with self.assertRaisesRegex(fmt.ScenarioError, "line 2", msg=line):
                self.parse("= files before\n" + line + "\n")

    def test_sections_keep_text_literally(self):
        scn = self.parse("= registry\nREGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n\n\n"
                         "= log _a.log unordered\n# not a comment\n\nx\n\n"
                         "= stdout\nout\n")
        self.assertEqual(scn.registry, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n")
        self.assertEqual((scn.logs[0].name, scn.logs[0].unordered), ("_a.log", True))
        self.assertEqual(scn.logs[0].lines, ["# not a comment", "", "x"])
        self.assertEqual(scn.stdout.lines, ["out"])
        self.assertIsNone(self.parse("exit = 0\n").after)
        self.assertEqual(self.parse("= files after\n").after, [])

    def test_registry_fixture_from_the_nearest_fixtures_directory(self):
        with tempfile.TemporaryDirectory() as top:
            os.makedirs(os.path.join(top, "fixtures"))
            os.makedirs(os.path.join(top, "set", "fixtures"))
            for where, text in (("fixtures", "REGEDIT4\n\n[A]\n"), ("set/fixtures", "REGEDIT4\n\n[B]\n")):
                with open(os.path.join(top, where, "devs.reg"), "w") as f:
                    f.write(text)
            scn = os.path.join(top, "set", "deeper", "x.scn")
            self.assertEqual(fmt.parse_scenario(scn, "x", "= registry devs\n\n").registry, "REGEDIT4\n\n[B]\n")
            for text in ("= registry nothing\n", "= registry devs\nREGEDIT4\n"):
                with self.assertRaises(fmt.ScenarioError, msg=text):
                    fmt.parse_scenario(scn, "x", text)


class LineMatching(unittest.TestCase):
    SUBST = {"%WINDIR%": "C:\\windows", "%TEMP%": "C:\\t\\"}

    def check(self, expected, data, unordered=False, eol="\r\n"):
        text = fmt.TextCheck("x", unordered)
        text.lines = expected
        return check.check_text(text, data, eol, self.SUBST)

    def test_tokens(self):
        data = "12:00:59\t01/02/03\t\r\nStart\r\nC:\\windows\\twain_32\r\nab\r\ncd\r\n\r\nfree\r\n"
        self.assertEqual(self.check(["<stamp>", "Start", "%WINDIR%\\twain_32", "<include 'ab\\r\\ncd\\r\\n'>",
                                     "<empty>", "free"], data), [])

    def test_stamp_must_be_exact(self):
        for line in ("12:00:59\t01/02/03", "12:00:59\t01/02/2003\t", "2:00:59\t01/02/03\t", "12:00:59 01/02/03 "):
            self.assertNotEqual(self.check(["<stamp>"], line + "\r\n"), [], line)
        self.assertEqual(self.check(["<stamp>x %TEMP%"], "12:00:59\t01/02/03\tx C:\\t\\\r\n"), [])

    def test_first_mismatch_is_named(self):
        problems = self.check(["a", "b"], "a\r\nc\r\n")
        self.assertEqual(problems[0], "line 2: expected 'b', got 'c'")
        self.assertEqual(self.check(["a"], "a\r\nb\r\n")[0], "line 2: expected end of file, got 'b'")
        self.assertEqual(self.check(["a", "b"], "a\r\n")[0], "line 2: expected 'b', got end of file")

    def test_line_ends(self):
        self.assertIn("has no line end", self.check(["a"], "a")[0])
        self.assertNotEqual(self.check(["a"], "a\n"), [])  # a bare LF is not a line end of a log
        self.assertEqual(self.check(["a", ""], "a\n\n", eol="\n"), [])

    def test_unordered_counts_duplicates(self):
        data = "b\r\n12:00:59\t01/02/03\t\r\na\r\nz\r\n"
        self.assertEqual(self.check(["z", "a", "b", "<stamp>"], data, unordered=True), [])
        problems = self.check(["a", "a", "b", "<stamp>"], data, unordered=True)
        self.assertIn("missing line 'a'", problems)
        self.assertIn("1 unexpected line(s): 'z'", problems)


class FileTrees(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        base = self.tmp.name
        self.roots = check.Roots(os.path.join(base, "w"), os.path.join(base, "t"), os.path.join(base, "s"),
                              os.path.join(base, "c"), ["windows/twain_32", "temp"])
        for d in ("w", "t", "s", "c"):
            os.makedirs(os.path.join(base, d))

    def tearDown(self):
        self.tmp.cleanup()

    def entries(self, text):
        return fmt.parse_scenario("x.scn", "x", "= files after\n" + text).after

    def test_seed_and_compare_round_trip(self):
        text = ("file windows/twain_32/a/b readonly = 'x'\nfile windows/other = 'o'\ndir temp/empty\n"
                "link temp/l -> scratch/target\nfile scratch/target = 't'\n")
        check.seed(self.entries(text), self.roots)
        self.assertEqual(os.readlink(self.roots.real("temp/l")), self.roots.real("scratch/target"))
        # Parents are implied; windows/ outside twain_32 is not a complete tree here.
        self.assertEqual(check.compare_tree(self.entries(text), self.roots), [])
        self.assertEqual(check.compare_tree(self.entries("file windows/twain_32/a/b\nlink temp/l\ndir temp/empty\n"),
                                         self.roots), [])

    def test_differences(self):
        check.seed(self.entries("file windows/twain_32/x = 'abc'\nfile temp/extra = ''\n"), self.roots)
        problems = check.compare_tree(self.entries("file windows/twain_32/x readonly = 'abd'\nfile temp/gone\n"
                                                "link temp/l -> scratch/t\n"), self.roots)
        self.assertIn("missing file temp/gone", problems)
        self.assertIn("missing link temp/l", problems)
        self.assertIn("windows/twain_32/x: expected read-only, found writable", problems)
        self.assertIn("unexpected file temp/extra (0 bytes)", problems)
        self.assertTrue(any(p.startswith("windows/twain_32/x: content differs at byte 2") for p in problems))
        # The complete root itself counts: an unlisted twain_32 is reported.
        self.assertEqual(check.compare_tree(self.entries("file temp/extra\n"), self.roots),
                         ["unexpected dir windows/twain_32", "unexpected file windows/twain_32/x (3 bytes)"])

    def test_hard_links(self):
        check.seed(self.entries("file scratch/t = 'x'\nhardlink temp/h -> scratch/t\nfile temp/copy = 'x'\n"),
                self.roots)
        self.assertTrue(os.path.samefile(self.roots.real("temp/h"), self.roots.real("scratch/t")))
        self.assertEqual(check.compare_tree(self.entries("hardlink temp/h -> scratch/t\nfile temp/copy\n"), self.roots), [])
        self.assertEqual(check.compare_tree(self.entries("hardlink temp/copy -> scratch/t\nfile temp/h\n"), self.roots),
                         ["temp/copy: not the same file as scratch/t"])
        with self.assertRaises(fmt.ScenarioError):
            check.seed(self.entries("hardlink temp/x -> scratch/missing\n"), self.roots)
        with self.assertRaises(fmt.ScenarioError):
            self.entries("hardlink temp/x\n")

    def test_padded_paths_have_the_exact_length(self):
        base = self.roots.real("scratch")
        for length in (len(base) + 2, len(base) + 3, len(base) + 202, len(base) + 203, 259, 600):
            self.assertEqual(len(backends.padded_path(base, length)), length)
        with self.assertRaises(fmt.ScenarioError):
            backends.padded_path(base, len(base) + 1)


class RegistryCleanup(unittest.TestCase):
    BASELINE = {"HKEY_LOCAL_MACHINE": {"system", "system\\currentcontrolset",
                                       "system\\currentcontrolset\\enum",
                                       "system\\currentcontrolset\\control",
                                       "system\\currentcontrolset\\control\\class",
                                       "system\\currentcontrolset\\control\\class\\{guid}"},
                "HKEY_CURRENT_USER": {"software"}}

    def test_topmost_new_ancestor_is_deleted(self):
        text = ("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\0000]\n"
                "\"a\"=\"b\"\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\IMAGE\\0001]\n"
                "[HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class\\{GUID}\\0000\\DeviceData]\n"
                "[-HKEY_LOCAL_MACHINE\\SYSTEM\\Old]\n")
        self.assertEqual(wine.removal_sections(text, self.BASELINE), [
            "[-HKEY_LOCAL_MACHINE\\system\\currentcontrolset\\enum\\root]",
            "[-HKEY_LOCAL_MACHINE\\system\\currentcontrolset\\control\\class\\{guid}\\0000]",
        ])

    def test_keys_of_a_fresh_prefix_stay(self):
        text = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control]\n[HKEY_CURRENT_USER\\Software]\n"
        self.assertEqual(wine.removal_sections(text, self.BASELINE), [])

    def test_without_a_record_only_the_keys_go(self):
        text = "[HKEY_USERS\\S-1\\A]\n[HKEY_USERS\\S-1\\A\\B]\n[BOGUS\\X]\n[HKEY_LOCAL_MACHINE]\n"
        self.assertEqual(wine.removal_sections(text, self.BASELINE), ["[-HKEY_USERS\\s-1\\a]"])
        self.assertEqual(wine.removal_sections(text, {}), ["[-HKEY_USERS\\s-1\\a]"])

    def test_windows_paths(self):
        self.assertEqual(wine.windows_path("/a/b c/d.exe"), "Z:\\a\\b c\\d.exe")
        self.assertEqual(wine.windows_path("C:\\x.exe"), "C:\\x.exe")


if __name__ == "__main__":
    unittest.main()
