"""sorn.crypt: the MD5-based "$1$" password hash."""
import random
import subprocess
import unittest

import sorn

SALT_CHARS = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"


class Crypt(unittest.TestCase):
    def test_published_results(self):
        cases = [
            ("password", "saltsalt", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"),
            ("", "", "$1$$qRPK7m23GJusamGpoGLby/"),
            ("password", "$1$saltsalt", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"),
            ("password", "saltsaltXYZ", "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/"),
            ("password", "abc$def", "$1$abc$BXBqpb9BZcZhXLgbee.0s/"),
        ]
        for password, salt, result in cases:
            with self.subTest(password=password, salt=salt):
                got = sorn.crypt(password, salt)
                self.assertIs(type(got), str)
                self.assertEqual(got, result)
        # bytes arguments give the same str result
        self.assertEqual(sorn.crypt(b"password", b"saltsalt"), "$1$saltsalt$qjXMvbEw8oaL.CzflDtaK/")

    def test_bad_arguments(self):
        with self.assertRaises(TypeError):
            sorn.crypt("password")
        with self.assertRaises(TypeError):
            sorn.crypt("password", 5)
        with self.assertRaises(TypeError):
            sorn.crypt("p\u0100", "salt")
        with self.assertRaises(ValueError):
            sorn.crypt("pass\0word", "salt")

    def test_agrees_with_openssl_on_random_pairs(self):
        # openssl treats a "$" in a salt differently from the scheme, so the
        # salts here have none; passwords are Latin-1 without newlines.
        rng = random.Random(1321)
        pairs = []
        for _ in range(200):
            password = "".join(chr(rng.choice([c for c in range(32, 256) if c != 127]))
                               for _ in range(rng.randrange(0, 40)))
            salt = "".join(rng.choice(SALT_CHARS) for _ in range(rng.randrange(1, 12)))
            pairs.append((password, salt))
        for password, salt in pairs:
            with self.subTest(password=password, salt=salt):
                expected = subprocess.run(
                    ["openssl", "passwd", "-1", "-salt", salt, "-stdin"],
                    input=password.encode("latin-1") + b"\n", capture_output=True, check=True,
                ).stdout.decode("latin-1").strip()
                self.assertEqual(sorn.crypt(password, salt), expected)


if __name__ == "__main__":
    unittest.main()
