#include "Codecs.h"

#include "EngineError.h"

#include <array>
#include <cstring>

namespace {

constexpr signed char HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<signed char>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<signed char>(c - 'A' + 10);
    return -1; // lower-case digits are not accepted
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// 0..63 alphabet, 64 pad, 0x80 anything else.
constexpr std::array<unsigned char, 256> MakeBase64Table()
{
    std::array<unsigned char, 256> t{};
    for (auto& v : t)
        v = 0x80;
    for (int i = 0; i < 26; ++i) {
        t['A' + i] = static_cast<unsigned char>(i);
        t['a' + i] = static_cast<unsigned char>(26 + i);
    }
    for (int i = 0; i < 10; ++i)
        t['0' + i] = static_cast<unsigned char>(52 + i);
    t['+'] = 62;
    t['/'] = 63;
    t['='] = 64;
    return t;
}
constexpr auto kBase64 = MakeBase64Table();
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// -1 for characters outside the uuencode alphabet.
constexpr std::array<signed char, 256> MakeUUTable()
{
    std::array<signed char, 256> t{};
    for (auto& v : t)
        v = -1;
    t['`'] = 0;
    t[' '] = 0;
    for (int c = '!'; c <= '_'; ++c)
        t[c] = static_cast<signed char>(c - 32);
    return t;
}
constexpr auto kUU = MakeUUTable();

// Bytes QPEncodeText escapes regardless of their neighbours.
constexpr std::array<bool, 256> MakeQPEscapeTable(bool header)
{
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c) {
        bool esc = c > 127 || c == '=' || (c < 32 && c != '\t' && c != '\n' && c != '\r');
        if (header && (c == '\t' || (c >= 10 && c <= 31) || c == ' ' || c == '"' || c == '\'' || c == '('
                       || c == ')' || c == '<' || c == '>' || c == '?' || c == '_'))
            esc = true;
        t[c] = esc;
    }
    return t;
}
constexpr auto kQPBody = MakeQPEscapeTable(false);
constexpr auto kQPHeader = MakeQPEscapeTable(true);

inline char* PutEscape(char* out, unsigned char b)
{
    out[0] = '=';
    out[1] = kHexDigits[b >> 4];
    out[2] = kHexDigits[b & 15];
    return out + 3;
}

inline bool IsEscapeAt(const char* s)
{
    return s[0] == '=' && HexValue(s[1]) >= 0 && HexValue(s[2]) >= 0;
}

} // namespace

void QPDecodeAppend(std::string_view in, std::string& out)
{
    const std::size_t base = out.size();
    out.resize(base + in.size()); // decoding never grows the text
    char* w = out.data() + base;
    const char* p = in.data();
    const char* const end = p + in.size();
    while (p < end) {
        const char* eq = static_cast<const char*>(std::memchr(p, '=', static_cast<std::size_t>(end - p)));
        const char* runEnd = eq ? eq : end;
        std::memcpy(w, p, static_cast<std::size_t>(runEnd - p));
        w += runEnd - p;
        p = runEnd;
        if (!eq)
            break;
        if (end - p < 3)
            break; // "=" with fewer than two characters after it ends the text
        if (p[1] == '\r' && p[2] == '\n') {
            // soft line break
        } else {
            const signed char hi = HexValue(p[1]);
            const signed char lo = HexValue(p[2]);
            if (hi >= 0 && lo >= 0)
                *w++ = static_cast<char>((hi << 4) | lo);
        }
        p += 3;
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
}

std::string QPDecodeText(std::string_view encoded)
{
    std::string out;
    QPDecodeAppend(encoded, out);
    return out;
}

namespace {

// Escapes one input line (no CR LF pair inside) into out; returns the end.
// Lone CR and LF are escaped here because a CR LF pair never reaches it.
char* QPEscapeLine(std::string_view line, const std::array<bool, 256>& table, char* out)
{
    for (unsigned char b : line) {
        if (table[b] || b == '\r' || b == '\n')
            out = PutEscape(out, b);
        else
            *out++ = static_cast<char>(b);
    }
    return out;
}

} // namespace

std::string QPEncodeText(std::string_view text, bool headerMode)
{
    if (text.empty())
        return {};
    if (headerMode) {
        std::string out(text.size() * 3, '\0');
        char* end = QPEscapeLine(text, kQPHeader, out.data());
        out.resize(static_cast<std::size_t>(end - out.data()));
        return out;
    }

    // Body mode: escape each line between CR LF pairs, escape the blanks
    // that end a line followed by CR LF, then cut lines at 72 columns with
    // soft breaks that never split an escape.
    std::string out;
    out.resize(text.size() * 3 + (text.size() * 3 / 69 + 2) * 3 + 2);
    char* w = out.data();
    std::string line;
    line.resize(1);
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t crlf = text.find("\r\n", pos);
        const bool hasBreak = crlf != std::string_view::npos;
        const std::size_t lineEnd = hasBreak ? crlf : text.size();
        if (!hasBreak && pos == text.size())
            break; // the text ended with CR LF: no empty last line
        std::string_view src = text.substr(pos, lineEnd - pos);
        if (line.size() < src.size() * 3 + 1)
            line.resize(src.size() * 3 + 1);
        char* le = QPEscapeLine(src, kQPBody, line.data());
        if (hasBreak) {
            // Escape the run of literal blanks before the line break; each
            // came from one source byte, so the widened line still fits.
            char* runStart = le;
            while (runStart > line.data() && (runStart[-1] == ' ' || runStart[-1] == '\t'))
                --runStart;
            const std::size_t run = static_cast<std::size_t>(le - runStart);
            char* o = runStart + run * 3;
            for (std::size_t i = run; i-- > 0;)
                PutEscape(o -= 3, static_cast<unsigned char>(runStart[i]));
            le = runStart + run * 3;
        }
        // Cut at 72 columns.
        const char* ls = line.data();
        std::size_t len = static_cast<std::size_t>(le - ls);
        while (len > 71) {
            std::size_t cut = len;
            while (cut >= 72) {
                if (IsEscapeAt(ls + cut - 3))
                    cut -= 3;
                else
                    cut -= 1;
            }
            std::memcpy(w, ls, cut);
            w += cut;
            *w++ = '=';
            *w++ = '\r';
            *w++ = '\n';
            ls += cut;
            len -= cut;
        }
        std::memcpy(w, ls, len);
        w += len;
        *w++ = '\r';
        *w++ = '\n';
        if (!hasBreak)
            break;
        pos = crlf + 2;
    }
    out.resize(static_cast<std::size_t>(w - out.data()));
    return out;
}

std::size_t Base64DecodeToBuffer(std::string_view text, unsigned char* buffer)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t groups = text.size() / 4;
    unsigned char* w = buffer;
    for (std::size_t g = 0; g < groups; ++g, s += 4) {
        unsigned c1 = kBase64[s[0]], c2 = kBase64[s[1]], c3 = kBase64[s[2]], c4 = kBase64[s[3]];
        if (((c1 | c2 | c3 | c4) & 0xC0) == 0) {
            const unsigned v = (c1 << 18) | (c2 << 12) | (c3 << 6) | c4;
            w[0] = static_cast<unsigned char>(v >> 16);
            w[1] = static_cast<unsigned char>(v >> 8);
            w[2] = static_cast<unsigned char>(v);
            w += 3;
            continue;
        }
        // A character outside the alphabet takes its place as a pad would:
        // an unpadded last group ("QQ" + CR LF) then yields its byte and no
        // zeros made up from the line break.
        if (c1 & 0x80) c1 = 64;
        if (c2 & 0x80) c2 = 64;
        if (c3 & 0x80) c3 = 64;
        if (c4 & 0x80) c4 = 64;
        if (c1 == 64)
            continue;
        std::size_t n = 3;
        if (c3 == 64) {
            c3 = 0;
            c4 = 0;
            n = 1;
        } else if (c4 == 64) {
            c4 = 0;
            n = 2;
        }
        const unsigned char b[3] = {static_cast<unsigned char>((c1 * 4 + c2 / 16) & 0xFF),
                                    static_cast<unsigned char>(((c2 % 16) * 16 + c3 / 4) & 0xFF),
                                    static_cast<unsigned char>(((c3 % 4) * 64 + c4) & 0xFF)};
        for (std::size_t i = 0; i < n; ++i)
            *w++ = b[i];
    }
    return static_cast<std::size_t>(w - buffer);
}

std::size_t Base64EncodedSize(std::size_t n)
{
    const std::size_t chars = (n + 2) / 3 * 4;
    return chars + (chars + 75) / 76 * 2;
}

void Base64EncodeTo(std::string_view source, char* out)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(source.data());
    std::size_t n = source.size();
    // Whole 57-byte rows give whole 76-character lines.
    while (n >= 57) {
        for (int i = 0; i < 19; ++i, s += 3) {
            const unsigned v = (unsigned(s[0]) << 16) | (unsigned(s[1]) << 8) | s[2];
            out[0] = kBase64Alphabet[v >> 18];
            out[1] = kBase64Alphabet[(v >> 12) & 63];
            out[2] = kBase64Alphabet[(v >> 6) & 63];
            out[3] = kBase64Alphabet[v & 63];
            out += 4;
        }
        *out++ = '\r';
        *out++ = '\n';
        n -= 57;
    }
    if (n == 0)
        return;
    for (; n >= 3; n -= 3, s += 3) {
        const unsigned v = (unsigned(s[0]) << 16) | (unsigned(s[1]) << 8) | s[2];
        out[0] = kBase64Alphabet[v >> 18];
        out[1] = kBase64Alphabet[(v >> 12) & 63];
        out[2] = kBase64Alphabet[(v >> 6) & 63];
        out[3] = kBase64Alphabet[v & 63];
        out += 4;
    }
    if (n == 2) {
        const unsigned v = (unsigned(s[0]) << 16) | (unsigned(s[1]) << 8);
        out[0] = kBase64Alphabet[v >> 18];
        out[1] = kBase64Alphabet[(v >> 12) & 63];
        out[2] = kBase64Alphabet[(v >> 6) & 63];
        out[3] = '=';
        out += 4;
    } else if (n == 1) {
        const unsigned v = unsigned(s[0]) << 16;
        out[0] = kBase64Alphabet[v >> 18];
        out[1] = kBase64Alphabet[(v >> 12) & 63];
        out[2] = '=';
        out[3] = '=';
        out += 4;
    }
    *out++ = '\r';
    *out++ = '\n';
}

std::size_t Base64EncodeStream(std::string& dest, std::string_view source)
{
    dest.clear();
    if (source.empty())
        return 0;
    dest.resize(Base64EncodedSize(source.size()));
    Base64EncodeTo(source, dest.data());
    return dest.size();
}

int UUCharValue(char c)
{
    const int v = kUU[static_cast<unsigned char>(c)];
    if (v < 0)
        throw EMailError("UUCODE message format error");
    return v;
}

std::size_t UUDecodeLine(std::string_view line, unsigned char* buffer)
{
    if (line.empty())
        return 0;
    const int n = kUU[static_cast<unsigned char>(line[0])];
    // Counts above 45 are never written by an encoder; such a line is
    // rejected like any other invalid one.
    if (n < 0 || n > 45)
        return 0;
    std::size_t k = n == 45 ? 60 : line.size() - 1;
    if (n == 45 && line.size() - 1 < 60)
        return 0;
    unsigned char bytes[45] = {};
    unsigned bits = 0;
    int nbits = 0;
    std::size_t outPos = 0;
    for (std::size_t i = 1; i <= k; ++i) {
        const int v = kUU[static_cast<unsigned char>(line[i])];
        if (v < 0)
            return 0;
        if (i > 60)
            continue; // beyond the 360-bit sequence
        bits = (bits << 6) | static_cast<unsigned>(v);
        nbits += 6;
        if (nbits >= 8) {
            nbits -= 8;
            bytes[outPos++] = static_cast<unsigned char>(bits >> nbits);
            bits &= (1u << nbits) - 1;
        }
    }
    if (nbits > 0 && outPos < 45)
        bytes[outPos] = static_cast<unsigned char>(bits << (8 - nbits));
    std::memcpy(buffer, bytes, 45);
    return static_cast<std::size_t>(n);
}

bool UUDecodeToStream(std::string_view text, std::string& stream)
{
    stream.clear();
    text = [&] {
        const void* z = std::memchr(text.data(), 0, text.size());
        return z ? text.substr(0, static_cast<const char*>(z) - text.data()) : text;
    }();
    std::size_t pos = 0;
    unsigned char buf[45];
    while (pos < text.size()) {
        std::size_t e = text.find("\r\n", pos);
        const std::size_t lineEnd = e == std::string_view::npos ? text.size() : e;
        std::string_view line = text.substr(pos, lineEnd - pos);
        if (!line.empty()) {
            const std::size_t n = UUDecodeLine(line, buf);
            if (n)
                stream.append(reinterpret_cast<const char*>(buf), n);
        }
        pos = e == std::string_view::npos ? text.size() : e + 2;
    }
    return true;
}

void NextBufferLine(char* buffer, std::size_t length, long long& start, bool& done, char*& line,
                    std::size_t& lineLength)
{
    done = false;
    if (start < 0) {
        start = 0;
        lineLength = 0;
    } else {
        std::size_t end = static_cast<std::size_t>(start) + lineLength;
        if (end < length && buffer[end] == '\0') {
            buffer[end] = '\r';
            start = static_cast<long long>(end + 2);
        } else {
            start = static_cast<long long>(end);
        }
        lineLength = 0;
    }
    const std::size_t s = static_cast<std::size_t>(start);
    if (s >= length) {
        done = true;
        return;
    }
    const char* p = buffer + s;
    const char* const last = buffer + length - 1; // a CR here has no LF after it
    while (p < last) {
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(last - p)));
        if (!cr)
            break;
        if (cr[1] == '\n') {
            const std::size_t at = static_cast<std::size_t>(cr - buffer);
            buffer[at] = '\0';
            line = buffer + s;
            lineLength = at - s;
            return;
        }
        p = cr + 1;
    }
    line = buffer + s;
    lineLength = length - s;
}
