"""The sorn methods of the classification rules: classify_build_table,
classify_doc and classification_stats."""
import unittest

import sorn
import vorlane_testing


def classify(terms=(), fields=()):
    return sorn.classify_doc("http://x/", 0, list(fields), [(t, 0) for t in terms], "english", 0)


class BeforeAnyBuild(unittest.TestCase):
    # Runs in a fresh process: this module's other tests build tables.
    def test_no_table(self):
        r = vorlane_testing.run_child(
            "import sorn\n"
            "print(sorn.classification_stats())\n"
            "try:\n"
            "    sorn.classify_doc('u', 0, [], [], 'english', 0)\n"
            "except sorn.error as e:\n"
            "    print(e)\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.splitlines(),
                         ["(-1, 0, 0, 0, 0, 0, 0)", "classification hashtable not initialized"])


class Rules(unittest.TestCase):
    def test_positive_and_negative_terms(self):
        self.assertEqual(sorn.classify_build_table([(7, 1, ["a", "b"], ["c"])], 10), (1, 3, 3))
        self.assertEqual(classify(["a", "b"]), [7])
        self.assertEqual(classify(["a", "b", "c"]), [])
        self.assertEqual(classify(["a"]), [])
        self.assertEqual(classify(["a b"]), [7])  # a term's text is cut at blanks too
        self.assertEqual(classify([b"a", b"b"]), [7])

    def test_topics_once_and_negative_only_rules(self):
        sorn.classify_build_table([(7, 1, ["a"], []), (7, 2, ["b"], []), (8, 1, [], ["z"]),
                                   (9, 1, ["d"], [])], 10)
        self.assertEqual(classify(["a", "b"]), [7])
        self.assertEqual(classify(["b", "d", "a"]), [7, 9])
        self.assertEqual(classify([]), [])  # the negative-only rule never fires

    def test_forty_and_seventy_positive_terms(self):
        forty = ["t%d" % i for i in range(40)]
        seventy = ["s%d" % i for i in range(70)]
        r = vorlane_testing.run_child(
            "import sorn\n"
            "sorn.set_log_handler(0x40000002, lambda level, text: print(text))\n"
            "print(sorn.classify_build_table([(1, 1, %r, []), (2, 1, %r, [])], 200))\n"
            % (forty, seventy))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("crule_create: truncated 70 elems to 64", r.stdout)
        self.assertIn("(2, 110, 104)", r.stdout)
        sorn.classify_build_table([(1, 1, forty, []), (2, 1, seventy, [])], 200)
        self.assertEqual(classify(forty), [1])
        self.assertEqual(classify(forty[:-1]), [])
        self.assertEqual(classify(seventy[:64]), [2])
        self.assertEqual(classify(seventy[:63] + seventy[64:]), [])

    def test_rule_id_above_65535_is_skipped(self):
        r = vorlane_testing.run_child(
            "import sorn\n"
            "sorn.set_log_handler(0x40000000, lambda level, text: print(text))\n"
            "print(sorn.classify_build_table([(5, 70000, ['x'], []), (5, 65535, ['y'], []), (6, 2, ['x'], []),"
            " ('not', 'a', 'rule')], 10))\n"
            "print(sorn.classify_doc('u', 0, [], [('x', 0), ('y', 0)], 'e', 0))\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.splitlines()
        self.assertIn("py_classify_build_table: topic 5, rule_id too big (70000), skipped", lines)
        self.assertIn("py_classify_build_table: wrong size tuple for rule, i = 3", lines)
        self.assertEqual(lines[-2:], ["(2, 2, 2)", "[6, 5]"])  # in the order the rules were hit

    def test_rules_sharing_topic_and_rule_pool_their_masks(self):
        # Both are rule 1 of topic 7: "c" alone fills the shared mask (a
        # one-term rule's element has every bit set).
        sorn.classify_build_table([(7, 1, ["a", "b"], []), (7, 1, ["c"], [])], 10)
        self.assertEqual(classify(["c"]), [7])
        self.assertEqual(classify(["a"]), [])
        # And a negative term of one silences the other.
        sorn.classify_build_table([(7, 1, ["a"], []), (7, 1, ["d"], ["n"])], 10)
        self.assertEqual(classify(["a", "n"]), [])

    def test_topic_zero(self):
        # Topic 0 ends topic lists: its rules fire without being reported, and
        # the topics after it are kept.
        sorn.classify_build_table([(0, 1, ["a"], []), (4, 1, ["b"], [])], 10)
        self.assertEqual(classify(["a", "b"]), [4])
        self.assertEqual(classify(["a"]), [])

    def test_fields(self):
        sorn.classify_build_table([(3, 1, ["title:big", "title:red", "title:car"], []), (4, 1, ["red"], [])], 10)
        self.assertEqual(classify(fields=[("big red car", "title:", 0, 0, 0, 0, 0)]), [3])
        self.assertEqual(classify(fields=[("big red car", "body:", 0, 0, 0, 0, 0)]), [])
        self.assertEqual(classify(["red"], fields=[(b"big red car", b"title:", 0, 0, 0, 0, 0)]), [3, 4])

    def test_stats(self):
        self.assertEqual(sorn.classify_build_table([(1, 1, ["a", "b"], ["c"]), (2, 1, ["b"], [])], 10), (2, 4, 3))
        size, keys, inserts, lookups, probes, longest, total = sorn.classification_stats()
        self.assertEqual((size, keys, inserts, longest, total), (14, 3, 3, 2, 4))
        self.assertEqual(lookups, 5)  # one per term while building, and the replacement of "b"
        self.assertGreaterEqual(probes, lookups)
        classify(["a", "x"])
        self.assertEqual(sorn.classification_stats()[3], lookups + 2)

    def test_bad_arguments(self):
        sorn.classify_build_table([(1, 1, ["a"], [])], 10)
        with self.assertRaisesRegex(sorn.error, "error unpacking field"):
            sorn.classify_doc("u", 0, [("text", "name")], [], "e", 0)
        with self.assertRaisesRegex(sorn.error, "error unpacking term"):
            sorn.classify_doc("u", 0, [], ["a"], "e", 0)
        with self.assertRaisesRegex(TypeError, "classify_doc"):
            sorn.classify_doc("u", 0, (), [], "e", 0)
        with self.assertRaisesRegex(TypeError, "classify_build_table"):
            sorn.classify_build_table((), 10)
        with self.assertRaises(TypeError):
            sorn.classify_build_table([(1, 1, ["a", 3], [])], 10)
        with self.assertRaisesRegex(sorn.error, "unable to insert term"):
            sorn.classify_build_table([(1, 1, ["a", "b"], [])], 0)
        self.assertEqual(sorn.classification_stats()[0], -1)
        with self.assertRaisesRegex(sorn.error, "not initialized"):
            classify(["a"])

    def test_a_table_that_cannot_be_made(self):
        # With the address space bounded, a table of 133 million entries
        # cannot be had: the build fails and leaves no table, not the old one.
        r = vorlane_testing.run_child(
            "import resource, sorn\n"
            "vm = [int(l.split()[1]) * 1024 for l in open('/proc/self/status') if l.startswith('VmSize')][0]\n"
            "sorn.classify_build_table([(1, 1, ['a'], [])], 10)\n"
            "resource.setrlimit(resource.RLIMIT_AS, (vm + (512 << 20), resource.RLIM_INFINITY))\n"
            "try:\n"
            "    sorn.classify_build_table([(1, 1, ['a'], [])], 100000000)\n"
            "except sorn.error as e:\n"
            "    print(e)\n"
            "print(sorn.classification_stats()[0])\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.splitlines(), ["create hashtable failed", "-1"])

    def test_rebuild_while_classifying_with_a_log_handler(self):
        # Threads classify while another rebuilds and every build line goes
        # to a script handler, which takes the interpreter lock back inside the
        # engine: nothing may wait for the table while holding that lock.
        r = vorlane_testing.run_child(
            "import sorn, threading\n"
            "seen = []\n"
            "sorn.set_log_handler(0x40000006, lambda level, text: seen.append(text))\n"
            "rules = [(i % 5 + 1, i, ['w%d' % (i % 7), 'v'], ['n%d' % i]) for i in range(300)]\n"
            "sorn.classify_build_table(rules, 600)\n"
            "stop = False\n"
            "bad = []\n"
            "def work():\n"
            "    while not stop:\n"
            "        t = sorn.classify_doc('u', 0, [], [('w1 v w3', 0)], 'e', 0)\n"
            "        if not set(t) <= {1, 2, 3, 4, 5}: bad.append(t)\n"
            "        sorn.classification_stats()\n"
            "threads = [threading.Thread(target=work) for _ in range(4)]\n"
            "for t in threads: t.start()\n"
            "for i in range(30): sorn.classify_build_table(rules, 600)\n"
            "stop = True\n"
            "for t in threads: t.join()\n"
            "print(len(bad), sum('processing 300 rules' in s for s in seen))\n",
            timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.split(), ["0", "31"])


if __name__ == "__main__":
    unittest.main()
