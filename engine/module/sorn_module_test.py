"""The sorn module: init, exceptions, constants and its method table."""
import os
import re
import sys
import termios
import types
import unittest

def method_table():
    """The names of the method table, in its order, and its declared size."""
    engine = os.path.join(os.environ["VORLANE_SOURCE"], "engine", "module")
    with open(os.path.join(engine, "sorn_method_table.cc")) as f:
        names = re.findall(r'^\s*\{"(\w+)", sorn_\1, METH_\w+\},', f.read(), re.M)
    with open(os.path.join(engine, "sorn_method_table.h")) as f:
        count = int(re.search(r"kSornMethodCount = (\d+);", f.read()).group(1))
    return names, count


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

    def test_method_table_against_the_attributes(self):
        import sorn
        names, count = method_table()
        self.assertEqual(len(names), count)
        functions = [name for name, value in vars(sorn).items() if isinstance(value, types.BuiltinFunctionType)]
        absent = [name for name in names if name not in functions]
        self.assertEqual(absent, [], "methods of the table missing from the module")
        # Nothing else, and in the table's order.
        self.assertEqual(functions, names)


if __name__ == "__main__":
    unittest.main()
