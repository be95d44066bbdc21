// The transfer codecs. The first byte picks the codec; the rest is the data
// (or, from 0xF0 on, the recipe of a large part body).
// Encoding then decoding gives the data back (quoted-printable, base64,
// uuencode, each also through a part's Decode), decoders given any text
// stay inside their buffers, and where the decoding rules leave nothing to
// choose the result equals a direct reading of those rules.
#include "FuzzUtil.h"

#include "Codecs.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using fuzz::Shown;

// ---- quoted-printable ------------------------------------------------------

int Hex(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; }

std::string QPDecodeByRule(std::string_view s)
{
    std::string r;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '=') {
            r += s[i++];
            continue;
        }
        if (s.size() - i < 3)
            break;
        if (Hex(s[i + 1]) >= 0 && Hex(s[i + 2]) >= 0)
            r += static_cast<char>(Hex(s[i + 1]) * 16 + Hex(s[i + 2]));
        i += 3;
    }
    return r;
}

bool EndsWithCrlf(std::string_view s) { return s.size() >= 2 && s.substr(s.size() - 2) == "\r\n"; }

void QuotedPrintable(std::string_view data)
{
    // Where every "=" starts an escape the reading is fixed; a stray "=" or
    // a soft break with blanks after it is read leniently, as real mail
    // needs, and only has to stay within the text's size.
    const std::string decoded = QPDecodeText(data);
    FUZZ_CHECK(decoded.size() <= data.size(), "QPDecodeText grew " + Shown(data));
    bool onlyEscapes = true;
    for (std::size_t i = data.find('='); i != std::string_view::npos && onlyEscapes; i = data.find('=', i + 1))
        onlyEscapes = i + 2 < data.size() && Hex(data[i + 1]) >= 0 && Hex(data[i + 2]) >= 0;
    if (onlyEscapes)
        FUZZ_CHECK(decoded == QPDecodeByRule(data), "QPDecodeText of " + Shown(data));

    const std::string body = QPEncodeText(data, false);
    const std::string expected = data.empty() || EndsWithCrlf(data) ? std::string(data) : std::string(data) + "\r\n";
    FUZZ_CHECK(QPDecodeText(body) == expected, "QP body round trip of " + Shown(data) + " via " + Shown(body));
    for (std::size_t pos = 0; pos < body.size();) {
        const std::size_t end = body.find("\r\n", pos);
        FUZZ_CHECK(end != std::string::npos, "QP body output does not end in CR LF: " + Shown(body));
        const std::string_view line = std::string_view(body).substr(pos, end - pos);
        FUZZ_CHECK(line.size() <= 72, "QP line longer than 72: " + Shown(line));
        for (char c : line) {
            const auto u = static_cast<unsigned char>(c);
            FUZZ_CHECK(u == '\t' || (u >= 32 && u < 128), "raw byte in a QP line: " + Shown(line));
        }
        pos = end + 2;
    }

    const std::string header = QPEncodeText(data, true);
    FUZZ_CHECK(QPDecodeText(header) == data, "QP header round trip of " + Shown(data));
    FUZZ_CHECK(header.find_first_of(std::string_view("\r\n\t \"'()<>?_\0", 13)) == std::string::npos,
               "QP header mode left a character raw: " + Shown(header));

    // A part's encoder keeps a text without a final line break exact.
    TMailMessage2000 m;
    TMailPart* part = m.CreatePart();
    part->Decoded = std::string(data);
    part->EncodeQuotedPrintable();
    part->Decoded.clear();
    part->IsDecoded = false;
    part->Decode();
    FUZZ_CHECK(part->Decoded == data, "part QP round trip of " + Shown(data) + " via " + Shown(part->Body()));
}

// ---- base64 ----------------------------------------------------------------

int B64(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    return c == '+' ? 62 : c == '/' ? 63 : c == '=' ? 64 : -1;
}

// Text of alphabet characters and pads only: every group is fully defined.
std::string Base64DecodeByRule(std::string_view s)
{
    std::string r;
    for (std::size_t g = 0; g + 4 <= s.size(); g += 4) {
        int c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = B64(s[g + static_cast<std::size_t>(i)]);
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
        const char b[3] = {static_cast<char>((c[0] * 4 + c[1] / 16) % 256),
                           static_cast<char>(((c[1] % 16) * 16 + c[2] / 4) % 256),
                           static_cast<char>(((c[2] % 4) * 64 + c[3]) % 256)};
        r.append(b, static_cast<std::size_t>(n));
    }
    return r;
}

std::string DecodeAsPart(std::string_view body, const char* encoding)
{
    TMailMessage2000 m;
    TMailPart* part = m.CreatePart();
    part->Header.push_back(std::string("Content-Transfer-Encoding: ") + encoding);
    part->SetBody(std::string(body));
    part->Decode();
    return part->Decoded;
}

void Base64(std::string_view data)
{
    std::string encoded;
    FUZZ_CHECK(Base64EncodeStream(encoded, data) == encoded.size(), "Base64EncodeStream result is not the size");
    FUZZ_CHECK(encoded.size() == Base64EncodedSize(data.size()), "Base64EncodedSize disagrees with the encoder");
    std::string decoded;
    std::vector<unsigned char> buffer(80);
    for (std::size_t pos = 0; pos < encoded.size();) {
        const std::size_t end = encoded.find("\r\n", pos);
        FUZZ_CHECK(end != std::string::npos, "base64 output does not end in CR LF");
        FUZZ_CHECK(end - pos == 76 || end + 2 == encoded.size(), "base64 line other than the last is not 76 long");
        const std::size_t n = Base64DecodeToBuffer(std::string_view(encoded).substr(pos, end + 2 - pos), buffer.data());
        decoded.append(reinterpret_cast<const char*>(buffer.data()), n);
        pos = end + 2;
    }
    FUZZ_CHECK(decoded == data, "base64 round trip of " + Shown(data));
    FUZZ_CHECK(DecodeAsPart(encoded, "base64") == data, "part base64 round trip of " + Shown(data));

    // Any text: the decoder writes at most three bytes for four characters
    // (checked by ASan on an exact-size buffer) and follows the rules where
    // they are complete.
    std::vector<unsigned char> exact((data.size() * 3 + 3) / 4 + 1);
    const std::size_t n = Base64DecodeToBuffer(data, exact.data() + 1);
    FUZZ_CHECK(n + 1 <= exact.size(), "base64 decoder wrote more than three quarters");
    exact.erase(exact.begin());
    // Whole groups without pads: an unpadded last group and text after a
    // pad are read leniently.
    if (data.size() % 4 == 0
        && std::all_of(data.begin(), data.end(), [](char c) { return B64(c) >= 0 && c != '='; }))
        FUZZ_CHECK(std::string(reinterpret_cast<const char*>(exact.data()), n) == Base64DecodeByRule(data),
                   "Base64DecodeToBuffer of " + Shown(data));
    const std::string asPart = DecodeAsPart(data, "BASE64");
    FUZZ_CHECK(asPart.size() <= data.size() / 4 * 3 + 3, "part base64 decoding grew past three quarters");

    // Decoding in place takes exactly the texts the encoder gives back, and
    // leaves any other text as it was: the encoder's own, the data itself,
    // and the encoder's text with one character changed.
    std::string changed = encoded;
    if (!changed.empty() && !data.empty())
        changed[data.size() % changed.size()] = data[0];
    for (const std::string& text : {encoded, encoded.substr(0, encoded.size() >= 2 ? encoded.size() - 2 : 0),
                                    std::string(data), changed}) {
        std::string inPlace = text;
        bool finalBreak = false;
        if (Base64DecodeInPlace(inPlace, finalBreak)) {
            std::string again;
            Base64EncodeStream(again, inPlace);
            if (!finalBreak)
                again.resize(again.size() - 2);
            FUZZ_CHECK(again == text, "base64 decoded in place does not encode back: " + Shown(text));
        } else {
            FUZZ_CHECK(inPlace == text, "base64 decoding in place changed a text it refused: " + Shown(text));
            FUZZ_CHECK(text != encoded || data.empty(), "base64 decoding in place refused the encoder's text");
        }
    }
}

// ---- uuencode --------------------------------------------------------------

char UUChar(unsigned v) { return v == 0 ? '`' : static_cast<char>(v + 32); }

std::string UULine(std::string_view bytes)
{
    std::string line(1, UUChar(static_cast<unsigned>(bytes.size())));
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        unsigned char b[3] = {};
        for (std::size_t j = 0; j < 3 && i + j < bytes.size(); ++j)
            b[j] = static_cast<unsigned char>(bytes[i + j]);
        line += UUChar(b[0] >> 2);
        line += UUChar(((b[0] & 3) << 4) | (b[1] >> 4));
        line += UUChar(((b[1] & 15) << 2) | (b[2] >> 6));
        line += UUChar(b[2] & 63);
    }
    return line;
}

int UUValue(char c) { return c == ' ' || c == '`' ? 0 : c >= '!' && c <= '_' ? c - 32 : -1; }

// Counts up to 45 and at most 60 data characters, where the rules are complete.
bool UUDecodeLineByRule(std::string_view line, std::size_t& count, unsigned char* out)
{
    if (line.empty() || UUValue(line[0]) < 0 || UUValue(line[0]) > 45 || line.size() - 1 > 60)
        return false;
    const int n = UUValue(line[0]);
    const std::size_t k = n == 45 ? 60 : line.size() - 1;
    if (line.size() - 1 < k) {
        count = 0;
        return true;
    }
    std::vector<int> bits;
    for (std::size_t i = 1; i <= k; ++i) {
        const int v = UUValue(line[i]);
        if (v < 0) {
            count = 0;
            return true;
        }
        for (int b = 5; b >= 0; --b)
            bits.push_back((v >> b) & 1);
    }
    bits.resize(360, 0);
    for (int i = 0; i < 45; ++i) {
        int byte = 0;
        for (int b = 0; b < 8; ++b)
            byte = byte * 2 + bits[static_cast<std::size_t>(i * 8 + b)];
        out[i] = static_cast<unsigned char>(byte);
    }
    count = static_cast<std::size_t>(n);
    return true;
}

void Uuencode(std::uint8_t shape, std::string_view data)
{
    // One line of up to 45 bytes.
    const std::string_view head = data.substr(0, std::min<std::size_t>(data.size(), 45));
    unsigned char buffer[45];
    const std::string line = UULine(head);
    FUZZ_CHECK(UUDecodeLine(line, buffer) == head.size()
                   && std::memcmp(buffer, head.data(), head.size()) == 0,
               "uuencode line round trip of " + Shown(head));

    // A whole file in lines of one length (as short-line writers do), through
    // the stream decoder and through a part.
    const std::size_t width = shape % 45 + 1;
    std::string text = "begin 644 f.bin\r\n";
    for (std::size_t i = 0; i < data.size(); i += width)
        text += UULine(data.substr(i, width)) + "\r\n";
    text += "`\r\nend\r\n";
    std::string stream;
    FUZZ_CHECK(UUDecodeToStream(text, stream), "UUDecodeToStream reported failure");
    FUZZ_CHECK(stream == data, "uuencode round trip in lines of " + std::to_string(width) + " of " + Shown(data)
                                   + " gave " + Shown(stream));
    FUZZ_CHECK(DecodeAsPart(text, "x-uuencode") == data, "part uuencode round trip of " + Shown(data));

    // Any text: the line decoder stays in its 45 bytes and follows the rules.
    for (std::size_t pos = 0; pos <= data.size();) {
        std::size_t end = data.find("\r\n", pos);
        if (end == std::string_view::npos)
            end = data.size();
        const std::string_view l = data.substr(pos, end - pos);
        unsigned char got[45], want[45];
        std::memset(got, 0xA5, sizeof got);
        std::memset(want, 0xA5, sizeof want);
        const std::size_t n = UUDecodeLine(l, got);
        std::size_t expected = 0;
        if (UUDecodeLineByRule(l, expected, want))
            FUZZ_CHECK(n == expected && (n == 0 || std::memcmp(got, want, 45) == 0), "UUDecodeLine of " + Shown(l));
        pos = end + 2;
    }
    (void)UUDecodeToStream(data, stream);
    (void)DecodeAsPart(data, "uucode");
}

// ---- line splitter ---------------------------------------------------------

void Lines(std::string_view data)
{
    // Exactly as long as the data, so a read past its end is caught.
    std::vector<char> buffer(data.begin(), data.end());
    const std::string original(data);
    long long start = -1;
    bool done = false;
    char* line = nullptr;
    std::size_t length = 0;
    std::string joined;
    for (std::size_t guard = 0; guard <= buffer.size() + 1; ++guard) {
        NextBufferLine(buffer.data(), buffer.size(), start, done, line, length);
        if (done)
            break;
        if (!joined.empty() || guard > 0)
            joined += "\r\n";
        joined.append(line, length);
    }
    FUZZ_CHECK(done, "NextBufferLine did not finish");
    FUZZ_CHECK(std::string_view(buffer.data(), buffer.size()) == original, "NextBufferLine left the buffer changed");
    const std::string expected = EndsWithCrlf(original) ? original.substr(0, original.size() - 2) : original;
    FUZZ_CHECK(joined == expected, "NextBufferLine lines of " + Shown(original) + " joined to " + Shown(joined));
}

// ---- large bodies ----------------------------------------------------------

// A part body made of repeated pieces (a two-byte count, then the piece up
// to the next 0xFF), so that short inputs reach lines and bodies larger
// than any buffer a decoder keeps.
void LargeBody(std::uint8_t selector, fuzz::Input& in)
{
    std::string body;
    constexpr std::size_t kMax = 1u << 18;
    while (!in.Empty() && body.size() < kMax) {
        const std::size_t count = static_cast<std::size_t>(in.Byte()) << 8 | in.Byte();
        const std::string_view piece = in.Text();
        for (std::size_t i = 0; i < count && body.size() < kMax; ++i)
            body += piece;
    }
    static constexpr const char* kEncodings[] = {"base64", "quoted-printable", "x-uuencode", "7bit"};
    const std::string decoded = DecodeAsPart(body, kEncodings[selector % 4]);
    FUZZ_CHECK(decoded.size() <= body.size() / 4 * 3 + 3 || selector % 4 != 0,
               "base64 part decoding grew past three quarters");
    FUZZ_CHECK(decoded.size() <= body.size() || selector % 4 == 2, "part decoding grew the body");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t selector = in.Byte();
    if (selector >= 0xF0) {
        LargeBody(selector, in);
        return 0;
    }
    const std::string_view rest = in.Rest();
    switch (selector % 4) {
    case 0:
        QuotedPrintable(rest);
        break;
    case 1:
        Base64(rest);
        break;
    case 2:
        Uuencode(static_cast<std::uint8_t>(selector / 4), rest);
        break;
    default:
        Lines(rest);
        break;
    }
    return 0;
}
