#include "EngineError.h"
#include "TMailMessage2000.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::Parse;

TEST(PartTree, LabelAccessors)
{
    TMailMessage2000 m;
    Parse(m, "Subject: \"word\"\nX-Two: \"\"\nX-Mixed: 'abc\"\nContent-Type: text/html; charset=x\nReceived: a\n"
             "Received: b\n\nbody\n");
    EXPECT_EQ(m.GetLabelValue("subject"), "word");
    EXPECT_EQ(m.GetLabelValue("X-Two"), "\"\"");
    EXPECT_EQ(m.GetLabelValue("X-Mixed"), "abc");
    EXPECT_EQ(m.GetLabelValue("Missing"), "");
    EXPECT_TRUE(m.LabelExists("X-Two"));
    EXPECT_FALSE(m.LabelParamExists("Content-Type", "name"));
    EXPECT_TRUE(m.LabelParamExists("Content-Type", "charset"));

    m.SetLabelValue("Content-Type", "text/plain");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "charset"), "x");
    EXPECT_EQ(m.GetContentType(), "text/plain");
    m.SetLabelValue("Received", "");
    EXPECT_EQ(m.GetLabelValue("Received"), "b");
    m.SetLabelValue("Nothing", "");
    m.SetLabelParamValue("X-New", "p", "\"v\"");
    EXPECT_EQ(m.Header.back(), "X-New:; p=\"v\"");
    m.SetLabelValue("X-Set", "value");
    EXPECT_EQ(m.Header.back(), "X-Set: value");

    // A value taken from another short line of the same header stays good
    // while a new field makes the list grow (and move its short lines).
    for (int param = 0; param < 2; ++param) {
        TMailPart* p = m.CreatePart();
        p->Header = {"A: x", "B: yz"};
        p->Header.shrink_to_fit();
        const std::string_view from = std::string_view(p->Header[1]).substr(3);
        if (param)
            p->SetLabelParamValue("C", "n", from);
        else
            p->SetLabelValue("C", from);
        EXPECT_EQ(p->Header.back(), param ? "C:; n=yz" : "C: yz");
    }
}

TEST(PartTree, FileNameSources)
{
    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    EXPECT_EQ(p->GetFileName(), "unknown");
    p->Header = {"Content-Type: application/pdf"};
    EXPECT_EQ(p->GetFileName(), "application_pdf.pdf");
    p->Header = {"Content-Type: text/plain", "Content-Location: http://x/a"};
    EXPECT_EQ(p->GetFileName(), "a.txt"); // the location's last step
    p->Header.push_back("Content-ID: <id.1>");
    EXPECT_EQ(p->GetFileName(), "id.1.txt"); // no angle brackets, the type's extension
    p->Header.push_back("Content-Disposition: attachment; filename=\"=?iso-8859-1?Q?r=E9sum=E9?=\"");
    EXPECT_EQ(p->GetFileName(), "r\xE9sum\xE9.txt");
    p->Header.push_back("Content-Type: image/png; name=\"ignored.png\"");
    EXPECT_EQ(p->GetFileName(), "r\xE9sum\xE9.txt"); // only the first Content-Type counts
    p->Header.push_back("X-Corvanta-Attachment: \"../../etc/passwd\"; embedded=no");
    EXPECT_EQ(p->GetFileName(), "passwd.txt"); // the last component only
    // A name carrying a path is its last component (RFC 2183 2.3); one of
    // folders only names nothing, and the next source is asked.
    const struct {
        const char* field;
        const char* name;
    } paths[] = {{"Content-Type: image/png; name=\"C:\\TEMP\\nsmailEG.png\"", "nsmailEG.png"},
                 {"Content-Type: application/pdf; name=/home/u/report.pdf", "report.pdf"},
                 {"Content-Type: application/pdf; name*=utf-8''%2Ftmp%2Fa%20b.pdf", "a b.pdf"},
                 {"Content-Type: text/plain; name=\"=?utf-8?Q?dir/sub\\n=C3=B6te.txt?=\"", "n\xC3\xB6te.txt"},
                 {"Content-Type: application/pdf; name=\"C:\\TEMP\\\"", "application_pdf.pdf"},
                 {"Content-Type: application/pdf; name=\"../..\"", "application_pdf.pdf"}};
    for (const auto& row : paths) {
        p->Header = {row.field};
        EXPECT_EQ(p->GetFileName(), row.name) << row.field;
    }
    // A sender's name without a dot gains its type's extension, but not
    // the ".bin" of a type that says nothing (TNEF's AUTHORS, a Makefile).
    p->Header = {"Content-Type: application/octet-stream; name=Makefile"};
    EXPECT_EQ(p->GetFileName(), "Makefile");
    p->Header = {"Content-Type: Application/Octet-Stream", "Content-Disposition: attachment; filename=AUTHORS"};
    EXPECT_EQ(p->GetFileName(), "AUTHORS");
    p->Header = {"Content-Type: application/octet-stream"};
    EXPECT_EQ(p->GetFileName(), "application_octet-stream.bin"); // a made-up name keeps it
    p->Header = {"Content-Type: application/pdf", "X-Corvanta-Attachment: \"\"; embedded=no"};
    EXPECT_EQ(p->GetFileName(), "application_pdf.pdf"); // not "__.pdf"
    p->Header = {"Content-Type: application/pdf; name=\"x/\"", "Content-Disposition: attachment; filename=\"y\\z.pdf\""};
    EXPECT_EQ(p->GetFileName(), "z.pdf");
    // Made-up names are useful ones: the type's extension, also where the
    // system registers none ("text_enriched" was the name), and no angle
    // brackets from a Content-ID; a location's escapes are bytes.
    p->Header = {"Content-Type: text/enriched"};
    EXPECT_EQ(p->GetFileName(), "text_enriched.txt");
    p->Header = {"Content-Type: application/x-unheard-of"};
    EXPECT_EQ(p->GetFileName(), "application_x-unheard-of.bin");
    p->Header = {"Content-Type: image/png", "Content-ID: <part1.06090408@example.com>"};
    EXPECT_EQ(p->GetFileName(), "part1.06090408@example.com.png");
    p->Header = {"Content-Type: image/png", "Content-ID: <logo.png>"};
    EXPECT_EQ(p->GetFileName(), "logo.png");
    p->Header = {"Content-Type: image/jpeg", "Content-Location: http://x.example/img/my%20photo.jpg?size=2#top"};
    EXPECT_EQ(p->GetFileName(), "my photo.jpg");
    p->Header = {"Content-Type: image/gif", "Content-Location: http://x.example/"};
    EXPECT_EQ(p->GetFileName(), "image_gif.gif");
    // Blanks around a name go whether or not it holds an encoded word.
    p->Header = {"Content-Type: text/plain; name=\"  two words  \""};
    EXPECT_EQ(p->GetFileName(), "two words.txt");
    p->Header = {"Content-Type: text/plain; name=\" =?x?Q?a_b?= \""};
    EXPECT_EQ(p->GetFileName(), "a b.txt");
    // A name whose only dot the length limit cuts away gets its type's
    // extension at once, so that it reads the same when read again.
    const std::string longName = std::string(260, 'n') + "." + std::string(40, 'e');
    p->Header = {"Content-Type: application/pdf; name=\"" + longName + "\""};
    const std::string first = p->GetFileName();
    EXPECT_EQ(first, std::string(250, 'n') + ".pdf");
    p->Header = {"Content-Type: application/pdf; name=\"" + first + "\""};
    EXPECT_EQ(p->GetFileName(), first);
}

TEST(PartTree, BoundaryAsMailersWriteIt)
{
    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    const std::pair<const char*, const char*> rows[] = {
        {"Content-Type: multipart/alternative; boundary=----=_NextPart_000_0093_01C8.EB75", "----=_NextPart_000_0093_01C8.EB75"},
        {"Content-Type: multipart/mixed; boundary=\"a;b=c\\\"d \"; charset=x", "a;b=c\"d"},
        {"Content-Type: multipart/mixed; BOUNDARY = plain ; x=y", "plain"},
        {"Content-Type: multipart/signed; boundary*=\"ansi-x3.4-1968''EeQf%41\"", "EeQfA"},
        {"Content-Type: multipart/mixed; boundary*1=\"two\"; boundary*0*=us-ascii'en'one%2D", "one-two"},
        {"Content-Type: multipart/mixed; name=\"boundary=no\"", ""},
        // The first plain one wins over pieces and over later plain ones;
        // names that only start or end like it are other parameters.
        {"Content-Type: multipart/mixed; boundary*0=a; boundary=\"b\"; boundary=c", "b"},
        {"Content-Type: multipart/mixed; x-boundary=no; boundaryx=no; Boundary=yes", "yes"},
        {"Content-Type: multipart/mixed; boundary*=''%41; boundary=b", "A"},
    };
    for (const auto& [field, boundary] : rows) {
        p->Header = {field};
        EXPECT_EQ(p->GetBoundary(), boundary) << field;
    }
}

TEST(PartTree, OwnershipAndDetach)
{
    TMailMessage2000 m;
    TMailPart* parent = m.CreatePart();
    TMailPart* child = m.CreatePart();
    TMailPart* grandchild = m.CreatePart();
    parent->ParentPart = &m;
    m.SubPartList.Add(parent);
    child->ParentPart = parent;
    parent->SubPartList.Add(child);
    grandchild->ParentPart = child;
    child->SubPartList.Add(grandchild);
    m.AttachList.Add(grandchild);
    m.TextPart = child;
    EXPECT_EQ(m.PartCount(), 3u);

    child->Detach();
    EXPECT_EQ(child->ParentPart, nullptr);
    EXPECT_TRUE(parent->SubPartList.Empty());
    child->Detach(); // nothing to do
    m.Detach();      // the message never detaches

    m.FreePart(child); // frees the grandchild with it and forgets both
    EXPECT_EQ(m.PartCount(), 1u);
    EXPECT_TRUE(m.AttachList.Empty());
    EXPECT_EQ(m.TextPart, nullptr);

    m.FreePart(parent);
    EXPECT_EQ(m.PartCount(), 0u);
    EXPECT_TRUE(m.SubPartList.Empty());
    m.FreePart(&m); // refused
    TMailPart stranger;
    m.FreePart(&stranger); // not ours: refused
}

// Parsing again into a message frees the old tree in one go; a part the
// message does not own, left on its child list, is let go instead of being
// asked to free forever. Empty parts between delimiters are dropped together
// at the end of their multipart, every other part staying in order.
TEST(PartTree, ParsingAgainReplacesTheTree)
{
    std::string text = "Content-Type: multipart/mixed; boundary=\"b\"\n\n";
    for (int i = 0; i < 300; ++i)
        text += "--b\nContent-Type: text/plain\n\npart " + std::to_string(i) + "\n--b\n\n";
    text += "--b--\n";
    TMailMessage2000 m;
    Parse(m, text);
    ASSERT_EQ(m.SubPartList.Count(), 300u);
    EXPECT_EQ(m.PartCount(), 300u);
    EXPECT_EQ(m.SubPartList.Items(299)->Body(), "part 299");
    for (const TMailPart* p : m.SubPartList)
        EXPECT_EQ(p->ParentPart, &m);

    TMailPart stranger;
    m.SubPartList.Add(&stranger);
    Parse(m, text);
    EXPECT_EQ(m.PartCount(), 300u);
    EXPECT_EQ(m.SubPartList.IndexOf(&stranger), -1);

    m.RebuildStructure(0);
    Parse(m, text);
    EXPECT_EQ(m.PartCount(), 300u);
    Parse(m, "Subject: plain\n\ntext\n");
    EXPECT_EQ(m.PartCount(), 0u);

    // A part parsed on its own keeps the message's other parts listed.
    Parse(m, text);
    m.ScanParts();
    const std::size_t listed = m.AttachList.Count();
    TMailPart* last = m.SubPartList.Items(299);
    std::string inner = "Content-Type: multipart/mixed; boundary=\"c\"\n\n--c\n\n--c\nX: y\n\nz\n--c--\n";
    inner = testutil::Crlf(inner);
    last->ParseText(inner, true);
    ASSERT_EQ(last->SubPartList.Count(), 1u);
    EXPECT_EQ(last->SubPartList.Items(0)->Body(), "z");
    EXPECT_EQ(m.PartCount(), 301u);
    EXPECT_EQ(m.AttachList.Count(), listed);
}

TEST(PartTree, ParsingNeedsAnOwner)
{
    TMailPart loose;
    loose.Name = "Loose1";
    loose.Header = {"Subject: keep"};
    std::string text = "Subject: x\r\n\r\nbody";
    try {
        loose.ParseText(text, true);
        FAIL();
    } catch (const EMailError& e) {
        EXPECT_STREQ(e.what(), "Loose1: TMailPart must be owned by a TMailMessage2000");
    }
    EXPECT_EQ(loose.Header.size(), 1u);
}

TEST(PartTree, LoadFromFileNormalisesLineEndsAndKeepsZeroBytes)
{
    testutil::TempDir dir;
    TMailMessage2000 m;
    m.LoadFromFile(dir.Write("lf.eml", "Subject: lf\nFrom: a@b\n\nline1\nline2"));
    EXPECT_EQ(m.GetSubject(), "lf");
    EXPECT_EQ(m.Body(), "line1\r\nline2"); // no break is added after the last line
    m.LoadFromFile(dir.Write("cr.eml", "Subject: cr\r\rbody\r"));
    EXPECT_EQ(m.GetSubject(), "cr");
    EXPECT_EQ(m.Body(), "body\r\n");
    m.LoadFromFile(dir.Write("zero.eml", std::string("Subject: z\r\n\r\nab\0cd", 19)));
    EXPECT_EQ(m.Body(), std::string("ab\0cd", 5));
    m.LoadFromFile(dir.Write("empty.eml", ""));
    EXPECT_TRUE(m.Header.empty());

    m.LoadFromFile(dir.Write("keep.eml", "Subject: keep\n\nx\n"));
    EXPECT_THROW(m.LoadFromFile(dir.File("missing.eml")), EFOpenError);
    EXPECT_THROW(m.LoadFromFile(dir.Path().string()), EFOpenError);
    EXPECT_EQ(m.GetSubject(), "keep"); // unchanged after a failed load
}

// RFC 2045 2.9: binary content is octets without lines. A file with LF line
// ends had a CR put before every LF of it: a UTF-16 body turned into
// garbage and an attachment "AB\nCD" was saved as "AB\r\nCD".
TEST(PartTree, BinaryContentKeepsItsBytesInAnyLineEnds)
{
    testutil::TempDir dir;
    const std::string utf16("H\0i\0\n\0\r\0\n\0", 10);
    const std::string file("AB\nCD\r\nEF\rGH\n", 13);
    const std::string text = "Subject: b\nContent-Type: multipart/mixed; boundary=x\n\n--x\n"
                             "Content-Type: text/plain; charset=utf-16le\nContent-Transfer-Encoding: binary\n\n"
                             + utf16 + "\n--x\nContent-Type: application/octet-stream; name=f.bin\n"
                             "Content-Transfer-Encoding: BINARY\n\n" + file + "\n--x\nContent-Type: text/html\n\n<p>a\nb</p>\n--x--\n";
    TMailMessage2000 m;
    m.LoadFromFile(dir.Write("lf.eml", text));
    m.RebuildStructure(0);
    ASSERT_NE(m.TextPart, nullptr);
    EXPECT_EQ(m.TextPart->Decoded, utf16);
    ASSERT_EQ(m.AttachList.Count(), 1u);
    m.AttachList.Items(0)->Decode();
    EXPECT_EQ(m.AttachList.Items(0)->Decoded, file);
    ASSERT_NE(m.HtmlPart, nullptr);
    EXPECT_EQ(m.HtmlPart->Decoded, "<p>a\r\nb</p>"); // text still gets CR LF

    // Saved and read again, twice: the same bytes each time.
    for (int round = 0; round < 2; ++round) {
        m.SerializeBody();
        const std::string saved = dir.File("saved" + std::to_string(round) + ".eml");
        m.SaveToFile(saved, true);
        m.LoadFromFile(saved);
        m.RebuildStructure(0);
        ASSERT_NE(m.TextPart, nullptr);
        m.TextPart->Decode();
        EXPECT_EQ(m.TextPart->Decoded, utf16) << round;
        ASSERT_EQ(m.AttachList.Count(), 1u);
        m.AttachList.Items(0)->Decode();
        EXPECT_EQ(m.AttachList.Items(0)->Decoded, file) << round;
    }

    // A single binary part, the whole of a large file: taken as it is.
    const std::string big = std::string(100000, 'x') + "\n" + std::string(100000, 'y') + "\n";
    m.LoadFromFile(dir.Write("one.eml", "Content-Type: application/zip\nContent-Transfer-Encoding: binary\n\n" + big));
    m.Decode();
    EXPECT_EQ(m.Decoded, big);
}
