"""The sorn module: init, exceptions and constants."""
import sys
import termios
import unittest


class SornModule(unittest.TestCase):
    def test_exceptions_and_constants(self):
        import sorn
        self.assertTrue(issubclass(sorn.error, Exception))
        self.assertTrue(issubclass(sorn.limit, Exception))
        self.assertEqual(sorn.error.__name__, "error")
        self.assertEqual(sorn.error.__module__, "sorn")
        self.assertEqual(sorn.limit.__module__, "sorn")
        self.assertIsNot(sorn.error, sorn.limit)
        self.assertEqual(sorn.OSFLAVOR, "")
        self.assertEqual(sorn.FIONREAD, termios.FIONREAD)
        with self.assertRaises(sorn.error):
            raise sorn.error("Failed: idbm_write")

    def test_second_import_keeps_the_globals(self):
        import sorn
        first_error, first_limit = sorn.error, sorn.limit
        del sys.modules["sorn"]
        import sorn as again
        self.assertIs(again.error, first_error)
        self.assertIs(again.limit, first_limit)


if __name__ == "__main__":
    unittest.main()
