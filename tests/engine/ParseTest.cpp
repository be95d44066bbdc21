#include "Codecs.h"
#include "TMailMessage2000.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::Crlf;
using testutil::Parse;
using testutil::Tree;

TEST(ParseHeader, FoldingCanonicalFormAndBodies)
{
    TMailMessage2000 m;
    Parse(m, "subject: a\n\t   folded\n  line\nfrom:x@y\n\nbody 1\nbody 2\n");
    EXPECT_EQ(m.Header, (TStringList{"Subject: a folded line", "From: x@y"}));
    EXPECT_EQ(m.Body, Crlf("body 1\nbody 2\n"));
    EXPECT_TRUE(m.NeedsScan && m.NeedsRebuild && m.NeedsSerialize);

    Parse(m, "Subject: only headers\nX-A: b");
    EXPECT_EQ(m.Header.size(), 2u);
    EXPECT_TRUE(m.Body.empty());

    // A line that is no field ends a header that lacks its blank line.
    Parse(m, " starts with blank\nSubject: s\nno colon line\nbody\n");
    EXPECT_EQ(m.Header, (TStringList{"starts with blank ", "Subject: s"}));
    EXPECT_EQ(m.Body, Crlf("no colon line\nbody\n"));
}

TEST(ParseHeader, LongLinesAndBinaryBytesGiveDefinedOutput)
{
    TMailMessage2000 m;
    const std::string big(1 << 20, 'x');
    Parse(m, "Subject: " + big + "\nDate: garbage\nFrom: \"\x01\xFF\" <\x80@y>\n\n\x01\x02\xFF body");
    EXPECT_EQ(m.GetSubject().size(), big.size());
    EXPECT_EQ(m.GetFromAddress(), "\x80@y");
    EXPECT_EQ(m.Body, "\x01\x02\xFF body");
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
    EXPECT_EQ(m.Body, Crlf("preamble text\n"));
    const TMailPart* alt = m.SubPartList.Items(0);
    EXPECT_EQ(alt->ParentBoundary, "outer");
    EXPECT_EQ(alt->SubPartList.Items(0)->ParentBoundary, "inner");
    EXPECT_EQ(alt->SubPartList.Items(0)->Body, "plain");
    EXPECT_EQ(alt->SubPartList.Items(1)->Body, "<b>html</b>");
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
    EXPECT_EQ(m.SubPartList.Items(1)->Body, Crlf("tail\n"));

    // The boundary never appears: everything is preamble.
    Parse(m, "Content-Type: multipart/mixed; boundary=nothere\n\nsome text\n--other\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n");
    EXPECT_EQ(m.Body, Crlf("some text\n--other\n"));
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
    EXPECT_NE(p->Body.find("deep"), std::string::npos);
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

    // A zero byte ends the text.
    std::string zero("Subject: z\r\n\r\nab\0cd", 19);
    m.ParseText(zero, true);
    EXPECT_EQ(m.Body, "ab");
}

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
    Parse(m, "Subject: uu\n\nHello there\nbegin 644 cat.txt\n#0V%T\n`\nend\nbetween dropped\n"
             "begin 600 two words.pdf\n#0V%T\nend\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n  text/plain\n  application/pdf\n");
    const TMailPart* text = m.SubPartList.Items(0);
    EXPECT_EQ(text->GetLabelParamValue("Content-Type", "charset"), "iso-8859-1");
    EXPECT_EQ(text->GetLabelValue("Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(QPDecodeText(text->Body), Crlf("Hello there\n"));
    EXPECT_EQ(text->ParentBoundary, m.GetBoundary());
    TMailPart* cat = m.SubPartList.Items(1);
    EXPECT_EQ(cat->GetFileName(), "cat.txt");
    EXPECT_EQ(cat->GetLabelParamValue("X-Corvanta-Attachment", "embedded"), "no");
    EXPECT_EQ(cat->GetLabelValue("Content-Disposition"), "attachment");
    EXPECT_EQ(cat->Decoded, "Cat");
    EXPECT_EQ(cat->Body, "Q2F0\r\n");
    EXPECT_EQ(m.SubPartList.Items(2)->GetLabelParamValue("Content-Type", "name"), "=?iso-8859-1?Q?two=20words.pdf?=");
    EXPECT_EQ(m.SubPartList.Items(2)->GetFileName(), "two words.pdf");
}

TEST(ParseUuencode, WithoutBeginOrEnd)
{
    TMailMessage2000 m;
    Parse(m, "Subject: x\n\njust text\n");
    EXPECT_TRUE(m.SubPartList.Empty());
    EXPECT_EQ(m.Body, Crlf("just text\n"));
    Parse(m, "Subject: x\n\nbefore\nbegin 644 f.bin\n#0V%T\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  text/plain\n"); // no end: no file
}

TEST(Decode, ByTransferEncoding)
{
    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: BASE64"};
    p->Body = "QUJD\r\nREVG\r\n";
    EXPECT_TRUE(p->Decode());
    EXPECT_EQ(p->Decoded, "ABCDEF");
    p->Body = "changed";
    p->Decode(); // once only
    EXPECT_EQ(p->Decoded, "ABCDEF");

    p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: Quoted-Printable"};
    p->Body = "a=3Db=\r\nc";
    p->Decode();
    EXPECT_EQ(p->Decoded, "a=bc");

    p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: x-uuencode"};
    p->Body = "begin 644 c\r\n  #0V%T\r\n`\r\nend\r\n";
    p->Decode();
    EXPECT_EQ(p->Decoded, "Cat");
    EXPECT_EQ(p->GetLabelValue("Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(p->Body, "Q2F0\r\n");

    p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: 8bit"};
    p->Body = "raw\xFF";
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
    EXPECT_EQ(p->Body, "caf=E9 line=\r\n"); // soft break: no line break is added to the text
    EXPECT_EQ(QPDecodeText(p->Body), p->Decoded);
    p->Encode(TEncodingType::etBase64);
    EXPECT_EQ(p->GetLabelValue("Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(p->Body, "Y2Fm6SBsaW5l\r\n");
    p->Encode(TEncodingType::etNoEncoding);
    EXPECT_FALSE(p->LabelExists("Content-Transfer-Encoding"));
    EXPECT_EQ(p->Body, p->Decoded);
    p->Decoded.clear();
    p->EncodeQuotedPrintable();
    EXPECT_TRUE(p->Body.empty());
    EXPECT_FALSE(p->IsDecoded);
}
