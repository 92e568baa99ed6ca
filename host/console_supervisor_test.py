"""The console supervisor: vorlane-server started by a user, in a temporary
root."""
import os
import signal
import socket
import subprocess
import time
import unittest

from supervisor_testing import PROGRAM, alive, kill_all, starts, wait_for, write_main
from vorlane_testing import TempRoot, read_eventlog


# A server that listens on the port its first argument gives and then
# records its pid in $VORLANE_ROOT/listening.<pid>.
LISTENER = r'''
import os, socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen()
open(os.path.join(os.environ["VORLANE_ROOT"], "listening.%d" % os.getpid()), "w").close()
time.sleep(60)
'''


class ConsoleSupervision(unittest.TestCase):
    def setUp(self):
        self.root = TempRoot().start()
        # The wrapper's arguments go to its child: the first is the script.
        self.main = write_main(self.root.path)
        self.env = dict(os.environ, PYTHONPATH="/earlier", TEMP="/custom-temp")
        self.env.pop("VORLANE_MAIN", None)
        self.env.pop("VORLANE_SERVICE", None)
        self.wrapper = None

    def tearDown(self):
        if self.wrapper and self.wrapper.poll() is None:
            self.wrapper.kill()
            self.wrapper.wait()
        kill_all(self.root.path)
        self.root.stop()

    def start(self, *args):
        self.wrapper = subprocess.Popen([PROGRAM, self.main, *args], env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        wait_for(lambda: starts(self.root.path), what="the child")
        state = os.path.join(self.root.path, "windows", "%d.state" % self.wrapper.pid)
        wait_for(lambda: os.path.exists(state), what="the window")
        return starts(self.root.path)[0]

    def window(self, command):
        fifo = os.path.join(self.root.path, "windows", "%d.fifo" % self.wrapper.pid)
        with open(fifo, "w") as f:
            f.write(command + "\n")

    def window_state(self):
        with open(os.path.join(self.root.path, "windows", "%d.state" % self.wrapper.pid)) as f:
            return f.read().split("\n")[0]

    def stop_events(self):
        return [e["strings"] for e in read_eventlog(self.root.path)].count(["Stop Service"])

    def test_child_arguments_and_environment(self):
        child = self.start("one", "two words")
        build = os.path.dirname(os.path.dirname(PROGRAM))
        self.assertEqual(child["argv"], [PROGRAM, "-child", self.main, "one", "two words"])
        self.assertEqual(child["pythonpath"], build + "/lib/python1.5:/earlier")
        self.assertEqual(child["temp"], "/custom-temp")
        self.assertEqual(child["cwd"], os.path.dirname(PROGRAM))

    def test_restore_changes_nothing_and_close_ends_child_and_wrapper(self):
        child = self.start()
        self.assertEqual(self.window_state(), "minimized")
        self.window("restore")
        self.window("command-that-is-none")
        time.sleep(0.3)
        self.assertEqual(self.window_state(), "minimized")
        self.assertIsNone(self.wrapper.poll())
        self.assertTrue(alive(child["pid"]))
        self.window("close")
        self.assertEqual(self.wrapper.wait(timeout=10), 0)
        self.assertFalse(alive(child["pid"]))
        self.assertEqual(len(starts(self.root.path)), 1)
        self.assertEqual(self.stop_events(), 1)
        self.assertFalse(os.path.exists(os.path.join(self.root.path, "windows", "%d.fifo" % self.wrapper.pid)))

    def test_a_window_command_ends_child_and_wrapper(self):
        child = self.start()
        self.window("command 7")
        self.assertEqual(self.wrapper.wait(timeout=10), 0)
        self.assertFalse(alive(child["pid"]))

    def test_console_events_end_child_and_wrapper(self):
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig):
                child = self.start()
                self.wrapper.send_signal(sig)
                self.assertEqual(self.wrapper.wait(timeout=10), 0)
                self.assertFalse(alive(child["pid"]))
                kill_all(self.root.path)
                for name in os.listdir(os.path.join(self.root.path, "starts")):
                    os.unlink(os.path.join(self.root.path, "starts", name))
        self.assertEqual(self.stop_events(), 2)

    def test_non_zero_exit_restarts_and_zero_ends_the_wrapper(self):
        with open(os.path.join(self.root.path, "exit.none"), "w") as f:
            f.write("3 3 0")
        self.wrapper = subprocess.Popen([PROGRAM, self.main, "arg"], env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.assertEqual(self.wrapper.wait(timeout=20), 0)
        self.assertEqual([r["argv"][1:] for r in starts(self.root.path)], [["-child", self.main, "arg"]] * 3)
        self.assertEqual(self.stop_events(), 0)

    def test_a_child_that_cannot_be_restarted_ends_the_wrapper(self):
        import shutil
        import tempfile
        inst = tempfile.mkdtemp(prefix="vorlane-inst-")
        try:
            os.makedirs(os.path.join(inst, "bin"))
            program = os.path.join(inst, "bin", "vorlane-server")
            shutil.copy(PROGRAM, program)
            with open(os.path.join(self.root.path, "exit.none"), "w") as f:
                f.write("w5")
            self.wrapper = subprocess.Popen([program, self.main], env=self.env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            wait_for(lambda: starts(self.root.path), what="the child")
            os.unlink(program)
            open(os.path.join(self.root.path, "go"), "w").close()
            self.assertEqual(self.wrapper.wait(timeout=10), 0)
        finally:
            shutil.rmtree(inst, ignore_errors=True)
        errors = [e["strings"] for e in read_eventlog(self.root.path) if e["type"] == "error"]
        self.assertEqual(errors, [["error 2", 'Cannot restart child: "%s" -child %s' % (program, self.main)]])


    def test_a_killed_wrapper_takes_its_child_and_the_port_with_it(self):
        listener = os.path.join(self.root.path, "listener.py")
        with open(listener, "w") as f:
            f.write(LISTENER)
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]

        def listening():
            return sorted(int(n.split(".")[1]) for n in os.listdir(self.root.path) if n.startswith("listening."))

        first = subprocess.Popen([PROGRAM, listener, str(port)], env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            [server] = wait_for(listening, what="the server")
        finally:
            first.kill()
            first.wait(timeout=10)
        wait_for(lambda: not alive(server), timeout=10, what="the server to end with its supervisor")
        with socket.socket() as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", port))  # free again
        # The next supervisor's server listens at its first start.
        self.wrapper = subprocess.Popen([PROGRAM, listener, str(port)], env=self.env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: len(listening()) == 2, what="the next server")


if __name__ == "__main__":
    unittest.main()
