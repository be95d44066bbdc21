#!/usr/bin/env python3
"""corvanta-eml as scripts use it: output, exit codes, extraction that never
leaves its folder or replaces files, and messages it builds that Python's
email package reads back."""
import email
import email.policy
import json
import os
import subprocess
import sys
import tempfile
import unittest

TOOL = SAMPLES = None


def run(*args, check=None):
    p = subprocess.run([TOOL, *args], capture_output=True, timeout=60)
    if check is not None:
        assert p.returncode == check, (args, p.returncode, p.stderr)
    return p


HOSTILE = (b"From: Evil <e@x>\r\nTo: a@x\r\nSubject: names\r\n"
           b"Content-Type: multipart/mixed; boundary=b\r\n\r\n"
           b"--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"../../escape.txt\"\r\n\r\nA\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"..\"\r\n\r\nB\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"/etc/passwd\"\r\n\r\nC\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"a\x01b\x7f.bin\"\r\n\r\nD\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"" + b"x" * 300 + b"\"\r\n\r\nE\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"same.bin\"\r\n\r\nF\r\n"
           b"--b\r\nContent-Type: application/octet-stream; name=\"same.bin\"\r\n\r\nG\r\n"
           b"--b--\r\n")


class EmlTool(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_info_json_and_body_of_the_sample(self):
        sample = os.path.join(SAMPLES, "welcome.eml")
        info = run("info", sample, check=0).stdout.decode()
        self.assertIn("From: Corvanta Team (welcome@corvanta.example)", info)
        self.assertIn("attachment\ttext/plain\t", info)
        doc = json.loads(run("json", sample, check=0).stdout)
        self.assertEqual(doc["date"], 1796718600)
        self.assertEqual(doc["to"], ["you@example.org", "reader@example.org"])
        self.assertEqual(doc["subject"], "Welcome to Corvanta \u2014 your quick e-mail viewer")
        self.assertEqual([a["embedded"] for a in doc["attachments"]], [True, False])
        html = run("body", sample, "--html", check=0).stdout
        self.assertEqual(len(html), doc["html"]["size"])
        self.assertIn(b"Welcome to Corvanta", html)
        self.assertIn(b"Quick e-Mail Viewer", run("body", sample, check=0).stdout)

    def test_usage_and_unreadable_input(self):
        self.assertEqual(run().returncode, 2)
        self.assertEqual(run("frobnicate", "x").returncode, 2)
        self.assertEqual(run("info").returncode, 2)
        self.assertEqual(run("--help", check=0).stdout[:6], b"usage:")
        p = run("info", os.path.join(self.dir, "missing.eml"))
        self.assertEqual(p.returncode, 1)
        self.assertEqual(len(p.stderr.decode().strip().splitlines()), 1)
        self.assertEqual(run("json", self.dir).returncode, 1)
        self.assertEqual(run("extract", self.write("m.eml", HOSTILE), self.dir, "99").returncode, 2)

    def test_json_strings_of_latin1_bytes_and_missing_date(self):
        msg = self.write("l1.eml", b"Subject: caf\xe9\r\nFrom: Andr\xe9 <a@x>\r\n\r\nhi\r\n")
        doc = json.loads(run("json", msg, check=0).stdout)
        self.assertEqual(doc["subject"], "caf\u00e9")
        self.assertEqual(doc["from"], {"name": "Andr\u00e9", "address": "a@x"})
        self.assertIsNone(doc["date"])
        self.assertEqual(doc["date_local"], "")  # not the calendar's first day
        self.assertIn("Date: \n", run("info", msg, check=0).stdout.decode())
        # A date that names no day is given as written, not as the present moment.
        bad = self.write("bad.eml", b"Date: 31 Apr 2001 10:00 GMT\r\n\r\nhi\r\n")
        bad_doc = json.loads(run("json", bad, check=0).stdout)
        self.assertIsNone(bad_doc["date"])
        self.assertEqual(bad_doc["date_local"], "31 Apr 2001 10:00 GMT")
        self.assertIsNone(doc["html"])

    def test_info_escapes_control_characters_and_json_keeps_them(self):
        # Encoded words decode to a line break, a terminal escape, C1 and
        # direction controls; info must stay one line per field and
        # attachment, json must stay valid and keep the text exact.
        msg = self.write("ctl.eml", (
            b"From: =?utf-8?Q?Eve=1B[31m=07?= <eve@x>\r\n"
            b"To: a@x\r\n"
            b"Subject: =?utf-8?Q?hi=0A1=09attachment=09x=09=09forged.exe=0D=1B[2J_=E2=80=AEtxt.exe_a\\b?=\r\n"
            b"Content-Type: multipart/mixed; boundary=b\r\n\r\n"
            b"--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
            b"--b\r\nContent-Type: application/octet-stream; name=\"=?utf-8?Q?a=C2=9Bb=7F.bin?=\"\r\n\r\nA\r\n"
            b"--b--\r\n"))
        out = run("info", msg, check=0).stdout
        lines = out.decode("utf-8").split("\n")
        self.assertEqual(lines[-1], "")
        self.assertEqual(len(lines), 6, out)
        for ch in out.decode("utf-8"):
            self.assertFalse((ord(ch) < 32 and ch not in "\t\n") or 0x7F <= ord(ch) <= 0x9F
                             or ch in "\u2028\u2029\u202e", (ch, out))
        self.assertEqual(lines[3], "Subject: hi\\n1\\tattachment\\tx\\t\\tforged.exe\\r\\x1B[2J \\u202Etxt.exe a\\\\b")
        self.assertEqual(lines[1], "From: Eve\\x1B[31m\\x07 (eve@x)")
        self.assertEqual(lines[4].split("\t")[-1], "a\\x9Bb\\x7F.bin")
        doc = json.loads(run("json", msg, check=0).stdout)
        self.assertEqual(doc["subject"], "hi\n1\tattachment\tx\t\tforged.exe\r\x1b[2J \u202etxt.exe a\\b")
        self.assertEqual(doc["from"]["name"], "Eve\x1b[31m\x07")
        self.assertEqual([a["file_name"] for a in doc["attachments"]], ["a\x9bb\x7f.bin"])

    def test_header_text_and_names_as_the_window_shows_them(self):
        # Encoded words and names in their charsets: info and json printed
        # "+APY-" for UTF-7, mojibake for koi8-r and "K\u00c3\u00a4se" for a
        # UTF-8 word beside a Latin-1 one; extract wrote the engine's raw
        # bytes as the file name; a path in a name became part of it.
        msg = self.write("cs.eml", (
            b"From: =?koi8-r?B?8NLJ18XU?= <ivan@x>\r\n"
            b"To: Team: a@x, b@y;, Carol <c@z>\r\n"
            b"Subject: =?utf-7?Q?+APY-l?= and =?utf-8?Q?K=C3=A4se?= =?iso-8859-1?Q?_s=FC=DF?=\r\n"
            b"Content-Type: multipart/mixed; boundary=b\r\n\r\n"
            b"--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n"
            b"--b\r\nContent-Type: text/plain; name=\"HasenundFr\xf6sche.txt\"\r\n"
            b"Content-Disposition: attachment\r\n\r\nA\r\n"
            b"--b\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Disposition: attachment; filename*=koi8-r''%F0%D2%C9%D7%C5%D4.bin\r\n\r\nB\r\n"
            b"--b\r\nContent-Type: image/png; name=\"C:\\TEMP\\nsmailEG.png\"\r\n\r\nC\r\n"
            b"--b\r\nContent-Type: application/pdf; name=\"/home/u/report.pdf\"\r\n\r\nD\r\n"
            b"--b--\r\n"))
        names = ["HasenundFr\u00f6sche.txt", "\u041f\u0440\u0438\u0432\u0435\u0442.bin", "nsmailEG.png", "report.pdf"]
        info = run("info", msg, check=0).stdout.decode("utf-8").split("\n")
        self.assertEqual(info[1], "From: \u041f\u0440\u0438\u0432\u0435\u0442 (ivan@x)")
        self.assertEqual(info[2], "To: a@x,b@y,c@z")
        self.assertEqual(info[3], "Subject: \u00f6l and K\u00e4se s\u00fc\u00df")
        self.assertEqual([line.split("\t")[-1] for line in info[4:8]], names)
        doc = json.loads(run("json", msg, check=0).stdout)
        self.assertEqual(doc["subject"], "\u00f6l and K\u00e4se s\u00fc\u00df")
        self.assertEqual(doc["from"]["name"], "\u041f\u0440\u0438\u0432\u0435\u0442")
        self.assertEqual(doc["to"], ["a@x", "b@y", "c@z"])
        self.assertEqual([a["file_name"] for a in doc["attachments"]], names)
        out = os.path.join(self.dir, "out")
        run("extract", msg, out, check=0)
        self.assertEqual(sorted(os.listdir(out)), sorted(names))
        self.assertEqual(open(os.path.join(out, names[1]), "rb").read(), b"B")

    def test_body_all_shows_every_inline_text_part(self):
        # A text part beside an HTML one and a footer a list added: each in
        # the order sent; alternatives stay one choice; files stay files.
        msg = self.write("mixed.eml", (
            b"Content-Type: multipart/mixed; boundary=m\r\n\r\n"
            b"--m\r\nContent-Type: text/plain\r\n\r\nHello\r\n"
            b"--m\r\nContent-Type: multipart/alternative; boundary=a\r\n\r\n"
            b"--a\r\nContent-Type: text/plain\r\n\r\ntwin\r\n"
            b"--a\r\nContent-Type: text/html\r\n\r\n<p>World</p>\r\n--a--\r\n"
            b"--m\r\nContent-Type: application/pdf; name=a.pdf\r\n\r\n%PDF\r\n"
            b"--m\r\nContent-Type: text/plain\r\n\r\n-- \r\nlist footer\r\n--m--\r\n"))
        self.assertEqual(run("body", msg, "--all", check=0).stdout,
                         b"Hello\r\n\r\n<p>World</p>\r\n\r\n-- \r\nlist footer\r\n")
        self.assertEqual(run("body", msg, check=0).stdout, b"Hello")
        self.assertEqual(run("body", msg, "--html", check=0).stdout, b"<p>World</p>")
        self.assertEqual(run("body", msg, "--all", "--html").returncode, 2)

    def test_extract_stays_inside_its_folder(self):
        msg = self.write("hostile.eml", HOSTILE)
        out = os.path.join(self.dir, "out")
        run("extract", msg, out, check=0)
        names = sorted(os.listdir(out))
        self.assertEqual(len(names), 7)
        for n in names:
            self.assertNotIn("/", n)
            self.assertNotIn(n, (".", ".."))
            self.assertLessEqual(len(n.encode()), 255)
        self.assertFalse(os.path.exists(os.path.join(self.dir, "escape.txt")))
        contents = sorted(open(os.path.join(out, n), "rb").read() for n in names)
        self.assertEqual(contents, [b"A", b"B", b"C", b"D", b"E", b"F", b"G"])

    def test_extract_never_replaces_without_force(self):
        msg = self.write("hostile.eml", HOSTILE)
        out = os.path.join(self.dir, "out")
        os.mkdir(out)
        keep = os.path.join(out, "same.bin")
        with open(keep, "wb") as f:
            f.write(b"mine")
        self.assertEqual(run("extract", msg, out, "5").returncode, 1)
        self.assertEqual(open(keep, "rb").read(), b"mine")
        run("extract", msg, out, "5", "--force", check=0)
        self.assertEqual(open(keep, "rb").read(), b"F")

    def test_extract_modes_follow_the_umask(self):
        msg = self.write("hostile.eml", HOSTILE)
        out = os.path.join(self.dir, "out")
        os.mkdir(out)
        keep = os.path.join(out, "same.bin")
        with open(keep, "wb") as f:
            f.write(b"mine")
        os.chmod(keep, 0o600)
        for umask, mode in ((0o022, 0o644), (0o077, 0o600), (0o002, 0o664)):
            old = os.umask(umask)
            try:
                run("extract", msg, out, "5", "--force", check=0)
                self.assertEqual(os.stat(keep).st_mode & 0o777, mode)
                fresh = os.path.join(out, "a_b\x7f.bin")
                if os.path.exists(fresh):
                    os.unlink(fresh)
                run("extract", msg, out, "3", check=0)
                self.assertEqual(os.stat(fresh).st_mode & 0o777, mode)
            finally:
                os.umask(old)
        self.assertEqual([n for n in os.listdir(out) if n.startswith(".corvanta-")], [])

    def test_extract_long_names_that_collide(self):
        # Two long UTF-8 names, the same after shortening: both are written,
        # each keeps its extension and whole characters.
        long = ("\u00e9" * 200).encode()
        msg = self.write("long.eml", b"Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                         b"--b\r\nContent-Type: application/pdf; name=\"" + long + b"a.pdf\"\r\n\r\nA\r\n"
                         b"--b\r\nContent-Type: application/pdf; name=\"" + long + b"b.pdf\"\r\n\r\nB\r\n"
                         b"--b--\r\n")
        out = os.path.join(self.dir, "out")
        p = run("extract", msg, out, check=0)
        names = os.listdir(out)
        self.assertEqual(len(names), 2, p.stderr)
        for n in names:
            self.assertTrue(n.endswith(".pdf"), n)
            self.assertLessEqual(len(n.encode()), 255)
            self.assertIn("\u00e9" * 100, n)
        self.assertEqual(sorted(open(os.path.join(out, n), "rb").read() for n in names), [b"A", b"B"])

    def test_build_writes_a_message_python_reads(self):
        text = self.write("t.txt", "Gr\u00fc\u00dfe, line one\nline two\n".encode())
        html = self.write("h.html", b"<p>hello <img src='pic.png'></p>")
        data = bytes(range(256)) * 40
        attach = self.write("data \"odd\".bin", data)
        pic = self.write("pic.png", b"\x89PNG fake")
        out = os.path.join(self.dir, "built.eml")
        run("build", out, "--subject", "Gr\u00fc\u00dfe", "--from", "J\u00fcrgen M\u00fcller <me@x>", "--to", "a@x, b@y",
            "--text", text, "--html", html, "--attach", attach, "--embed", pic, check=0)
        self.assertEqual(run("build", out, "--subject", "again").returncode, 1)
        with open(out, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.default)
        self.assertEqual(str(msg["subject"]), "Gr\u00fc\u00dfe")
        payloads = [p.get_payload(decode=True) for p in msg.walk() if not p.is_multipart()]
        self.assertIn(data, payloads)
        self.assertIn(b"\x89PNG fake", payloads)
        self.assertIn("Gr\u00fc\u00dfe, line one\nline two\n".encode(), [p.replace(b"\r\n", b"\n") for p in payloads])
        self.assertEqual(msg["from"].addresses[0].display_name, "J\u00fcrgen M\u00fcller")
        self.assertEqual(msg["from"].addresses[0].addr_spec, "me@x")
        doc = json.loads(run("json", out, check=0).stdout)
        self.assertEqual(doc["to"], ["a@x", "b@y"])
        self.assertEqual(doc["from"], {"name": "J\u00fcrgen M\u00fcller", "address": "me@x"})
        self.assertEqual([(a["file_name"], a["embedded"]) for a in doc["attachments"]],
                         [("pic.png", True), ("data _odd_.bin", False)])
        run("build", out, "--force", check=0)

    def test_build_labels_what_it_writes(self):
        latin = self.write("latin.txt", b"caf\xe9 cr\xe8me\n")
        empty = self.write("empty.bin", b"")
        out = os.path.join(self.dir, "labels.eml")
        run("build", out, "--subject", "Round trip", "--from", "Ann Example <ann@x>", "--text", latin,
            "--attach", empty, check=0)
        raw = open(out, "rb").read()
        # Plain ASCII stays as it is; ISO-8859-1 bytes are not called UTF-8.
        self.assertIn(b"\r\nSubject: Round trip\r\n", raw)
        self.assertIn(b"\r\nFrom: Ann Example <ann@x>\r\n", raw)
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        text = next(p for p in msg.walk() if p.get_content_type() == "text/plain")
        self.assertEqual(text.get_content_charset(), "iso-8859-1")
        self.assertEqual(text.get_content(), "caf\u00e9 cr\u00e8me\n")
        # The empty file is listed, and so it is when the message is read back.
        names = [a["file_name"] for a in json.loads(run("json", out, check=0).stdout)["attachments"]]
        self.assertEqual(names, ["empty.bin"])
        only = os.path.join(self.dir, "only.eml")
        run("build", only, "--attach", empty, check=0)
        doc = json.loads(run("json", only, check=0).stdout)
        self.assertEqual([(a["file_name"], a["size"]) for a in doc["attachments"]], [("empty.bin", 0)])

        # A single UTF-8 text body keeps its charset through the rebuild.
        utf8 = self.write("utf8.txt", "gr\u00fc\u00dfe\n".encode())
        run("build", out, "--force", "--text", utf8, check=0)
        msg = email.message_from_bytes(open(out, "rb").read(), policy=email.policy.default)
        self.assertEqual(msg.get_content_charset(), "utf-8")
        self.assertEqual(msg.get_content(), "gr\u00fc\u00dfe\n")

    def test_build_encodes_text_that_looks_like_an_encoded_word(self):
        out = os.path.join(self.dir, "word.eml")
        run("build", out, "--subject", "Price =?utf-8?Q?100?= offer", "--from", "=?x?Q?Boss?= <b@x>", check=0)
        doc = json.loads(run("json", out, check=0).stdout)
        self.assertEqual(doc["subject"], "Price =?utf-8?Q?100?= offer")
        self.assertEqual(doc["from"]["name"], "=?x?Q?Boss?=")
        msg = email.message_from_bytes(open(out, "rb").read(), policy=email.policy.default)
        self.assertEqual(str(msg["subject"]), "Price =?utf-8?Q?100?= offer")

    def test_build_writes_no_forged_header(self):
        evil = "evil\nX-Injected: yes\nname.png"
        pic = self.write(evil, b"PNG")
        out = os.path.join(self.dir, "evil.eml")
        run("build", out, "--subject", "s\nX-Injected: subject", "--to", "a@x\nX-Injected: to",
            "--embed", pic, "--attach", pic, check=0)
        raw = open(out, "rb").read()
        self.assertNotIn(b"\nX-Injected", raw)
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        self.assertIsNone(msg["X-Injected"])
        self.assertFalse(any(p["X-Injected"] for p in msg.walk()))


if __name__ == "__main__":
    TOOL, SAMPLES = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
