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
    EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "a.png");
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
    // The blank text is neither body nor attachment; the second text is
    // an attachment.
    ASSERT_EQ(m.AttachList.Count(), 2u);
    for (const TMailPart* a : m.AttachList) {
        EXPECT_FALSE(a->Embedded);
        EXPECT_EQ(a->GetLabelValue("Content-Disposition"), "attachment");
        EXPECT_EQ(a->ParentPart, &m);
    }
    EXPECT_EQ(m.AttachList.Items(1)->GetFileName(), "r.pdf");
    EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "text_plain.txt");
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
    EXPECT_EQ(m.TextPart->GetLabelValue("Content-Length"), std::to_string(m.TextPart->Body().size()));
    // Only the new containers, the two bodies and the two files remain.
    EXPECT_EQ(m.PartCount(), 6u);
    // A second rebuild without a new parse changes nothing.
    const std::string before = Tree(m);
    m.RebuildStructure(0);
    EXPECT_EQ(Tree(m), before);
}

namespace {

// The text body, the HTML body and the attachments (name, embedded) as one
// line each, for comparing what a reader is shown.
std::string Shown(TMailMessage2000& m)
{
    std::string out;
    for (auto [label, part] : {std::pair{"text: ", m.TextPart}, std::pair{"html: ", m.HtmlPart}})
        if (part) {
            part->Decode();
            out += label + std::string(part->Decoded) + "\n";
        }
    for (TMailPart* a : m.AttachList)
        out += (a->Embedded ? "embedded " : "attachment ") + a->GetFileName() + "\n";
    return out;
}

} // namespace

// Which part a reader expects as the body, for the container kinds real
// mail uses beside mixed, related and alternative.
TEST(MessageBody, SignedReportAndOtherKinds)
{
    TMailMessage2000 m;
    // The first part of a signed message is its content; the signature is
    // an attachment.
    Load(m, "Content-Type: multipart/signed; boundary=s; protocol=\"application/pgp-signature\"\n\n"
            "--s\nContent-Type: text/plain\n\nsigned text\n"
            "--s\nContent-Type: application/pgp-signature; name=signature.asc\n\nSIG\n--s--\n");
    EXPECT_EQ(Shown(m), "text: signed text\nattachment signature.asc\n");
    EXPECT_EQ(m.GetContentType(), "multipart/mixed");

    // ... searched as if it stood in the signed part's place.
    Load(m, "Content-Type: multipart/signed; boundary=s\n\n"
            "--s\nContent-Type: multipart/alternative; boundary=a\n\n"
            "--a\nContent-Type: text/plain\n\nplain\n--a\nContent-Type: text/html\n\n<p>html</p>\n--a--\n"
            "--s\nContent-Type: application/pkcs7-signature; name=smime.p7s\n\nSIG\n--s--\n");
    EXPECT_EQ(Shown(m), "text: plain\nhtml: <p>html</p>\nattachment smime.p7s\n");

    // The signature first: the signed text was listed as an attachment and
    // the message showed no body. An S/MIME signature named by its protocol.
    Load(m, "Content-Type: multipart/signed; boundary=s; protocol=\"application/pgp-signature\"\n\n"
            "--s\nContent-Type: application/pgp-signature; name=signature.asc\n\nSIG\n"
            "--s\nContent-Type: text/plain\n\nsigned text\n--s--\n");
    EXPECT_EQ(Shown(m), "text: signed text\nattachment signature.asc\n");
    Load(m, "Content-Type: multipart/signed; boundary=s; protocol=\"application/x-pkcs7-signature\"\n\n"
            "--s\nContent-Type: application/x-pkcs7-signature; name=smime.p7s\n\nSIG\n"
            "--s\nContent-Type: multipart/alternative; boundary=a\n\n"
            "--a\nContent-Type: text/plain\n\nplain\n--a\nContent-Type: text/html\n\n<p>html</p>\n--a--\n--s--\n");
    EXPECT_EQ(Shown(m), "text: plain\nhtml: <p>html</p>\nattachment smime.p7s\n");

    // A bounce: the first part is the body; a text among the machine's parts
    // is not.
    Load(m, "Content-Type: multipart/report; report-type=delivery-status; boundary=r\n\n"
            "--r\nContent-Type: text/plain\n\nThe mail could not be delivered.\n"
            "--r\nContent-Type: message/delivery-status\n\nAction: failed\n"
            "--r\nContent-Type: text/plain; charset=us-ascii\n\nheaders of the original\n"
            "--r\nContent-Type: message/rfc822\n\nSubject: original\n\nhello\n--r--\n");
    EXPECT_EQ(Shown(m), "text: The mail could not be delivered.\nattachment message_delivery-status.txt\n"
                        "attachment text_plain.txt\nattachment message_rfc822.eml\n");

    // Any other kind is read as mixed.
    Load(m, "Content-Type: multipart/x-unknown; boundary=u\n\n"
            "--u\nContent-Type: text/plain\n\nunknown kind\n"
            "--u\nContent-Type: image/gif; name=a.gif\n\nGIF\n--u--\n");
    EXPECT_EQ(Shown(m), "text: unknown kind\nattachment a.gif\n");
}

// A list wraps the original message in a mixed part and appends a footer:
// the original is the body, the footer an attachment.
TEST(MessageBody, FirstTextOfNestedMixedIsTheBody)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/mixed; boundary=outer\n\n"
            "--outer\nContent-Type: multipart/mixed; boundary=inner\n\n"
            "--inner\nContent-Type: text/plain\n\nthe original\n"
            "--inner\nContent-Type: application/pdf; name=r.pdf\n\n%PDF\n--inner--\n"
            "--outer\nContent-Type: text/plain\n\n-- list footer\n--outer--\n");
    EXPECT_EQ(Shown(m), "text: the original\nattachment r.pdf\nattachment text_plain.txt\n");

    // An alternative that holds no text of a kind leaves that kind to the
    // first such text after it.
    Load(m, "Content-Type: multipart/mixed; boundary=outer\n\n"
            "--outer\nContent-Type: multipart/alternative; boundary=a\n\n"
            "--a\nContent-Type: text/html\n\n<p>page</p>\n--a--\n"
            "--outer\nContent-Type: text/plain\n\nplain after\n"
            "--outer\nContent-Type: text/html\n\n<p>second page</p>\n--outer--\n");
    EXPECT_EQ(Shown(m), "text: plain after\nhtml: <p>page</p>\nattachment text_html.html\n");
}

// A part without Content-Type is plain text; in a digest it is a message.
TEST(MessageBody, PartsWithoutContentType)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\n\nno type at all\n"
            "--m\nContent-Type: image/png; name=p.png\n\nPNG\n--m--\n");
    EXPECT_EQ(Shown(m), "text: no type at all\nattachment p.png\n");

    // A type that names no subtype is read the same way.
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: text\n\nshort type\n--m\nContent-Type: bogus\n\nbogus type\n--m--\n");
    EXPECT_EQ(Shown(m), "text: short type\nattachment bogus.txt\n");

    Load(m, "Subject: digest\nContent-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: text/plain\n\nTopics of today\n"
            "--m\nContent-Type: multipart/digest; boundary=d\n\n"
            "--d\n\nFrom: a@x\nSubject: =?utf-8?Q?First_n=C3=B6te?=\n\nfirst\n"
            "--d\nFrom: b@x\nSubject: Second\n\nsecond\n"
            "--d\n\nFrom: c@x\n\nno subject\n--d--\n--m--\n");
    EXPECT_EQ(Shown(m), "text: Topics of today\nattachment First n\xC3\xB6te.eml\nattachment Second.eml\n"
                        "attachment message_rfc822.eml\n");
    for (TMailPart* a : m.AttachList) {
        EXPECT_EQ(a->GetContentType(), "message/rfc822");
        a->Decode();
    }
    EXPECT_EQ(m.AttachList.Items(0)->Decoded, testutil::Crlf("From: a@x\nSubject: =?utf-8?Q?First_n=C3=B6te?=\n\nfirst"));
    // The message's header, read as the part's when the empty line after
    // the delimiter is missing, stays with the message.
    EXPECT_EQ(m.AttachList.Items(1)->Decoded, testutil::Crlf("From: b@x\nSubject: Second\n\nsecond"));
}

// Parts without content are not offered as attachments: nothing to save,
// and the viewer's attachment button would light up for nothing.
TEST(MessageBody, NoPhantomAttachments)
{
    TMailMessage2000 m;
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: text/plain\n\nbody\n"
            "--m\nContent-Type: text/plain\n\n  \n\t\n"
            "--m\nContent-Type: application/octet-stream\nContent-Transfer-Encoding: base64\n\n\n"
            "--m\nContent-Type: text/html\nContent-Transfer-Encoding: quoted-printable\n\n=20=\n\n"
            "--m\nContent-Type: multipart/mixed; boundary=e\n\npreamble\n--e\n\n--e--\n"
            "--m\n\n   \n");
    EXPECT_EQ(Shown(m), "text: body\n");

    // A named file stays, even empty; a multipart whose boundary never came
    // keeps its text.
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: text/plain\n\nbody\n"
            "--m\nContent-Type: application/octet-stream; name=empty.bin\n\n"
            "--m\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename*=UTF-8''e%C3%A9.bin\n\n"
            "--m\nContent-Type: multipart/alternative; boundary=x\n\nwhat the sender wrote\n--m--\n");
    EXPECT_EQ(Shown(m), "text: body\nattachment empty.bin\nattachment e\xC3\xA9.bin\nattachment multipart_alternative.txt\n");

    // A blank first text is no body: the next one is.
    Load(m, "Content-Type: multipart/mixed; boundary=m\n\n"
            "--m\nContent-Type: text/plain\n\n \n--m\nContent-Type: text/plain\n\nreal text\n--m--\n");
    EXPECT_EQ(Shown(m), "text: real text\n");
}

TEST(MessageBody, BrokenContentTypesStillShowTheMessage)
{
    TMailMessage2000 m;
    // Parameters without the ";" before them: no body, and a multipart that
    // was one attachment of raw MIME.
    Load(m, "Content-Type: multipart/mixed boundary=\"b\"\n\n--b\nContent-Type: text/plain charset=utf-8\n\n"
            "caf\xC3\xA9\n--b\nContent-Type: application/pdf name=r.pdf\n\n%PDF\n--b--\n");
    ASSERT_NE(m.TextPart, nullptr);
    EXPECT_EQ(m.TextPart->Decoded, "caf\xC3\xA9");
    EXPECT_EQ(m.TextPart->GetLabelParamValue("Content-Type", "charset"), "utf-8");
    ASSERT_EQ(m.AttachList.Count(), 1u);
    EXPECT_EQ(m.AttachList.Items(0)->GetFileName(), "r.pdf");
    Load(m, "Content-Type: text/plain; charset=\"utf-8\" format=flowed delsp=yes\n"
            "Content-Disposition: inline filename=a.txt\n\nx\n");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "charset"), "utf-8");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "format"), "flowed");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "delsp"), "yes");
    // An unquoted value with blanks keeps them; "name = value" stays one.
    Parse(m, "Content-Type: text/plain; name=my file.txt; charset = utf-8\n\n");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "name"), "my file.txt");
    EXPECT_EQ(m.GetLabelParamValue("Content-Type", "charset"), "utf-8");

    // Nothing to read as a type: plain text (RFC 2045 5.2), never nothing;
    // a type followed by junk is still that type.
    for (const char* type : {"garbage", "text", "/", "text/", "(comment)", "text/plain/x"}) {
        Load(m, std::string("Content-Type: ") + type + "\n\nshown\n");
        ASSERT_NE(m.TextPart, nullptr) << type;
        EXPECT_TRUE(m.AttachList.Empty()) << type;
    }
    Load(m, "Content-Type: text/html charset\n\n<p>x</p>\n");
    EXPECT_NE(m.HtmlPart, nullptr);

    // No boundary, or an empty one: the signature separator was taken for
    // a delimiter and the text before it was lost.
    for (const char* field : {"multipart/mixed", "multipart/mixed; boundary=\"\"", "multipart/alternative; boundary= "}) {
        Load(m, std::string("Content-Type: ") + field + "\n\nHello,\nsee you.\n-- \nBob\n--\n");
        ASSERT_NE(m.TextPart, nullptr) << field;
        m.TextPart->Decode();
        EXPECT_EQ(m.TextPart->Decoded, Crlf("Hello,\nsee you.\n-- \nBob\n--\n")) << field;
        EXPECT_TRUE(m.AttachList.Empty()) << field;
    }
    // Inside a multipart too, and a boundary that never comes still lists
    // what the sender wrote.
    Load(m, "Content-Type: multipart/mixed; boundary=o\n\n--o\nContent-Type: multipart/mixed\n\ninner\n-- \nsig\n"
            "--o\nContent-Type: application/pdf\n\n%PDF\n--o--\n");
    ASSERT_NE(m.TextPart, nullptr);
    EXPECT_EQ(m.TextPart->Decoded, Crlf("inner\n-- \nsig"));
    EXPECT_EQ(m.AttachList.Count(), 1u);
}

// RFC 2046 lets a reader choose only among alternatives: every inline text
// part of a mixed one is shown, in order. Only the chosen body was, and the
// other text appeared nowhere (neither in the page nor among attachments).
TEST(MessageBody, EveryInlineTextOfAMixedPartIsShown)
{
    auto shown = [](const std::string& text) {
        TMailMessage2000 m;
        Parse(m, text);
        m.ScanParts();
        std::string out;
        for (TMailPart* p : ShownTextParts(m)) {
            p->Decode();
            out += (p == m.HtmlPart ? "html " : p == m.TextPart ? "text " : "more ") + p->Decoded + "|";
        }
        return out;
    };
    const std::string mixed = "Content-Type: multipart/mixed; boundary=m\n\n";
    const std::string alt = "Content-Type: multipart/alternative; boundary=a\n\n--a\nContent-Type: text/plain\n\nT\n"
                            "--a\nContent-Type: text/html\n\n<p>H</p>\n--a--\n";
    EXPECT_EQ(shown(mixed + "--m\nContent-Type: text/plain\n\nA\n--m\nContent-Type: text/html\n\n<b>B</b>\n--m--\n"),
              "text A|html <b>B</b>|");
    EXPECT_EQ(shown(mixed + "--m\nContent-Type: text/html\n\n<b>B</b>\n--m\nContent-Type: text/plain\n\nfooter\n--m--\n"),
              "html <b>B</b>|text footer|");
    EXPECT_EQ(shown(mixed + "--m\n" + alt + "--m\nContent-Type: text/plain\n\nfooter\n--m--\n"), "html <p>H</p>|more footer|");
    EXPECT_EQ(shown(mixed + "--m\nContent-Type: text/plain\n\nA\n--m\nContent-Type: text/html\n\n"
                            "<object data=x></object>\n--m--\n"),
              "text A|html <object data=x></object>|");
    EXPECT_EQ(shown(mixed + "--m\nContent-Type: text/plain\n\nA\n--m\nContent-Type: text/plain\n\nB\n--m--\n"),
              "text A|more B|");
    // Alternatives stay a choice; files stay files; a second alternative
    // shows its own choice.
    EXPECT_EQ(shown(alt), "html <p>H</p>|");
    EXPECT_EQ(shown(mixed + "--m\nContent-Type: text/plain\n\nA\n--m\nContent-Type: text/plain; name=n.txt\n\nN\n"
                            "--m\nContent-Type: text/html\nContent-Disposition: attachment\n\n<p>F</p>\n"
                            "--m\nContent-Type: application/pdf\n\n%PDF\n--m--\n"),
              "text A|");
    EXPECT_EQ(shown(mixed + "--m\n" + alt + "--m\nContent-Type: multipart/alternative; boundary=b\n\n"
                            "--b\nContent-Type: text/plain\n\nT2\n--b\nContent-Type: text/html\n\n<p>H2</p>\n--b--\n--m--\n"),
              "html <p>H</p>|more <p>H2</p>|");
    // Through a signature that comes first, and a related page.
    EXPECT_EQ(shown("Content-Type: multipart/signed; boundary=s; protocol=\"application/pgp-signature\"\n\n"
                    "--s\nContent-Type: application/pgp-signature\n\nSIG\n--s\n" + mixed +
                    "--m\nContent-Type: text/plain\n\nsigned\n--m\nContent-Type: text/plain\n\nlist footer\n--m--\n--s--\n"),
              "text signed|more list footer|");
    EXPECT_EQ(shown("Content-Type: multipart/related; boundary=r\n\n--r\nContent-Type: text/html\n\n<img src=cid:i>\n"
                    "--r\nContent-Type: text/plain\nContent-ID: <i>\n\nnot shown\n--r--\n"),
              "html <img src=cid:i>|");
    EXPECT_EQ(shown("Subject: s\n\nplain\n"), "text plain\r\n|");
    EXPECT_EQ(shown(mixed + "--m\nContent-Type: application/pdf\n\n%PDF\n--m--\n"), "");
}
