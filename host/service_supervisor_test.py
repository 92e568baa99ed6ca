"""The service supervisor, started as the service "Vorlane Server" by the
service manager stand-in, in a temporary root."""
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

import osdnt_native
from supervisor_testing import (PROGRAM, SERVICE_TOOL, alive, kill_all, starts, wait_for,
                                write_main)
from vorlane_testing import TempRoot, read_eventlog

START_PENDING, STOP_PENDING, RUNNING, STOPPED = 2, 3, 4, 1


class ServiceCase(unittest.TestCase):
    def setUp(self):
        self.root = TempRoot().start()
        self.env = dict(os.environ, VORLANE_MAIN=write_main(self.root.path))
        self.env.pop("TEMP", None)
        self.env.pop("VORLANE_SERVICE", None)
        self.service_pid = None

    def tearDown(self):
        kill_all(self.root.path, [self.service_pid] if self.service_pid else [])
        self.root.stop()

    def tool(self, *args, check=True):
        r = subprocess.run([SERVICE_TOOL, *args], env=self.env, capture_output=True, text=True,
                           timeout=30)
        if check:
            self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def status(self):
        out = self.tool("status").stdout
        return {k: int(v) for k, v in (line.split("=") for line in out.split())}

    def history(self):
        path = os.path.join(self.root.path, "services", "Vorlane Server", "history")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [tuple(int(x) for x in line.split()) for line in f]

    def start_service(self):
        self.tool("install", PROGRAM)
        out = self.tool("start").stdout
        self.service_pid = int(out.strip().split("=")[1])
        # The history, not the current state: a service whose children all
        # end at once may be stopped again before a look at its state.
        wait_for(lambda: any(h[0] == RUNNING for h in self.history()), what="running")

    def stop_service(self):
        self.tool("stop")
        wait_for(lambda: self.status()["state"] == STOPPED, what="stopped")
        wait_for(lambda: not alive(self.service_pid), what="the service process to end")

    def events(self):
        return [(e["source"], e["type"], e["id"], e["strings"]) for e in read_eventlog(self.root.path)]

    def plan_exits(self, server, codes):
        with open(os.path.join(self.root.path, "exit." + server), "w") as f:
            f.write(" ".join(str(c) for c in codes))


class ServiceSupervision(ServiceCase):
    def test_a_killed_service_takes_its_servers_with_it(self):
        for n in (0, 3):
            osdnt_native.set_server_num(n)
            osdnt_native.record("/data/%d" % n, "host", 8000 + n, "1")
        osdnt_native.set_server_num(0)
        self.start_service()
        servers = wait_for(lambda: len(starts(self.root.path)) == 2 and starts(self.root.path),
                           what="both servers")
        os.kill(self.service_pid, signal.SIGKILL)
        for s in servers:
            wait_for(lambda: not alive(s["pid"]), timeout=10, what="server %s to end with the service" % s["server"])

    def test_servers_with_data_directories_restarts_and_stop(self):
        for n in (0, 3):
            osdnt_native.set_server_num(n)
            osdnt_native.record("/data/%d" % n, "host", 8000 + n, "1")
        osdnt_native.set_server_num(0)
        self.plan_exits("0", [0])   # ends with 0: forgotten
        self.plan_exits("3", [5])   # ends with 5: restarted with the same number
        self.start_service()

        # The status history of the start: check points 1, 2, 3, then running.
        self.assertEqual(self.history()[:4], [(START_PENDING, 1, 3000, 0, 0), (START_PENDING, 2, 3000, 0, 0),
                                              (START_PENDING, 3, 3000, 0, 0), (RUNNING, 0, 3000, 0, 1)])
        wait_for(lambda: len(starts(self.root.path)) == 3, what="three starts")
        records = starts(self.root.path)
        self.assertEqual(sorted(r["argv"][1:] for r in records),
                         [["-child", "-serverNum", "0"], ["-child", "-serverNum", "3"],
                          ["-child", "-serverNum", "3"]])
        build = os.path.dirname(os.path.dirname(PROGRAM))
        for r in records:
            self.assertEqual(r["argv"][0], PROGRAM)
            self.assertEqual(r["pythonpath"], build + "/lib/python1.5")
            self.assertEqual(r["temp"], "/tmp")
            self.assertEqual(r["cwd"], os.path.dirname(PROGRAM))
            self.assertIsNone(r["service"])
        last = [r for r in records if r["server"] == "3"][-1]
        self.assertTrue(alive(last["pid"]))
        import time
        time.sleep(0.3)
        self.assertEqual(len(starts(self.root.path)), 3)  # server 0 stays ended

        self.stop_service()
        self.assertFalse(alive(last["pid"]))
        self.assertEqual(len(starts(self.root.path)), 3)  # server 0 was never restarted
        self.assertEqual(self.history()[4:], [(STOP_PENDING, 4, 3000, 0, 1), (STOPPED, 0, 0, 0, 1)])
        self.assertEqual(self.status()["exit_code"], 0)
        self.assertEqual(self.events(), [("Vorlane Server", "warning", 2, ["Start Service"]),
                                         ("Vorlane Server", "warning", 2, ["Stop Service"])])

    def test_without_data_directories_one_child_restarted_as_server_0(self):
        self.plan_exits("none", [7])
        self.plan_exits("0", [0])
        self.start_service()
        wait_for(lambda: len(starts(self.root.path)) == 2, what="two starts")
        # The child restarted with server 0 ends with 0: no child is left, and
        # the service stops by itself.
        wait_for(lambda: self.status()["state"] == STOPPED, what="stopped")
        self.assertEqual([r["argv"][1:] for r in starts(self.root.path)],
                         [["-child"], ["-child", "-serverNum", "0"]])
        self.assertEqual(self.history()[-1], (STOPPED, 0, 0, 0, 1))
        self.assertEqual(self.events(), [("Vorlane Server", "warning", 2, ["Start Service"])])

    def test_a_child_that_cannot_be_restarted_is_dropped(self):
        # The service's program disappears while its only child runs: the
        # restart fails, the slot goes, and the service stops with the error.
        inst = tempfile.mkdtemp(prefix="vorlane-inst-")
        try:
            os.makedirs(os.path.join(inst, "bin"))
            program = os.path.join(inst, "bin", "vorlane-server")
            shutil.copy(PROGRAM, program)
            self.plan_exits("none", ["w5"])
            self.tool("install", program)
            self.service_pid = int(self.tool("start").stdout.strip().split("=")[1])
            wait_for(lambda: starts(self.root.path), what="the child")
            os.unlink(program)
            open(os.path.join(self.root.path, "go"), "w").close()
            wait_for(lambda: self.status()["state"] == STOPPED, what="stopped")
        finally:
            shutil.rmtree(inst, ignore_errors=True)
        self.assertEqual(len(starts(self.root.path)), 1)
        self.assertEqual(self.history()[-1], (STOPPED, 0, 0, 2, 1))  # ENOENT
        self.assertEqual(self.events(), [
            ("Vorlane Server", "warning", 2, ["Start Service"]),
            ("Vorlane Server", "error", 1, ["error 2", "Cannot start child: \"%s\" -child -serverNum 0" % program])])

    def install_wrapper(self, before_exec):
        """Installs as the service's program a script that runs before_exec
        and then the server; started with "-child" it only sleeps."""
        wrapper = os.path.join(self.root.path, "wrapper")
        with open(wrapper, "w") as f:
            f.write('#!/bin/sh\nif [ "$1" = "-child" ]; then exec sleep 30; fi\n%s\nexec "%s"\n'
                    % (before_exec, PROGRAM))
        os.chmod(wrapper, 0o755)
        self.tool("install", wrapper)
        return wrapper

    def test_an_empty_program_path_ends_with_an_error_event(self):
        # The configuration is emptied after the start, before the service
        # reads its program path.
        self.install_wrapper("printf '\\n' > \"$VORLANE_ROOT/services/Vorlane Server/config\"")
        self.service_pid = int(self.tool("start").stdout.strip().split("=")[1])
        wait_for(lambda: not alive(self.service_pid), what="the service process to end")
        self.assertEqual(self.history(), [(START_PENDING, 1, 3000, 0, 0), (START_PENDING, 2, 3000, 0, 0),
                                          (START_PENDING, 3, 3000, 0, 0), (STOPPED, 0, 0, 2, 1)])
        self.assertEqual(self.events(), [
            ("Vorlane Server", "warning", 2, ["Start Service"]),
            ("Vorlane Server", "error", 1,
             ["error 2", "Cannot start children: the service's program path is unknown."])])
        self.assertEqual(starts(self.root.path), [])

    def test_a_failed_running_report_ends_the_children(self):
        for n in range(10):
            osdnt_native.set_server_num(n)
            osdnt_native.record("/data/%d" % n, "host", 8000 + n, "1")
        osdnt_native.set_server_num(0)
        # First the descriptors the service keeps open besides its ten
        # children's.
        self.install_wrapper("")
        self.service_pid = int(self.tool("start").stdout.strip().split("=")[1])
        wait_for(lambda: any(h[0] == RUNNING for h in self.history()), what="running")
        kept = len(os.listdir("/proc/%d/fd" % self.service_pid)) - 10
        self.stop_service()
        kill_all(self.root.path)
        os.unlink(os.path.join(self.root.path, "services", "Vorlane Server", "history"))
        # Then a limit that leaves room for the starting reports but is used
        # up by the children's descriptors: the running report fails.
        self.install_wrapper("ulimit -n %d" % (kept + 4))
        self.service_pid = int(self.tool("start").stdout.strip().split("=")[1])
        wait_for(lambda: not alive(self.service_pid), what="the service process to end")
        history = self.history()
        self.assertEqual(history[:3], [(START_PENDING, 1, 3000, 0, 0), (START_PENDING, 2, 3000, 0, 0),
                                       (START_PENDING, 3, 3000, 0, 0)])
        # The failed report's error (its event is lost with the descriptors)
        # is the stopped report's exit code.
        self.assertEqual(history[-1], (STOPPED, 0, 0, 5, 1))
        self.assertNotIn(RUNNING, [h[0] for h in history])
        # No child is left running unsupervised.
        mark = ("VORLANE_ROOT=" + self.root.path).encode()
        left = []
        for name in os.listdir("/proc"):
            if name.isdigit() and int(name) != os.getpid():
                try:
                    with open("/proc/%s/environ" % name, "rb") as f:
                        if mark in f.read().split(b"\0") and alive(int(name)):
                            left.append(int(name))
                except OSError:
                    pass
        self.assertEqual(left, [])

    def test_starting_twice_is_refused(self):
        self.start_service()
        r = self.tool("start", check=False)
        self.assertEqual(r.returncode, 1)
        self.assertIn("error 1056", r.stderr)
        self.stop_service()


class ServiceFailures(ServiceCase):
    def run_server(self, service_name):
        env = dict(self.env, VORLANE_SERVICE=service_name)
        return subprocess.run([PROGRAM], env=env, capture_output=True, text=True, timeout=30)

    def test_not_started_by_the_service_manager(self):
        r = self.run_server("Some Other Service")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(self.events(), [("Vorlane Server", "error", 1,
                                          ["error 1063", "StartServiceCtrlDispatcher failed."])])

    def test_service_without_configuration(self):
        self.tool("install", PROGRAM)
        os.unlink(os.path.join(self.root.path, "services", "Vorlane Server", "config"))
        r = self.run_server("Vorlane Server")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr,
                         "Cannot start child, not registry information for service 'Vorlane Server'\n")
        self.assertEqual(starts(self.root.path), [])


class MainScript(unittest.TestCase):
    def test_child_without_script_runs_lib_server_py_of_the_installation(self):
        inst = tempfile.mkdtemp(prefix="vorlane-inst-")
        root = TempRoot().start()
        try:
            os.makedirs(os.path.join(inst, "bin"))
            os.makedirs(os.path.join(inst, "lib"))
            shutil.copy(PROGRAM, os.path.join(inst, "bin"))
            # The server records itself under the server number it was given.
            with open(os.path.join(inst, "lib", "server.py"), "w") as f:
                f.write("import sys, osdnt_native\nosdnt_native.record('/d', 'h', 1, 'v')\n"
                        "print('server main', sys.argv[0])\n")
            env = dict(os.environ)
            env.pop("VORLANE_MAIN", None)
            r = subprocess.run([os.path.join(inst, "bin", "vorlane-server"), "-child", "-serverNum", "2"],
                               env=env, capture_output=True, text=True, timeout=30)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, "server main %s/lib/server.py\n" % inst)
            key = "HKEY_LOCAL_MACHINE/SOFTWARE/Kestrova/VorlaneServer/"
            self.assertEqual(osdnt_native.get_registry(key + "2/hostname"), "h")
            self.assertIsNone(osdnt_native.get_registry(key + "0/hostname"))
        finally:
            root.stop()
            shutil.rmtree(inst, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
