"""The osdnt_native module, run inside vorlane-server -child."""
import errno
import os
import re
import socket
import stat
import sys
import tempfile
import time
import unittest

import osdnt_native
from vorlane_testing import TempRoot, run_child

SERVER_KEY = "HKEY_LOCAL_MACHINE/SOFTWARE/Kestrova/VorlaneServer"


class Module(unittest.TestCase):
    def test_built_in_with_its_eleven_functions(self):
        self.assertIn("osdnt_native", sys.builtin_module_names)
        names = sorted(n for n in dir(osdnt_native) if not n.startswith("__"))
        self.assertEqual(names, sorted([
            "memory_info", "message_box", "output_to_logfile", "query_registry", "record",
            "set_server_num", "shell_execute", "socket_fionread", "spawn", "version_info",
            "get_registry"]))

    def test_wrong_arguments(self):
        for call in [lambda: osdnt_native.spawn("x"), lambda: osdnt_native.spawn(1, 1),
                     lambda: osdnt_native.record("a", "b", "port", "v"),
                     lambda: osdnt_native.set_server_num("1"),
                     lambda: osdnt_native.query_registry("\u0100")]:
            with self.assertRaises(TypeError):
                call()
        with self.assertRaises(ValueError):
            osdnt_native.spawn("/bin/true\0x", 1)


class Spawn(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vorlane-spawn-")

    def tearDown(self):
        import shutil
        shutil.rmtree(self.dir, ignore_errors=True)

    def read(self, name):
        with open(os.path.join(self.dir, name)) as f:
            return f.read()

    def test_exit_code(self):
        self.assertEqual(osdnt_native.spawn('/bin/sh -c "exit 3"', 10), 3)
        self.assertEqual(osdnt_native.spawn(b"/bin/true", 10), 0)

    def test_start_errors_and_limits_give_errno_values(self):
        marker = os.path.join(self.dir, "started")
        cases = [
            ("/nonexistent/program", errno.ENOENT),
            ("sh -c true", errno.ENOENT),                          # no search path
            ("A=1 B=2", errno.E2BIG),                              # no program
            ("/bin/touch " + " ".join([marker] * 19), errno.E2BIG),  # 20 arguments
            ("/bin/touch " + marker + " " + "x" * 1024, errno.E2BIG),
        ]
        for command, expected in cases:
            with self.subTest(command=command[:40]):
                self.assertEqual(osdnt_native.spawn(command, 10), expected)
        self.assertFalse(os.path.exists(marker))
        self.assertEqual(osdnt_native.spawn("/bin/touch " + " ".join([marker] * 18), 10), 0)
        self.assertTrue(os.path.exists(marker))

    def test_environment_replaced_and_added_for_the_child_only(self):
        os.environ["VORLANE_T_OLD"] = "old"
        os.environ.pop("VORLANE_T_NEW", None)
        out = os.path.join(self.dir, "env")
        code = osdnt_native.spawn(
            'VORLANE_T_OLD=new VORLANE_T_NEW=added /bin/sh -c "{ echo $VORLANE_T_OLD $VORLANE_T_NEW;'
            ' env | grep -c ^VORLANE_T_OLD=; } >%s"' % out, 10)
        self.assertEqual(code, 0)
        self.assertEqual(self.read("env"), "new added\n1\n")
        self.assertEqual(os.environ["VORLANE_T_OLD"], "old")
        self.assertNotIn("VORLANE_T_NEW", os.environ)
        del os.environ["VORLANE_T_OLD"]

    def test_quoted_program_path(self):
        folder = os.path.join(self.dir, "Program Files")
        os.mkdir(folder)
        os.symlink("/bin/sh", os.path.join(folder, "my shell"))
        out = os.path.join(self.dir, "args")
        code = osdnt_native.spawn(
            '"%s/my shell" -c "printf [%%s] $0 >%s; exit 7" "two words"' % (folder, out), 10)
        self.assertEqual(code, 7)
        self.assertEqual(self.read("args"), "[two][words]")

    def test_other_threads_run_while_a_child_is_waited_for(self):
        # The child waits for a file that another script thread makes only
        # once the child has started: it ends with 0 only when that thread
        # runs during the wait (else the limit ends it with 42).
        import threading
        started = os.path.join(self.dir, "started")
        answer = os.path.join(self.dir, "answer")

        def answer_the_child():
            deadline = time.monotonic() + 30
            while not os.path.exists(started) and time.monotonic() < deadline:
                time.sleep(0.01)
            open(answer, "w").close()
        t = threading.Thread(target=answer_the_child, daemon=True)
        t.start()
        code = osdnt_native.spawn('/bin/sh -c "touch %s; while [ ! -e %s ]; do sleep 0.01; done"'
                                  % (started, answer), 1)
        t.join(30)
        self.assertEqual(code, 0)


class Registry(unittest.TestCase):
    def setUp(self):
        self.root = TempRoot().start()
        osdnt_native.set_server_num(4)

    def tearDown(self):
        osdnt_native.set_server_num(0)
        self.root.stop()

    def test_record_writes_the_servers_values_in_order(self):
        osdnt_native.record("/data/caf\xe9", "search.example", 8080, "3.1")
        values = os.path.join(self.root.path, "registry", *SERVER_KEY.split("/"), "4", ".values")
        with open(values, "rb") as f:
            lines = f.read().decode("latin-1").splitlines()
        self.assertEqual([line.split("\t")[:2] for line in lines],
                         [["1", "data_dir"], ["1", "hostname"], ["4", "port"], ["1", "version"]])
        self.assertEqual(lines[2].split("\t")[2], "901f0000")  # 8080, little-endian
        self.assertEqual(osdnt_native.query_registry("port"), 8080)
        self.assertEqual(osdnt_native.query_registry("DATA_DIR"), "/data/caf\xe9")
        self.assertEqual(osdnt_native.query_registry(b"version"), "3.1")
        self.assertIsNone(osdnt_native.query_registry("missing"))
        osdnt_native.set_server_num(5)
        self.assertIsNone(osdnt_native.query_registry("port"))

    def test_get_registry(self):
        osdnt_native.record("/d", "h", 1234, "v")
        cases = [
            (SERVER_KEY + "/4/port", 1234),
            (SERVER_KEY + "/4/hostname", "h"),
            ("HKEY_LOCAL_MACHINE/software/KESTROVA/vorlaneserver/4/Port", 1234),
            (SERVER_KEY + "/4", None),               # a key, not a value
            (SERVER_KEY + "/4/", None),              # the key's unnamed value: none
            (SERVER_KEY + "/4/missing", None),
            (SERVER_KEY + "/9/port", None),          # no such key
            ("hkey_local_machine/SOFTWARE/Kestrova/VorlaneServer/4/port", None),
            ("HKEY_OTHER/x", None),
            ("HKEY_LOCAL_MACHINE", None),            # no "/"
            (SERVER_KEY + "/4/" + "x" * 1100, None),
        ]
        for path, expected in cases:
            with self.subTest(path=path[:70]):
                self.assertEqual(osdnt_native.get_registry(path), expected)
        self.assertIsNone(osdnt_native.get_registry("HKEY_USERS/nobody/value"))
        self.assertIsNone(osdnt_native.get_registry("HKEY_CLASSES_ROOT/.txt/x"))
        self.assertIsNone(osdnt_native.get_registry("HKEY_CURRENT_USER/x"))

    def test_large_and_other_values(self):
        # Values written by another program: a long string, a binary value.
        keydir = os.path.join(self.root.path, "registry", *SERVER_KEY.split("/"), "4")
        os.makedirs(keydir)
        long_text = b"y" * 1100 + b"\0"
        with open(os.path.join(keydir, ".values"), "w") as f:
            f.write("1\tlong\t%s\n" % long_text.hex())
            f.write("3\tbin\t0102\n")
            f.write("1\tnonul\t%s\n" % b"abc".hex())
            f.write("4\tbig\tffffffff\n")
        self.assertIsNone(osdnt_native.query_registry("long"))
        self.assertIsNone(osdnt_native.get_registry(SERVER_KEY + "/4/long"))
        self.assertIsNone(osdnt_native.query_registry("bin"))
        self.assertIsNone(osdnt_native.get_registry(SERVER_KEY + "/4/bin"))
        self.assertEqual(osdnt_native.query_registry("nonul"), "abc")
        self.assertEqual(osdnt_native.get_registry(SERVER_KEY + "/4/nonul"), "abc")
        self.assertEqual(osdnt_native.query_registry("big"), 0xFFFFFFFF)


class SystemInformation(unittest.TestCase):
    def test_version_info(self):
        text = osdnt_native.version_info()
        release = os.uname().release
        m = re.fullmatch(r"Platform: Windows NT (\d+)\.(\d+)   Build: (\d+)   ServicePack: (.*)\n", text)
        self.assertIsNotNone(m, text)
        self.assertEqual(m.group(4), release)
        self.assertTrue(release.startswith("%s.%s" % (m.group(1), m.group(2))))

    def test_memory_info_in_bytes(self):
        text = osdnt_native.memory_info()
        m = re.fullmatch(r"Memory: (\d+) \((\d+) free\)   Virtual: (\d+) \((\d+) free\)\n", text)
        self.assertIsNotNone(m, text)
        with open("/proc/meminfo") as f:
            total_kb = int(re.search(r"^MemTotal:\s+(\d+)", f.read(), re.M).group(1))
        self.assertEqual(int(m.group(1)), total_kb * 1024)  # above 2 GiB on most machines
        self.assertLessEqual(int(m.group(2)), int(m.group(1)))
        self.assertGreaterEqual(int(m.group(3)), int(m.group(1)))


class MessagesAndOpening(unittest.TestCase):
    def setUp(self):
        self.root = TempRoot().start()

    def tearDown(self):
        os.environ.pop("VORLANE_OPENER", None)
        self.root.stop()

    def test_message_box_is_recorded(self):
        self.assertIsNone(osdnt_native.message_box("line one\nline\ttwo \xe9"))
        with open(os.path.join(self.root.path, "messages"), "rb") as f:
            fields = f.read().decode("latin-1").rstrip("\n").split("\t")
        self.assertEqual(fields[1:], ["40040", "Information", "line one\\nline\\ttwo \xe9"])

    def test_shell_execute_runs_the_opener(self):
        opener = os.path.join(self.root.path, "opener")
        seen = os.path.join(self.root.path, "seen")
        with open(opener, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s" "$1" > %s.tmp && mv %s.tmp %s\n' % (seen, seen, seen))
        os.chmod(opener, stat.S_IRWXU)
        os.environ["VORLANE_OPENER"] = opener
        self.assertIsNone(osdnt_native.shell_execute("/some/file name.txt"))
        deadline = time.time() + 10
        while not os.path.exists(seen) and time.time() < deadline:
            time.sleep(0.02)
        with open(seen) as f:
            self.assertEqual(f.read(), "/some/file name.txt")
        os.environ["VORLANE_OPENER"] = os.path.join(self.root.path, "no-such-opener")
        self.assertIsNone(osdnt_native.shell_execute("x"))


class Sockets(unittest.TestCase):
    def test_bytes_waiting(self):
        a, b = socket.socketpair()
        try:
            self.assertEqual(osdnt_native.socket_fionread(b.fileno()), 0)
            a.sendall(b"hello")
            time.sleep(0.05)
            self.assertEqual(osdnt_native.socket_fionread(b.fileno()), 5)
        finally:
            a.close()
            b.close()
        with self.assertRaises(OSError):
            osdnt_native.socket_fionread(-1)


class OutputToLogfile(unittest.TestCase):
    def test_both_streams_go_to_the_file(self):
        with TempRoot() as root:
            log = os.path.join(root.path, "server.log")
            script = (
                "import os, sys, osdnt_native\n"
                "print('before', flush=False)\n"
                "sys.stderr.write('before-err\\n')\n"
                "osdnt_native.output_to_logfile(%r)\n"
                "print('after')\n"
                "sys.stderr.write('after-err\\n')\n"
                "os.write(2, b'raw-err\\n')\n" % log)
            r = run_child(script)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, "before\n")
            self.assertEqual(r.stderr, "before-err\n")
            with open(log) as f:
                self.assertEqual(sorted(f.read().splitlines()), ["after", "after-err", "raw-err"])

    def test_a_file_that_cannot_be_opened_changes_nothing(self):
        with TempRoot() as root:
            script = ("import osdnt_native\n"
                      "osdnt_native.output_to_logfile(%r)\n"
                      "print('still here')\n" % os.path.join(root.path, "no", "dir", "log"))
            r = run_child(script)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, "still here\n")


if __name__ == "__main__":
    unittest.main()
