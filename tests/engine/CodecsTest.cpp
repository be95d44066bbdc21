#include "Codecs.h"
#include "EngineError.h"
#include "TMailMessage2000.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
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

// The decoded body of a part with the given transfer encoding.
std::string DecodePart(std::string_view encoding, std::string_view body)
{
    TMailMessage2000 m;
    TMailPart* p = m.CreatePart();
    p->Header = {"Content-Transfer-Encoding: " + std::string(encoding)};
    p->SetBody(std::string(body));
    p->Decode();
    return p->Decoded;
}

// The decoding rules one byte at a time, written as plainly as they can be.
std::string ReferenceQPDecode(std::string_view s)
{
    const auto hex = [](char c) {
        return c != '\0' && std::string_view("0123456789abcdefABCDEF").find(c) != std::string_view::npos;
    };
    std::string out;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '=') {
            out += s[i++];
        } else if (i + 2 < s.size() && hex(s[i + 1]) && hex(s[i + 2])) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 3;
        } else {
            std::size_t j = i + 1;
            while (j < s.size() && (s[j] == ' ' || s[j] == '\t'))
                ++j;
            if (j == s.size())
                i = j;
            else if (s[j] == '\n')
                i = j + 1;
            else if (s[j] == '\r')
                i = j + 1 < s.size() && s[j + 1] == '\n' ? j + 2 : j + 1;
            else
                out += s[i++];
        }
    }
    return out;
}

// Encoded-looking text: escapes of either case, soft breaks with and
// without blanks, stray and half escapes, bare line ends, plain runs and
// raw bytes, in proportions that change from text to text.
std::string RandomQPText(std::mt19937& rng, std::size_t size)
{
    static constexpr const char* kPieces[] = {"=\r\n", "= \t\r\n", "=\n", "=\r", "=  ", "=", "=4", "=G1", "=4g",
                                              "=\t=", "==41", "\r", "\n", "\r\n", " ", "\t"};
    static constexpr char kHex[] = "0123456789ABCDEFabcdef";
    const unsigned escapes = rng() % 100, oddities = rng() % 30;
    std::string s;
    while (s.size() < size) {
        const unsigned r = rng() % 100;
        if (r < escapes / 2) {
            s += '=';
            s += kHex[rng() % 22];
            s += kHex[rng() % 22];
        } else if (r < escapes / 2 + oddities / 2) {
            s += kPieces[rng() % std::size(kPieces)];
        } else if (r < 95) {
            s.append(rng() % 24, static_cast<char>('a' + rng() % 26));
        } else {
            s += static_cast<char>(rng());
        }
    }
    s.resize(size);
    return s;
}

} // namespace

TEST(QuotedPrintable, DecodesEscapesOfEitherCaseAndKeepsStrayEquals)
{
    EXPECT_EQ(QPDecodeText("a=3Db"), "a=b");
    EXPECT_EQ(QPDecodeText("a=3db"), "a=b");
    EXPECT_EQ(QPDecodeText("=c2=a2"), "\xC2\xA2");
    EXPECT_EQ(QPDecodeText("=E9=e9=G1="), "\xE9\xE9=G1");
    // An "=" that starts no escape is text, and so is what follows it.
    EXPECT_EQ(QPDecodeText("http://x/?ie=UTF8&a=b"), "http://x/?ie=UTF8&a=b");
    EXPECT_EQ(QPDecodeText("<meta http-equiv=\"content-type\">"), "<meta http-equiv=\"content-type\">");
    EXPECT_EQ(QPDecodeText("abc=4"), "abc=4");
    EXPECT_EQ(QPDecodeText("a==41"), "a=A");
    EXPECT_EQ(QPDecodeText("a= b"), "a= b");
    EXPECT_EQ(QPDecodeText(""), "");
    EXPECT_EQ(QPDecodeText("a\rb\nc\r\n"), "a\rb\nc\r\n");
}

TEST(QuotedPrintable, SoftLineBreaksAsEncodersWriteThem)
{
    EXPECT_EQ(QPDecodeText("ab=\r\ncd"), "abcd");
    EXPECT_EQ(QPDecodeText("ab= \t \r\ncd"), "abcd"); // blanks a relay left behind the "="
    EXPECT_EQ(QPDecodeText("ab=\ncd"), "abcd");
    EXPECT_EQ(QPDecodeText("ab=  \ncd"), "abcd");
    EXPECT_EQ(QPDecodeText("=\nxy"), "xy");
    EXPECT_EQ(QPDecodeText("abc="), "abc");
    EXPECT_EQ(QPDecodeText("abc=  "), "abc");
    // Long runs take a faster path; an "=" at every distance from the start.
    for (std::size_t at = 0; at < 40; ++at) {
        std::string plain(40, 'x');
        std::string enc = plain;
        enc.insert(at, "=3d=\r\n=\n=z");
        plain.insert(at, "==z");
        ASSERT_EQ(QPDecodeText(enc), plain) << at;
    }
}

TEST(QuotedPrintable, DecodesAnyTextAsTheByteRulesSay)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 20000; ++round) {
        const std::string enc = RandomQPText(rng, rng() % 201);
        ASSERT_EQ(QPDecodeText(enc), ReferenceQPDecode(enc)) << "round " << round << ": " << enc;
    }
    // Texts that fill the decoder's buffer several times, appended after
    // what the output already holds.
    for (const std::size_t size : {16383u, 16384u, 16385u, 100000u, 300001u}) {
        const std::string enc = RandomQPText(rng, size);
        std::string out = "kept";
        QPDecodeAppend(enc, out);
        ASSERT_EQ(out, "kept" + ReferenceQPDecode(enc)) << size;
    }
    // Every kind of "=" at every distance from the end, behind both dense
    // escapes and plain text, so that it meets each block position.
    static constexpr const char* kEnds[] = {"=", "=4", "=41", "=4x", "= ", "=\t", "=\r", "=\n", "=\r\n", "= \r\nz",
                                            "=  x", "=x4", "=41=", "=\r\r"};
    for (const char* body : {"=C3=A9=c3=a9=E2=82=AC=F0=9F=9A=80=3D=3d=0D=0A", "plain text, long enough for a block."})
        for (std::size_t cut = 0; cut <= std::strlen(body); ++cut)
            for (std::size_t tail = 0; tail < 20; ++tail)
                for (const char* e : kEnds) {
                    const std::string enc = std::string(body, cut) + e + std::string(tail, 'y');
                    ASSERT_EQ(QPDecodeText(enc), ReferenceQPDecode(enc)) << enc;
                }
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

TEST(Base64, SkipsCharactersOutsideTheAlphabetAndStopsAtThePad)
{
    EXPECT_EQ(B64Decode("QUJD"), "ABC");
    EXPECT_EQ(B64Decode("QUI="), "AB");
    EXPECT_EQ(B64Decode("QQ=="), "A");
    EXPECT_EQ(B64Decode("===="), "");
    EXPECT_EQ(B64Decode("QUJD\r\n"), "ABC");
    // Blanks and line breaks take no place in a group.
    EXPECT_EQ(B64Decode("QUJD \r\nREVG"), "ABCDEF");
    EXPECT_EQ(B64Decode("QU JD"), "ABC");
    EXPECT_EQ(B64Decode("Q\tU\r\nJ-D"), "ABC");
    // The pad ends the data: nothing after it adds bytes.
    EXPECT_EQ(B64Decode("QQ==QUJD"), "A");
    EXPECT_EQ(B64Decode("QUI=\r\n-- \r\njunk after the data"), "AB");
    // An unpadded last group still gives its whole bytes; one lone
    // character carries none.
    EXPECT_EQ(B64Decode("QUJ"), "AB");
    EXPECT_EQ(B64Decode("QUJDRA\r\n"), "ABCD");
    EXPECT_EQ(B64Decode("QUJDR"), "ABC");
    EXPECT_EQ(B64Decode(std::string("\xFF\x00\x80-", 4)), "");
}

TEST(Base64, FastPathsGiveTheCharacterByCharacterResult)
{
    // The rules written out plainly; long runs take faster paths in the
    // decoder, which must agree at every position of every character.
    auto reference = [](std::string_view t) {
        static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string out;
        unsigned v[4];
        int n = 0;
        for (char c : t) {
            if (c == '=' && n >= 2)
                break;
            const auto pos = alphabet.find(c);
            if (pos == std::string::npos)
                continue;
            v[n++] = static_cast<unsigned>(pos);
            if (n == 4) {
                out += char((v[0] << 2) | (v[1] >> 4));
                out += char(((v[1] & 15) << 4) | (v[2] >> 2));
                out += char(((v[2] & 3) << 6) | v[3]);
                n = 0;
            }
        }
        if (n >= 2)
            out += char((v[0] << 2) | (v[1] >> 4));
        if (n == 3)
            out += char(((v[1] & 15) << 4) | (v[2] >> 2));
        return out;
    };
    std::mt19937 rng(11);
    const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int round = 0; round < 3000; ++round) {
        std::string t(static_cast<std::size_t>(rng() % 120), 'A');
        for (char& c : t)
            c = chars[rng() % chars.size()];
        for (int k = round % 4; k > 0 && !t.empty(); --k) {
            const std::size_t at = rng() % t.size();
            const char odd[] = {'=', ' ', '-', '\r', '\n', '\xFF', '.', ':', '\0'};
            t[at] = odd[rng() % sizeof odd];
        }
        ASSERT_EQ(B64Decode(t), reference(t)) << t;
        std::string appended = "x";
        Base64DecodeAppend(t, appended);
        ASSERT_EQ(appended, "x" + reference(t)) << t;
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

// Decoding in place may only take text the encoder gives back exactly,
// and must leave every other text as it was, even when it fails far in.
TEST(Base64, DecodesInPlaceOnlyWhatEncodingGivesBack)
{
    std::mt19937 rng(20261208);
    auto randomBytes = [&](std::size_t n) {
        std::string s(n, '\0');
        for (char& c : s)
            c = static_cast<char>(rng());
        return s;
    };
    for (std::size_t n = 1; n < 700; n += 1 + n / 40) {
        const std::string bytes = randomBytes(n);
        const std::string encoded = B64Encode(bytes);
        for (bool keepBreak : {true, false}) {
            std::string text = keepBreak ? encoded : encoded.substr(0, encoded.size() - 2);
            bool finalBreak = !keepBreak;
            ASSERT_TRUE(Base64DecodeInPlace(text, finalBreak)) << n;
            EXPECT_EQ(text, bytes) << n;
            EXPECT_EQ(finalBreak, keepBreak) << n;
        }
        // Layouts the encoder never writes, each at a random line.
        std::vector<std::string> others;
        const std::size_t lines = encoded.size() / 78;
        const std::size_t at = lines ? 78 * (rng() % lines) : 0;
        std::string t = encoded;
        t[at + rng() % 4] = '.'; // a character outside the alphabet
        others.push_back(t);
        t = encoded;
        t.insert(at, "\r\n"); // an empty line
        others.push_back(t);
        others.push_back(encoded + "\r\n");
        others.push_back(encoded + "QUJD");
        others.push_back(encoded.substr(0, encoded.size() - 3) + "\r\n"); // last line cut short
        std::string flat;
        for (char c : encoded)
            if (c != '\r' && c != '\n')
                flat += c;
        t.clear();
        for (std::size_t i = 0; i < flat.size(); i += 72) // 72-column lines
            t += flat.substr(i, 72) + "\r\n";
        if (t != encoded)
            others.push_back(t);
        if (n % 3 != 0) {
            // Pad bits that are not zero decode to the same bytes but would
            // not be written again.
            t = encoded;
            const std::size_t pad = t.rfind('=');
            const std::size_t last = t.find_last_not_of('=', pad);
            t[last] = t[last] == 'A' ? 'B' : 'A';
            if (B64Encode(B64Decode(t)) != t)
                others.push_back(t);
        }
        for (std::string other : others) {
            const std::string before = other;
            bool finalBreak = false;
            EXPECT_FALSE(Base64DecodeInPlace(other, finalBreak)) << n << "\n" << before;
            EXPECT_EQ(other, before) << n;
        }
    }
    std::string empty;
    bool finalBreak = false;
    EXPECT_FALSE(Base64DecodeInPlace(empty, finalBreak));
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
    // Long runs of full lines, broken by spoilt and short ones, across the
    // decoder's internal buffer: line by line, the same bytes.
    std::mt19937 rng(45);
    std::string text;
    std::string expected;
    for (int i = 0; i < 1500; ++i) {
        std::string l = "M";
        for (int k = 0; k < 60; ++k)
            l += kAlphabet[rng() % 64];
        if (rng() % 40 == 0)
            l[1 + rng() % 60] = "a\x7f\x1f~"[rng() % 4];
        if (rng() % 50 == 0)
            l = "#0V%T";
        unsigned char bytes[45];
        expected.append(reinterpret_cast<const char*>(bytes), UUDecodeLine(l, bytes));
        text += l + "\r\n";
    }
    std::string stream;
    UUDecodeToStream(text, stream);
    EXPECT_EQ(stream, expected);
}

TEST(Uuencode, ShortLinesAreReadToTheirOwnEnd)
{
    // Nine short lines put a line break where a full line's would be.
    std::string text;
    for (int i = 0; i < 9; ++i)
        text += "#0V%T\r\n";
    std::string out;
    UUDecodeToStream(text, out);
    EXPECT_EQ(out, "CatCatCatCatCatCatCatCatCat");
    // A short "M" line whose break, and an empty line's, stand where a full
    // line would end.
    const std::string shortM = "M" + std::string(58, '!');
    unsigned char expect[45];
    const std::size_t n = UUDecodeLine(shortM, expect);
    UUDecodeToStream(shortM + "\r\n\r\n#0V%T\r\n", out);
    EXPECT_EQ(out, std::string(reinterpret_cast<const char*>(expect), n) + "Cat");
    // A zero byte spoils its own line only.
    UUDecodeToStream(std::string("#0V%T\r\n#0\0%T\r\n#0V%T", 19), out);
    EXPECT_EQ(out, "CatCat");
}

TEST(PartDecode, Base64GroupsSplitOverLinesNeverOverrunTheBuffer)
{
    // One line that leaves a character over, then a long line that
    // completes the group: the carried group used to be written past the
    // end of a 16 KiB stack buffer.
    std::string body(21845, 'A');
    body += "\r\nAAA";
    for (int i = 0; i < 3000; ++i)
        body += "QUFB";
    body += "\r\n";
    const std::string decoded = DecodePart("base64", body);
    EXPECT_EQ(decoded, std::string(16386, '\0') + [] {
        std::string a;
        for (int i = 0; i < 3000; ++i)
            a += "AAA";
        return a;
    }());

    // Every split of the groups over lines of every length.
    std::string src(3000, '\0');
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<char>(i * 7 + 3);
    std::string flat;
    Base64EncodeStream(flat, src);
    std::erase(flat, '\r');
    std::erase(flat, '\n');
    for (std::size_t width : {1u, 3u, 5u, 75u, 77u, 16383u, 21845u, 30000u}) {
        std::string wrapped;
        for (std::size_t i = 0; i < flat.size(); i += width)
            wrapped += flat.substr(i, width) + " \r\n";
        ASSERT_EQ(DecodePart("BASE64", wrapped), src) << width;
    }
    EXPECT_EQ(DecodePart("base64", "QUJD \r\nREVG\r\n"), "ABCDEF");
    EXPECT_EQ(DecodePart("base64", "QUJD\r\nRA==\r\n\r\n--trailer--\r\n"), "ABCD");
}

TEST(PartDecode, QuotedPrintableAndUuencodeBodies)
{
    EXPECT_EQ(DecodePart("quoted-printable", "<a href=3D\"x?ie=UTF8\">=c2=a2</a>=\r\n!\r\n"),
              "<a href=\"x?ie=UTF8\">\xC2\xA2</a>!\r\n");

    // A full line whose last characters are spaces (zero values), as
    // older encoders wrote them, under each name of the encoding.
    std::string src(45, '\0');
    for (std::size_t i = 0; i < 41; ++i)
        src[i] = static_cast<char>('a' + i % 26);
    std::string line = "M";
    for (std::size_t i = 0; i < 45; i += 3) {
        const auto* b = reinterpret_cast<const unsigned char*>(src.data() + i);
        const unsigned x0 = b[0], x1 = b[1], x2 = b[2];
        const unsigned v[4] = {x0 >> 2, ((x0 & 3) << 4) | (x1 >> 4), ((x1 & 15) << 2) | (x2 >> 6), x2 & 63};
        for (unsigned x : v)
            line += x ? static_cast<char>(x + 32) : ' ';
    }
    ASSERT_EQ(line.back(), ' ');
    const std::string body = "begin 644 a.bin\r\n" + line + "\r\n#0V%T\r\n`\r\nend\r\n";
    for (const char* name : {"uuencode", "x-uuencode", "x-uue", "uucode", "X-UUE"}) {
        TMailMessage2000 m;
        TMailPart* p = m.CreatePart();
        p->Header = {"Content-Transfer-Encoding: " + std::string(name)};
        p->SetBody(body);
        p->Decode();
        EXPECT_EQ(p->Decoded, src + "Cat") << name;
        EXPECT_EQ(p->GetLabelValue("Content-Transfer-Encoding"), "base64") << name;
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
