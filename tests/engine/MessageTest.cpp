#include "TMailMessage2000.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::Crlf;
using testutil::Load;
using testutil::Parse;
using testutil::Tree;

TEST(MessageAccessors, SubjectDateAndDecodedWords)
{
    testutil::ScopedTimeZone tz("UTC");
    TMailMessage2000 m;
    Parse(m, "Subject: =?iso-8859-1?Q?Andr=E9?= says; hi\nDate:  Mon, 12 Mar 2001 10:20:30 +0100 \n\n");
    EXPECT_EQ(m.GetSubject(), "Andr\xE9 says; hi"); // the whole field: a ";" is text
    EXPECT_NEAR(m.GetDate(), EncodeDateTime(2001, 3, 12, 9, 20, 30), 1e-6);
    Parse(m, "Date:\n\n");
    EXPECT_EQ(m.GetDate(), 0.0);
    Parse(m, "Subject: x\n\n");
    EXPECT_EQ(m.GetDate(), 0.0);
}

TEST(MessageScan, SinglePartText)
{
    TMailMessage2000 m;
    Load(m, "Subject: s\nContent-Type: text/plain; charset=utf-8\n\nhello\nworld\n");
    EXPECT_EQ(m.TextPart, &m);
    EXPECT_TRUE(m.AttachList.Empty());
    EXPECT_EQ(m.TextLines.ToStringList(), (TStringList{"hello", "world"}));
    EXPECT_EQ(m.GetLabelValue("Mime-Version"), "1.0");
    EXPECT_EQ(m.GetLabelValue("Content-Disposition"), "inline");
    m.Decode();
    EXPECT_EQ(m.Decoded, Crlf("hello\nworld\n"));

    // No Content-Type at all: still the text body.
    Load(m, "Subject: s\n\nplain\n");
    EXPECT_EQ(m.TextPart, &m);
}

TEST(MessageScan, AlternativeBodies)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain\n\nplain\n"
            "--a\nContent-Type: text/html\n\n<p>html</p>\n--a--\n");
    ASSERT_NE(m.TextPart, nullptr);
    ASSERT_NE(m.HtmlPart, nullptr);
    EXPECT_EQ(m.TextPart->Decoded, "plain");
    EXPECT_EQ(m.HtmlLines.ToStringList(), (TStringList{"<p>html</p>"}));
    EXPECT_TRUE(m.AttachList.Empty());
    EXPECT_EQ(Tree(m), "multipart/alternative\n  text/plain\n  text/html\n");
    EXPECT_EQ(m.AlternativePart, &m);
}

TEST(MessageScan, RelatedImagesAreEmbedded)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/related; boundary=r\n\n"
            "--r\nContent-Type: text/html\n\n<img src=cid:a>\n"
            "--r\nContent-Type: image/png\nContent-ID: <a>\nContent-Transfer-Encoding: base64\n\niVBO\n"
            "--r\nContent-Type: image/gif; name=b.gif\n\nGIF\n--r--\n");
    ASSERT_EQ(m.AttachList.Count(), 2u);
    for (const TMailPart* a : m.AttachList) {
        EXPECT_TRUE(a->Embedded);
        EXPECT_EQ(a->GetLabelParamValue("X-Corvanta-Attachment", "embedded"), "yes");
        EXPECT_EQ(a->GetLabelValue("Content-Location"), m.ContentLocationBase + a->GetFileName());
        EXPECT_EQ(a->ParentPart, m.RelatedPart);
    }
    EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "_a_.png");
    EXPECT_EQ(m.AttachList.Items(1)->GetFileName(), "b.gif");
    EXPECT_EQ(m.RelatedPart, &m);
    EXPECT_EQ(Tree(m), "multipart/related\n  text/html\n  image/png\n  image/gif\n");
}

TEST(MessageScan, MixedWithTextAndPdfAndOddTexts)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: text/plain\n\nbody\n"
            "--m\nContent-Type: text/plain\n\n\n"
            "--m\nContent-Type: text/plain\n\nsecond text\n"
            "--m\nContent-Type: application/pdf; name=r.pdf\n\n%PDF\n--m--\n");
    ASSERT_NE(m.TextPart, nullptr);
    EXPECT_EQ(m.TextPart->Decoded, "body");
    ASSERT_EQ(m.AttachList.Count(), 3u);
    for (const TMailPart* a : m.AttachList) {
        EXPECT_FALSE(a->Embedded);
        EXPECT_EQ(a->GetLabelValue("Content-Disposition"), "attachment");
        EXPECT_EQ(a->ParentPart, &m);
    }
    EXPECT_EQ(m.AttachList.Items(2)->GetFileName(), "r.pdf");
    EXPECT_EQ(m.AttachList.Items(1)->GetFileName(), "text_plain.txt");
}

TEST(MessageScan, WholeBodyIsOnePdf)
{
    TMailMessage2000 m;
    Load(m, "Subject: pdf\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\nJVBERg==\n");
    ASSERT_EQ(m.AttachList.Count(), 1u);
    EXPECT_EQ(m.AttachList.Items(0), &m);
    EXPECT_FALSE(m.Embedded);
    m.Decode();
    EXPECT_EQ(m.Decoded, "%PDF");
    EXPECT_EQ(m.GetContentType(), "application/pdf");
    EXPECT_EQ(m.GetFileName(), "application_pdf.pdf");
    EXPECT_EQ(m.PartCount(), 0u);
}

TEST(MessageRebuild, ReshapesMixedRelatedAlternative)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: multipart/related; boundary=r\n\n"
            "--r\nContent-Type: multipart/alternative; boundary=a\n\n"
            "--a\nContent-Type: text/plain\n\nplain\n--a\nContent-Type: text/html\n\n<img src=x.png>\n--a--\n"
            "--r\nContent-Type: image/png; name=x.png\n\nPNG\n--r--\n"
            "--m\nContent-Type: application/zip; name=a.zip\n\nZIP\n--m--\n");
    EXPECT_EQ(Tree(m), "multipart/mixed\n  multipart/related\n    multipart/alternative\n      text/plain\n"
                       "      text/html\n    image/png\n  application/zip\n");
    EXPECT_TRUE(m.GetBoundary().ends_with("_mixed"));
    EXPECT_TRUE(m.RelatedPart->GetBoundary().ends_with("_related"));
    EXPECT_TRUE(m.AlternativePart->GetBoundary().ends_with("_alternative"));
    EXPECT_EQ(m.TextPart->GetLabelValue("Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_EQ(m.TextPart->GetLabelValue("Content-Length"), std::to_string(m.TextPart->Body.size()));
    // Only the new containers, the two bodies and the two files remain.
    EXPECT_EQ(m.PartCount(), 6u);
    // A second rebuild without a new parse changes nothing.
    const std::string before = Tree(m);
    m.RebuildStructure(0);
    EXPECT_EQ(Tree(m), before);
}

TEST(MessageRebuild, UnknownMultipartsAreWalkedThrough)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/signed; boundary=s\n\n--s\nContent-Type: text/plain\n\nsigned\n"
            "--s\nContent-Type: application/pgp-signature\n\nSIG\n--s--\n");
    EXPECT_EQ(m.AttachList.Count(), 2u);
    EXPECT_EQ(m.GetContentType(), "multipart/mixed");
}
