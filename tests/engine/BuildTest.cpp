#include "EngineError.h"
#include "FileIO.h"
#include "TMailMessage2000.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using testutil::Load;
using testutil::Tree;

namespace {

struct Leaf {
    std::string name;
    bool embedded;
    std::string bytes;
    bool operator==(const Leaf&) const = default;
};

std::vector<Leaf> Attachments(TMailMessage2000& m)
{
    std::vector<Leaf> out;
    for (TMailPart* a : m.AttachList) {
        a->Decode();
        out.push_back({a->GetFileName(), a->Embedded, a->Decoded});
    }
    return out;
}

std::string BodyOf(TMailPart* p)
{
    if (!p)
        return "<none>";
    p->IsDecoded = false;
    p->Decode();
    return p->Decoded;
}

// Serialises, writes, reads back and normalises, as a saved message would be.
void RoundTrip(TMailMessage2000& m, TMailMessage2000& back, const testutil::TempDir& dir)
{
    m.SerializeBody();
    const std::string file = dir.File("rt.eml");
    std::filesystem::remove(file);
    m.SaveToFile(file, false);
    back.LoadFromFile(file);
    back.RebuildStructure(0);
    back.ScanParts();
}

} // namespace

TEST(Build, FirstFileIsTheMessageSecondMakesMixed)
{
    TMailMessage2000 m;
    m.Name = "Msg1";
    m.AttachStream("first", "/tmp/a.txt", false, "");
    EXPECT_TRUE(m.SubPartList.Empty());
    EXPECT_EQ(m.GetLabelValue("Content-Disposition"), "attachment");
    EXPECT_EQ(m.GetContentType(), "text/plain");
    EXPECT_EQ(m.Body(), "Zmlyc3Q=\r\n");
    ASSERT_EQ(m.AttachList.Count(), 1u);
    EXPECT_EQ(m.AttachList.Items(0), &m);

    m.AttachStream("second", "dir/b.pdf", false, "");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  application/pdf\n");
    ASSERT_EQ(m.AttachList.Count(), 2u);
    EXPECT_EQ(Attachments(m), (std::vector<Leaf>{{"a.txt", false, "first"}, {"b.pdf", false, "second"}}));

    m.SerializeBody();
    EXPECT_TRUE(m.Body().starts_with("This is a multipart message in mime format.\r\n\r\n--"));
    EXPECT_TRUE(m.Body().ends_with("--" + m.GetBoundary() + "--\r\n"));
    EXPECT_EQ(m.GetLabelValue("Content-Length"), std::to_string(m.Body().size()));
    EXPECT_FALSE(m.NeedsSerialize);
}

TEST(Build, EmbeddedFilesGoIntoRelated)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: text/html\n\n<img src=\"pic.png\">\n");
    m.AttachStream("PNG", "pic.png", true, "");
    EXPECT_EQ(Tree(m), "multipart/related\n  text/html\n  image/png\n");
    TMailPart* pic = m.AttachList.Items(0);
    EXPECT_EQ(pic->GetLabelValue("Content-Location"), m.ContentLocationBase + "pic.png");
    EXPECT_TRUE(pic->Embedded);

    m.AttachStream("DATA", "x.zip", false, "");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  multipart/related\n    text/html\n    image/png\n  application/zip\n");

    m.EmbedMethod = TEmbedMethod::emContentID;
    m.AttachStream("GIF", "g.gif", true, "");
    EXPECT_EQ(m.AttachList.Items(m.AttachList.Count() - 1)->GetLabelValue("Content-ID"), "<g.gif>");
}

TEST(Build, RemoveAttachmentAndBadIndexes)
{
    TMailMessage2000 m;
    m.Name = "MailMessage20001";
    Load(m, "Content-Type: text/plain\n\nhi\n");
    m.AttachStream("1", "one.bin", false, "");
    m.AttachStream("2", "two.bin", false, "");
    m.SerializeBody();
    const std::string tree = Tree(m);
    try {
        m.RemoveAttachment(2);
        FAIL();
    } catch (const EMailError& e) {
        EXPECT_STREQ(e.what(), "MailMessage20001: Attachment index not found");
    }
    EXPECT_THROW(m.RemoveAttachment(-1), EMailError);
    EXPECT_EQ(Tree(m), tree);
    EXPECT_FALSE(m.NeedsSerialize);

    m.RemoveAttachment(0);
    EXPECT_EQ(Attachments(m), (std::vector<Leaf>{{"two.bin", false, "2"}}));
    m.RemoveAttachment(0);
    EXPECT_TRUE(m.AttachList.Empty());
    EXPECT_EQ(Tree(m), "text/plain\n");
    EXPECT_EQ(BodyOf(m.TextPart), "hi\r\n");

    TMailMessage2000 solo;
    solo.AttachStream("x", "x.bin", false, "");
    solo.RemoveAttachment(0);
    EXPECT_TRUE(solo.AttachList.Empty());
    EXPECT_TRUE(solo.Body().empty());
    EXPECT_FALSE(solo.LabelExists("Content-Type"));
}

TEST(Build, AttachFileErrorsAndOddNames)
{
    testutil::TempDir dir;
    TMailMessage2000 m;
    Load(m, "Content-Type: text/plain\n\nhi\n");
    const std::string tree = Tree(m);
    EXPECT_THROW(m.AttachFile(dir.File("missing.txt"), "", false), EFOpenError);
    EXPECT_THROW(m.AttachFile(dir.Path().string(), "", false), EFOpenError);
    EXPECT_EQ(Tree(m), tree);
    EXPECT_TRUE(m.AttachList.Empty());

    m.AttachFile(dir.Write("empty.dat", ""), "", false);
    m.AttachFile(dir.Write("we\"ird\x01 n\xE9me.txt", "odd"), "", false);
    ASSERT_EQ(m.AttachList.Count(), 2u);
    EXPECT_TRUE(m.AttachList.Items(0)->Decoded.empty());
    for (const auto& line : m.AttachList.Items(1)->Header) {
        EXPECT_EQ(line.find('\x01'), std::string::npos) << line;
        EXPECT_EQ(line.find('\xE9'), std::string::npos) << line;
    }
    EXPECT_EQ(m.AttachList.Items(1)->GetFileName(), "we_ird_ n\xE9me.txt");

    TMailMessage2000 back;
    RoundTrip(m, back, dir);
    EXPECT_EQ(Attachments(back), Attachments(m));
}

TEST(Build, RoundTripKeepsBodiesAndAttachments)
{
    testutil::TempDir dir;
    TMailMessage2000 m;
    Load(m, "Subject: rt\nContent-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: multipart/alternative; boundary=a\n\n"
            "--a\nContent-Type: text/plain\n\nline one \nline two\n--a\nContent-Type: text/html\n\n<p>x</p>\n--a--\n"
            "--m\nContent-Type: application/octet-stream; name=bin.dat\nContent-Transfer-Encoding: base64\n\n"
            "AAEC/w==\n--m--\n");
    const std::string text = BodyOf(m.TextPart), html = BodyOf(m.HtmlPart);
    const auto files = Attachments(m);
    TMailMessage2000 back;
    RoundTrip(m, back, dir);
    EXPECT_EQ(BodyOf(back.TextPart), text);
    EXPECT_EQ(BodyOf(back.HtmlPart), html);
    EXPECT_EQ(Attachments(back), files);
    EXPECT_EQ(back.GetSubject(), "rt");

    // Saving never replaces an existing file unless asked to.
    const std::string file = dir.File("rt.eml");
    EXPECT_THROW(m.SaveToFile(file, false), EFOpenError);
    TMailMessage2000 again;
    again.LoadFromFile(file);
    EXPECT_EQ(again.GetSubject(), "rt");
    m.SetLabelValue("Subject", "changed");
    m.SaveToFile(file, true);
    again.LoadFromFile(file);
    EXPECT_EQ(again.GetSubject(), "changed");
}

TEST(Build, PythonReadsTheSerialisedMessage)
{
    if (std::system("python3 -c 'import email' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not available";
    testutil::TempDir dir;
    TMailMessage2000 m;
    Load(m, "Subject: py\nContent-Type: text/plain\n\nhello\n");
    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary += static_cast<char>(i * 7);
    m.AttachStream(binary, "data.bin", false, "");
    m.AttachStream("PNG", "p.png", true, "");
    m.SerializeBody();
    const std::string file = dir.File("py.eml");
    m.SaveToFile(file, false);
    std::ofstream(dir.File("expected.bin"), std::ios::binary) << binary;
    const std::string script = dir.Write("check.py",
        "import email, sys\n"
        "msg = email.message_from_binary_file(open(sys.argv[1], 'rb'))\n"
        "want = open(sys.argv[2], 'rb').read()\n"
        "got = [p.get_payload(decode=True) for p in msg.walk() if not p.is_multipart()]\n"
        "sys.exit(0 if want in got and b'PNG' in got and len(msg.defects) == 0 else 1)\n");
    const std::string cmd = "python3 " + script + " " + file + " " + dir.File("expected.bin");
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

namespace {

// What a reader is shown: the two bodies and the attachments with their
// bytes.
std::string View(TMailMessage2000& m)
{
    std::string out = "text: " + BodyOf(m.TextPart) + "\nhtml: " + BodyOf(m.HtmlPart) + "\n";
    for (const Leaf& a : Attachments(m))
        out += (a.embedded ? "embedded " : "attachment ") + a.name + " = " + a.bytes + "\n";
    return out;
}

std::string Saved(TMailMessage2000& m, const testutil::TempDir& dir)
{
    m.SerializeBody();
    const std::string file = dir.File("saved.eml");
    std::filesystem::remove(file);
    m.SaveToFile(file, false);
    return ReadWholeFile(file);
}

} // namespace

// Saving and reading again shows the same bodies and the same attachments.
TEST(Build, SavedMessageShowsTheSameAgain)
{
    testutil::TempDir dir;
    const char* messages[] = {
        // A text file marked as an attachment inside related.
        "Content-Type: multipart/related; boundary=r\n\n"
        "--r\nContent-Type: text/html\n\n<p>page</p>\n"
        "--r\nContent-Type: text/plain; name=notes.txt\nContent-Disposition: attachment\n\nnotes\n"
        "--r\nContent-Type: image/png; name=i.png\n\nPNG\n--r--\n",
        // A lone text attachment.
        "Content-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: text/plain; name=notes.txt\nContent-Disposition: attachment\n\nnotes\n--m--\n",
        // A signed message and its signature.
        "Content-Type: multipart/signed; boundary=s\n\n--s\nContent-Type: text/plain\n\nsigned\n"
        "--s\nContent-Type: application/pgp-signature\n\nSIG\n--s--\n",
        // Texts without Content-Type, the second of which is an attachment.
        "Content-Type: multipart/mixed; boundary=m\n\n--m\n\nfirst\n--m\n\nsecond\n--m--\n",
        // A second Content-Type field behind the first, which alone counts.
        "Content-Type: text/plain\nContent-Type: multipart/mixed; boundary=m\n\n\n--m\nContent-Type: text/plain\n\n"
        "inner\n--m--\n",
        // A first header line that is no field, before the Content-Type:
        // written back it ended the header and took the type into the body.
        "Content-X\nContent-Type: application/pdf; name=a.pdf\n\n%PDF\n",
        "From x@y Mon Jan  1 00:00:00 2001\nContent-Type: multipart/mixed; boundary=m\n\n--m\n"
        "Content-Type: text/plain\n\nmbox\n--m\nContent-Type: image/png; name=p.png\n\nPNG\n--m--\n",
    };
    for (const char* text : messages) {
        SCOPED_TRACE(text);
        TMailMessage2000 m;
        Load(m, text);
        const std::string shown = View(m);
        TMailMessage2000 back;
        RoundTrip(m, back, dir);
        EXPECT_EQ(View(back), shown);
    }
}

// A file that is the whole message, named only in the engine's own field
// (as a saved lone attachment is): it lost that name, where the same part
// in a multipart kept it.
TEST(Build, EngineNamedFileKeepsItsNameAlone)
{
    testutil::TempDir dir;
    for (const char* text :
         {"X-Corvanta-Attachment: \"report.pdf\"; embedded=no\nContent-Type: application/pdf\n\n%PDF\n",
          "Content-Type: multipart/mixed; boundary=m\n\n--m\nX-Corvanta-Attachment: \"report.pdf\"; embedded=no\n"
          "Content-Type: application/pdf\n\n%PDF\n--m--\n"}) {
        SCOPED_TRACE(text);
        TMailMessage2000 m;
        Load(m, text);
        ASSERT_EQ(m.AttachList.Count(), 1u);
        EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "report.pdf");
        TMailMessage2000 back;
        RoundTrip(m, back, dir);
        ASSERT_EQ(back.AttachList.Count(), 1u);
        EXPECT_EQ(back.AttachList.Items(0)->GetFileName(), "report.pdf");
    }
}

TEST(Build, LoneAttachmentHasAValidDisposition)
{
    testutil::TempDir dir;
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: application/pdf\n\n%PDF\n--m--\n");
    ASSERT_EQ(m.AttachList.Count(), 1u);
    EXPECT_EQ(m.AttachList.Items(0), &m);
    const std::string file = Saved(m, dir);
    EXPECT_NE(file.find("\r\nContent-Disposition: attachment; filename=\"=?iso-8859-1?Q?application=5Fpdf.pdf?=\"\r\n"),
              std::string::npos)
        << file;
}

// A single text body keeps its charset: without it a non-ASCII body could
// not be read.
TEST(Build, SingleTextBodyKeepsItsCharset)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: text/plain; charset=utf-8; format=flowed\nContent-Transfer-Encoding: 8bit\n\n"
            "gr\xC3\xBC\xC3\x9F" "e\n");
    EXPECT_EQ(m.TextPart, &m);
    EXPECT_EQ(m.GetContentType(), "text/plain");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "charset"), "utf-8");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "format"), "flowed");
    EXPECT_EQ(m.GetLabelValue("Content-Transfer-Encoding"), "quoted-printable");
}

// An empty file is a file: it is listed, and listed again after a save.
TEST(Build, EmptyFileIsKept)
{
    testutil::TempDir dir;
    for (bool withText : {false, true}) {
        SCOPED_TRACE(withText);
        TMailMessage2000 m;
        if (withText)
            Load(m, "Content-Type: text/plain\n\nhello\n");
        m.AttachStream("", "empty.bin", false, "");
        const std::vector<Leaf> want{{"empty.bin", false, ""}};
        EXPECT_EQ(Attachments(m), want);
        TMailMessage2000 back;
        RoundTrip(m, back, dir);
        EXPECT_EQ(Attachments(back), want);
        TMailMessage2000 again;
        RoundTrip(back, again, dir);
        EXPECT_EQ(Attachments(again), want);
    }
}

// No header line the engine writes holds a raw line break or NUL, whatever
// the names and values it is given.
TEST(Build, WrittenHeadersNeverBreak)
{
    testutil::TempDir dir;
    using namespace std::string_literals;
    const std::string evil = "evil\nX-Injected: yes\r\nname\0.png"s;
    for (TEmbedMethod method : {TEmbedMethod::emContentLocation, TEmbedMethod::emContentID}) {
        TMailMessage2000 m;
        m.EmbedMethod = method;
        Load(m, "Content-Type: text/html\n\n<p>x</p>\n");
        m.AttachStream("PNG", evil, true, "");
        m.AttachStream("DATA", evil + ".bin", false, "");
        m.AttachStream("EMB", "second\r\nX-Injected: yes.gif", true, "image/gif\r\nX-Injected: yes");
        m.SetLabelValue("Subject", "a\r\nX-Injected: yes\0"s);
        const std::string file = Saved(m, dir);
        EXPECT_EQ(file.find("\nX-Injected"), std::string::npos) << file;
        EXPECT_EQ(file.find('\0'), std::string::npos);
        // Every line break in the file is a CR LF pair.
        for (std::size_t i = 0; i < file.size(); ++i) {
            if (file[i] == '\n' || file[i] == '\r') {
                ASSERT_TRUE(file.compare(i - (file[i] == '\n'), 2, "\r\n") == 0) << i;
            }
        }

        TMailMessage2000 back;
        RoundTrip(m, back, dir);
        ASSERT_EQ(back.AttachList.Count(), 3u);
        EXPECT_EQ(back.AttachList.Items(0)->GetFileName(), "evil_X-Injected_ yes__name_.png");
        EXPECT_EQ(back.HtmlPart != nullptr, true);
    }
}

// Thousands of containers emptied by the rebuild are freed together; the
// tree that remains holds exactly the bodies and the files.
TEST(Build, ManyEmptiedContainers)
{
    std::string text = "Content-Type: multipart/mixed; boundary=m\n\n--m\nContent-Type: text/plain\n\nbody\n";
    for (int i = 0; i < 3000; ++i)
        text += "--m\nContent-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: image/gif; name=g"
                + std::to_string(i) + ".gif\n\nGIF\n--a--\n";
    text += "--m--\n";
    TMailMessage2000 m;
    Load(m, text);
    EXPECT_EQ(m.AttachList.Count(), 3000u);
    EXPECT_EQ(m.PartCount(), 3001u);
    EXPECT_EQ(m.SubPartList.Count(), 3001u);
    EXPECT_EQ(m.AttachList.Items(2999)->GetFileName(), "g2999.gif");
}
