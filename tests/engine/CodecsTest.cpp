#include "Codecs.h"
#include "EngineError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

std::string B64Decode(std::string_view s)
{
    std::vector<unsigned char> buf(s.size() + 3);
    const std::size_t n = Base64DecodeToBuffer(s, buf.data());
    return std::string(reinterpret_cast<const char*>(buf.data()), n);
}

std::string B64Encode(std::string_view s)
{
    std::string out;
    Base64EncodeStream(out, s);
    return out;
}

std::string UULine(std::string_view line, std::size_t* count = nullptr)
{
    unsigned char buf[45];
    std::memset(buf, 0xAA, sizeof buf);
    const std::size_t n = UUDecodeLine(line, buf);
    if (count)
        *count = n;
    return std::string(reinterpret_cast<const char*>(buf), n);
}

} // namespace

TEST(QuotedPrintable, DecodesOnlyUpperCaseEscapesAndSoftBreaks)
{
    EXPECT_EQ(QPDecodeText("a=3Db"), "a=b");
    EXPECT_EQ(QPDecodeText("a=3db"), "ab");
    EXPECT_EQ(QPDecodeText("abc="), "abc");
    EXPECT_EQ(QPDecodeText("abc=4"), "abc");
    EXPECT_EQ(QPDecodeText("ab=\r\ncd"), "abcd");
    EXPECT_EQ(QPDecodeText("=\nxy"), "y");
    EXPECT_EQ(QPDecodeText("a\rb\nc\r\n"), "a\rb\nc\r\n");
    EXPECT_EQ(QPDecodeText("=E9=e9=G1="), "\xE9");
    EXPECT_EQ(QPDecodeText(""), "");
}

TEST(QuotedPrintable, BodyModeEscapesAndLineBreaks)
{
    EXPECT_EQ(QPEncodeText("a \r\nb", false), "a=20\r\nb\r\n");
    EXPECT_EQ(QPEncodeText("a\t \r\n", false), "a=09=20\r\n");
    EXPECT_EQ(QPEncodeText("end ", false), "end \r\n"); // no line break after it: stays literal
    EXPECT_EQ(QPEncodeText("", false), "");
    EXPECT_EQ(QPEncodeText("x=\x7F\x80\x01\t", false), "x=3D\x7F=80=01\t\r\n");
    EXPECT_EQ(QPEncodeText("\r", false), "=0D\r\n");
    EXPECT_EQ(QPEncodeText("\n", false), "=0A\r\n");
    EXPECT_EQ(QPEncodeText("a\r\rb\n\r\n", false), "a=0D=0Db=0A\r\n");

    const std::string letters72(72, 'a');
    EXPECT_EQ(QPEncodeText(letters72, false), std::string(71, 'a') + "=\r\na\r\n");

    // An escape that would straddle column 72 moves whole to the next line.
    const std::string text = std::string(70, 'a') + "\xE9" + "bb";
    EXPECT_EQ(QPEncodeText(text, false), std::string(70, 'a') + "=\r\n=E9bb\r\n");
}

TEST(QuotedPrintable, BodyModeRoundTripsEverySplitAndNoLineIsTooLong)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string s(static_cast<std::size_t>(rng() % 400), '\0');
        for (char& c : s) {
            const unsigned r = rng() % 10;
            c = r < 6 ? static_cast<char>('a' + rng() % 26) : r == 6 ? ' ' : r == 7 ? '\r' : r == 8 ? '\n'
                                                                                                     : char(rng());
        }
        const std::string enc = QPEncodeText(s, false);
        std::string decoded = QPDecodeText(enc);
        // The encoder always ends with a line break.
        if (!s.empty() && !(s.size() >= 2 && s.substr(s.size() - 2) == "\r\n"))
            decoded.resize(decoded.size() - 2);
        ASSERT_EQ(decoded, s) << "round " << round;
        std::size_t start = 0;
        while (start < enc.size()) {
            const std::size_t e = enc.find("\r\n", start);
            ASSERT_NE(e, std::string::npos);
            ASSERT_LE(e - start, 72u);
            start = e + 2;
        }
    }
}

TEST(QuotedPrintable, HeaderModeEscapesBlanksAndSpecials)
{
    EXPECT_EQ(QPEncodeText("a b_c", true), "a=20b=5Fc");
    EXPECT_EQ(QPEncodeText("\xE9", true), "=E9");
    EXPECT_EQ(QPEncodeText("Hello", true), "Hello");
    EXPECT_EQ(QPEncodeText("\"'()<>?\t\r\n", true), "=22=27=28=29=3C=3E=3F=09=0D=0A");
}

TEST(Base64, DecodesGroupsPadsAndDropsIncompleteOnes)
{
    EXPECT_EQ(B64Decode("QUJD"), "ABC");
    EXPECT_EQ(B64Decode("QUI="), "AB");
    EXPECT_EQ(B64Decode("QQ=="), "A");
    EXPECT_EQ(B64Decode("===="), "");
    EXPECT_EQ(B64Decode("QUJD\r\n"), "ABC");
    EXPECT_EQ(B64Decode("QUJ"), "");
    // Pads in the middle end their group only.
    EXPECT_EQ(B64Decode("QQ==QUJD"), "AABC");
    // Unpadded last groups before the line break still give their bytes.
    EXPECT_EQ(B64Decode("QUJDRA\r\n"), "ABCD");
    EXPECT_EQ(B64Decode("QUJ\r"), "AB");
    // Bytes outside the alphabet take a position; nothing is read past the text.
    EXPECT_EQ(B64Decode("QU JD").size(), 1u);
    EXPECT_EQ(B64Decode(std::string("\xFF\x00\x80-", 4)), "");
}

TEST(Base64, FastPathsGiveTheGroupByGroupResult)
{
    // The group rules written out plainly; long runs take faster paths in
    // the decoder, which must agree at every position of every character.
    auto reference = [](std::string_view t) {
        static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        for (std::size_t i = 0; i + 4 <= t.size(); i += 4) {
            unsigned c[4];
            for (int k = 0; k < 4; ++k) {
                const auto pos = alphabet.find(t[i + k]);
                c[k] = t[i + k] == '=' || pos == std::string::npos ? 64 : static_cast<unsigned>(pos);
            }
            if (c[0] == 64)
                continue;
            int n = 3;
            if (c[2] == 64) {
                c[2] = c[3] = 0;
                n = 1;
            } else if (c[3] == 64) {
                c[3] = 0;
                n = 2;
            }
            const char b[3] = {char((c[0] * 4 + c[1] / 16) & 255), char(((c[1] % 16) * 16 + c[2] / 4) & 255),
                               char(((c[2] % 4) * 64 + c[3]) & 255)};
            out.append(b, static_cast<std::size_t>(n));
        }
        return out;
    };
    std::mt19937 rng(11);
    const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int round = 0; round < 2000; ++round) {
        std::string t(static_cast<std::size_t>(rng() % 90), 'A');
        for (char& c : t)
            c = chars[rng() % chars.size()];
        if (!t.empty() && round % 2) {
            const std::size_t at = rng() % t.size();
            const char odd[] = {'=', ' ', '-', '\r', '\xFF', '.', ':'};
            t[at] = odd[rng() % sizeof odd];
        }
        ASSERT_EQ(B64Decode(t), reference(t)) << t;
    }
}

TEST(Base64, EncodesSeventySixColumnLinesAcrossBlockEdges)
{
    EXPECT_EQ(B64Encode(""), "");
    EXPECT_EQ(B64Encode("A"), "QQ==\r\n");
    EXPECT_EQ(B64Encode("AB"), "QUI=\r\n");
    const std::string e57 = B64Encode(std::string(57, 'x'));
    EXPECT_EQ(e57.size(), 78u);
    EXPECT_EQ(e57.substr(76), "\r\n");
    const std::string e58 = B64Encode(std::string(58, 'x'));
    EXPECT_EQ(e58.substr(78), "eA==\r\n");
    for (std::size_t n : {2279u, 2280u, 2281u, 4560u, 4561u}) {
        std::string src(n, '\0');
        for (std::size_t i = 0; i < n; ++i)
            src[i] = static_cast<char>(i * 31 + 7);
        const std::string enc = B64Encode(src);
        EXPECT_EQ(enc.size(), Base64EncodedSize(n));
        std::size_t pos = 0, decodedLen = 0;
        std::string back;
        while (pos < enc.size()) {
            const std::size_t e = enc.find("\r\n", pos);
            ASSERT_NE(e, std::string::npos);
            const bool last = e + 2 == enc.size();
            if (!last) {
                EXPECT_EQ(e - pos, 76u);
            }
            back += B64Decode(enc.substr(pos, e + 2 - pos));
            pos = e + 2;
        }
        decodedLen = back.size();
        EXPECT_EQ(decodedLen, n);
        EXPECT_EQ(back, src);
    }
}

TEST(Uuencode, CharValuesAndLineRules)
{
    EXPECT_EQ(UUCharValue('`'), 0);
    EXPECT_EQ(UUCharValue(' '), 0);
    EXPECT_EQ(UUCharValue('!'), 1);
    EXPECT_EQ(UUCharValue('_'), 63);
    EXPECT_THROW((void)UUCharValue('a'), EMailError);

    std::size_t n = 99;
    EXPECT_EQ(UULine("#0V%T", &n), "Cat");
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(UULine("M" + std::string(60, '!'), &n).size(), 45u);
    EXPECT_EQ(UULine("M" + std::string(40, '!'), &n), "");
    EXPECT_EQ(UULine("`", &n), "");
    EXPECT_EQ(UULine("begin 644 file.txt", &n), "");
    EXPECT_EQ(UULine("end", &n), "");
    EXPECT_EQ(UULine("#0V%T\r\n", &n), ""); // the line break is not in the alphabet
    EXPECT_EQ(UULine("N" + std::string(62, '!'), &n), ""); // a count above 45
    EXPECT_EQ(UULine("", &n), "");
    // A short line whose count claims more than it carries fills with zeros.
    EXPECT_EQ(UULine("$0V%T", &n), std::string("Cat\0", 4));
    // More than 60 data characters: only the first 60 count.
    EXPECT_EQ(UULine("#0V%T" + std::string(100, '!'), &n), "Cat");
}

TEST(Uuencode, DecodesAWholeTextSkippingOtherLines)
{
    std::string out = "old";
    EXPECT_TRUE(UUDecodeToStream("begin 644 cat.txt\r\n#0V%T\r\n`\r\nend\r\n", out));
    EXPECT_EQ(out, "Cat");
    EXPECT_TRUE(UUDecodeToStream(std::string("#0V%T\r\n\0#0V%T\r\n", 16), out));
    EXPECT_EQ(out, "Cat");
    EXPECT_TRUE(UUDecodeToStream("", out));
    EXPECT_EQ(out, "");
}

TEST(Uuencode, FullLinesDecodeLikeTheLineDecoder)
{
    // Full lines take a faster path; every byte value and every invalid
    // character position must give what UUDecodeLine gives.
    static constexpr char kAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    std::string line = "M";
    for (int i = 0; i < 60; ++i)
        line += kAlphabet[(i * 7 + 3) % 64];
    for (int bad = -1; bad < 60; ++bad) {
        std::string l = line;
        if (bad >= 0)
            l[static_cast<std::size_t>(bad) + 1] = bad % 2 ? 'a' : '\x7f';
        unsigned char expect[45];
        const std::size_t n = UUDecodeLine(l, expect);
        std::string stream;
        UUDecodeToStream(l + "\r\n" + l, stream);
        ASSERT_EQ(stream.size(), 2 * n) << bad;
        if (n) {
            EXPECT_EQ(stream.substr(0, 45), std::string(reinterpret_cast<const char*>(expect), 45)) << bad;
        }
    }
}

TEST(NextBufferLine, SplitsInPlaceAndRestores)
{
    std::string buf = "a\r\nb";
    const std::string before = buf;
    long long start = -1;
    bool done = false;
    char* line = nullptr;
    std::size_t len = 0;
    std::vector<std::string> lines;
    for (;;) {
        NextBufferLine(buf.data(), buf.size(), start, done, line, len);
        if (done)
            break;
        lines.emplace_back(line); // zero-terminated while current
        EXPECT_EQ(lines.back().size(), len);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(buf, before);

    std::string empty;
    start = -1;
    NextBufferLine(empty.data(), 0, start, done, line, len);
    EXPECT_TRUE(done);

    std::string lone = "x\ry\nz\r\n\r\n";
    start = -1;
    lines.clear();
    for (;;) {
        NextBufferLine(lone.data(), lone.size(), start, done, line, len);
        if (done)
            break;
        lines.emplace_back(line, len);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"x\ry\nz", ""}));
    EXPECT_EQ(lone, "x\ry\nz\r\n\r\n");
}
