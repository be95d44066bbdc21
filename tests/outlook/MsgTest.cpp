// .msg files: the compound file under hostile damage, and what a reader of
// the message sees (fields, bodies, recipients, attachments, attached items)
// once the file is read into the engine's message.
#include "CompoundFile.h"
#include "EngineError.h"
#include "HeaderLine.h"
#include "MapiProps.h"
#include "MessageFile.h"
#include "MsgFile.h"
#include "MsgWriter.h"
#include "OutlookError.h"
#include "OutlookMessage.h"
#include "TMailMessage2000.h"
#include "../engine/TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace msgwriter;

namespace {

// The engine's message the viewer would show for the .msg bytes.
void Load(TMailMessage2000& m, std::string_view msg)
{
    std::string mime = OutlookFileToMime(msg);
    m.ParseText(mime, true);
    m.RebuildStructure(0);
    m.ScanParts();
}

std::string Decoded(TMailPart* p)
{
    if (!p)
        return "(none)";
    p->Decode();
    return p->Decoded;
}

std::vector<std::string> Names(const TMailMessage2000& m)
{
    std::vector<std::string> names;
    for (const TMailPart* p : m.AttachList)
        names.push_back(p->GetFileName() + (p->Embedded ? " (embedded)" : ""));
    return names;
}

Props MailProps()
{
    Props p;
    p.Unicode(0x001A, "IPM.Note");
    p.Unicode(0x0037, "Quarterly réport ✓");
    p.Unicode(0x0042, "Ann Author");
    p.Unicode(0x0065, "ann@example.com");
    p.Unicode(0x0064, "SMTP");
    p.Time(0x0039, 1700000000); // 14 Nov 2023 22:13:20 UTC
    p.Unicode(0x1000, "Plain body\r\nsecond line");
    return p;
}

} // namespace

TEST(CompoundFile, DamageGivesShortStreamsNeverAHang)
{
    const std::string file = WriteCompoundFile(Storage("", {Stream("a", std::string(2000, 'a')),
                                                            Stream("b", std::string(600, 'b'))}));
    ASSERT_FALSE(file.empty());
    {
        const TCompoundFile f(file);
        EXPECT_FALSE(f.Damaged());
        ASSERT_EQ(f.Children(f.Root()).size(), 2u);
        EXPECT_EQ(f.Read(f.Find(f.Root(), "a")), std::string(2000, 'a'));
    }
    // Stream a's chain: FAT sectors 0, directory 1, a in 2..5, b in 6..7.
    auto fatEntry = [](std::string& bytes, std::size_t index, std::uint32_t value) {
        Put32(bytes, 512 + 4 * index, value);
    };
    {
        std::string looped = file;
        fatEntry(looped, 3, 2); // a's second sector leads back to its first
        const TCompoundFile f(looped);
        const std::string a = f.Read(f.Find(f.Root(), "a"));
        EXPECT_LE(a.size(), 2000u);
        EXPECT_TRUE(f.Damaged() || a.size() == 2000u);
    }
    {
        std::string self = file;
        fatEntry(self, 0, 0); // the FAT's own sector points at itself
        fatEntry(self, 2, 2); // and a's first sector too
        const TCompoundFile f(self);
        EXPECT_LE(f.Read(f.Find(f.Root(), "a")).size(), 2000u);
    }
    {
        std::string huge = file;
        // a claims 4 GB; b's sectors lie past the file's end.
        Put32(huge, 1024 + 128 + 0x78, 0xFFFFFF00u);
        Put32(huge, 1024 + 256 + 0x74, 5000);
        const TCompoundFile f(huge);
        const std::string a = f.Read(f.Find(f.Root(), "a"));
        EXPECT_LE(a.size(), huge.size());
        // Room for what its chain holds, not for what it claims: otherwise
        // every such stream of a file takes twice the file.
        EXPECT_LE(a.capacity(), 4096u);
        EXPECT_EQ(f.Read(f.Find(f.Root(), "b")), "");
        EXPECT_TRUE(f.Damaged());
    }
    {
        std::string circle = file;
        Put32(circle, 1024 + 256 + 0x48, 1); // b's right sibling is a again
        Put32(circle, 1024 + 0x4C, 2);       // and the root's child is b
        const TCompoundFile f(circle);
        EXPECT_EQ(f.Children(f.Root()).size(), 2u);
        EXPECT_TRUE(f.Damaged());
    }
    EXPECT_THROW(TCompoundFile(file.substr(0, 300)), EOutlookError);
    EXPECT_THROW(TCompoundFile("not a compound file"), EOutlookError);
}

TEST(CompoundFile, LargeFilesListTheirFatPastTheHeader)
{
    // 9 MB in 512-byte sectors: more FAT sectors than the header lists.
    std::string data(9 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string file = WriteCompoundFile(Storage("", {Stream("big", data), Stream("after", "tail")}));
    ASSERT_GT(ReadLe32(file, 0x48), 0u); // DIFAT sectors
    const TCompoundFile f(file);
    EXPECT_EQ(f.Read(f.Find(f.Root(), "big")), data);
    EXPECT_EQ(f.Read(f.Find(f.Root(), "after")), "tail");
    EXPECT_FALSE(f.Damaged());
}

TEST(CompoundFile, AMillionTinyStreamsReadInLinearTime)
{
    Node root = Storage("", {});
    root.children.reserve(1000000);
    for (int i = 0; i < 1000000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "__substg1.0_%04X0102", static_cast<unsigned>(i & 0x7FFF));
        root.children.push_back(Stream(name, {}));
    }
    const std::string file = WriteCompoundFile(root, 12);
    ASSERT_FALSE(file.empty());
    const auto start = std::chrono::steady_clock::now();
    // Readable, or refused with a clear error: never a hang.
    try {
        TMailMessage2000 m;
        Load(m, file);
        EXPECT_EQ(m.AttachList.Count(), 0u);
    } catch (const EMailError&) {
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 60.0); // some seconds under the sanitizers; quadratic work would take hours
}

TEST(Msg, FieldsBodiesAndRecipientsFromProperties)
{
    Props p = MailProps();
    p.Unicode(0x0E04, "Bob Reader; Carol");
    const std::string file = WriteCompoundFile(Message(
        p, {{"Bob Reader", "bob@example.com", 1}, {"Carol", "carol@example.com", 1}, {"Dan", "dan@example.com", 2}},
        {}));
    TMailMessage2000 m;
    Load(m, file);
    EXPECT_EQ(DecodeHeaderWords(m.GetSubject()), "Quarterly réport ✓");
    EXPECT_EQ(m.GetFromName(), "Ann Author");
    EXPECT_EQ(m.GetFromAddress(), "ann@example.com");
    EXPECT_EQ(m.ToList.GetAddressesText(), "bob@example.com,carol@example.com");
    EXPECT_EQ(m.CcList.GetAddressesText(), "dan@example.com");
    EXPECT_EQ(m.GetLabelValue("Date"), "Tue, 14 Nov 2023 22:13:20 +0000");
    EXPECT_EQ(Decoded(m.TextPart), "Plain body\r\nsecond line");
    EXPECT_EQ(m.HtmlPart, nullptr);
}

TEST(Msg, EightBitStringsInTheMessageCodePage)
{
    Props p;
    p.String8(0x0037, "\xcf\xf0\xe8\xe2\xe5\xf2"); // "Привет" in Windows-1251
    p.String8(0x0C1A, "\xc8\xe2\xe0\xed");         // "Иван"
    p.String8(0x1000, "\xf2\xe5\xea\xf1\xf2");     // "текст"
    p.Long(0x3FFD, 1251);
    TMailMessage2000 m;
    Load(m, WriteCompoundFile(Message(p, {}, {})));
    EXPECT_EQ(DecodeHeaderWords(m.GetSubject()), "Привет");
    EXPECT_EQ(DecodeHeaderWords(m.GetFromName()), "Иван");
    EXPECT_EQ(Decoded(m.TextPart), "текст");
}

TEST(Msg, TransportHeadersGiveTheFieldsButNotTheOldStructure)
{
    Props p = MailProps();
    p.Unicode(0x007D, "Received: from mx\r\n\tby relay\r\nFrom:\r\n Header Sender <hs@example.org>\r\nSubject: "
                      "From the header\r\nContent-Type: multipart/mixed;\r\n boundary=\"gone\"\r\nMIME-Version: 1.0\r\n"
                      "X-Kept: yes\r\n\r\n");
    TMailMessage2000 m;
    Load(m, WriteCompoundFile(Message(p, {{"Bob", "bob@example.com", 1}}, {})));
    // A field folded after its colon is there all the same: not written twice.
    EXPECT_EQ(m.GetFromAddress(), "hs@example.org");
    EXPECT_EQ(std::count_if(m.Header.begin(), m.Header.end(), [](const std::string& l) { return IStartsWith(l, "From:"); }), 1);
    EXPECT_EQ(m.GetSubject(), "From the header");
    EXPECT_EQ(m.GetLabelValue("X-Kept"), "yes");
    EXPECT_EQ(m.GetBoundary().find("gone"), std::string::npos);
    // What the header lacks comes from the properties.
    EXPECT_EQ(m.ToList.GetAddressesText(), "bob@example.com");
    EXPECT_EQ(Decoded(m.TextPart), "Plain body\r\nsecond line");
}

TEST(Msg, ExchangeSenderShowsItsSmtpAddressOrNone)
{
    Props p;
    p.Unicode(0x0C1A, "Myriam");
    p.Unicode(0x0C1E, "EX");
    p.Unicode(0x0C1F, "/O=EXCHANGELABS/OU=EXCHANGE ADMINISTRATIVE GROUP (FYDIBOHF23SPDLT)/CN=RECIPIENTS/CN=X");
    TMailMessage2000 m;
    Load(m, WriteCompoundFile(Message(p, {}, {})));
    EXPECT_EQ(m.GetFromName(), "Myriam");
    EXPECT_EQ(m.GetFromAddress(), "");
    p.Unicode(0x3FFA, "Myriam");
    p.Unicode(0x5D0B, "myriam@example.fr");
    Load(m, WriteCompoundFile(Message(p, {}, {})));
    EXPECT_EQ(m.GetFromAddress(), "myriam@example.fr");
}

TEST(Msg, AttachmentsOfEveryKind)
{
    Props p = MailProps();
    p.Binary(0x1013, "<html><body><p>See <img src=\"cid:logo@1\"></p></body></html>");
    std::vector<Attachment> attachments(5);
    {
        Props& a = attachments[0].props; // a file by value, long name
        a.Long(0x3705, 1);
        a.Unicode(0x3704, "REPORT~1.PDF");
        a.Unicode(0x3707, "Report for 2023 – final.pdf");
        a.Unicode(0x370E, "application/pdf");
        a.Binary(0x3701, "%PDF-1.4 data");
    }
    {
        Props& a = attachments[1].props; // the picture the HTML shows
        a.Long(0x3705, 1);
        a.Unicode(0x3707, "logo.png");
        a.Unicode(0x370E, "image/png");
        a.Unicode(0x3712, "logo@1");
        a.Bool(0x7FFE, true);
        a.Binary(0x3701, "\x89PNG");
    }
    {
        Props& a = attachments[2].props; // an attached item
        a.Long(0x3705, 5);
        a.Unicode(0x3001, "Inner subject");
        a.Object(0x3701);
        Props inner;
        inner.Unicode(0x0037, "Inner subject");
        inner.Unicode(0x0C1A, "Inner Sender");
        inner.Unicode(0x5D01, "inner@example.com");
        inner.Unicode(0x1000, "Inner body");
        Node object = Message(inner, {{"Zed", "zed@example.com", 1}}, {}, 24);
        object.name = "__substg1.0_3701000D";
        object.storage = true;
        attachments[2].extra.push_back(std::move(object));
    }
    {
        Props& a = attachments[3].props; // a link to a file elsewhere
        a.Long(0x3705, 4);
        a.Unicode(0x3707, "plan.xlsx");
        a.Unicode(0x370D, "\\\\server\\share\\plan.xlsx");
    }
    {
        Props& a = attachments[4].props; // an OLE object holding no file
        a.Long(0x3705, 6);
        a.Unicode(0x3001, "Picture (Device Independent Bitmap)");
        a.Object(0x3701);
        attachments[4].extra.push_back(Storage("__substg1.0_3701000D", {Stream("CONTENTS", "bitmap")}));
    }
    TMailMessage2000 m;
    Load(m, WriteCompoundFile(Message(p, {}, attachments)));
    EXPECT_EQ(Names(m), (std::vector<std::string>{"logo.png (embedded)", "Report for 2023 – final.pdf",
                                                   "Inner subject.eml", "plan.xlsx (not in the message).txt",
                                                   "Picture (Device Independent Bitmap) (not in the message).txt"}));
    EXPECT_EQ(Decoded(m.AttachList.Items(1)), "%PDF-1.4 data");
    EXPECT_EQ(m.AttachList.Items(1)->GetContentType(), "application/pdf");
    EXPECT_EQ(m.AttachList.Items(0)->GetLabelValue("Content-ID"), "<logo@1>");
    EXPECT_NE(Decoded(m.AttachList.Items(3)).find("\\\\server\\share\\plan.xlsx"), std::string::npos);
    // The attached item opens as a forwarded message does.
    TMailPart* item = m.AttachList.Items(2);
    EXPECT_EQ(item->GetContentType(), "message/rfc822");
    TMailMessage2000 inner;
    std::string text = Decoded(item);
    inner.ParseText(text, true);
    inner.ScanParts();
    EXPECT_EQ(inner.GetSubject(), "Inner subject");
    EXPECT_EQ(inner.GetFromAddress(), "inner@example.com");
    EXPECT_EQ(inner.ToList.GetAddressesText(), "zed@example.com");
    EXPECT_EQ(Decoded(inner.TextPart), "Inner body");
    EXPECT_NE(Decoded(m.HtmlPart).find("cid:logo@1"), std::string::npos);
}

TEST(Msg, SignedMailIsTheMessageAsSent)
{
    const std::string entity = "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\"; "
                               "boundary=\"s\"\r\n\r\n--s\r\nContent-Type: text/plain\r\n\r\nSigned text\r\n--s\r\n"
                               "Content-Type: application/pkcs7-signature; name=smime.p7s\r\n\r\nSIG\r\n--s--\r\n";
    Props p = MailProps();
    p.Unicode(0x001A, "IPM.Note.SMIME.MultipartSigned");
    std::vector<Attachment> attachments(1);
    attachments[0].props.Unicode(0x3707, "smime.p7m");
    attachments[0].props.Unicode(0x370E, "multipart/signed");
    attachments[0].props.Binary(0x3701, entity);
    // Byte for byte, and read as the signed message it is.
    const std::string mime = OutlookFileToMime(WriteCompoundFile(Message(p, {}, attachments)));
    EXPECT_TRUE(mime.ends_with("MIME-Version: 1.0\r\n" + entity));
    TMailMessage2000 m;
    m.ParseText(mime.data(), mime.size(), true);
    m.ScanParts();
    EXPECT_EQ(m.GetContentType(), "multipart/signed");
    EXPECT_EQ(Decoded(m.TextPart), "Signed text");
    EXPECT_EQ(m.GetFromAddress(), "ann@example.com");
    // Encrypted mail keeps its PKCS #7 object as the message's one part.
    attachments[0].props = Props();
    attachments[0].props.Unicode(0x370E, "application/pkcs7-mime");
    attachments[0].props.Binary(0x3701, "\x30\x80 DER");
    p.Unicode(0x001A, "IPM.Note.SMIME");
    Load(m, WriteCompoundFile(Message(p, {}, attachments)));
    EXPECT_EQ(m.GetContentType(), "application/pkcs7-mime");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "smime-type"), "enveloped-data");
    m.Decode();
    EXPECT_EQ(m.Decoded, std::string("\x30\x80 DER"));
}

TEST(Msg, BodyFromCompressedRtfWhenThereIsNoOther)
{
    // "{\rtf1\ansi\ansicpg1252\pard hello world}\r\n", stored uncompressed.
    const std::string rtf = "{\\rtf1\\ansi\\ansicpg1252\\pard hello w\\'f6rld}\r\n";
    const std::string stored = Le32(static_cast<std::uint32_t>(rtf.size() + 12)) + Le32(static_cast<std::uint32_t>(rtf.size()))
                               + "MELA" + Le32(0) + rtf;
    Props p;
    p.Unicode(0x0037, "RTF only");
    p.Binary(0x1009, stored);
    TMailMessage2000 m;
    Load(m, WriteCompoundFile(Message(p, {}, {})));
    EXPECT_EQ(Decoded(m.TextPart), "hello wörld\r\n");
}

TEST(Msg, OtherItemClassesShowTheirFields)
{
    const std::string appointment(kPsetidAppointment);
    Props p;
    p.Unicode(0x001A, "IPM.Appointment");
    p.Unicode(0x0037, "Planning");
    p.Unicode(0x1000, "Agenda");
    // Named property 0x8000 is the appointment's location.
    p.Unicode(0x8000, "Room 4");
    Node root = Message(p, {}, {});
    root.children.push_back(Storage("__nameid_version1.0",
                                    {Stream("__substg1.0_00020102", appointment),
                                     Stream("__substg1.0_00030102", Le32(0x8208) + Le32((0u << 16) | (3u << 1))),
                                     Stream("__substg1.0_00040102", "")}));
    TMailMessage2000 m;
    Load(m, WriteCompoundFile(root));
    EXPECT_EQ(m.GetSubject(), "Planning");
    EXPECT_EQ(Decoded(m.TextPart), "Item: Appointment\r\nLocation: Room 4\r\n\r\nAgenda");
}

TEST(Msg, CutFilesGiveTheirReadablePartOrAClearError)
{
    Props p = MailProps();
    std::vector<Attachment> attachments(1);
    attachments[0].props.Unicode(0x3707, "big.bin");
    attachments[0].props.Binary(0x3701, std::string(20000, 'x'));
    const std::string file = WriteCompoundFile(Message(p, {}, attachments));
    for (std::size_t cut : {file.size() / 2, file.size() - 3000, std::size_t{1500}, std::size_t{600}}) {
        SCOPED_TRACE(cut);
        try {
            TMailMessage2000 m;
            Load(m, file.substr(0, cut));
            EXPECT_NE(Decoded(m.TextPart).find("damaged"), std::string::npos);
        } catch (const EOutlookError& e) {
            EXPECT_NE(std::string(e.what()).size(), 0u);
        }
    }
}

TEST(Loader, TellsOutlookFilesByContentWhateverTheirName)
{
    testutil::TempDir dir;
    const std::string msg = dir.Write("looks-like.eml", WriteCompoundFile(Message(MailProps(), {}, {})));
    TMailMessage2000 m;
    LoadMessageFile(m, msg);
    m.ScanParts();
    EXPECT_EQ(m.GetFromAddress(), "ann@example.com");
    // An ordinary message is still read as one.
    LoadMessageFile(m, dir.Write("plain.msg", "Subject: plain\r\n\r\nbody\r\n"));
    EXPECT_EQ(m.GetSubject(), "plain");
    EXPECT_THROW(LoadMessageFile(m, dir.File("missing.msg")), EFOpenError);
}
