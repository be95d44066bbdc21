#!/usr/bin/env python3
"""Outlook files read as their own readers read them: each shared .msg
against msgconvert's .eml of it (subject, sender, To, the text body and the
attachments' names and bytes), and each shared TNEF stream against the
files tnef unpacks (names and bytes), bare and as the winmail.dat of an .eml.

Usage: outlook_readers_test.py CLI CORPUS_DIR. Without the samples or the
readers it reports itself skipped (exit 77), never passed; with
CORVANTA_REQUIRE_CORPUS set (CI) their absence fails."""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SKIPPED = 77
CLI = CORPUS = None


def tool(*args):
    p = subprocess.run([CLI, *args], capture_output=True, timeout=120)
    if p.returncode != 0:
        raise AssertionError(f"corvanta-eml {' '.join(args)}: {p.stderr.decode(errors='replace')}")
    return p.stdout


def info(path):
    return json.loads(tool("json", path))


def text(path):
    """The text body as text: msgconvert keeps a body's own charset, this
    reader makes it UTF-8."""
    raw = tool("body", path).replace(b"\r\n", b"\n").strip()
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def files_of(path, folder):
    os.makedirs(folder)
    tool("extract", path, folder)
    return {name: digest(os.path.join(folder, name)) for name in os.listdir(folder)}


class Msg(unittest.TestCase):
    def test_every_msg_agrees_with_msgconvert(self):
        folder = os.path.join(CORPUS, "msg")
        compared = 0
        with tempfile.TemporaryDirectory() as tmp:
            for name in sorted(f for f in os.listdir(folder) if f.endswith(".msg")):
                msg = os.path.join(tmp, name)
                shutil.copy(os.path.join(folder, name), msg)
                subprocess.run(["msgconvert", "--outfile", msg[:-4] + ".eml", msg], cwd=tmp,
                               capture_output=True, timeout=120)
                eml = msg[:-4] + ".eml"
                if not os.path.exists(eml):
                    continue  # msgconvert cannot read it (it fails on some real files)
                compared += 1
                with self.subTest(name):
                    ours, theirs = info(msg), info(eml)
                    if theirs["subject"]:  # msgconvert loses some 8-bit subjects
                        self.assertEqual(ours["subject"], theirs["subject"])
                    if "@" in theirs["from"]["address"]:  # not an Exchange directory name
                        self.assertEqual(ours["from"]["address"], theirs["from"]["address"])
                        self.assertEqual(ours["from"]["name"], theirs["from"]["name"])
                    self.assertEqual(sorted(ours["to"]), sorted(theirs["to"]))
                    if theirs["text"] and theirs["text"]["size"]:
                        self.assertEqual(text(msg), text(eml))
                    # Every file msgconvert finds is here, under its name and
                    # with its bytes (it also lists the RTF body and attached
                    # items, which this viewer shows as the body and as
                    # forwarded messages).
                    ours_files = {(a["file_name"], a["sha256"]) for a in ours["attachments"]}
                    for a in theirs["attachments"]:
                        if a["content_type"] in ("application/rtf", "message/rfc822"):
                            continue
                        self.assertIn((a["file_name"], a["sha256"]), ours_files)
        self.assertGreaterEqual(compared, 10)


class Tnef(unittest.TestCase):
    def test_every_stream_unpacks_as_tnef_unpacks_it(self):
        folder = os.path.join(CORPUS, "tnef")
        with tempfile.TemporaryDirectory() as tmp:
            for name in sorted(f for f in os.listdir(folder) if f.endswith(".tnef")):
                with self.subTest(name):
                    path = os.path.join(folder, name)
                    theirs_dir = os.path.join(tmp, name + ".tnef-out")
                    os.makedirs(theirs_dir)
                    subprocess.run(["tnef", "--overwrite", "-C", theirs_dir, path], check=True,
                                   capture_output=True, timeout=120)
                    theirs = {f: digest(os.path.join(theirs_dir, f)) for f in os.listdir(theirs_dir)}
                    ours = files_of(path, os.path.join(tmp, name + ".ours"))
                    self.assertEqual(ours, theirs)
                    self.assertEqual(len(ours), len(theirs))

                    # As the winmail.dat of a message, the same files come
                    # beside it, and it stays.
                    with open(path, "rb") as f:
                        data = f.read()
                    eml = os.path.join(tmp, name + ".eml")
                    with open(eml, "wb") as f:
                        f.write(b"From: a@example.com\r\nSubject: winmail\r\nMIME-Version: 1.0\r\n"
                                b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                                b"Content-Type: text/plain\r\n\r\nSee attached.\r\n--b\r\n"
                                b"Content-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
                                b"Content-Transfer-Encoding: base64\r\n\r\n"
                                + base64.encodebytes(data).replace(b"\n", b"\r\n") + b"--b--\r\n")
                    inner = files_of(eml, os.path.join(tmp, name + ".eml-out"))
                    self.assertEqual(inner.pop("winmail.dat"), hashlib.sha256(data).hexdigest())
                    self.assertEqual(inner, ours)


def main():
    global CLI, CORPUS
    CLI, CORPUS = sys.argv.pop(1), sys.argv.pop(1)
    missing = [t for t in ("msgconvert", "tnef") if shutil.which(t) is None]
    samples = os.path.isdir(os.path.join(CORPUS, "msg")) and os.path.isdir(os.path.join(CORPUS, "tnef"))
    if missing or not samples:
        why = f"missing {', '.join(missing)}" if missing else f"no samples in {CORPUS}"
        print(f"SKIP: {why} (scripts/install-deps.sh installs the readers)")
        if os.environ.get("CORVANTA_REQUIRE_CORPUS"):
            print("FAILED: CORVANTA_REQUIRE_CORPUS is set, so the readers and samples must be there")
            return 1
        return SKIPPED
    return 0 if unittest.main(exit=False).result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
