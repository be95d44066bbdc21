#!/usr/bin/env python3
"""corvanta-viewer --print-to: exit codes, and a PDF that holds the message;
the command-line modes with a broken language file beside the program."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

VIEWER = SAMPLES = None


def run(*args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    return subprocess.run([VIEWER, *args], capture_output=True, timeout=120, env=env)


class PrintTo(unittest.TestCase):
    def test_prints_and_refuses_what_it_cannot_do(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "welcome.pdf")
            p = run("--print-to", out, os.path.join(SAMPLES, "welcome.eml"))
            self.assertEqual(p.returncode, 0, p.stderr)
            text = subprocess.run(["pdftotext", out, "-"], capture_output=True).stdout.decode()
            self.assertIn("Subject: Welcome to Corvanta", text)
            self.assertIn("Page 1 of 1", text)
            with open(out, "rb") as f:
                before = f.read()
            p = run("--print-to", out, os.path.join(SAMPLES, "welcome.eml"))
            self.assertEqual(p.returncode, 1)
            with open(out, "rb") as f:
                self.assertEqual(f.read(), before)  # never overwritten
            p = run("--print-to", os.path.join(d, "x.pdf"), os.path.join(d, "missing.eml"))
            self.assertEqual(p.returncode, 1)
            self.assertIn(b"missing.eml: No such file or directory", p.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "x.pdf")))
            # Without a display too: a reason, not an abort.
            env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
            p = subprocess.run([VIEWER, "--print-to", os.path.join(d, "x.pdf"), d], capture_output=True,
                               timeout=120, env=env)
            self.assertEqual(p.returncode, 1, p.stderr)
            self.assertIn(b": Is a directory", p.stderr)
            self.assertEqual(run("--print-to", out).returncode, 2)


    def test_prints_every_inline_text_part_and_the_shown_header(self):
        # The text beside the HTML part and the list's footer were left out;
        # the header block shows the fields in their charsets.
        msg = (b"From: =?koi8-r?B?8NLJ18XU?= <ivan@x>\r\nTo: Team: a@x, b@y;, Carol <c@z>\r\n"
               b"Subject: =?utf-8?Q?K=C3=A4se?=\r\nContent-Type: multipart/mixed; boundary=m\r\n\r\n"
               b"--m\r\nContent-Type: text/plain\r\n\r\nFirst the plain words.\r\n"
               b"--m\r\nContent-Type: text/html\r\n\r\n<p>Then the <b>HTML</b> part.</p>\r\n"
               b"--m\r\nContent-Type: text/plain\r\n\r\nThe list footer.\r\n--m--\r\n")
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "mixed.eml")
            with open(path, "wb") as f:
                f.write(msg)
            out = os.path.join(d, "mixed.pdf")
            p = run("--print-to", out, path)
            self.assertEqual(p.returncode, 0, p.stderr)
            text = subprocess.run(["pdftotext", out, "-"], capture_output=True).stdout.decode()
            words = ["From: \u041f\u0440\u0438\u0432\u0435\u0442 (ivan@x)", "To: a@x,b@y,c@z",
                     "Subject: K\u00e4se", "First the plain words.", "Then the HTML part.", "The list footer."]
            at = 0
            for w in words:
                found = text.find(w, at)
                self.assertGreaterEqual(found, 0, (w, text))
                at = found + len(w)

    def test_broken_language_file_is_reported_not_shown(self):
        # A message box would wait for a click nobody can give: the modes
        # without a window say it on stderr and fail instead.
        with tempfile.TemporaryDirectory() as d:
            viewer = os.path.join(d, "corvanta-viewer")
            shutil.copy2(VIEWER, viewer)
            with open(os.path.join(d, "langdefmod0.dat"), "wb") as f:
                f.write(b"short")
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
            for args in (["--print-to", os.path.join(d, "out.pdf"), os.path.join(SAMPLES, "welcome.eml")],
                         ["--write-language-file", "1", os.path.join(d, "block1.dat")]):
                p = subprocess.run([viewer, *args], capture_output=True, timeout=60, env=env)
                self.assertNotEqual(p.returncode, 0, args)
                self.assertIn(b"langdefmod0.dat", p.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "out.pdf")))


if __name__ == "__main__":
    VIEWER, SAMPLES = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
