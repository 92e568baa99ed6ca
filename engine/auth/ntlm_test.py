"""sorn.ntlm: NTLM client authentication through the security package.

The handshake runs against a real acceptor: Debian's gss-ntlmssp through
python3-gssapi, which checks the client's answer against a user file."""
import base64
import os
import shutil
import socket
import tempfile
import unittest

import sorn

try:
    import gssapi
    NTLMSSP = gssapi.OID.from_int_seq("1.3.6.1.4.1.311.2.2.10")
except ImportError:  # pragma: no cover - the test dependencies install it
    gssapi = None


def computer_name():
    return socket.gethostname().split(".")[0].upper()[:15]


def initiator(acceptor):
    """The authenticated name (the acceptor's text ends with a NUL)."""
    return str(acceptor.initiator_name).rstrip("\0")


class Ntlm(unittest.TestCase):
    def test_object_and_result_types(self):
        o = sorn.ntlm("DOMAIN\\user", "Secret1")
        self.assertEqual(type(o).__name__, "ntlm")
        self.assertEqual(o.moresteps(), 1)
        self.assertIsNone(o.authstep("Negotiate", ""))
        self.assertIsNone(o.authstep("ntlm", ""))
        token = o.authstep("NTLM", "")
        self.assertIs(type(token), str)
        self.assertEqual(base64.b64decode(token)[:12], b"NTLMSSP\0\1\0\0\0")
        self.assertEqual(o.moresteps(), 1)
        # A later step without data from the server fails.
        self.assertIsNone(o.authstep("NTLM", ""))
        # Texts may be bytes.
        self.assertIsInstance(sorn.ntlm(b"u", b"p").authstep(b"NTLM", b""), str)
        with self.assertRaises(TypeError):
            sorn.ntlm("user")
        with self.assertRaises(TypeError):
            o.authstep("NTLM")
        with self.assertRaises(ValueError):
            sorn.ntlm("us\0er", "p")


@unittest.skipIf(gssapi is None, "python3-gssapi is not installed")
class Handshake(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vorlane-ntlm-")
        users = os.path.join(self.dir, "users")
        with open(users, "w") as f:
            f.write("DOMAIN:user:Secret1\n")
            f.write("%s:local:Pa55word\n" % computer_name())
        self.old_users = os.environ.get("NTLM_USER_FILE")
        os.environ["NTLM_USER_FILE"] = users

    def tearDown(self):
        if self.old_users is None:
            os.environ.pop("NTLM_USER_FILE", None)
        else:
            os.environ["NTLM_USER_FILE"] = self.old_users
        shutil.rmtree(self.dir, ignore_errors=True)

    def handshake(self, user, password):
        """Runs the exchange; the acceptor's context, or the GSS error."""
        acceptor = gssapi.SecurityContext(creds=gssapi.Credentials(usage="accept", mechs=[NTLMSSP]),
                                          usage="accept")
        client = sorn.ntlm(user, password)
        negotiate = client.authstep("NTLM", "")
        self.assertEqual(client.moresteps(), 1)
        challenge = acceptor.step(base64.b64decode(negotiate))
        authenticate = client.authstep("NTLM", base64.b64encode(challenge).decode("ascii"))
        self.assertIsInstance(authenticate, str)
        self.assertEqual(client.moresteps(), 0)
        try:
            acceptor.step(base64.b64decode(authenticate))
        except gssapi.exceptions.GSSError as e:
            return e
        return acceptor

    def test_right_password_completes(self):
        for user in ("DOMAIN\\user", "DOMAIN/user"):
            with self.subTest(user=user):
                acceptor = self.handshake(user, "Secret1")
                self.assertIsInstance(acceptor, gssapi.SecurityContext)
                self.assertTrue(acceptor.complete)
                self.assertEqual(initiator(acceptor), "DOMAIN\\user")

    def test_name_alone_uses_the_computer_name_as_domain(self):
        acceptor = self.handshake("local", "Pa55word")
        self.assertIsInstance(acceptor, gssapi.SecurityContext)
        self.assertEqual(initiator(acceptor), "%s\\local" % computer_name())

    def test_wrong_password_is_refused(self):
        for user, password in (("DOMAIN\\user", "Secret2"), ("DOMAIN\\user", ""), ("OTHER\\user", "Secret1")):
            with self.subTest(user=user, password=password):
                self.assertIsInstance(self.handshake(user, password), gssapi.exceptions.GSSError)


if __name__ == "__main__":
    unittest.main()
