// The parser skips between possible delimiter lines when nobody listens,
// places the bodies after its walk (the largest taking the file's storage
// over), and the engine makes re-encoded and joined bodies only when they
// are read. None of that may change a result: these tests read the same
// message each way and compare everything.
#include "Codecs.h"
#include "FileIO.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <regex>

using namespace testutil;

namespace {

void DumpAll(const TMailPart& p, std::string& out)
{
    out += "[part]\n";
    for (const auto& h : p.Header)
        out += "H " + h + "\n";
    out += "B " + std::to_string(p.Body().size()) + "\n" + p.Body() + "\n";
    out += "P " + p.ParentBoundary + "\n";
    for (const TMailPart* c : p.SubPartList)
        DumpAll(*c, out);
}

std::string Dump(const TMailPart& p)
{
    std::string out;
    DumpAll(p, out);
    // Boundaries the engine makes up differ from message to message.
    static const std::regex made("boundary[0-9A-F]{8}");
    return std::regex_replace(out, made, "boundary?");
}

// Messages made of pieces that meet the parser's edge cases: delimiters and
// near-delimiters, dashes where a delimiter could start, uuencoded blocks,
// bare CR and LF, parts without header or body, unclosed multiparts.
std::string RandomMessage(std::mt19937& rng)
{
    static const char* const pieces[] = {
        "--", "-", "---- x", "a--b1", "--b1", "--b1--", "--b2", "--b2--", "--b1 ", "--b2--  ", "text", "", " ",
        "begin 644 f.bin", "M86)C9&5F9VAI:FML;6YO<'%R<W1U=G=X>7IA8F-D969G:&EJ:VQM;F]P<7)S", "#0V%T", "`", "end",
        " end ", "=41=42", "a=", "QUJD", "\n--b1", "x\r--b2", "-\r-", "caf\xE9", "Content-Type: text/plain"};
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::function<std::string(int)> part = [&](int depth) {
        std::string s;
        const int kind = pick(10);
        if (depth < 3 && kind < 3) {
            const std::string b = pick(2) ? "b1" : "b2";
            s += "Content-Type: multipart/" + std::string(pick(2) ? "mixed" : "alternative") + "; boundary=" + b;
            s += "\r\n\r\n";
            for (int i = pick(3); i > 0; --i)
                s += std::string(pieces[pick(std::size(pieces))]) + "\r\n";
            for (int i = pick(4); i > 0; --i)
                s += "--" + b + (pick(4) ? "" : " ") + "\r\n" + part(depth + 1) + "\r\n";
            if (pick(4))
                s += "--" + b + "--\r\n";
            return s;
        }
        if (kind < 8)
            s += std::string(pick(2) ? "Content-Type: text/plain" : "Content-Type: application/pdf; name=x.pdf")
                 + (pick(2) ? "\r\nContent-Transfer-Encoding: base64" : "") + "\r\n\r\n";
        for (int i = pick(8); i > 0; --i)
            s += std::string(pieces[pick(std::size(pieces))]) + "\r\n";
        if (pick(3) == 0)
            s += std::string(20000 + pick(20000), 'Q') + "\r\n"; // a body larger than the rest
        return s;
    };
    return "From: a@b\r\nSubject: s\r\n" + part(0);
}

// Every bare CR, bare LF and CR LF as one CR LF, as a load makes them.
std::string LineEndsMadeCrlf(const std::string& text)
{
    std::string crlf;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            crlf += text[i];
        else if (text[i] == '\n' || i + 1 == text.size() || text[i + 1] != '\n')
            crlf += "\r\n";
    }
    return crlf;
}

} // namespace

TEST(ParseWays, LoadedListenedAndPlainParsesAgree)
{
    TempDir dir;
    std::mt19937 rng(20261208);
    std::vector<std::string> messages = {
        // The largest body first, in the middle and last.
        Crlf("Content-Type: multipart/mixed; boundary=b\n\npre\n--b\n\n" + std::string(5000, 'A')
             + "\n--b\n\nsmall\n--b\n\nsmaller\n--b--\nepilogue\n"),
        Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nsmall\n--b\n\n" + std::string(5000, 'A')
             + "\n--b\n\nsmaller\n--b--\n"),
        Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nsmall\n--b\n\n" + std::string(5000, 'A') + "\n"),
        // Uuencoded files in a part without Content-Type, and at the top.
        Crlf("Subject: uu\n\nhello\nbegin 644 cat.txt\n#0V%T\n`\nend\nbye\n"),
        Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\nbegin 644 cat.txt\n#0V%T\n`\nend\n--b\n\n"
             + std::string(300, 'x') + "\n--b--\n"),
        // Dashes that start no delimiter line.
        Crlf("Content-Type: multipart/mixed; boundary=b\n\n--b\n\na --b\n-\n---\n-x\n\r--b\nz\n--b--\n"),
    };
    for (int i = 0; i < 400; ++i)
        messages.push_back(RandomMessage(rng));
    for (const std::string& text : messages) {
        TMailMessage2000 plain;
        std::string buf = text;
        plain.ParseText(buf, true);
        const std::string expected = Dump(plain);

        TMailMessage2000 listened;
        std::size_t reports = 0;
        listened.OnProgress = [&reports](TMailPart*, std::size_t, std::size_t) { ++reports; };
        buf = text;
        listened.ParseText(buf, true);
        EXPECT_EQ(Dump(listened), expected) << text.substr(0, 2000);
        EXPECT_GE(reports, 2u);

        // A loaded file has its line ends made CR LF first.
        std::string crlf = LineEndsMadeCrlf(text);
        TMailMessage2000 normalised;
        normalised.ParseText(crlf, true);
        TMailMessage2000 loaded;
        loaded.LoadFromFile(dir.Write("m.eml", text));
        EXPECT_EQ(Dump(loaded), Dump(normalised)) << crlf.substr(0, 2000);
    }
}

// A file is checked for bare CR and LF piece by piece as it is read: one
// lying across the edge of a piece or of a 64-byte block is still found.
TEST(ParseWays, LineEndsCheckedAcrossReadPieces)
{
    TempDir dir;
    std::string clean = "Subject: big\r\n\r\n";
    while (clean.size() < 300000)
        clean += std::string(70, 'x') + "\r\n";
    const std::size_t edge = 256 << 10;
    for (const std::size_t at : {edge - 65, edge - 64, edge - 63, edge - 1, edge, edge + 1, edge + 63, edge + 64})
        for (const char* odd : {"\n", "\r", "\r\r\n"}) {
            std::string text = clean;
            text.insert(at, odd);
            const std::string crlf = LineEndsMadeCrlf(text);
            TMailMessage2000 loaded;
            loaded.LoadFromFile(dir.Write("m.eml", text));
            ASSERT_EQ(loaded.Body(), crlf.substr(crlf.find("\r\n\r\n") + 4)) << at << " " << odd[0];
        }
}

// Bodies are placed in stretches as the walk goes. Across many stretches
// every part keeps its own body, files lifted out of text parts keep theirs,
// and the largest body of a loaded file still takes the file's storage over
// wherever it stands.
TEST(ParseWays, BodiesPlacedInStretches)
{
    TempDir dir;
    const std::string big(900000, 'B');
    std::string text = "Content-Type: multipart/mixed; boundary=b\n\n";
    for (int i = 0; i < 600; ++i) {
        text += "--b\n";
        if (i % 150 == 75)
            text += "\ntext " + std::to_string(i) + "\nbegin 644 f" + std::to_string(i) + ".txt\n#0V%T\n`\nend\n";
        else if (i == 300)
            text += "Content-Type: text/plain\n\n" + big + "\n";
        else
            text += "Content-Type: text/plain\n\np" + std::to_string(i) + std::string(400, 'x') + "\n";
    }
    text += "--b--\n";
    const std::string crlf = Crlf(text);
    TMailMessage2000 parsed;
    std::string buf = crlf;
    parsed.ParseText(buf, true);
    TMailMessage2000 loaded;
    loaded.LoadFromFile(dir.Write("m.eml", text));
    for (TMailMessage2000* m : {&parsed, &loaded}) {
        ASSERT_EQ(m->SubPartList.Count(), 600u);
        for (int i = 0; i < 600; ++i) {
            TMailPart* p = m->SubPartList.Items(static_cast<std::size_t>(i));
            if (i % 150 == 75) {
                ASSERT_EQ(p->SubPartList.Count(), 2u) << i;
                EXPECT_TRUE(p->Body().starts_with("text " + std::to_string(i) + "\r\n")) << i;
                EXPECT_EQ(p->SubPartList.Items(1)->GetFileName(), "f" + std::to_string(i) + ".txt");
                EXPECT_EQ(p->SubPartList.Items(1)->Decoded, "Cat");
            } else {
                EXPECT_EQ(p->Body(), i == 300 ? big : "p" + std::to_string(i) + std::string(400, 'x')) << i;
            }
        }
    }
    EXPECT_EQ(Dump(loaded), Dump(parsed));
}

// A save writes the same message whether the rebuilt bodies were read
// right after the rebuild or are made by the save itself, and the lengths
// the header gives are those of the bodies written.
TEST(LaterBodies, SameMessageWhenEverTheyAreMade)
{
    std::vector<std::string> messages = {
        Crlf("Subject: t\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
             "aGVsbG8gd29ybGQgd2l0aCDDqQ0K\n"),
        Crlf("Subject: a\nContent-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
             "plain caf\xE9 text   \n--b\nContent-Type: text/html\n\n<p>html</p>\n--b--\n"),
        Crlf("Subject: m\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n"
             "Content-Length: 3\n\nbody\n--b\nContent-Type: application/pdf; name=a.pdf\n"
             "Content-Transfer-Encoding: base64\n\nJVBERi0=\n--b--\n"),
        Crlf("Subject: only a file\nContent-Type: application/pdf; name=a.pdf\n"
             "Content-Transfer-Encoding: base64\n\nJVBERi0=\n"),
        Crlf("Subject: uu\n\nhello\nbegin 644 cat.txt\n#0V%T\n`\nend\nbye\n"),
    };
    // Files laid out as the encoder writes them (decoded in place, made
    // again for the save) beside ones it would write otherwise.
    std::string file(300, '\0');
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<char>(i * 7 + 1);
    std::string encoded;
    Base64EncodeStream(encoded, file);
    std::string wide;
    for (char c : encoded)
        if (c != '\r' && c != '\n')
            wide += c;
    wide = wide.substr(0, 64) + "\r\n" + wide.substr(64);
    for (const std::string& body : {encoded, encoded.substr(0, encoded.size() - 2), wide})
        messages.push_back(Crlf("Subject: f\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
                                "Content-Type: text/plain\n\nsee\n--b\nContent-Type: image/png; name=a.png\n"
                                "Content-Transfer-Encoding: Base64\n\n")
                           + body + "\r\n--b--\r\n");
    TempDir dir;
    for (const std::string& text : messages) {
        std::string saved[3];
        for (int early = 0; early < 3; ++early) {
            TMailMessage2000 m;
            std::string buf = text;
            m.ParseText(buf, true);
            m.ScanParts();
            m.RebuildStructure(0);
            m.ScanParts();
            if (early == 1)
                (void)Dump(m); // reads every body
            if (early == 2)
                for (TMailPart* p : m.AttachList)
                    p->Decode();
            m.SerializeBody();
            // The header as it stands, read line by line before any body is
            // made (as a file is written): it held "Content-Length: " with
            // no value until the body was read.
            std::vector<std::pair<const TMailPart*, std::string>> lengths;
            std::vector<const TMailPart*> walk{&m};
            for (std::size_t i = 0; i < walk.size(); ++i) {
                for (const std::string& line : walk[i]->Header)
                    if (line.starts_with("Content-Length:"))
                        lengths.emplace_back(walk[i], line.substr(16));
                walk.insert(walk.end(), walk[i]->SubPartList.begin(), walk[i]->SubPartList.end());
            }
            for (const auto& [part, value] : lengths)
                EXPECT_EQ(value, std::to_string(part->Body().size())) << text;
            EXPECT_EQ(m.GetLabelValue("Content-Length"), std::to_string(m.Body().size())) << text;
            for (const TMailPart* p : m.SubPartList) {
                if (p->LabelExists("Content-Length")) {
                    EXPECT_EQ(p->GetLabelValue("Content-Length"), std::to_string(p->Body().size())) << text;
                }
            }
            const std::string path = dir.Write(early ? "early.eml" : "late.eml", "");
            m.SaveToFile(path, true);
            saved[early] = Dump(m) + ReadWholeFile(path);
        }
        static const std::regex made("boundary[0-9A-F]{8}");
        EXPECT_EQ(std::regex_replace(saved[0], made, "?"), std::regex_replace(saved[1], made, "?")) << text;
        EXPECT_EQ(std::regex_replace(saved[0], made, "?"), std::regex_replace(saved[2], made, "?")) << text;
    }
}
