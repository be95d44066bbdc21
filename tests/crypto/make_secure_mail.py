#!/usr/bin/env python3
"""Makes throwaway keys and signed or encrypted messages for the tests.

make_secure_mail.py DIR: DIR/gnupg is the reader's GnuPG home (Alice's
OpenPGP key and Bob's S/MIME certificate with its test CA, both without a
passphrase; Dave's expired key; Frank's revoked key; Eve's key, not
certified), DIR/other a second home whose keys the reader does not have
(Carol, Eve). DIR/mail/*.eml are the messages. Every gpg-agent started here
is stopped before the script ends; nothing outside DIR is touched.
"""
import base64
import os
import random
import subprocess
import sys

DIR = os.path.abspath(sys.argv[1])
HOME = os.path.join(DIR, "gnupg")
OTHER = os.path.join(DIR, "other")
MAIL = os.path.join(DIR, "mail")
for d in (HOME, OTHER, MAIL):
    os.makedirs(d, mode=0o700, exist_ok=True)
QUIET = ["--batch", "--quiet", "--pinentry-mode", "loopback", "--passphrase", ""]


def run(program, home, *args, data=None, faked=None):
    env = dict(os.environ, GNUPGHOME=home)
    extra = ["--faked-system-time", faked] if faked else []
    # No input is an empty one: a program that reads it must not wait on
    # whatever standard input the caller left open.
    p = subprocess.run([program, *QUIET, *extra, *args], input=data if data is not None else b"", env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if p.returncode != 0:
        sys.exit(f"{program} {' '.join(args)} failed: {p.stderr.decode(errors='replace')}")
    return p.stdout


def gpg(*args, home=HOME, **kw):
    return run("gpg", home, *args, **kw)


def gpgsm(*args, data=None):
    if data is None:
        return run("gpgsm", HOME, "--disable-dirmngr", *args)
    # gpgsm reads what it signs or encrypts from a file: through a pipe its
    # signatures do not hold.
    path = os.path.join(DIR, "gpgsm-input")
    with open(path, "wb") as f:
        f.write(data)
    out = run("gpgsm", HOME, "--disable-dirmngr", *args, path)
    os.remove(path)
    return out


def gpgsm_certificate(parameters):
    path = os.path.join(DIR, "certificate.parm")
    with open(path, "w") as f:
        f.write(parameters)
    with open(path + ".der", "wb") as f:
        f.write(gpgsm("--gen-key", path))
    # gpgsm reads a certificate from a file, not from a pipe.
    gpgsm("--import", path + ".der")
    os.remove(path)
    os.remove(path + ".der")


def colons(program, home, *args):
    return run(program, home, "--with-colons", *args).decode().splitlines()


def fingerprint(uid, home=HOME):
    for line in colons("gpg", home, "--list-keys", uid):
        if line.startswith("fpr:"):
            return line.split(":")[9]
    sys.exit("no key " + uid)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode()


def write(name, data):
    with open(os.path.join(MAIL, name), "wb") as f:
        f.write(data)


# Keys. ed25519 signs; Alice's cv25519 subkey takes encryption.
gpg("--quick-gen-key", "Alice Example <alice@example.org>", "future-default", "default", "never")
gpg("--quick-gen-key", "Dave Old <dave@example.org>", "ed25519", "sign", "2d", faked="20200101T000000!")
gpg("--quick-gen-key", "Frank Gone <frank@example.org>", "ed25519", "sign", "never")
gpg("--quick-gen-key", "Carol Stranger <carol@example.net>", "future-default", "default", "never", home=OTHER)
gpg("--quick-gen-key", "Eve Unknown <eve@example.net>", "ed25519", "sign", "never", home=OTHER)
gpg("--import", data=gpg("--export", "eve@example.net", home=OTHER))

# S/MIME: a self-signed CA and Bob's certificate from it, the CA trusted.
CA = "CN=Corvanta Test CA,O=Corvanta Tests"
gpgsm_certificate(
    "Key-Type: RSA\nKey-Length: 2048\nKey-Usage: sign, cert\nSerial: random\n"
    f"Name-DN: {CA}\n")
grip = next(l.split(":")[9] for l in colons("gpgsm", HOME, "--with-keygrip", "--list-keys") if l.startswith("grp:"))
ca_fpr = next(l.split(":")[9] for l in colons("gpgsm", HOME, "--list-keys") if l.startswith("fpr:"))
with open(os.path.join(HOME, "trustlist.txt"), "a") as f:
    f.write(f"{ca_fpr} S relax\n")
gpgsm_certificate(
    "Key-Type: RSA\nKey-Length: 2048\nKey-Usage: sign, encrypt\nSerial: random\n"
    "Name-DN: CN=Bob Smime,O=Corvanta Tests\nName-Email: bob@example.org\n"
    f"Issuer-DN: {CA}\nSigning-Key: {grip}\n")

HEAD = ("From: {sender}\r\nTo: Reader <reader@example.org>\r\nSubject: {subject}\r\n"
        "Date: Mon, 02 Dec 2024 10:00:00 +0000\r\nMIME-Version: 1.0\r\n")
TEXT_PART = crlf(
    "Content-Type: multipart/mixed; boundary=\"inner\"\n\n--inner\n"
    "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
    "Hello Reader,\n\nthis text is signed. Caf=C3=A9 =3D coffee.\n-- \nAlice\n"
    "--inner\nContent-Type: text/plain; name=\"notes.txt\"\nContent-Disposition: attachment; filename=\"notes.txt\"\n\n"
    "Notes that go with it.\n--inner--")


def head(subject, sender="Alice Example <alice@example.org>"):
    return HEAD.format(sender=sender, subject=subject).encode()


def pgp_signed(part, signer="alice@example.org", home=HOME, faked=None):
    sig = gpg("--armor", "--detach-sign", "--digest-algo", "SHA256", "-u", signer, data=part, home=home, faked=faked)
    return (b"Content-Type: multipart/signed; micalg=pgp-sha256; protocol=\"application/pgp-signature\"; "
            b"boundary=\"sig\"\r\n\r\nThis is an OpenPGP/MIME signed message.\r\n--sig\r\n" + part
            + b"\r\n--sig\r\nContent-Type: application/pgp-signature; name=\"signature.asc\"\r\n"
            b"Content-Disposition: attachment; filename=\"signature.asc\"\r\n\r\n"
            + sig.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") + b"\r\n--sig--\r\n")


def smime_signed(part):
    sig = base64.encodebytes(gpgsm("--detach-sign", "-u", "bob@example.org", data=part))
    return (b"Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; micalg=sha-256; "
            b"boundary=\"smime\"\r\n\r\n--smime\r\n" + part
            + b"\r\n--smime\r\nContent-Type: application/pkcs7-signature; name=\"smime.p7s\"\r\n"
            b"Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"smime.p7s\"\r\n\r\n"
            + crlf(sig.decode()) + b"\r\n--smime--\r\n")


def pgp_encrypted(entity, recipient, home=HOME, sign=False):
    args = ["--armor", "--trust-model", "always", "--encrypt", "-r", recipient]
    if sign:
        args += ["--sign", "-u", "alice@example.org"]
    armour = gpg(*args, data=entity, home=home)
    return (b"Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=\"enc\"\r\n\r\n"
            b"--enc\r\nContent-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n\r\n--enc\r\n"
            b"Content-Type: application/octet-stream; name=\"encrypted.asc\"\r\n\r\n"
            + armour.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n") + b"\r\n--enc--\r\n")


def pkcs7(kind, der):
    return (f"Content-Type: application/pkcs7-mime; smime-type={kind}; name=\"smime.p7m\"\r\n"
            "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"smime.p7m\"\r\n\r\n").encode() \
        + crlf(base64.encodebytes(der).decode())


signed = pgp_signed(TEXT_PART)
write("pgp-good.eml", head("Signed") + signed)
write("pgp-changed.eml", head("Signed") + signed.replace(b"this text is signed", b"this text is signeD"))
write("pgp-header-changed.eml", head("Signed, subject changed on the way") + signed)
write("pgp-lf.eml", (head("Signed") + signed).replace(b"\r\n", b"\n"))
write("pgp-other-from.eml", head("Signed", "Mallory <mallory@example.net>") + signed)
write("pgp-unknown-key.eml", head("Signed by a stranger", "Carol <carol@example.net>")
      + pgp_signed(TEXT_PART, "carol@example.net", home=OTHER))
write("pgp-untrusted.eml", head("Signed by Eve", "Eve <eve@example.net>")
      + pgp_signed(TEXT_PART, "eve@example.net", home=OTHER))
write("pgp-expired.eml", head("Signed long ago", "Dave <dave@example.org>")
      + pgp_signed(TEXT_PART, "dave@example.org", faked="20200101T120000!"))
frank = pgp_signed(TEXT_PART, "frank@example.org")
write("pgp-revoked.eml", head("Signed, key revoked since", "Frank <frank@example.org>") + frank)
with open(os.path.join(HOME, "openpgp-revocs.d", fingerprint("frank@example.org") + ".rev"), "rb") as f:
    gpg("--import", data=f.read().replace(b":-----BEGIN", b"-----BEGIN"))

# Encrypted to Alice: a signed message inside, and signed and encrypted in one.
inner = b"Subject: The real subject\r\n" + pgp_signed(TEXT_PART)
write("pgp-encrypted.eml", head("...") + pgp_encrypted(inner, "alice@example.org"))
write("pgp-encrypted-combined.eml", head("Secret") + pgp_encrypted(
    crlf("Content-Type: text/plain; charset=utf-8\n\nThe secret text.\n"), "alice@example.org", sign=True))
# Encrypted and not signed: anyone may encrypt to Alice, so it says nothing
# of who sent it.
write("pgp-encrypted-unsigned.eml", head("Unsigned secret") + pgp_encrypted(
    crlf("Content-Type: text/plain\n\nAnyone could have sent this.\n"), "alice@example.org"))
# Carol's public key only in the home that makes it: the reader has neither half.
write("pgp-wrong-recipient.eml", head("Not for you") + pgp_encrypted(
    crlf("Content-Type: text/plain\n\nNot for you.\n"), "carol@example.net", home=OTHER))

clear = gpg("--clearsign", "-u", "alice@example.org", data=crlf(
    "Hello inline,\n- a line that starts with a dash\nplain text signed.\n")).replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
write("inline.eml", head("Inline") + b"Content-Type: text/plain; charset=utf-8\r\n\r\n" + clear)
write("inline-changed.eml", head("Inline") + b"Content-Type: text/plain; charset=utf-8\r\n\r\n"
      + clear.replace(b"plain text signed", b"plain text changed"))
write("inline-truncated.eml", head("Inline") + b"Content-Type: text/plain\r\n\r\n" + clear[:clear.index(b"-----END")])

smime_part = crlf("Content-Type: text/plain; charset=us-ascii\n\nSigned with S/MIME.\n")
write("smime-good.eml", head("S/MIME", "Bob Smime <bob@example.org>") + smime_signed(smime_part))
write("smime-changed.eml", head("S/MIME", "Bob Smime <bob@example.org>")
      + smime_signed(smime_part).replace(b"Signed with", b"Signed w1th"))
write("smime-opaque.eml", head("S/MIME opaque", "Bob Smime <bob@example.org>")
      + pkcs7("signed-data", gpgsm("--sign", "-u", "bob@example.org", data=smime_part)))
write("smime-encrypted.eml", head("S/MIME encrypted", "Bob Smime <bob@example.org>")
      + pkcs7("enveloped-data", gpgsm("--encrypt", "-r", "bob@example.org", data=smime_signed(smime_part))))

# Bad input: cut armour, a 10 MB signature of noise, signatures nested 300 deep.
armour_cut = signed[:signed.index(b"-----END PGP SIGNATURE")] [:-40] + b"\r\n--sig--\r\n"
write("bad-truncated-armour.eml", head("Cut") + armour_cut)
rng = random.Random(27)
noise = base64.encodebytes(bytes(rng.getrandbits(8) for _ in range(7_500_000)))
write("bad-huge-signature.eml", head("Huge") + signed[:signed.index(b"-----BEGIN PGP SIGNATURE")]
      + b"-----BEGIN PGP SIGNATURE-----\r\n\r\n" + crlf(noise.decode()) + b"-----END PGP SIGNATURE-----\r\n--sig--\r\n")
loop = TEXT_PART
for i in range(300):
    loop = (f"Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=\"b{i}\"\r\n\r\n"
            f"--b{i}\r\n").encode() + loop + (f"\r\n--b{i}\r\nContent-Type: application/pgp-signature\r\n\r\n"
                                             f"-----BEGIN PGP SIGNATURE-----\r\n\r\nAAAA\r\n-----END PGP SIGNATURE-----\r\n--b{i}--").encode()
write("bad-loop.eml", head("Loop") + loop + b"\r\n")

for home in (HOME, OTHER):
    subprocess.run(["gpgconf", "--kill", "all"], env=dict(os.environ, GNUPGHOME=home), stdin=subprocess.DEVNULL)
