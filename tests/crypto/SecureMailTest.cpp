// Signed and encrypted mail: finding the signed or encrypted layer in the
// stored text (with a stand-in engine), and every verdict through GnuPG on
// messages signed and encrypted with throwaway keys that the set-up makes
// in a GnuPG home of its own.
#include "CryptoEngine.h"
#include "MessageFile.h"
#include "SecureMessage.h"
#include "SecureParts.h"
#include "TMailMessage2000.h"
#include "../engine/TestUtil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

// Answers what it is told to: a decryption gives plain, a signature verdict.
struct TStandIn : TCryptoEngine {
    std::string plain;
    TSignatureVerdict verdict = TSignatureVerdict::Good;
    std::vector<std::string> seenSigned;
    int decrypts = 0;
    bool canDecrypt = true;
    bool signatureReadable = true;
    TCryptoResult Verdict()
    {
        TCryptoResult r;
        if (!signatureReadable)
            return r;
        TSignature s;
        s.verdict = verdict;
        s.keyAddresses = {"ann@example.org"};
        r.signatures.push_back(s);
        return r;
    }
    TCryptoResult VerifyDetached(TSecureProtocol, std::string_view text, std::string_view) override
    {
        seenSigned.emplace_back(text);
        return Verdict();
    }
    TCryptoResult VerifyOpaque(TSecureProtocol, std::string_view) override
    {
        TCryptoResult r = Verdict();
        r.plain = plain;
        return r;
    }
    TCryptoResult Decrypt(TSecureProtocol, std::string_view) override
    {
        ++decrypts;
        TCryptoResult r;
        r.decrypted = canDecrypt;
        if (canDecrypt)
            r.plain = plain;
        return r;
    }
};

const std::string kSigned = "From: Ann <ann@example.org>\r\nSubject: s\r\n"
                            "Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=b\r\n\r\n"
                            "preamble\r\n--b\r\nContent-Type: text/plain\r\n\r\nsigned text\r\n\r\n--b  \r\n"
                            "Content-Type: application/pgp-signature\r\n\r\nSIG\r\n--b--\r\n";

const std::string kEncrypted = "From: Ann <ann@example.org>\r\nSubject: ...\r\nDate: Mon, 2 Dec 2024 10:00:00 +0000\r\n"
                               "Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=e\r\n\r\n"
                               "--e\r\nContent-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n"
                               "--e\r\nContent-Type: application/octet-stream\r\n\r\nCIPHER\r\n--e--\r\n";

} // namespace

TEST(SecureParts, SignedBytesAreThePartAsStoredWithoutTheDelimitersLineBreak)
{
    const TSecureLayer layer = FindSecureLayer(kSigned);
    ASSERT_EQ(layer.kind, TLayerKind::Signed);
    EXPECT_EQ(layer.signedBytes, "Content-Type: text/plain\r\n\r\nsigned text\r\n");
    EXPECT_EQ(layer.payload, "SIG");
    EXPECT_FALSE(layer.partial);
    // A footer part after the signed one (a mailing list's): found, but
    // marked as not the whole message.
    const std::string mixed = "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\n" + kSigned.substr(kSigned.find("Content-Type"))
                              + "\r\n--m\r\nContent-Type: text/plain\r\n\r\nfooter\r\n--m--\r\n";
    const TSecureLayer inner = FindSecureLayer(mixed);
    ASSERT_EQ(inner.kind, TLayerKind::Signed);
    EXPECT_TRUE(inner.partial);
    EXPECT_EQ(inner.signedBytes, "Content-Type: text/plain\r\n\r\nsigned text\r\n");
}

TEST(SecureParts, LayersOfEveryKindAndNoneForBrokenOnes)
{
    EXPECT_EQ(FindSecureLayer(kEncrypted).kind, TLayerKind::Encrypted);
    EXPECT_EQ(FindSecureLayer(kEncrypted).payload, "CIPHER");
    const TSecureLayer p7 = FindSecureLayer("Content-Type: application/pkcs7-mime; name=smime.p7m\r\n"
                                            "Content-Transfer-Encoding: base64\r\n\r\nQUJD\r\n");
    EXPECT_EQ(p7.kind, TLayerKind::Encrypted);
    EXPECT_TRUE(p7.guessed);
    EXPECT_EQ(p7.payload, "ABC");
    EXPECT_EQ(FindSecureLayer("Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n\r\nx").kind,
              TLayerKind::SignedData);
    // Without smime-type the content type that opens the CMS data decides
    // (base64 of 30 80 06 09 2A 86 48 86 F7 0D 01 07 02, and of ... 07 03).
    const TSecureLayer signedData = FindSecureLayer("Content-Type: application/x-pkcs7-mime; name=smime.p7m\r\n"
                                                    "Content-Transfer-Encoding: base64\r\n\r\nMIAGCSqGSIb3DQEHAqCA\r\n");
    EXPECT_EQ(signedData.kind, TLayerKind::SignedData);
    EXPECT_FALSE(signedData.guessed);
    const TSecureLayer enveloped = FindSecureLayer("Content-Type: application/x-pkcs7-mime; name=smime.p7m\r\n"
                                                   "Content-Transfer-Encoding: base64\r\n\r\nMIAGCSqGSIb3DQEHA6CA\r\n");
    EXPECT_EQ(enveloped.kind, TLayerKind::Encrypted);
    EXPECT_FALSE(enveloped.guessed);
    // One part only, no boundary, a plain message: nothing to check.
    EXPECT_EQ(FindSecureLayer("Content-Type: multipart/signed; boundary=b\r\n\r\n--b\r\nx\r\n--b--\r\n").kind,
              TLayerKind::None);
    EXPECT_EQ(FindSecureLayer("Content-Type: multipart/signed\r\n\r\n--\r\n--\r\n").kind, TLayerKind::None);
    EXPECT_EQ(FindSecureLayer("Subject: x\r\n\r\nbody").kind, TLayerKind::None);
    EXPECT_EQ(CanonicalLineEnds("a\nb\rc\r\nd"), "a\r\nb\r\nc\r\nd");
}

TEST(SecureParts, DecryptedContentTakesTheContentFieldsAndKeepsTheOthers)
{
    const TSecureLayer layer = FindSecureLayer(kEncrypted);
    const std::string out = SpliceContent(kEncrypted, layer,
                                          "Subject: The real one\r\nContent-Type: text/plain\r\n\r\nsecret\r\n");
    EXPECT_EQ(out, "From: Ann <ann@example.org>\r\nDate: Mon, 2 Dec 2024 10:00:00 +0000\r\n"
                   "Subject: The real one\r\nContent-Type: text/plain\r\n\r\nsecret\r\n");
    // Content without a header of its own is a text.
    EXPECT_NE(SpliceContent(kEncrypted, layer, "just words\r\n").find("Content-Type: text/plain\r\n\r\njust words"),
              std::string::npos);
}

TEST(SecureParts, ClearSignedTextLosesItsArmourAndDashEscapes)
{
    const std::string text = "Before\r\n-----BEGIN PGP SIGNED MESSAGE-----\r\nHash: SHA256\r\n\r\nline one\r\n"
                             "- -- dashes\r\n-----BEGIN PGP SIGNATURE-----\r\n\r\nAAAA\r\n-----END PGP SIGNATURE-----\r\nAfter";
    const TClearSigned clear = FindClearSigned(text);
    ASSERT_TRUE(clear.found);
    EXPECT_TRUE(clear.complete);
    EXPECT_EQ(clear.shown, "line one\r\n-- dashes\r\n");
    EXPECT_EQ(text.substr(0, clear.begin), "Before\r\n");
    EXPECT_EQ(text.substr(clear.end), "After");
    EXPECT_FALSE(FindClearSigned(text.substr(0, text.find("-----END"))).complete);
}

TEST(SecureMessage, DecryptedMessageIsParsedInPlaceAndItsSignatureChecked)
{
    TStandIn engine;
    engine.plain = kSigned.substr(kSigned.find("Content-Type"));
    TMailMessage2000 m;
    std::string text = kEncrypted;
    m.ParseText(text, true);
    ASSERT_TRUE(MayBeSecure(m));
    const TMessageSecurity s = ReadSecurity(m, text, engine);
    EXPECT_EQ(s.encryption, TEncryptionState::Decrypted);
    ASSERT_EQ(s.signatures.size(), 1U);
    EXPECT_EQ(s.signatures[0].verdict, TSignatureVerdict::Good);
    EXPECT_FALSE(s.signatures[0].addressDiffers);
    ASSERT_EQ(engine.seenSigned.size(), 1U);
    EXPECT_EQ(engine.seenSigned[0], "Content-Type: text/plain\r\n\r\nsigned text\r\n");
    m.ScanParts();
    ASSERT_TRUE(m.TextPart);
    m.TextPart->Decode();
    EXPECT_EQ(m.TextPart->Decoded, "signed text\r\n");
    EXPECT_EQ(m.GetFromAddress(), "ann@example.org");
}

TEST(SecureMessage, AMessageThatDecryptsToItselfStopsWithAVerdict)
{
    TStandIn engine;
    engine.plain = kEncrypted.substr(kEncrypted.find("Content-Type"));
    TMailMessage2000 m;
    std::string text = kEncrypted;
    m.ParseText(text, true);
    const TMessageSecurity s = ReadSecurity(m, text, engine);
    EXPECT_EQ(engine.decrypts, 4);
    ASSERT_EQ(s.signatures.size(), 1U);
    EXPECT_EQ(s.signatures[0].verdict, TSignatureVerdict::NotChecked);
    EXPECT_EQ(VerifyExitStatus(s), 2);
}

TEST(SecureMessage, WhatComesOutWithoutASignatureIsNeverShown)
{
    // Encrypted data that cannot be decrypted, read as signed data, gives
    // bytes but no signature: those bytes are no content (they showed as a
    // garbage body), so the part stays an attachment. Whether unlabelled,
    // or enveloped data labelled as signed.
    TStandIn engine;
    engine.canDecrypt = false;
    engine.signatureReadable = false;
    engine.plain = "\x5d\x1b\x94\x4c garbage";
    for (const char* type : {"; name=smime.p7m\r\n\r\nQUJD",
                             "; smime-type=signed-data; name=smime.p7m\r\n\r\nMIAGCSqGSIb3DQEHA6CA"}) {
        std::string text = std::string("From: a@b\r\nContent-Transfer-Encoding: base64\r\n"
                                       "Content-Type: application/pkcs7-mime") + type + "\r\n";
        const std::string payload = type;
        TMailMessage2000 m;
        m.ParseText(text, true);
        const TMessageSecurity s = ReadSecurity(m, text, engine);
        m.RebuildStructure(0);
        m.ScanParts();
        EXPECT_EQ(m.TextPart, nullptr) << payload;
        ASSERT_EQ(m.AttachList.Count(), 1U) << payload;
        EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "smime.p7m");
        EXPECT_EQ(VerifyExitStatus(s), 2);
    }
}

TEST(SecureMessage, AGoodVerdictIsOnlyForWhatIsShown)
{
    TStandIn engine; // every signature it is shown is good
    auto verdict = [&engine](const std::string& shown, const std::string& stored) {
        TMailMessage2000 m;
        std::string text = shown;
        m.ParseText(text, true);
        return ReadSecurity(m, stored, engine).signatures.at(0);
    };
    // The engine reads the first Content-Type, and so does the search for
    // the signed part: a second one beneath a plain text makes no signed
    // message of it.
    EXPECT_EQ(FindSecureLayer("Content-Type: text/plain\r\n" + kSigned).kind, TLayerKind::None);
    // A file that changed between the two reads (or one the two readers
    // could read two ways) shows other text than was checked: not checked.
    std::string other = kSigned;
    other.replace(other.find("signed text"), 11, "other words");
    const TSignature changed = verdict(other, kSigned);
    EXPECT_EQ(changed.verdict, TSignatureVerdict::NotChecked);
    EXPECT_NE(changed.detail.find("more than one way"), std::string::npos);
    EXPECT_EQ(verdict(kSigned, kSigned).verdict, TSignatureVerdict::Good);
    EXPECT_FALSE(verdict(kSigned, kSigned).partial);
    // A third part beside the signed text and its signature is shown too,
    // unsigned: the verdict is for part of the message.
    std::string third = kSigned;
    third.insert(third.rfind("--b--"), "--b\r\nContent-Type: text/plain\r\n\r\nAdded later\r\n");
    const TSignature extra = verdict(third, third);
    EXPECT_EQ(extra.verdict, TSignatureVerdict::Good);
    EXPECT_TRUE(extra.partial);
    // The signature first: the signed part is the other one.
    const std::string first = "Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=b\r\n\r\n"
                              "--b\r\nContent-Type: application/pgp-signature\r\n\r\nSIG\r\n"
                              "--b\r\nContent-Type: text/plain\r\n\r\nsigned text\r\n--b--\r\n";
    const TSecureLayer layer = FindSecureLayer(first);
    EXPECT_EQ(layer.signedBytes, "Content-Type: text/plain\r\n\r\nsigned text");
    EXPECT_EQ(layer.payload, "SIG");
    EXPECT_EQ(verdict(first, first).verdict, TSignatureVerdict::Good);
}

TEST(SecureMessage, InlineSignedTextBesideOtherShownTextIsPartlySigned)
{
    const std::string clear = "-----BEGIN PGP SIGNED MESSAGE-----\r\nHash: SHA256\r\n\r\nsigned words\r\n"
                              "-----BEGIN PGP SIGNATURE-----\r\n\r\nAAAA\r\n-----END PGP SIGNATURE-----\r\n";
    auto partial = [&clear](const std::string& shape) {
        TStandIn engine;
        TMailMessage2000 m;
        std::string text = shape.empty() ? "Content-Type: text/plain\r\n\r\n" + clear : shape;
        m.ParseText(text, true);
        TMessageSecurity s;
        ReadInlineSignature(m, engine, s);
        return s.signatures.at(0).partial;
    };
    EXPECT_FALSE(partial(""));
    EXPECT_TRUE(partial("Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\n" + clear
                        + "\r\n--m\r\nContent-Type: text/plain\r\n\r\nnot signed at all\r\n--m--\r\n"));
}

TEST(SecureMessage, ASignedFileKeepsItsBinaryPartsAsLoaded)
{
    // A file with LF line ends: the load keeps a binary part's bytes as
    // they are; checking the signature must not parse the message again
    // from the text with CR LF.
    const std::string lf = "From: Ann <ann@example.org>\n"
                           "Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; boundary=b\n\n"
                           "--b\nContent-Type: multipart/mixed; boundary=m\n\n"
                           "--m\nContent-Type: text/plain\n\ntext\n"
                           "--m\nContent-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: binary\n\n"
                           "AB\nCD\n--m--\n\n--b\nContent-Type: application/pgp-signature\n\nSIG\n--b--\n";
    testutil::TempDir dir;
    TMailMessage2000 m;
    m.LoadFromFile(dir.Write("lf.eml", lf));
    TStandIn engine;
    (void)ReadSecurity(m, CanonicalLineEnds(lf), engine);
    m.RebuildStructure(0);
    m.ScanParts();
    TMailPart* file = nullptr;
    for (TMailPart* a : m.AttachList)
        if (a->GetFileName() == "a.bin")
            file = a;
    ASSERT_NE(file, nullptr);
    file->Decode();
    EXPECT_EQ(file->Decoded, "AB\nCD");
}

TEST(SecureMessage, SignedWithoutItsSignatureIsNotCheckedNotSilent)
{
    TStandIn engine;
    std::string text = "Content-Type: multipart/signed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nx\r\n--b--\r\n";
    TMailMessage2000 m;
    m.ParseText(text, true);
    const TMessageSecurity s = ReadSecurity(m, text, engine);
    ASSERT_EQ(s.signatures.size(), 1U);
    EXPECT_EQ(s.signatures[0].verdict, TSignatureVerdict::NotChecked);
    EXPECT_TRUE(engine.seenSigned.empty());
}

TEST(MessageSecurity, TheWorstSignatureDecides)
{
    TMessageSecurity s;
    EXPECT_EQ(VerifyExitStatus(s), 2);
    s.signatures.resize(2);
    s.signatures[0].verdict = TSignatureVerdict::Good;
    s.signatures[1].verdict = TSignatureVerdict::KeyMissing;
    EXPECT_EQ(VerifyExitStatus(s), 2);
    s.signatures[1].verdict = TSignatureVerdict::Bad;
    EXPECT_EQ(VerifyExitStatus(s), 1);
    s.signatures[1].verdict = TSignatureVerdict::GoodUntrusted;
    EXPECT_EQ(VerifyExitStatus(s), 0);
    EXPECT_EQ(DecidingSignature(s), &s.signatures[1]);
}

// Through GnuPG, on messages the set-up signs and encrypts.
class GnuPG : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/corvanta-gpg-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        s_dir = pattern;
        // Decryption writes no temporary file: this folder stays empty.
        fs::create_directory(s_dir / "tmp");
        setenv("TMPDIR", (s_dir / "tmp").c_str(), 1);
        const std::string command = "python3 " CORVANTA_SOURCE "/tests/crypto/make_secure_mail.py " + s_dir.string();
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        setenv("GNUPGHOME", (s_dir / "gnupg").c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        if (s_dir.empty())
            return;
        // Every agent the tests started stops with them.
        for (const char* home : {"gnupg", "other"})
            std::system(("GNUPGHOME=" + (s_dir / home).string() + " gpgconf --kill all").c_str());
        EXPECT_TRUE(fs::is_empty(s_dir / "tmp"));
        fs::remove_all(s_dir);
    }
    static TMessageSecurity Load(const std::string& name, TMailMessage2000& m)
    {
        TMessageSecurity s;
        LoadMessageFile(m, (s_dir / "mail" / name).string(), s);
        return s;
    }
    static TMessageSecurity Load(const std::string& name)
    {
        TMailMessage2000 m;
        return Load(name, m);
    }
    static std::string TextBody(TMailMessage2000& m)
    {
        m.ScanParts();
        if (!m.TextPart)
            return "(none)";
        m.TextPart->Decode();
        return m.TextPart->Decoded;
    }
    static inline fs::path s_dir;
};

TEST_F(GnuPG, EveryVerdict)
{
    const std::map<std::string, TSignatureVerdict> expected = {
        {"pgp-good.eml", TSignatureVerdict::Good},
        {"pgp-changed.eml", TSignatureVerdict::Bad},
        {"pgp-header-changed.eml", TSignatureVerdict::Good},
        {"pgp-lf.eml", TSignatureVerdict::Good},
        {"pgp-unknown-key.eml", TSignatureVerdict::KeyMissing},
        {"pgp-untrusted.eml", TSignatureVerdict::GoodUntrusted},
        {"pgp-expired.eml", TSignatureVerdict::KeyExpired},
        {"pgp-revoked.eml", TSignatureVerdict::KeyRevoked},
        {"inline.eml", TSignatureVerdict::Good},
        {"inline-changed.eml", TSignatureVerdict::Bad},
        {"inline-truncated.eml", TSignatureVerdict::NotChecked},
        {"smime-good.eml", TSignatureVerdict::Good},
        {"smime-changed.eml", TSignatureVerdict::Bad},
        {"smime-opaque.eml", TSignatureVerdict::Good},
        {"bad-truncated-armour.eml", TSignatureVerdict::NotChecked},
        {"bad-huge-signature.eml", TSignatureVerdict::NotChecked},
        {"bad-loop.eml", TSignatureVerdict::NotChecked},
    };
    for (const auto& [name, verdict] : expected) {
        const auto start = std::chrono::steady_clock::now();
        const TMessageSecurity s = Load(name);
        ASSERT_EQ(s.signatures.size(), 1U) << name;
        EXPECT_EQ(VerdictName(s.signatures[0].verdict), std::string(VerdictName(verdict))) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name;
    }
    const TMessageSecurity good = Load("pgp-good.eml");
    EXPECT_EQ(good.signatures[0].signerName, "Alice Example");
    EXPECT_EQ(good.signatures[0].signerAddress, "alice@example.org");
    EXPECT_GT(good.signatures[0].time, 0);
    EXPECT_EQ(good.signatures[0].fingerprint.size(), 40U);
    EXPECT_EQ(Load("smime-good.eml").signatures[0].signerName, "Bob Smime");
    EXPECT_FALSE(Load("pgp-unknown-key.eml").signatures[0].fingerprint.empty());
}

TEST_F(GnuPG, SignerAddressThatIsNotFromIsSaid)
{
    const TMessageSecurity s = Load("pgp-other-from.eml");
    ASSERT_EQ(s.signatures.size(), 1U);
    EXPECT_TRUE(s.signatures[0].addressDiffers);
    EXPECT_NE(SignatureSentence(s.signatures[0]).find("is not the From address mallory@example.net"), std::string::npos);
    EXPECT_FALSE(Load("pgp-good.eml").signatures[0].addressDiffers);
}

TEST_F(GnuPG, DecryptedMessagesShowLikeAnyOther)
{
    TMailMessage2000 m;
    const TMessageSecurity s = Load("pgp-encrypted.eml", m);
    EXPECT_EQ(s.encryption, TEncryptionState::Decrypted);
    ASSERT_EQ(s.signatures.size(), 1U); // the signed message inside
    EXPECT_EQ(s.signatures[0].verdict, TSignatureVerdict::Good);
    EXPECT_EQ(m.GetSubject(), "The real subject");
    EXPECT_NE(TextBody(m).find("this text is signed. Caf\xC3\xA9"), std::string::npos);
    ASSERT_EQ(m.AttachList.Count(), 2U);
    EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "notes.txt");

    TMailMessage2000 combined;
    const TMessageSecurity c = Load("pgp-encrypted-combined.eml", combined);
    EXPECT_EQ(c.encryption, TEncryptionState::Decrypted);
    ASSERT_EQ(c.signatures.size(), 1U);
    EXPECT_EQ(c.signatures[0].verdict, TSignatureVerdict::Good);
    EXPECT_EQ(TextBody(combined), "The secret text.\r\n");

    TMailMessage2000 smime;
    const TMessageSecurity e = Load("smime-encrypted.eml", smime);
    EXPECT_EQ(e.encryption, TEncryptionState::Decrypted);
    EXPECT_EQ(e.encryptionProtocol, TSecureProtocol::SMime);
    ASSERT_EQ(e.signatures.size(), 1U);
    EXPECT_EQ(e.signatures[0].verdict, TSignatureVerdict::Good);
    EXPECT_EQ(TextBody(smime), "Signed with S/MIME.\r\n");
}

TEST_F(GnuPG, NoKeyListsTheRecipientsAndShowsNoBody)
{
    TMailMessage2000 m;
    const TMessageSecurity s = Load("pgp-wrong-recipient.eml", m);
    EXPECT_EQ(s.encryption, TEncryptionState::NoKey);
    ASSERT_FALSE(s.recipients.empty());
    EXPECT_EQ(s.recipients[0].size(), 16U);
    EXPECT_NE(EncryptionSentence(s).find(s.recipients[0]), std::string::npos);
    EXPECT_EQ(TextBody(m), "(none)");
    EXPECT_EQ(VerifyExitStatus(s), 2);
}

TEST_F(GnuPG, InlineTextIsShownWithoutArmour)
{
    TMailMessage2000 m;
    const TMessageSecurity s = Load("inline.eml", m);
    EXPECT_EQ(TextBody(m), "Hello inline,\r\n- a line that starts with a dash\r\nplain text signed.\r\n");
    EXPECT_FALSE(s.signatures[0].partial);
}

TEST_F(GnuPG, WithoutGnuPGTheVerdictSaysWhy)
{
    const auto engine = MakeGnuPGEngine("/nonexistent/gpg", "/nonexistent/gpgsm");
    TMailMessage2000 m;
    const TMessageSecurity s = ReadSecurity(m, CanonicalLineEnds(kSigned), *engine);
    ASSERT_EQ(s.signatures.size(), 1U);
    EXPECT_EQ(s.signatures[0].verdict, TSignatureVerdict::NotChecked);
    EXPECT_NE(VerdictWords(s.signatures[0]).find("gpg is not installed"), std::string::npos);
}
