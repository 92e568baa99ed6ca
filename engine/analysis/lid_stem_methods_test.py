"""sorn's language identification, get_stem and get_disk_free."""
import os
import shutil
import tempfile
import unittest

import sorn
import vorlane_testing

LID = os.path.join(vorlane_testing.BUILD, "resources", "lid")
ENGLISH = os.path.join(vorlane_testing.BUILD, "resources", "english", "english")

# Sentences of everyday text in each language (Latin-1).
SENTENCES = [
    ("english", "My grandmother always said that a warm cup of tea solves most of the problems of the day."),
    ("german", "Gestern Abend haben wir mit unseren Nachbarn gegessen und bis spät in die Nacht geredet."),
    ("french", "Il faut absolument que tu viennes nous voir cet été, la maison est assez grande pour tout le monde."),
    ("spanish", "Mañana por la mañana tenemos que ir al mercado para comprar fruta fresca y pan para la semana."),
    ("italian", "Ieri sera siamo andati a cena in un piccolo ristorante vicino alla stazione e abbiamo mangiato benissimo."),
    ("dutch", "Morgen gaan we met de fiets naar het strand, als het tenminste niet de hele dag regent."),
    ("portuguese", "Não sei se vou conseguir chegar a tempo, porque o trânsito na cidade está muito complicado hoje."),
    ("swedish", "Vi brukar åka till landet på sommaren och bada i sjön varje morgon innan frukosten."),
    ("finnish", "Huomenna meidän täytyy herätä aikaisin, koska juna lähtee asemalta jo kuudelta aamulla."),
    ("danish", "Hun fortalte mig, at hun havde været syg i næsten to uger, men nu har hun det meget bedre."),
    ("bokmal", "Vi pleier å gå på ski hver søndag om vinteren, og etterpå drikker vi kakao ved peisen."),
]
JAPANESE = [
    ("shift_jis", "昨日は友達と一緒に映画を見に行きました。とても面白かったです。"),
    ("euc_jp", "この町には古いお寺がたくさんあって、毎年多くの観光客が訪れます。"),
    ("iso2022_jp", "来週の会議の資料を準備しなければなりません。"),
]


class LanguageIdentification(unittest.TestCase):
    def tearDown(self):
        sorn.free_lid()

    def test_before_init_and_after_free(self):
        self.assertEqual(sorn.determine_top_lang("some text that is long enough"), [])
        self.assertEqual(sorn.get_language_name(14), "german")
        self.assertEqual(sorn.get_language_name(20), "unknown")
        with self.assertRaises(sorn.error) as cm:
            sorn.init_lid("/nonexistent/vorlane.ini", "/nonexistent/vorlane.lng")
        self.assertEqual(str(cm.exception), "language id lib initialization failed")
        self.assertIsNone(sorn.free_lid())

    @unittest.skipUnless(os.path.exists(os.path.join(LID, "vorlane.lng")), "no language models built")
    def test_real_sentences(self):
        self.assertIsNone(sorn.init_lid(os.path.join(LID, "vorlane.ini"), os.path.join(LID, "vorlane.lng")))
        self.assertIsNone(sorn.init_lid("/ignored", "/ignored"))  # loaded already
        texts = [(lang, text.encode("latin-1")) for lang, text in SENTENCES]
        texts += [("japanese", text.encode(codec)) for codec, text in JAPANESE]
        for lang, text in texts:
            with self.subTest(lang=lang, text=text[:20]):
                rows = sorn.determine_top_lang(text)
                self.assertTrue(0 < len(rows) <= 20)
                self.assertEqual(rows[0][0], lang, rows[:3])
                self.assertTrue(all(isinstance(n, str) and isinstance(s, int) for n, s in rows))
                self.assertEqual([s for _, s in rows], sorted((s for _, s in rows), reverse=True))
        # str arguments are taken as Latin-1.
        self.assertEqual(sorn.determine_top_lang(SENTENCES[1][1])[0][0], "german")
        self.assertEqual(sorn.determine_top_lang("ab"), [])
        sorn.free_lid()
        self.assertEqual(sorn.determine_top_lang(texts[0][1]), [])


class Stems(unittest.TestCase):
    def test_unknown_language_and_method(self):
        self.assertEqual(sorn.get_stem("running", "no-such", "nor-this"), "running")
        self.assertEqual(sorn.get_stem(b"caf\xe9s", "no-such", "nor-this"), b"caf\xe9s")
        self.assertEqual(sorn.get_stem("x" * 5000, "no-such", "nor-this"), "x" * 1023)
        with self.assertRaises(sorn.error) as cm:
            sorn.get_stem("running", "english", "english", "zop_longest_stem")
        self.assertEqual(str(cm.exception), "Unknown stem method: zop_longest_stem")
        with self.assertRaises(TypeError):
            sorn.get_stem("running", "english")

    @unittest.skipUnless(os.path.exists(ENGLISH + ".hmm"), "no default English resource set")
    def test_every_method_on_the_english_set(self):
        out = vorlane_testing.run_child(
            "import sorn\n"
            "sorn.lang_init('english', %r)\n"
            "sorn.lang_init('german', %r)\n"  # the German rule on the English set
            "words = %r\n"
            "for w in words:\n"
            "    print(w, *[sorn.get_stem(w, 'english', 'english', m) for m in\n"
            "               ('default', 'zop_shortest_stem', 'zop_all_stems', 'StemTokens')])\n"
            "print(sorn.get_stem('walked', 'french', 'english'))\n"      # the fallback
            "print(sorn.get_stem('Houses', 'german', 'english', 'zop_shortest_stem'))\n"
            "print(sorn.get_stem('Houses', 'english', 'english', 'zop_shortest_stem'))\n"
            "print(sorn.get_stem('houses', 'german', 'english', 'zop_shortest_stem'))\n"
            % (ENGLISH, ENGLISH, [w for w, *_ in ENGLISH_STEMS]))
        self.assertEqual(out.returncode, 0, out.stderr)
        lines = out.stdout.splitlines()
        self.assertEqual(lines[:len(ENGLISH_STEMS)], [" ".join(row) for row in ENGLISH_STEMS])
        self.assertEqual(lines[len(ENGLISH_STEMS):], ["walk", "House", "Houses", "house"])


# word, then its stem by 'default' (all stems: the first), 'zop_shortest_stem',
# 'zop_all_stems' (the first) and 'StemTokens' (the shortest of the first word).
ENGLISH_STEMS = [
    ("running", "run", "run", "run", "run"),
    ("houses", "house", "house", "house", "house"),
    ("children", "child", "child", "child", "child"),
    ("went", "go", "go", "go", "go"),
    ("better", "better", "good", "better", "good"),
    ("studies", "study", "study", "study", "study"),
    ("mice", "mouse", "mouse", "mouse", "mouse"),
    ("walked", "walk", "walk", "walk", "walk"),
    # Short words keep their own form unless they are inflections; plurals
    # of abbreviations relate to them.
    ("os", "os", "os", "os", "os"),
    ("us", "us", "us", "us", "us"),
    ("sys", "sys", "sys", "sys", "sys"),
    ("its", "its", "its", "its", "its"),
    ("io", "io", "io", "io", "io"),
    ("bed", "bed", "bed", "bed", "bed"),
    ("was", "be", "be", "be", "be"),
    ("men", "man", "man", "man", "man"),
    ("apis", "apis", "api", "apis", "api"),
    ("urls", "url", "url", "url", "url"),
    ("uuids", "uuid", "uuid", "uuid", "uuid"),
]


class DiskFree(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="vorlane-disk-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_against_statvfs(self):
        before = os.statvfs(self.tmp)
        drive, free = sorn.get_disk_free(self.tmp)
        after = os.statvfs(self.tmp)
        self.assertEqual(drive, -1)
        self.assertIsInstance(free, float)
        low = min(before.f_bavail, after.f_bavail) * before.f_frsize
        high = max(before.f_bavail, after.f_bavail) * before.f_frsize
        # Others may write meanwhile: a margin of 256 MiB either way.
        self.assertTrue(low - (256 << 20) <= free <= high + (256 << 20), (low, free, high))

    def test_drive_letter_and_errors(self):
        os.mkdir(os.path.join(self.tmp, "C:"))
        cwd = os.getcwd()
        os.chdir(self.tmp)
        try:
            self.assertEqual(sorn.get_disk_free("C:")[0], 67)
            self.assertEqual(sorn.get_disk_free(b"C:/")[0], 67)
        finally:
            os.chdir(cwd)
        path = os.path.join(self.tmp, "file")
        open(path, "w").close()
        with self.assertRaises(sorn.error) as cm:
            sorn.get_disk_free(path)
        self.assertEqual(str(cm.exception), '"%s" is not a directory' % path)
        with self.assertRaises(sorn.error) as cm:
            sorn.get_disk_free(os.path.join(self.tmp, "missing"))
        self.assertEqual(str(cm.exception), "No such file or directory")


if __name__ == "__main__":
    unittest.main()
