#!/usr/bin/env python3
"""Signed and encrypted mail as scripts and printouts see it: corvanta-eml
verify's exit status and line, info's and json's report, and the print
header's line, on messages signed and encrypted with throwaway keys that the
set-up makes in a GnuPG home of its own."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = VIEWER = MAKER = WRAPPER = None
DIR = None


def tool(*args):
    return subprocess.run([TOOL, *args], capture_output=True, timeout=120)


def mail(name):
    return os.path.join(DIR, "mail", name)


class SecureMail(unittest.TestCase):
    def test_verify_exit_status_and_line(self):
        expected = {
            "pgp-good.eml": (0, "good signature: the message is unchanged"),
            "pgp-lf.eml": (0, "good signature"),
            "pgp-untrusted.eml": (0, "is not certified"),
            "smime-good.eml": (0, "Signed by Bob Smime <bob@example.org>"),
            "pgp-changed.eml": (1, "BAD signature"),
            "pgp-expired.eml": (1, "has expired"),
            "pgp-revoked.eml": (1, "was revoked"),
            "pgp-unknown-key.eml": (2, "is not here"),
            "pgp-wrong-recipient.eml": (2, "to keys that are not here"),
            "bad-huge-signature.eml": (2, "not checked"),
            "missing.eml": (2, "could not be read"),
        }
        with open(os.path.join(DIR, "plain.eml"), "wb") as f:
            f.write(b"From: a@x\r\nSubject: plain\r\n\r\nnot signed\r\n")
        expected[os.path.join(DIR, "plain.eml")] = (2, "not signed")
        for name, (status, words) in expected.items():
            p = tool("verify", mail(name))
            out = p.stdout.decode()
            self.assertEqual(p.returncode, status, (name, out, p.stderr))
            self.assertIn(words, out, name)
            self.assertEqual(out.count("\n"), 1, name)

    def test_info_and_json_report_signature_and_encryption(self):
        info = tool("info", mail("pgp-encrypted.eml")).stdout.decode()
        self.assertIn("Subject: The real subject\n", info)
        self.assertIn("Encryption: Encrypted (OpenPGP): decrypted with your key", info)
        self.assertIn("Signature: Signed by Alice Example <alice@example.org>", info)
        self.assertIn("application/pgp-signature", info)
        doc = json.loads(tool("json", mail("pgp-wrong-recipient.eml")).stdout)
        self.assertEqual(doc["security"]["encryption"]["state"], "no-key")
        self.assertEqual(len(doc["security"]["encryption"]["recipients"][0]), 16)
        self.assertIsNone(doc["text"])
        doc = json.loads(tool("json", mail("pgp-good.eml")).stdout)
        sig = doc["security"]["signatures"][0]
        self.assertEqual((sig["verdict"], sig["signer_address"], len(sig["fingerprint"])),
                         ("good", "alice@example.org", 40))
        plain = os.path.join(DIR, "plain-json.eml")
        with open(plain, "wb") as f:
            f.write(b"From: a@x\r\nSubject: plain\r\n\r\nnot signed\r\n")
        self.assertEqual(json.loads(tool("json", plain).stdout)["security"], {"signatures": [], "encryption": None})

    def test_gpgsm_runs_without_its_network_helper(self):
        # A stand-in gpgsm that prints the arguments it was given.
        fake = os.path.join(DIR, "fake-bin")
        os.makedirs(fake, exist_ok=True)
        with open(os.path.join(fake, "gpgsm"), "w") as f:
            f.write("#!/bin/sh\necho \"$@\"\n")
        os.chmod(os.path.join(fake, "gpgsm"), 0o755)
        p = subprocess.run([WRAPPER, "--server"], capture_output=True, env=dict(os.environ, PATH=fake))
        self.assertEqual(p.stdout.decode(), "--disable-dirmngr --server\n")

    def test_print_header_says_who_signed_and_the_verdict(self):
        if not shutil.which("pdftotext"):
            self.fail("pdftotext (poppler-utils) is needed")
        for name, words in (("pgp-good.eml", "good signature"), ("pgp-changed.eml", "BAD signature")):
            out = os.path.join(DIR, name + ".pdf")
            p = subprocess.run([VIEWER, "--print-to", out, mail(name)], capture_output=True, timeout=180,
                               env=dict(os.environ, QT_QPA_PLATFORM="offscreen", QTWEBENGINE_DISABLE_SANDBOX="1"))
            self.assertEqual(p.returncode, 0, p.stderr)
            text = subprocess.run(["pdftotext", out, "-"], capture_output=True).stdout.decode()
            flat = " ".join(text.split())
            self.assertIn("Signed by Alice Example <alice@example.org>", flat)
            self.assertIn(words, flat)


if __name__ == "__main__":
    TOOL, VIEWER, MAKER, WRAPPER = sys.argv[1:5]
    del sys.argv[1:5]
    DIR = tempfile.mkdtemp(prefix="corvanta-gpg-")
    try:
        subprocess.run([sys.executable, MAKER, DIR], check=True)
        os.environ["GNUPGHOME"] = os.path.join(DIR, "gnupg")
        os.environ["TZ"] = "UTC"
        unittest.main()
    finally:
        for home in ("gnupg", "other"):
            subprocess.run(["gpgconf", "--kill", "all"], env=dict(os.environ, GNUPGHOME=os.path.join(DIR, home)))
        shutil.rmtree(DIR, ignore_errors=True)
