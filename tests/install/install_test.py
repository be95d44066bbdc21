#!/usr/bin/env python3
"""`cmake --install` into a DESTDIR: every file in place and valid for the
desktop's own tools, the man pages in step with --help and --version, and the
viewer the default handler for message/rfc822 where nothing else claims it."""
import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET

BUILD = VERSION = None
TOOLS = ["desktop-file-validate", "update-desktop-database", "appstreamcli", "xdg-mime", "groff", "man"]
ICON_SIZES = [16, 32, 48, 64, 128, 256]
DESKTOP = "usr/share/applications/corvanta-viewer.desktop"
METAINFO = "usr/share/metainfo/example.corvanta.viewer.metainfo.xml"
PROGRAMS = ["corvanta-viewer", "corvanta-eml"]


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=120, **kw)


def desktop_entry(path):
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                entry[key] = value
    return entry


def options(text):
    return set(re.findall(r"(?<![\w-])--[a-z][a-z-]*[a-z]", text))


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.root = os.path.join(cls.tmp.name, "root")
        p = run(["cmake", "--install", BUILD, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=cls.root))
        if p.returncode != 0:
            raise AssertionError("cmake --install failed:\n" + p.stdout + p.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def path(self, relative):
        return os.path.join(self.root, relative)

    def test_installs_exactly_the_expected_files(self):
        expected = {f"usr/bin/{p}" for p in PROGRAMS}
        expected |= {DESKTOP, METAINFO, "usr/share/icons/hicolor/scalable/apps/corvanta-viewer.svg"}
        expected |= {f"usr/share/icons/hicolor/{s}x{s}/apps/corvanta-viewer.png" for s in ICON_SIZES}
        expected |= {f"usr/share/man/man1/{p}.1.gz" for p in PROGRAMS}
        expected.add("usr/libexec/corvanta/corvanta-gpgsm-offline")
        found = set()
        for folder, _, files in os.walk(self.root):
            found |= {os.path.relpath(os.path.join(folder, f), self.root) for f in files}
        self.assertEqual(found, expected)
        for p in PROGRAMS:
            self.assertTrue(os.access(self.path(f"usr/bin/{p}"), os.X_OK), p)

    def test_desktop_entry_is_valid_and_opens_messages(self):
        p = run(["desktop-file-validate", self.path(DESKTOP)])
        self.assertEqual((p.returncode, p.stdout + p.stderr), (0, ""))
        e = desktop_entry(self.path(DESKTOP))
        self.assertEqual(e["Type"], "Application")
        self.assertEqual(e["Exec"], "corvanta-viewer %f")
        self.assertEqual(e["MimeType"], "message/rfc822;")
        self.assertEqual(e["Categories"], "Office;Email;Viewer;")
        self.assertEqual((e["Terminal"], e["NoDisplay"]), ("false", "false"))
        for key in ("Name", "GenericName", "Comment"):
            self.assertTrue(e.get(key), key)
        # The icon name resolves in the theme the package fills.
        self.assertTrue(os.path.isfile(self.path(f"usr/share/icons/hicolor/48x48/apps/{e['Icon']}.png")))
        self.assertTrue(os.path.isfile(self.path(f"usr/bin/{e['Exec'].split()[0]}")))

    def test_icons_have_their_sizes(self):
        for s in ICON_SIZES:
            with open(self.path(f"usr/share/icons/hicolor/{s}x{s}/apps/corvanta-viewer.png"), "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(struct.unpack(">II", head[16:24]), (s, s))
        svg = ET.parse(self.path("usr/share/icons/hicolor/scalable/apps/corvanta-viewer.svg")).getroot()
        self.assertEqual(svg.tag, "{http://www.w3.org/2000/svg}svg")
        self.assertEqual(svg.get("viewBox"), "0 0 32 32")

    def test_metainfo_is_valid_and_names_the_desktop_entry(self):
        p = run(["appstreamcli", "validate", "--no-net", self.path(METAINFO)])
        self.assertEqual(p.returncode, 0, p.stdout + p.stderr)
        c = ET.parse(self.path(METAINFO)).getroot()
        self.assertEqual(c.findtext("id"), "example.corvanta.viewer")
        self.assertEqual(c.findtext("launchable"), os.path.basename(DESKTOP))
        self.assertEqual(c.find("content_rating").get("type"), "oars-1.1")
        self.assertTrue(c.findtext("screenshots/screenshot/image").endswith(".png"))
        self.assertTrue(c.find("description").findall("p"))
        self.assertEqual(c.find("releases/release").get("version"), VERSION)

    def test_man_pages_render_and_agree_with_help_and_version(self):
        env = dict(os.environ, MANWIDTH="80", LC_ALL="C.UTF-8", QT_QPA_PLATFORM="offscreen")
        for prog in PROGRAMS:
            with self.subTest(prog):
                with gzip.open(self.path(f"usr/share/man/man1/{prog}.1.gz"), "rt", encoding="utf-8") as f:
                    source = f.read()
                self.assertIn(f'"Corvanta {VERSION}"', source.splitlines()[0])
                p = run(["groff", "-man", "-ww", "-z"], input=source)
                self.assertEqual((p.returncode, p.stderr), (0, ""))
                page = run(["man", "-l", self.path(f"usr/share/man/man1/{prog}.1.gz")], env=env)
                self.assertEqual(page.returncode, 0, page.stderr)
                self.assertIn("SYNOPSIS", page.stdout)
                text = source.replace("\\-", "-")

                exe = self.path(f"usr/bin/{prog}")
                version = run([exe, "--version"], env=env)
                self.assertEqual((version.returncode, version.stdout), (0, f"{prog} {VERSION}\n"))
                help_ = run([exe, "--help"], env=env)
                self.assertEqual(help_.returncode, 0, help_.stderr)
                self.assertEqual(options(help_.stdout), options(text))

                # Exit codes: the same numbers in both, each explained.
                status = re.search(r"^\.SH EXIT STATUS\n(.*?)^\.SH", text, re.M | re.S).group(1)
                self.assertEqual(re.findall(r"^\.B (\d)$", status, re.M), ["0", "1", "2"])
                self.assertEqual(re.findall(r"(\d) \w", help_.stdout.split("Exit status:", 1)[1]), ["0", "1", "2"])
        # The tool's commands each have their paragraph.
        with gzip.open(self.path("usr/share/man/man1/corvanta-eml.1.gz"), "rt") as f:
            source = f.read()
        help_ = run([self.path("usr/bin/corvanta-eml"), "--help"]).stdout
        commands = re.findall(r"^  ([a-z]+) ", help_, re.M)
        self.assertEqual(commands, ["info", "json", "verify", "body", "extract", "build"])
        for command in commands:
            self.assertRegex(source, rf"\n\.BI {command} ")

    def test_viewer_is_the_default_for_messages_when_nothing_else_is(self):
        home = os.path.join(self.tmp.name, "home")
        empty = os.path.join(self.tmp.name, "xdg-config-dirs")
        os.makedirs(home, exist_ok=True)
        os.makedirs(empty, exist_ok=True)
        # A bare session: no desktop named, nothing but the installed tree.
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("XDG_", "KDE_", "GNOME_")) and k not in ("DESKTOP_SESSION", "DE")}
        env.update(HOME=home, XDG_DATA_DIRS=self.path("usr/share"), XDG_CONFIG_DIRS=empty,
                   XDG_DATA_HOME=os.path.join(home, ".local/share"), XDG_CONFIG_HOME=os.path.join(home, ".config"))
        apps = self.path("usr/share/applications")
        p = run(["update-desktop-database", apps], env=env)
        self.assertEqual(p.returncode, 0, p.stderr)
        with open(os.path.join(apps, "mimeinfo.cache"), encoding="utf-8") as f:
            self.assertIn("message/rfc822=corvanta-viewer.desktop;", f.read().splitlines())
        p = run(["xdg-mime", "query", "default", "message/rfc822"], env=env)
        self.assertEqual((p.returncode, p.stdout.strip()), (0, "corvanta-viewer.desktop"), p.stderr)
        os.remove(os.path.join(apps, "mimeinfo.cache"))


if __name__ == "__main__":
    BUILD, VERSION = sys.argv.pop(1), sys.argv.pop(1)
    missing = [t for t in TOOLS if shutil.which(t) is None]
    if missing:
        print("SKIP: missing " + ", ".join(missing) + " (scripts/install-deps.sh installs them)")
        sys.exit(77)
    unittest.main()
