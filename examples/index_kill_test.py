"""An indexer killed at any step of replacing a changed page, then run
again, leaves exactly one version of every page: never the old and the new
together, never none. Each step that changes the data directory (opening,
saving, merging and closing databases, storing and deleting documents,
renaming, creating and removing directories) is replaced, in turn, by a
SIGKILL of the real indexer process."""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import vorlane_testing

EXAMPLES = os.path.join(vorlane_testing.SOURCE, "examples")
SERVER = vorlane_testing.SERVER

# Runs examples/index.py with its STEP-th step replaced by a SIGKILL of the
# process (STEP 0: none), then, when it was not killed, searches the data
# directory and prints what it found as JSON.
RUN = r"""
import json, os, shutil, signal, sys
sys.path.insert(0, %(examples)r)
import sorn
import index
import vorlane_app as app

step = int(sys.argv[1])
steps = [0]


def killing(name, call):
    def step_of(*args, **kwargs):
        steps[0] += 1
        if steps[0] == step:
            print(json.dumps({"killed": name}), flush=True)
            os.kill(os.getpid(), signal.SIGKILL)
        return call(*args, **kwargs)
    return step_of


for name in ("open_db", "save_db", "quit_db", "delete", "merge_db"):
    setattr(sorn, name, killing(name, getattr(sorn, name)))
for module, name in ((os, "rename"), (os, "mkdir"), (os, "fsync"), (shutil, "rmtree")):
    setattr(module, name, killing(name, getattr(module, name)))
new_idoc = sorn.idoc


class Document:
    def __init__(self):
        self.doc = new_idoc()
        self.update = self.doc.update
        self.insert = killing("insert", self.doc.insert)


sorn.idoc = Document
index.main(["--data", sys.argv[2], "--capacity", "1", sys.argv[3]])
dbs = app.open_for_search(app.searchable(sys.argv[2]))
print(json.dumps({q: [h.url for h in app.search(q, dbs, 1, 100).hits]
                  for q in ("everypage", "oldversion", "newversion")}))
"""


def page(name, words):
    return "<html><head><title>Page %s</title></head><body><p>everypage %s</p></body></html>" % (name, words)


class Killed(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-kill-")
        self.docs = os.path.join(self.tmp, "docs")
        os.mkdir(self.docs)
        self.script = os.path.join(self.tmp, "run.py")
        with open(self.script, "w") as f:
            f.write(RUN % {"examples": EXAMPLES})

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def write(self, name, text):
        with open(os.path.join(self.docs, name), "w") as f:
            f.write(text)

    def run_indexer(self, step, data):
        r = subprocess.run([SERVER, "-child", self.script, str(step), data, self.docs],
                           capture_output=True, text=True, timeout=120)
        last = (r.stdout.strip().splitlines() or ["{}"])[-1]
        if r.returncode not in (0, -9):
            raise AssertionError("the indexer failed (%d): %s%s" % (r.returncode, r.stdout, r.stderr))
        return r.returncode, json.loads(last)

    def run_without(self, name, data):
        """Runs the indexer over the folder with the file name taken out of it
        for the run."""
        path = os.path.join(self.docs, name)
        os.rename(path, path + ".away")
        try:
            return self.run_indexer(0, data)
        finally:
            os.rename(path + ".away", path)

    def test_killed_at_every_step_of_replacing_a_page_then_run_again(self):
        for name in "abc":
            self.write("%s.html" % name, page(name, "oldversion" if name == "b" else "steady"))
        start = os.path.join(self.tmp, "start")
        self.run_indexer(0, start)
        # b changes and d is new: the run stores two pages, deletes one and
        # merges (with capacity 1, each new page in a database of its own).
        self.write("b.html", page("b", "newversion"))
        self.write("d.html", page("d", "steady"))
        url = "file://" + self.docs + "/%s.html"
        everything = sorted(url % n for n in "abcd")
        killed_at = []
        step = 1
        while True:
            data = os.path.join(self.tmp, "data.%d" % step)
            shutil.copytree(start, data)
            code, out = self.run_indexer(step, data)
            if code == 0:
                break  # past the last step
            self.assertIn("killed", out)
            killed_at.append(out["killed"])
            gone = data + ".gone"
            shutil.copytree(data, gone)
            code, found = self.run_indexer(0, data)
            with self.subTest(step=step, killed_at=out["killed"]):
                self.assertEqual(code, 0)
                self.assertEqual(sorted(found["everypage"]), everything)
                self.assertEqual(found["oldversion"], [])
                self.assertEqual(found["newversion"], [url % "b"])
            # b removed before the next run: it stays, in one version.
            code, found = self.run_without("b.html", gone)
            with self.subTest(step=step, killed_at=out["killed"], removed="b.html"):
                self.assertEqual(code, 0)
                self.assertEqual(sorted(found["everypage"]), everything)
                self.assertEqual(found["oldversion"] + found["newversion"], [url % "b"])
            shutil.rmtree(data)
            shutil.rmtree(gone)
            step += 1
        # The run went through every kind of step.
        self.assertLessEqual({"insert", "delete", "save_db", "merge_db", "rename", "rmtree"}, set(killed_at))

    def kill_after(self, kind, data):
        """Runs the indexer over data killed at the step after its first step
        of this kind (found on copies: the steps of a run are the same each
        time)."""
        step = 0
        while True:
            step += 1
            trial = "%s.trial.%d" % (data, step)
            shutil.copytree(data, trial)
            code, out = self.run_indexer(step, trial)
            shutil.rmtree(trial)
            self.assertEqual(code, -9, "the run had no %s step" % kind)
            if out["killed"] == kind:
                break
        code, out = self.run_indexer(step + 1, data)
        self.assertEqual(code, -9)

    def test_a_page_gone_after_a_kill_keeps_the_version_a_run_kept(self):
        # A run is killed after storing b's new version. b is changed back:
        # the next run keeps the old version, deletes the new one and is
        # killed before its merge. Then b goes: the new version, the later
        # one, is deleted, so the old one stays.
        for name in "abc":
            self.write("%s.html" % name, page(name, "oldversion" if name == "b" else "steady"))
        data = os.path.join(self.tmp, "data")
        self.run_indexer(0, data)
        self.write("b.html", page("b", "newversion"))
        self.kill_after("insert", data)
        self.write("b.html", page("b", "oldversion"))
        self.kill_after("delete", data)
        code, found = self.run_without("b.html", data)
        url = "file://" + self.docs + "/%s.html"
        self.assertEqual(code, 0)
        self.assertEqual(sorted(found["everypage"]), sorted(url % n for n in "abc"))
        self.assertEqual(found["oldversion"], [url % "b"])
        self.assertEqual(found["newversion"], [])

if __name__ == "__main__":
    unittest.main()
