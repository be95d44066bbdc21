// TNEF streams (bare, and as the winmail.dat of an .eml), and the RTF
// bodies both forms carry: decompression, the HTML inside, the text.
#include "MapiProps.h"
#include "MessageFile.h"
#include "MsgWriter.h"
#include "OutlookError.h"
#include "OutlookMessage.h"
#include "Rtf.h"
#include "TMailMessage2000.h"
#include "Tnef.h"
#include "../engine/TestUtil.h"

#include "Codecs.h"

#include <gtest/gtest.h>

#include <algorithm>

using msgwriter::Le32;
using msgwriter::Utf16;

namespace {

std::string Attribute(char level, std::uint32_t id, const std::string& data)
{
    std::uint16_t sum = 0;
    for (char c : data)
        sum = static_cast<std::uint16_t>(sum + static_cast<unsigned char>(c));
    return std::string(1, level) + Le32(id) + Le32(static_cast<std::uint32_t>(data.size())) + data
           + std::string{static_cast<char>(sum & 0xFF), static_cast<char>(sum >> 8)};
}

std::string Padded(std::string s)
{
    s.resize((s.size() + 3) / 4 * 4, '\0');
    return s;
}

// One Unicode property as TNEF lists it: tag, one value, its length.
std::string UnicodeProp(std::uint16_t id, std::string_view utf8)
{
    const std::string v = Utf16(utf8) + std::string(2, '\0');
    return Le32((std::uint32_t{id} << 16) | 0x001F) + Le32(1) + Le32(static_cast<std::uint32_t>(v.size())) + Padded(v);
}

std::string Tnef(const std::string& attributes) { return Le32(0x223E9F78) + std::string("\x01\x00", 2) + attributes; }

// A stream with a subject, a body, and two files: one named only by its
// short title, one with a long Unicode name.
std::string TwoFiles(const std::string& body = "Body text\r\n")
{
    std::string s;
    s += Attribute(1, 0x00069007, Le32(1252) + Le32(0));
    s += Attribute(1, 0x00018004, "Caf\xe9 menu");
    s += Attribute(1, 0x0002800C, body);
    s += Attribute(2, 0x00069002, std::string(14, '\0'));
    s += Attribute(2, 0x00018010, "NOTES");
    s += Attribute(2, 0x0006800F, "first file");
    s += Attribute(2, 0x00069002, std::string(14, '\0'));
    s += Attribute(2, 0x00018010, "LONGNA~1.TXT");
    s += Attribute(2, 0x0006800F, "second file");
    s += Attribute(2, 0x00069005, Le32(1) + UnicodeProp(0x3707, "Long name – ünïcode.txt"));
    return Tnef(s);
}

std::string WithWinmail(const std::string& tnef, const std::string& text)
{
    std::string b64;
    Base64EncodeStream(b64, tnef);
    return "From: a@example.com\r\nSubject: outer\r\nMIME-Version: 1.0\r\n"
           "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\nContent-Type: text/plain\r\n\r\n"
           + text + "\r\n--B\r\nContent-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
                    "Content-Transfer-Encoding: base64\r\n\r\n"
           + b64 + "\r\n--B--\r\n";
}

std::vector<std::string> Names(TMailMessage2000& m)
{
    m.RebuildStructure(0);
    m.ScanParts();
    std::vector<std::string> names;
    for (TMailPart* p : m.AttachList) {
        p->Decode();
        names.push_back(p->GetFileName() + "=" + std::to_string(p->Decoded.size()));
    }
    return names;
}

std::string Decoded(TMailPart* p)
{
    if (!p)
        return "(none)";
    p->Decode();
    return p->Decoded;
}

} // namespace

TEST(Tnef, FilesNamesAndBodyOfABareStream)
{
    const TOutlookItem item = ReadTnefItem(TwoFiles());
    EXPECT_EQ(item.subject, "Café menu");
    EXPECT_EQ(item.text, "Body text\r\n");
    ASSERT_EQ(item.attachments.size(), 2u);
    EXPECT_EQ(item.attachments[0].fileName, "NOTES");
    EXPECT_EQ(item.attachments[0].data, "first file");
    EXPECT_EQ(item.attachments[1].fileName, "Long name – ünïcode.txt");
    EXPECT_EQ(item.attachments[1].data, "second file");
    EXPECT_TRUE(item.damage.empty());
    EXPECT_THROW((void)ReadTnefItem("no tnef"), EOutlookError);
}

TEST(Tnef, DamagedStreamsGiveWhatCameBefore)
{
    const std::string whole = TwoFiles();
    // A cut between two attributes leaves a shorter stream, whole; any
    // other cut is damage, and says so.
    std::vector<std::size_t> ends{6};
    while (ends.back() < whole.size())
        ends.push_back(ends.back() + 11 + ReadLe32(whole, ends.back() + 5));
    for (std::size_t cut = 7; cut < whole.size(); ++cut) {
        const TOutlookItem item = ReadTnefItem(whole.substr(0, cut));
        EXPECT_LE(item.attachments.size(), 2u);
        const bool between = std::find(ends.begin(), ends.end(), cut) != ends.end();
        EXPECT_EQ(item.damage.empty(), between) << cut;
    }
    // Lengths and counts past the end, and a property list claiming
    // billions of entries.
    std::string lying = Tnef(Attribute(2, 0x00069002, "") + Attribute(2, 0x00069005, Le32(0xFFFFFFF0u) + UnicodeProp(0x3707, "x"))
                             + std::string(1, 2) + Le32(0x0006800F) + Le32(0x7FFFFFFF) + "abc");
    const TOutlookItem item = ReadTnefItem(lying);
    EXPECT_FALSE(item.damage.empty());
    ASSERT_EQ(item.attachments.size(), 1u);
    EXPECT_EQ(item.attachments[0].fileName, "x");
}

TEST(Tnef, PastTenThousandFilesTheRestIsLeftOutAndSaid)
{
    std::string s;
    for (int i = 0; i <= 10000; ++i) {
        s += Attribute(2, 0x00069002, std::string(14, '\0'));
        s += Attribute(2, 0x00018010, "F" + std::to_string(i));
        s += Attribute(2, 0x0006800F, "data " + std::to_string(i));
    }
    const TOutlookItem item = ReadTnefItem(Tnef(s));
    ASSERT_EQ(item.attachments.size(), 10000u);
    EXPECT_EQ(item.attachments.back().fileName, "F9999");
    EXPECT_EQ(item.attachments.back().data, "data 9999");
    EXPECT_NE(item.damage.find("10000"), std::string::npos);
}

TEST(Tnef, WinmailInAnEmlAddsItsFilesAndKeepsItself)
{
    testutil::TempDir dir;
    TMailMessage2000 m;
    LoadMessageFile(m, dir.Write("a.eml", WithWinmail(TwoFiles(), "See the files.")));
    EXPECT_EQ(Names(m), (std::vector<std::string>{"winmail.dat=" + std::to_string(TwoFiles().size()), "NOTES=10",
                                                   "Long name – ünïcode.txt=11"}));
    EXPECT_EQ(Decoded(m.TextPart), "See the files.");
    // Written out as the viewer does and read again, the files stay.
    m.SerializeBody();
    TMailMessage2000 again;
    std::string saved;
    for (const std::string& line : m.Header)
        saved += line + "\r\n";
    saved += "\r\n" + m.Body();
    again.ParseText(saved, true);
    EXPECT_EQ(Names(again).size(), 3u);
}

TEST(Tnef, ItsBodyShowsOnlyWhenTheMessageHasNone)
{
    testutil::TempDir dir;
    TMailMessage2000 m;
    LoadMessageFile(m, dir.Write("blank.eml", WithWinmail(TwoFiles("Only here\r\n"), "  ")));
    m.ScanParts();
    EXPECT_EQ(Decoded(m.TextPart), "Only here\r\n");
    LoadMessageFile(m, dir.Write("own.eml", WithWinmail(TwoFiles("Only here\r\n"), "Own body")));
    m.ScanParts();
    EXPECT_EQ(Decoded(m.TextPart), "Own body");
    // A message that is nothing but the stream becomes one with its parts.
    std::string b64;
    Base64EncodeStream(b64, TwoFiles());
    LoadMessageFile(m, dir.Write("whole.eml", "Subject: whole\r\nContent-Type: application/ms-tnef\r\n"
                                              "Content-Transfer-Encoding: base64\r\n\r\n" + b64));
    EXPECT_EQ(m.GetSubject(), "whole");
    EXPECT_EQ(Names(m).size(), 3u);
    EXPECT_EQ(Decoded(m.TextPart), "Body text\r\n");
    // A part named winmail.dat that holds no TNEF is only a file.
    LoadMessageFile(m, dir.Write("fake.eml", WithWinmail("not tnef at all", "x")));
    EXPECT_EQ(Names(m), (std::vector<std::string>{"winmail.dat=15"}));
}

TEST(Rtf, CompressedRtfDecompresses)
{
    // The example of the compressed RTF format's description: "{\rtf1\ansi
    // \ansicpg1252\pard hello world}" and CR LF, with a reference into the
    // preloaded dictionary.
    const unsigned char compressed[] = {0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75,
                                        0xf1, 0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67,
                                        0x31, 0x32, 0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09,
                                        0x00, 0x20, 0x62, 0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f,
                                        0xa0};
    const std::string stored(reinterpret_cast<const char*>(compressed), sizeof compressed);
    EXPECT_EQ(DecompressRtf(stored), "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
    // A header claiming gigabytes gives no more than the data can hold.
    std::string lying = stored;
    lying[4] = lying[5] = lying[6] = '\x7f';
    EXPECT_LE(DecompressRtf(lying).size(), 9 * stored.size());
    EXPECT_EQ(DecompressRtf(stored.substr(0, 10)), "");
}

TEST(Rtf, HtmlInsideRtfAndRtfAsText)
{
    const std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\fromhtml1 \\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fcharset204 Cyr;}}"
        "{\\*\\htmltag19 <html>}{\\*\\htmltag34 <body>}\\htmlrtf {\\b\\htmlrtf0 Caf\\'e9 "
        "{\\*\\htmltag84 &amp;}\\htmlrtf &\\htmlrtf0  \\u8364?\\f1\\'cf\\f0 }\\htmlrtf\\par\\htmlrtf0"
        "{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}";
    ASSERT_TRUE(RtfHasHtml(rtf));
    EXPECT_EQ(RtfToHtml(rtf), "<html><body>Café &amp; €П</body></html>");
    EXPECT_EQ(RtfToText("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\*\\generator x;}{\\info{\\title T}}"
                        "Line one\\par\\tab indented {\\pict 0123abc} end\\line \\{braces\\}\\par}"),
              "Line one\r\n\tindented  end\r\n{braces}\r\n");
    EXPECT_FALSE(RtfHasHtml("{\\rtf1 plain}"));
    // A symbol font's bytes are text in UTF-8 too, never bytes that are
    // none (the page would be declared UTF-8 and show boxes).
    EXPECT_EQ(RtfToText("{\\rtf1{\\fonttbl{\\f1\\fcharset2 Symbol;}}\\f1 a\\'b7b}"), "a\u00B7b\r\n");
    // Unbalanced and deeply nested input ends with what it had.
    EXPECT_EQ(RtfToText(std::string(100000, '{') + "deep" + std::string(3, '}')), "deep\r\n");
    EXPECT_EQ(RtfToText("}}}\\'"), "");
}
