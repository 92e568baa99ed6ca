"""The -child mode of the host program: arguments, exit codes, the built-in
module table."""
import os
import sys
import unittest

from vorlane_testing import SERVER, run_child


class ChildMode(unittest.TestCase):
    def test_argv_is_script_and_its_arguments(self):
        r = run_child("import sys; print(repr(sys.argv[1:]))", "a b", "-x")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.strip(), "['a b', '-x']")

    def test_exit_codes(self):
        cases = [("pass", 0), ("raise SystemExit(7)", 7), ("raise ValueError('x')", 1),
                 ("import sys; sys.exit(0)", 0)]
        for code, expected in cases:
            with self.subTest(code=code):
                self.assertEqual(run_child(code).returncode, expected)

    def test_server_number(self):
        import subprocess
        import tempfile
        with tempfile.NamedTemporaryFile("w", suffix=".py", delete=False) as f:
            f.write("print('ok')\n")
        try:
            r = subprocess.run([SERVER, "-child", "-serverNum", "3", f.name],
                               capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stderr)
            bad = subprocess.run([SERVER, "-child", "-serverNum", "x", f.name],
                                 capture_output=True, text=True)
            self.assertEqual(bad.returncode, 2)
        finally:
            os.unlink(f.name)

    def test_main_script_from_environment(self):
        import subprocess
        import tempfile
        with tempfile.NamedTemporaryFile("w", suffix=".py", delete=False) as f:
            f.write("import sys; print('main', sys.argv)\n")
        try:
            env = dict(os.environ, VORLANE_MAIN=f.name)
            r = subprocess.run([SERVER, "-child", "-serverNum", "1"], capture_output=True,
                               text=True, env=env)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertTrue(r.stdout.startswith("main"), r.stdout)
        finally:
            os.unlink(f.name)

    def test_builtin_modules(self):
        self.assertIn("sorn", sys.builtin_module_names)
        self.assertIn("_syslog", sys.builtin_module_names)
        import expat
        p = expat.ParserCreate()
        seen = []
        p.StartElementHandler = lambda name, attrs: seen.append(name)
        p.Parse(b"<a><b/></a>", True)
        self.assertEqual(seen, ["a", "b"])

    def test_interpreter_is_debians(self):
        self.assertEqual(sys.version_info[:2], (3, 11))
        self.assertTrue(sys.prefix.startswith("/usr"), sys.prefix)


if __name__ == "__main__":
    unittest.main()
