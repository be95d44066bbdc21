#include "Codecs.h"
#include "TMailMessage2000.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <type_traits>

using testutil::Crlf;
using testutil::Parse;
using testutil::Tree;

TEST(ParseHeader, FoldingCanonicalFormAndBodies)
{
    TMailMessage2000 m;
    Parse(m, "subject: a\n\t   folded\n  line\nfrom:x@y\n\nbody 1\nbody 2\n");
    EXPECT_EQ(m.Header, (TStringList{"Subject: a folded line", "From: x@y"}));
    EXPECT_EQ(m.Body(), Crlf("body 1\nbody 2\n"));
    EXPECT_TRUE(m.NeedsScan && m.NeedsRebuild && m.NeedsSerialize);

    Parse(m, "Subject: only headers\nX-A: b");
    EXPECT_EQ(m.Header.size(), 2u);
    EXPECT_TRUE(m.Body().empty());

    // A line that is no field ends a header that lacks its blank line.
    Parse(m, " starts with blank\nSubject: s\nno colon line\nbody\n");
    EXPECT_EQ(m.Header, (TStringList{"starts with blank ", "Subject: s"}));
    EXPECT_EQ(m.Body(), Crlf("no colon line\nbody\n"));
}

TEST(ParseHeader, LongLinesAndBinaryBytesGiveDefinedOutput)
{
    TMailMessage2000 m;
    const std::string big(1 << 20, 'x');
    Parse(m, "Subject: " + big + "\nDate: garbage\nFrom: \"\x01\xFF\" <\x80@y>\n\n\x01\x02\xFF body");
    EXPECT_EQ(m.GetSubject().size(), big.size());
    EXPECT_EQ(m.GetFromAddress(), "\x80@y");
    EXPECT_EQ(m.Body(), "\x01\x02\xFF body");
}

TEST(ParseMultipart, ChildrenBoundariesPreambleAndEpilogue)
{
    TMailMessage2000 m;
    Parse(m, "Content-Type: multipart/mixed; boundary=\"outer\"\n\n"
             "preamble text\n"
             "--outer\nContent-Type: multipart/alternative; boundary=inner\n\n"
             "--inner\nContent-Type: text/plain\n\nplain\n"
             "--inner\nContent-Type: text/html\n\n<b>html</b>\n"
             "--inner--\n"
             "--outer\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\nJVBERg==\n"
             "--outer--\nepilogue ignored\n--outer\nContent-Type: text/plain\n\nnot a part\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  multipart/alternative\n    text/plain\n    text/html\n  application/pdf\n");
    EXPECT_EQ(m.Body(), Crlf("preamble text\n"));
    const TMailPart* alt = m.SubPartList.Items(0);
    EXPECT_EQ(alt->ParentBoundary, "outer");
    EXPECT_EQ(alt->SubPartList.Items(0)->ParentBoundary, "inner");
    EXPECT_EQ(alt->SubPartList.Items(0)->Body(), "plain");
    EXPECT_EQ(alt->SubPartList.Items(1)->Body(), "<b>html</b>");
    TMailPart* pdf = m.SubPartList.Items(1);
    EXPECT_EQ(pdf->ParentPart, &m);
    pdf->Decode();
    EXPECT_EQ(pdf->Decoded, "%PDF");
}

TEST(ParseMultipart, EmptyPartsAndMissingDelimiters)
{
    TMailMessage2000 m;
    Parse(m, "Content-Type: multipart/mixed; boundary=b\n\n--b\n--b\n\n--b\nContent-Type: text/plain\n\nx\n--b--\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n");

    // The closing delimiter never comes: the last part is kept, not lost.
    Parse(m, "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nfirst\n"
             "--b\nContent-Type: application/pdf\n\ntail\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  application/pdf\n");
    EXPECT_EQ(m.SubPartList.Items(1)->Body(), Crlf("tail\n"));

    // The boundary never appears: everything is preamble.
    Parse(m, "Content-Type: multipart/mixed; boundary=nothere\n\nsome text\n--other\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n");
    EXPECT_EQ(m.Body(), Crlf("some text\n--other\n"));
}

TEST(ParseMultipart, LongBoundaryAndDeepNesting)
{
    TMailMessage2000 m;
    const std::string b(150, 'q');
    Parse(m, "Content-Type: multipart/mixed; boundary=\"" + b + "\"\n\n--" + b + "\nContent-Type: text/plain\n\nx\n--"
                 + b + "--\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n");

    auto nested = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i)
            text += "Content-Type: multipart/mixed; boundary=b" + std::to_string(i) + "x\n\n--b" + std::to_string(i)
                    + "x\n";
        text += "Content-Type: text/plain\n\ndeep\n";
        for (int i = depth - 1; i >= 0; --i)
            text += "--b" + std::to_string(i) + "x--\n";
        return text;
    };
    Parse(m, nested(200));
    const TMailPart* p = &m;
    int depth = 0;
    while (!p->SubPartList.Empty()) {
        p = p->SubPartList.Items(0);
        ++depth;
    }
    EXPECT_EQ(depth, 200);
    EXPECT_EQ(p->GetContentType(), "text/plain");

    // Past the nesting limit a multipart keeps its body unparsed.
    Parse(m, nested(TMailPart::kMaxNesting + 50));
    p = &m;
    depth = 0;
    while (!p->SubPartList.Empty()) {
        p = p->SubPartList.Items(0);
        ++depth;
    }
    EXPECT_EQ(depth, TMailPart::kMaxNesting);
    EXPECT_EQ(p->GetContentType(), "multipart/mixed");
    EXPECT_NE(p->Body().find("deep"), std::string::npos);
}

TEST(ParseMultipart, HostileNestingDoesNotExhaustTheStack)
{
    std::string text;
    const int levels = 100000;
    text.reserve(static_cast<std::size_t>(levels) * 48);
    for (int i = 0; i < levels; ++i) {
        const std::string b = "b" + std::to_string(i) + "x";
        text += "Content-Type: multipart/mixed;boundary=" + b + "\r\n\r\n--" + b + "\r\n";
    }
    TMailMessage2000 m;
    m.ParseText(text, true);
    m.RebuildStructure(0);
    EXPECT_LE(m.PartCount(), static_cast<std::size_t>(TMailPart::kMaxNesting) + 8);
}

TEST(ParseMultipart, BufferIsUnchangedAndLineEndsVary)
{
    TMailMessage2000 m;
    std::string text = Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nx\n--b--\n");
    const std::string copy = text;
    m.ParseText(text, true);
    EXPECT_EQ(text, copy);

    // Bare CR or LF inside a parsed text are ordinary characters of a line.
    std::string lfOnly = "Subject: s\nX: y\n\nbody\n";
    m.ParseText(lfOnly, true);
    EXPECT_EQ(m.Header.size(), 1u);
    EXPECT_EQ(lfOnly, "Subject: s\nX: y\n\nbody\n");

    // A zero byte is data like any other.
    std::string zero("Subject: z\r\n\r\nab\0cd", 19);
    m.ParseText(zero, true);
    EXPECT_EQ(m.Body(), std::string("ab\0cd", 5));
}

TEST(ParseMultipart, DelimiterLinesMatchExactly)
{
    TMailMessage2000 m;
    // Trailing blanks after a delimiter are allowed; a longer boundary or
    // other text after it makes no delimiter.
    Parse(m, "Content-Type: multipart/mixed; boundary=b\n\n--b \t\nContent-Type: text/plain\n\none\n--bx\n--b -\n"
             "--b\nContent-Type: text/html\n\ntwo\n--b--  \nepilogue\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  text/html\n");
    EXPECT_EQ(m.SubPartList.Items(0)->Body(), Crlf("one\n--bx\n--b -"));
    EXPECT_EQ(m.SubPartList.Items(1)->Body(), "two");
}

TEST(ParseMultipart, BoundaryExtendingTheEnclosingOne)
{
    // One mailer names its related part after the outer boundary plus ".REL".
    TMailMessage2000 m;
    Parse(m, "Content-Type: multipart/mixed; boundary=\"XYZ\"\n\n"
             "--XYZ\nContent-Type: multipart/related; boundary=\"XYZ.REL\"\n\n"
             "--XYZ.REL\nContent-Type: text/html\n\n<img src=cid:a>\n"
             "--XYZ.REL\nContent-Type: image/png\nContent-ID: <a>\n\nPNG\n"
             "--XYZ.REL--\n"
             "--XYZ\nContent-Type: application/pdf\n\nPDF\n--XYZ--\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  multipart/related\n    text/html\n    image/png\n  application/pdf\n");
    EXPECT_EQ(m.SubPartList.Items(0)->SubPartList.Items(1)->Body(), "PNG");
    EXPECT_EQ(m.SubPartList.Items(0)->SubPartList.Items(1)->ParentBoundary, "XYZ.REL");

    // The same boundary inside and out: the innermost open part takes it.
    Parse(m, "Content-Type: multipart/mixed; boundary=s\n\n--s\nContent-Type: multipart/alternative; boundary=s\n\n"
             "--s\nContent-Type: text/plain\n\np\n--s--\n--s\nContent-Type: text/html\n\nh\n--s--\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  multipart/alternative\n    text/plain\n  text/html\n");
}

TEST(ParseMultipart, EnclosingDelimiterEndsUnclosedInnerParts)
{
    TMailMessage2000 m;
    Parse(m, "Content-Type: multipart/mixed; boundary=out\n\n"
             "--out\nContent-Type: multipart/alternative; boundary=in\n\n"
             "--in\nContent-Type: text/plain\n\nplain\n"
             "--in\nContent-Type: multipart/related; boundary=deep\n\n--deep\nContent-Type: text/html\n\nhtml\n"
             "--out\nContent-Type: application/pdf\n\nPDF\n--out--\n");
    EXPECT_EQ(Tree(m),
              "multipart/mixed\n  multipart/alternative\n    text/plain\n    multipart/related\n      text/html\n"
              "  application/pdf\n");
    const TMailPart* html = m.SubPartList.Items(0)->SubPartList.Items(1)->SubPartList.Items(0);
    EXPECT_EQ(html->Body(), "html");
    EXPECT_EQ(m.SubPartList.Items(1)->Body(), "PDF");
}

TEST(ParseMultipart, PartsWithoutHeaderAndBlankLeftovers)
{
    TMailMessage2000 m;
    // A part whose first line is content keeps that line.
    Parse(m, "Content-Type: multipart/mixed; boundary=b\n\n--b\nHello Bob,\nsee you: at ten\n--b\n"
             "Content-Type: text/plain\n\nsecond\n--b--\n");
    ASSERT_EQ(Tree(m), "multipart/mixed\n  (none)\n  text/plain\n");
    EXPECT_TRUE(m.SubPartList.Items(0)->Header.empty());
    EXPECT_EQ(m.SubPartList.Items(0)->Body(), Crlf("Hello Bob,\nsee you: at ten"));

    // Blank text after a last delimiter that is never closed is no part.
    Parse(m, "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nx\n--b\n  \n\n\t\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n");
    EXPECT_EQ(m.SubPartList.Items(0)->Body(), "x");
}

TEST(ParseMultipart, ZeroBytesAreData)
{
    // A UTF-16 part sent as binary and a zero inside the Subject: every
    // part after them is still there, with every byte of the bodies (the
    // zero in the header reads as a blank, as a save writes it).
    const std::string utf16("H\0i\0\r\n\0", 7);
    const std::string text = std::string("Subject: a\0b\r\n", 14)
                             + "Content-Type: multipart/mixed; boundary=z\r\n\r\n--z\r\n"
                               "Content-Type: text/plain; charset=utf-16le\r\nContent-Transfer-Encoding: binary\r\n\r\n"
                             + utf16 + "\r\n--z\r\nContent-Type: application/pdf\r\n\r\nPDF\r\n--z--\r\n";
    testutil::TempDir dir;
    TMailMessage2000 m;
    m.LoadFromFile(dir.Write("zero.eml", text));
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  application/pdf\n");
    EXPECT_EQ(m.Header.front(), "Subject: a b");
    EXPECT_EQ(m.SubPartList.Items(0)->Body(), utf16);
    EXPECT_EQ(m.SubPartList.Items(1)->Body(), "PDF");
}

// Parts of a message come only from the message, which frees them.
static_assert(!std::is_constructible_v<TMailPart, TMailMessage2000*>);

TEST(ParseProgress, ReportsStartEveryLineAndEnd)
{
    TMailMessage2000 m;
    std::vector<std::pair<std::size_t, std::size_t>> calls;
    m.OnProgress = [&](TMailPart* sender, std::size_t total, std::size_t current) {
        EXPECT_EQ(sender, &m);
        calls.emplace_back(total, current);
    };
    std::string text = Crlf("Subject: s\n\nab\ncd\n");
    m.ParseText(text, true);
    const std::size_t n = text.size();
    EXPECT_EQ(calls, (std::vector<std::pair<std::size_t, std::size_t>>{{n, 0}, {n, 1}, {n, 13}, {n, 15}, {n, 19},
                                                                       {n, n}}));
}

TEST(ParseUuencode, PlainMessageBecomesMultipartWithAttachments)
{
    TMailMessage2000 m;
    Parse(m, "Subject: uu\n\nHello there\nbegin 644 cat.txt\n#0V%T\n`\nend\nbetween kept\n"
             "begin 600 two words.pdf\n#0V%T\nend\nafter kept\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  text/plain\n  application/pdf\n");
    const TMailPart* text = m.SubPartList.Items(0);
    EXPECT_EQ(text->GetLabelParamValue("Content-Type", "charset"), "iso-8859-1");
    EXPECT_EQ(text->GetLabelValue("Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(QPDecodeText(text->Body()), Crlf("Hello there\nbetween kept\nafter kept\n"));
    EXPECT_EQ(m.Body(), Crlf("Hello there\n"));
    EXPECT_EQ(text->ParentBoundary, m.GetBoundary());
    TMailPart* cat = m.SubPartList.Items(1);
    EXPECT_EQ(cat->GetFileName(), "cat.txt");
    EXPECT_EQ(cat->GetLabelParamValue("X-Corvanta-Attachment", "embedded"), "no");
    EXPECT_EQ(cat->GetLabelValue("Content-Disposition"), "attachment");
    EXPECT_EQ(cat->Decoded, "Cat");
    EXPECT_EQ(cat->Body(), "Q2F0\r\n");
    EXPECT_EQ(m.SubPartList.Items(2)->GetLabelParamValue("Content-Type", "name"), "=?iso-8859-1?Q?two=20words.pdf?=");
    EXPECT_EQ(m.SubPartList.Items(2)->GetFileName(), "two words.pdf");
}

TEST(ParseUuencode, WithoutBeginOrEnd)
{
    TMailMessage2000 m;
    Parse(m, "Subject: x\n\njust text\n");
    EXPECT_TRUE(m.SubPartList.Empty());
    EXPECT_EQ(m.Body(), Crlf("just text\n"));
    // No end line: no file, and no text lost.
    Parse(m, "Subject: x\n\nbefore\nbegin 644 f.bin\n#0V%T\n");
    EXPECT_EQ(Tree(m), "(none)\n");
    EXPECT_EQ(m.Body(), Crlf("before\nbegin 644 f.bin\n#0V%T\n"));
    // A line that only starts like a begin line begins no block.
    Parse(m, "Subject: x\n\nbegin 6pm in room 4\nbring slides\nend\nthanks\n");
    EXPECT_EQ(Tree(m), "(none)\n");
    EXPECT_EQ(m.Body(), Crlf("begin 6pm in room 4\nbring slides\nend\nthanks\n"));
    // After a soft line break "begin" continues a line.
    Parse(m, "Subject: x\nContent-Transfer-Encoding: quoted-printable\n\nwe=\nbegin 644 at nine\nsee you\nend\n");
    EXPECT_EQ(Tree(m), "(none)\n");
    // An unfinished block before a complete one stays text.
    Parse(m, "Subject: x\n\nbegin 644 cut.bin\n#0V%T\nbegin 0644 cat.txt\n#0V%T\nend\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  text/plain\n");
    EXPECT_EQ(QPDecodeText(m.SubPartList.Items(0)->Body()), Crlf("begin 644 cut.bin\n#0V%T\n"));
    EXPECT_EQ(m.SubPartList.Items(1)->Decoded, "Cat");
    // Begin lines start a line; only "end" between blanks ends a block.
    Parse(m, "Subject: x\n\nabegin 644 a\n begin 644 b\nbegin 644 c.txt\n#0V%T\nending\n  end x\n \tend \nafter\n");
    ASSERT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  text/plain\n");
    EXPECT_EQ(QPDecodeText(m.SubPartList.Items(0)->Body()), Crlf("abegin 644 a\n begin 644 b\nafter\n"));
    EXPECT_EQ(m.SubPartList.Items(1)->GetFileName(), "c.txt");
    // Only files, no text: no empty text part.
    Parse(m, "Subject: x\n\nbegin 644 cat.txt\n#0V%T\nend\n\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n");
    EXPECT_EQ(m.SubPartList.Items(0)->Decoded, "Cat");
}

TEST(ParseUuencode, QuotedPrintableTextIsNotEncodedTwice)
{
    TMailMessage2000 m;
    Parse(m, "Subject: x\nContent-Transfer-Encoding: quoted-printable\n\nCaf=E9 =3D ok\nbegin 644 cat.txt\n#0V%T\nend\n");
    ASSERT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  text/plain\n");
    TMailPart* text = m.SubPartList.Items(0);
    text->Decode();
    EXPECT_EQ(text->Decoded, Crlf("Caf\xE9 = ok\n"));
}

TEST(Decode, ByTransferEncoding)
{
    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: BASE64"};
    p->SetBody("QUJD\r\nREVG\r\n");
    EXPECT_TRUE(p->Decode());
    EXPECT_EQ(p->Decoded, "ABCDEF");
    p->SetBody("changed");
    p->Decode(); // once only
    EXPECT_EQ(p->Decoded, "ABCDEF");

    p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: Quoted-Printable"};
    p->SetBody("a=3Db=\r\nc");
    p->Decode();
    EXPECT_EQ(p->Decoded, "a=bc");

    p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: x-uuencode"};
    p->SetBody("begin 644 c\r\n  #0V%T\r\n`\r\nend\r\n");
    p->Decode();
    EXPECT_EQ(p->Decoded, "Cat");
    EXPECT_EQ(p->GetLabelValue("Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(p->Body(), "Q2F0\r\n");

    p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: 8bit"};
    p->SetBody("raw\xFF");
    p->Decode();
    EXPECT_EQ(p->Decoded, "raw\xFF");
}

TEST(Encode, EachEncodingSetsTheHeader)
{
    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    p->Decoded = "caf\xE9 line";
    p->Encode(TEncodingType::etQuotedPrintable);
    EXPECT_EQ(p->GetLabelValue("Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(p->Body(), "caf=E9 line=\r\n"); // soft break: no line break is added to the text
    EXPECT_EQ(QPDecodeText(p->Body()), p->Decoded);
    p->Encode(TEncodingType::etBase64);
    EXPECT_EQ(p->GetLabelValue("Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(p->Body(), "Y2Fm6SBsaW5l\r\n");
    p->Encode(TEncodingType::etNoEncoding);
    EXPECT_FALSE(p->LabelExists("Content-Transfer-Encoding"));
    EXPECT_EQ(p->Body(), p->Decoded);
    p->Decoded.clear();
    p->EncodeQuotedPrintable();
    EXPECT_TRUE(p->Body().empty());
    EXPECT_FALSE(p->IsDecoded);
}
