#include "Codecs.h"

#include "EngineError.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr signed char HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<signed char>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<signed char>(c - 'A' + 10);
    return -1;
}

// Decoders also take lower-case digits: some encoders write them.
constexpr signed char AnyCaseHexValue(char c)
{
    return c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10) : HexValue(c);
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

// 0 to 15 for hexadecimal digits of either case, 0xFF for everything else.
constexpr std::array<unsigned char, 256> MakeHexTable()
{
    std::array<unsigned char, 256> t{};
    for (auto& v : t)
        v = 0xFF;
    for (int c = 0; c < 256; ++c)
        if (AnyCaseHexValue(static_cast<char>(c)) >= 0)
            t[static_cast<std::size_t>(c)] = static_cast<unsigned char>(AnyCaseHexValue(static_cast<char>(c)));
    return t;
}
constexpr auto kHexValue = MakeHexTable();

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

// The same as 0..63, with 0x40 set for characters outside the alphabet.
constexpr std::array<unsigned char, 256> MakeUUValueTable()
{
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[static_cast<std::size_t>(c)] = kUU[static_cast<std::size_t>(c)] < 0
                                             ? 0x40
                                             : static_cast<unsigned char>(kUU[static_cast<std::size_t>(c)]);
    return t;
}
constexpr auto kUUValue = MakeUUValueTable();

// Packs n groups of four characters, each worth six bits by table, into
// three bytes each. Returns the values or-ed together: a flag bit the table
// sets for characters outside its alphabet shows in the result.
unsigned PackGroups(const std::array<unsigned char, 256>& table, const unsigned char* s, std::size_t n,
                    unsigned char* out)
{
    unsigned bad = 0;
    for (std::size_t i = 0; i < n; ++i, s += 4, out += 3) {
        const unsigned c1 = table[s[0]], c2 = table[s[1]], c3 = table[s[2]], c4 = table[s[3]];
        bad |= c1 | c2 | c3 | c4;
        const unsigned v = (c1 << 18) | (c2 << 12) | (c3 << 6) | c4;
        out[0] = static_cast<unsigned char>(v >> 16);
        out[1] = static_cast<unsigned char>(v >> 8);
        out[2] = static_cast<unsigned char>(v);
    }
    return bad;
}

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

// Inside a line (between CR LF pairs) a CR or LF is always escaped.
constexpr std::array<bool, 256> MakeQPLineTable(bool header)
{
    auto t = MakeQPEscapeTable(header);
    t['\r'] = true;
    t['\n'] = true;
    return t;
}

// What each byte becomes inside a line, as four bytes stored little end
// first: the one or three output bytes, then their count.
constexpr std::array<std::uint32_t, 256> MakeQPOutputTable(bool header)
{
    const auto escape = MakeQPLineTable(header);
    std::array<std::uint32_t, 256> t{};
    for (unsigned c = 0; c < 256; ++c) {
        if (escape[c])
            t[c] = static_cast<std::uint32_t>('=') | static_cast<std::uint32_t>(kHexDigits[c >> 4]) << 8
                | static_cast<std::uint32_t>(kHexDigits[c & 15]) << 16 | 3u << 24;
        else
            t[c] = c | 1u << 24;
    }
    return t;
}
constexpr auto kQPBodyLine = MakeQPOutputTable(false);
constexpr auto kQPHeaderLine = MakeQPOutputTable(true);

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

// An "=" at p that starts no escape: a soft line break ("=", any blanks an
// encoder or a relay left behind it, then the line end or the end of the
// text) is dropped whole; any other "=" is text ("?ie=UTF8" in a link).
// Returns where decoding goes on.
inline const unsigned char* SoftBreakOrEquals(const unsigned char* p, const unsigned char* end, char*& w)
{
    const unsigned char* b = p + 1;
    while (b < end && (*b == ' ' || *b == '\t'))
        ++b;
    if (b == end)
        return end;
    if (*b == '\n')
        return b + 1;
    if (*b == '\r')
        return b + 1 < end && b[1] == '\n' ? b + 2 : b + 1;
    *w++ = '=';
    return p + 1;
}

#if defined(__x86_64__)
bool HasSsse3();

// For each set of kept bytes among eight (bit i for byte i), their
// positions packed to the front, for a byte shuffle, and how many they are.
struct QPCompactTable {
    unsigned char index[256][8];
    unsigned char count[256];
    constexpr QPCompactTable() : index(), count()
    {
        for (int m = 0; m < 256; ++m) {
            int n = 0;
            for (int i = 0; i < 8; ++i)
                if (m >> i & 1)
                    index[m][n++] = static_cast<unsigned char>(i);
            for (int k = n; k < 8; ++k)
                index[m][k] = 0x80;
            count[m] = static_cast<unsigned char>(n);
        }
    }
};
constexpr QPCompactTable kQPCompact;

// The values of hexadecimal digits of either case (the low four bits, plus
// nine for a letter), and in digit a byte that is zero for anything else.
__attribute__((target("ssse3"))) inline __m128i HexValues(__m128i c, __m128i& digit)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i low = _mm_and_si128(c, nibble);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(c, 4), nibble);
    // Low nibbles 0 to 9 suit a digit (1), 1 to 6 a letter (2); high
    // nibble 3 makes a digit, 4 and 6 a letter.
    const __m128i byLow = _mm_setr_epi8(1, 3, 3, 3, 3, 3, 3, 1, 1, 1, 0, 0, 0, 0, 0, 0);
    const __m128i byHigh = _mm_setr_epi8(0, 0, 0, 1, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i letterAdd = _mm_setr_epi8(0, 0, 0, 0, 9, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    digit = _mm_and_si128(_mm_shuffle_epi8(byLow, low), _mm_shuffle_epi8(byHigh, high));
    return _mm_add_epi8(low, _mm_shuffle_epi8(letterAdd, high));
}

// Decodes sixteen bytes at a time while eighteen remain and out is below
// limit (each round writes at most seventeen). Escapes never overlap (a hex
// digit is never "="), so whether an "=" starts one is known from its two
// neighbours alone and a whole block is decoded at once: escapes become
// their byte, their digits are squeezed out by a shuffle per half. Soft
// breaks straight before the line end go the same way. A block stops at
// any other "=" that starts no escape (blanks before a soft break, or "="
// as text), which takes the scalar rule. Returns the new p.
__attribute__((target("ssse3"))) const unsigned char* QPDecodeBlocks(const unsigned char* p,
                                                                     const unsigned char* const end, char*& out,
                                                                     const char* const limit)
{
    // A local copy: stores through char* could change out, which would
    // keep it in memory across the loop.
    char* w = out;
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    // The bytes at the start of this block that an escape or a break in
    // the last one already took. Every block but one that stops early is
    // sixteen bytes long, so no block waits for the one before it to be
    // worked out.
    unsigned carried = 0;
    while (end - p >= 18 && w < limit) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i isEquals = _mm_cmpeq_epi8(in, equals);
        const unsigned eq = static_cast<unsigned>(_mm_movemask_epi8(isEquals));
        if ((eq | carried) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), in);
            w += 16;
            p += 16;
            continue;
        }
        const __m128i next1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        const __m128i next2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
        __m128i digit1, digit2;
        const __m128i hi = HexValues(next1, digit1);
        const __m128i lo = HexValues(next2, digit2);
        const __m128i isEscape = _mm_andnot_si128(
            _mm_cmpeq_epi8(_mm_min_epu8(digit1, digit2), _mm_setzero_si128()), isEquals);
        const unsigned esc = static_cast<unsigned>(_mm_movemask_epi8(isEscape));
        const unsigned cr1 = eq & static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next1, cr)));
        const unsigned lf1 = eq & static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next1, lf)));
        const unsigned lf2 = cr1 & static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next2, lf)));
        const unsigned soft = cr1 | lf1;
        // Where both are digits hi is at most 15, so the 16-bit shift moves
        // no bit into the next byte; other bytes are not used.
        const __m128i values = _mm_or_si128(_mm_slli_epi16(hi, 4), lo);
        const __m128i bytes = _mm_or_si128(_mm_and_si128(isEscape, values), _mm_andnot_si128(isEscape, in));
        const unsigned dropped = carried | soft | (esc | soft) << 1 | (esc | lf2) << 2;
        unsigned keep = ~dropped & 0xFFFF;
        const unsigned stray = eq & ~(esc | soft);
        if (stray) {
            // Nothing before the "=" reaches past it: it is no digit nor
            // line end.
            const unsigned at = static_cast<unsigned>(__builtin_ctz(stray));
            keep &= (1u << at) - 1;
            carried = 0;
            p += at;
        } else {
            carried = dropped >> 16;
            p += 16;
        }
        const __m128i lowIndex = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kQPCompact.index[keep & 0xFF]));
        const __m128i highIndex = _mm_add_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kQPCompact.index[keep >> 8])), _mm_set1_epi8(8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(bytes, lowIndex));
        w += kQPCompact.count[keep & 0xFF];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(bytes, highIndex));
        w += kQPCompact.count[keep >> 8];
        if (stray)
            p = SoftBreakOrEquals(p, end, w);
    }
    out = w;
    // At most two bytes, which lie before the end.
    return p + (carried & 1) + (carried >> 1 & 1);
}
#endif

} // namespace

void QPDecodeAppend(std::string_view in, std::string& out)
{
    // Decoded in pieces through a small buffer into reserved space: only the
    // memory the result needs is ever touched.
    out.reserve(out.size() + in.size());
    char buffer[16384];
    char* w = buffer;
    char* const limit = buffer + sizeof buffer - 32;
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    const auto* const end = p + in.size();
#if defined(__x86_64__)
    const bool simd = HasSsse3();
#endif
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    constexpr std::uint64_t kEquals = kOnes * '=';
    int literalRun = 0;
    while (p < end) {
        if (w >= limit) {
            out.append(buffer, static_cast<std::size_t>(w - buffer));
            w = buffer;
        }
#if defined(__x86_64__)
        if (simd && end - p >= 18) {
            p = QPDecodeBlocks(p, end, w, limit);
            continue;
        }
#endif
        if (*p != '=') {
            *w++ = static_cast<char>(*p++);
            // In a long run of plain text, eight bytes at a time while none
            // of them is "=".
            if (++literalRun >= 8) {
                while (end - p >= 8 && w < limit) {
                    std::uint64_t v;
                    std::memcpy(&v, p, 8);
                    const std::uint64_t x = v ^ kEquals;
                    if ((x - kOnes) & ~x & kHighs)
                        break;
                    std::memcpy(w, p, 8);
                    w += 8;
                    p += 8;
                }
                literalRun = 0;
            }
            continue;
        }
        literalRun = 0;
        if (end - p >= 3) {
            const unsigned hi = kHexValue[p[1]], lo = kHexValue[p[2]];
            if ((hi | lo) < 16) {
                *w++ = static_cast<char>((hi << 4) | lo);
                p += 3;
                continue;
            }
        }
        p = SoftBreakOrEquals(p, end, w);
    }
    out.append(buffer, static_cast<std::size_t>(w - buffer));
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
char* QPEscapeLine(std::string_view line, const std::array<std::uint32_t, 256>& table, char* out)
{
    // One table look-up and one four-byte store per byte, without a branch
    // (text in other scripts mixes plain and escaped bytes at random); the
    // caller leaves room for three bytes per byte and one more.
    const auto put = [&table](char* o, unsigned char b) {
        const std::uint32_t e = table[b];
        const unsigned char bytes[4] = {static_cast<unsigned char>(e), static_cast<unsigned char>(e >> 8),
                                        static_cast<unsigned char>(e >> 16), 0};
        std::memcpy(o, bytes, 4);
        return o + (e >> 24);
    };
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const auto* const end = p + line.size();
    if (&table == &kQPBodyLine) {
        // Plain text eight bytes at a time while no byte is above 126,
        // below 32 or "=" (a tab or DEL takes the table, which keeps them).
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
        while (end - p >= 8) {
            std::uint64_t v;
            std::memcpy(&v, p, 8);
            const std::uint64_t x = v ^ (kOnes * '=');
            const std::uint64_t special = v | ((v - kOnes * 0x20) & ~v) | ((x - kOnes) & ~x) | (v + kOnes);
            if ((special & kHighs) == 0) {
                std::memcpy(out, p, 8);
                out += 8;
                p += 8;
                continue;
            }
            for (int i = 0; i < 8; ++i)
                out = put(out, p[i]);
            p += 8;
        }
    }
    for (; p < end; ++p)
        out = put(out, *p);
    return out;
}

} // namespace

std::string QPEncodeText(std::string_view text, bool headerMode)
{
    if (text.empty())
        return {};
    if (headerMode) {
        std::string out(text.size() * 3 + 1, '\0');
        char* end = QPEscapeLine(text, kQPHeaderLine, out.data());
        out.resize(static_cast<std::size_t>(end - out.data()));
        return out;
    }

    // Body mode: escape each line between CR LF pairs, escape the blanks
    // that end a line followed by CR LF, then cut lines at 72 columns with
    // soft breaks that never split an escape.
    std::string out;
    QPEncodeBodyAppend(text, out);
    return out;
}

void QPEncodeBodyAppend(std::string_view text, std::string& out)
{
    if (text.empty())
        return;
    // Encoded a line at a time into a scratch buffer and appended to space
    // reserved for the usual size, so a large text touches only what it
    // needs (and a recycled buffer's pages are used again).
    out.reserve(out.size() + text.size() + text.size() / 8 + 64);
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
        char* le = QPEscapeLine(src, kQPBodyLine, line.data());
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
            // Walking down from further right than column 74 passes the
            // same escape boundaries, so a long line costs no more than a
            // short one.
            std::size_t cut = std::min<std::size_t>(len, 74);
            while (cut >= 72) {
                if (IsEscapeAt(ls + cut - 3))
                    cut -= 3;
                else
                    cut -= 1;
            }
            out.append(ls, cut);
            out.append("=\r\n", 3);
            ls += cut;
            len -= cut;
        }
        out.append(ls, len);
        out.append("\r\n", 2);
        if (!hasBreak)
            break;
        pos = crlf + 2;
    }
}

#if defined(__x86_64__)
namespace {

bool HasSsse3();

// Sixteen base64 characters to twelve bytes with SSSE3 (the nibble-table
// validation and the multiply-add packing of the well-known SIMD base64
// decoders). False, with nothing written, when any of them is a pad or not
// in the alphabet: such groups take the exact scalar path.
__attribute__((target("ssse3"))) bool DecodeSixteen(const unsigned char* s, unsigned char* out)
{
    const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i mask2F = _mm_set1_epi8(0x2F);
    const __m128i hiNibbles = _mm_and_si128(_mm_srli_epi32(in, 4), mask2F);
    const __m128i loNibbles = _mm_and_si128(in, mask2F);
    const __m128i lutLo = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                                        0x1B, 0x1B, 0x1A);
    const __m128i lutHi = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                        0x10, 0x10, 0x10);
    const __m128i lutRoll = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i lo = _mm_shuffle_epi8(lutLo, loNibbles);
    const __m128i hi = _mm_shuffle_epi8(lutHi, hiNibbles);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(lo, hi), _mm_setzero_si128())) != 0xFFFF)
        return false;
    const __m128i eq2F = _mm_cmpeq_epi8(in, mask2F);
    const __m128i roll = _mm_shuffle_epi8(lutRoll, _mm_add_epi8(eq2F, hiNibbles));
    const __m128i values = _mm_add_epi8(in, roll);
    const __m128i pairs = _mm_maddubs_epi16(values, _mm_set1_epi32(0x01400140));
    const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    const __m128i bytes = _mm_shuffle_epi8(words, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    alignas(16) unsigned char tmp[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(tmp), bytes);
    std::memcpy(out, tmp, 12);
    return true;
}

} // namespace
#endif

namespace {

// Where a base64 decoder stands between two pieces of one text: the values
// of the group begun so far, and whether a pad has ended the data.
struct Base64State {
    unsigned bits = 0;
    int count = 0;
    bool ended = false;
};

// Decodes [s, end) on from state into out, which has room for three
// quarters of (end - s) plus the three characters a group may carry in. Characters outside the alphabet (line
// breaks, blanks, anything else) are skipped (RFC 2045 6.8); a pad after
// the second or third character of a group ends the data, so what follows
// it adds nothing. Returns the bytes written.
std::size_t Base64DecodePiece(const unsigned char* s, const unsigned char* const end, unsigned char* out,
                              Base64State& st)
{
    unsigned char* w = out;
#if defined(__x86_64__)
    const bool simd = HasSsse3();
#endif
    while (s < end && !st.ended) {
        if (st.count == 0) {
            // Whole groups of alphabet characters, the common case.
#if defined(__x86_64__)
            if (simd)
                while (end - s >= 16 && DecodeSixteen(s, w)) {
                    s += 16;
                    w += 12;
                }
#endif
            while (end - s >= 4) {
                const unsigned c1 = kBase64[s[0]], c2 = kBase64[s[1]], c3 = kBase64[s[2]], c4 = kBase64[s[3]];
                if ((c1 | c2 | c3 | c4) & 0xC0)
                    break;
                const unsigned v = (c1 << 18) | (c2 << 12) | (c3 << 6) | c4;
                w[0] = static_cast<unsigned char>(v >> 16);
                w[1] = static_cast<unsigned char>(v >> 8);
                w[2] = static_cast<unsigned char>(v);
                w += 3;
                s += 4;
            }
            if (s == end)
                break;
        }
        const unsigned v = kBase64[*s++];
        if (v < 64) {
            st.bits = (st.bits << 6) | v;
            if (++st.count == 4) {
                w[0] = static_cast<unsigned char>(st.bits >> 16);
                w[1] = static_cast<unsigned char>(st.bits >> 8);
                w[2] = static_cast<unsigned char>(st.bits);
                w += 3;
                st.bits = 0;
                st.count = 0;
            }
        } else if (v == 64 && st.count >= 2) {
            if (st.count == 2) {
                *w++ = static_cast<unsigned char>(st.bits >> 4);
            } else {
                *w++ = static_cast<unsigned char>(st.bits >> 10);
                *w++ = static_cast<unsigned char>(st.bits >> 2);
            }
            st.bits = 0;
            st.count = 0;
            st.ended = true;
        }
        // Anything else, a pad before a group's second character included,
        // is skipped.
    }
    return static_cast<std::size_t>(w - out);
}

// The end of the text: a last group its encoder left unpadded still gives
// its whole bytes; a single character carries none.
std::size_t Base64Finish(unsigned char* out, Base64State& st)
{
    std::size_t n = 0;
    if (!st.ended && st.count == 2) {
        out[0] = static_cast<unsigned char>(st.bits >> 4);
        n = 1;
    } else if (!st.ended && st.count == 3) {
        out[0] = static_cast<unsigned char>(st.bits >> 10);
        out[1] = static_cast<unsigned char>(st.bits >> 2);
        n = 2;
    }
    st = Base64State{};
    return n;
}

} // namespace

std::size_t Base64DecodeToBuffer(std::string_view text, unsigned char* buffer)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    Base64State st;
    std::size_t n = Base64DecodePiece(s, s + text.size(), buffer, st);
    n += Base64Finish(buffer + n, st);
    return n;
}

void Base64DecodeAppend(std::string_view text, std::string& out)
{
    out.reserve(out.size() + text.size() / 4 * 3 + 3);
    // Through a stack buffer in slices whose output always fits it, so only
    // the memory the result needs is touched.
    unsigned char buffer[16384];
    constexpr std::size_t kSlice = (sizeof buffer - 3) / 3 * 4 - 4;
    static_assert((kSlice + 3) / 4 * 3 + 3 <= sizeof buffer);
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = s + text.size();
    Base64State st;
    while (s < end && !st.ended) {
        const std::size_t take = std::min<std::size_t>(kSlice, static_cast<std::size_t>(end - s));
        const std::size_t n = Base64DecodePiece(s, s + take, buffer, st);
        out.append(reinterpret_cast<const char*>(buffer), n);
        s += take;
    }
    const std::size_t n = Base64Finish(buffer, st);
    out.append(reinterpret_cast<const char*>(buffer), n);
}

std::size_t Base64EncodedSize(std::size_t n)
{
    const std::size_t chars = (n + 2) / 3 * 4;
    return chars + (chars + 75) / 76 * 2;
}

namespace {

// Two alphabet characters for every 12-bit value: three source bytes take
// two lookups.
struct Base64Pairs {
    char pairs[4096][2];
    constexpr Base64Pairs() : pairs()
    {
        for (int i = 0; i < 4096; ++i) {
            pairs[i][0] = kBase64Alphabet[i >> 6];
            pairs[i][1] = kBase64Alphabet[i & 63];
        }
    }
};
constexpr Base64Pairs kBase64Pairs;

inline char* EncodeGroup(const unsigned char* s, char* out)
{
    const unsigned v = (unsigned(s[0]) << 16) | (unsigned(s[1]) << 8) | s[2];
    std::memcpy(out, kBase64Pairs.pairs[v >> 12], 2);
    std::memcpy(out + 2, kBase64Pairs.pairs[v & 4095], 2);
    return out + 4;
}

#if defined(__x86_64__)
// Twelve source bytes to sixteen characters with SSSE3 (reads sixteen
// bytes). The split into 6-bit indices and the index-to-character mapping
// follow the well-known multiply-shift and offset-table method.
__attribute__((target("ssse3"))) inline char* EncodeTwelve(const unsigned char* s, char* out)
{
    __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    in = _mm_shuffle_epi8(in, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
    const __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00));
    const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
    const __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003f03f0));
    const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
    const __m128i indices = _mm_or_si128(t1, t3);
    __m128i offsets = _mm_subs_epu8(indices, _mm_set1_epi8(51));
    const __m128i less = _mm_cmpgt_epi8(_mm_set1_epi8(26), indices);
    offsets = _mm_or_si128(offsets, _mm_and_si128(less, _mm_set1_epi8(13)));
    const __m128i shift = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    const __m128i result = _mm_add_epi8(_mm_shuffle_epi8(shift, offsets), indices);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), result);
    return out + 16;
}

// One 57-byte row (76 characters), four times twelve bytes by SSSE3 and the
// last nine one group at a time. Needs four bytes readable after the row.
__attribute__((target("ssse3"))) inline char* EncodeRowSsse3(const unsigned char* s, char* out)
{
    for (int i = 0; i < 4; ++i, s += 12)
        out = EncodeTwelve(s, out);
    for (int i = 0; i < 3; ++i, s += 3)
        out = EncodeGroup(s, out);
    return out;
}

bool HasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// 48 uuencoded characters (values "character - 32", space to grave accent)
// to 36 bytes, sixteen characters at a time; writes 40 bytes. Returns 0x40
// when a character lies outside the alphabet.
__attribute__((target("ssse3"))) unsigned UUDecodeFortyEight(const unsigned char* s, unsigned char* out)
{
    __m128i valid = _mm_set1_epi8(-1);
    for (int i = 0; i < 3; ++i, s += 16, out += 12) {
        const __m128i c = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), _mm_set1_epi8(0x20));
        // Valid characters are 0x20 to 0x60: 0 to 0x40 after the subtraction.
        valid = _mm_and_si128(valid, _mm_cmpeq_epi8(_mm_max_epu8(c, _mm_set1_epi8(0x40)), _mm_set1_epi8(0x40)));
        const __m128i v = _mm_and_si128(c, _mm_set1_epi8(0x3F));
        const __m128i pairs = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
        const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
        const __m128i bytes =
            _mm_shuffle_epi8(words, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    }
    return _mm_movemask_epi8(valid) == 0xFFFF ? 0u : 0x40u;
}

// Consecutive full lines ("M", 60 characters, CR LF) decoded while each is
// valid and out has room for 49 more bytes: the whole loop in one function,
// sixteen characters at a time, the last sixteen of a line overlapping the
// third block. Returns the bytes written; consumed tells the characters read.
__attribute__((target("ssse3"))) std::size_t UUDecodeFullLinesSsse3(const unsigned char* s, std::size_t length,
                                                                     unsigned char* out, std::size_t room,
                                                                     std::size_t& consumed)
{
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i top = _mm_set1_epi8(0x40);
    const __m128i six = _mm_set1_epi8(0x3F);
    const __m128i pairMul = _mm_set1_epi32(0x01400140);
    const __m128i wordMul = _mm_set1_epi32(0x00011000);
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const unsigned char* p = s;
    const unsigned char* const end = s + length;
    unsigned char* o = out;
    unsigned char* const last = out + room;
    while (end - p >= 63 && last - o >= 49 && p[0] == 'M' && p[61] == '\r' && p[62] == '\n') {
        __m128i c[4];
        c[0] = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)), space);
        c[1] = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 17)), space);
        c[2] = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 33)), space);
        c[3] = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 45)), space);
        // Valid characters are 0x20 to 0x60: 0 to 0x40 after the subtraction.
        const __m128i high = _mm_max_epu8(_mm_max_epu8(c[0], c[1]), _mm_max_epu8(c[2], c[3]));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(high, top), top)) != 0xFFFF)
            break;
        static constexpr int kAt[4] = {0, 12, 24, 33};
        for (int k = 0; k < 4; ++k) {
            const __m128i pairs = _mm_maddubs_epi16(_mm_and_si128(c[k], six), pairMul);
            const __m128i bytes = _mm_shuffle_epi8(_mm_madd_epi16(pairs, wordMul), order);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + kAt[k]), bytes);
        }
        p += 63;
        o += 45;
    }
    consumed = static_cast<std::size_t>(p - s);
    return static_cast<std::size_t>(o - out);
}
#endif

// Encodes whole 57-byte rows (76-character lines) and then the rest, as
// Base64EncodeStream lays them out, handing the text to sink in pieces.
template <class Sink> void Base64EncodeChunks(std::string_view source, Sink&& sink)
{
    const auto* s = reinterpret_cast<const unsigned char*>(source.data());
    std::size_t n = source.size();
    char buffer[78 * 200];
    char* out = buffer;
#if defined(__x86_64__)
    const bool simd = HasSsse3();
#endif
    while (n >= 57) {
#if defined(__x86_64__)
        if (simd && n >= 57 + 4)
            out = EncodeRowSsse3(s, out), s += 57;
        else
#endif
            for (int i = 0; i < 19; ++i, s += 3)
                out = EncodeGroup(s, out);
        *out++ = '\r';
        *out++ = '\n';
        n -= 57;
        if (out == buffer + sizeof buffer) {
            sink(buffer, sizeof buffer);
            out = buffer;
        }
    }
    if (n > 0) {
        for (; n >= 3; n -= 3, s += 3)
            out = EncodeGroup(s, out);
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
    if (out != buffer)
        sink(buffer, static_cast<std::size_t>(out - buffer));
}

} // namespace

std::size_t Base64EncodeStream(std::string& dest, std::string_view source)
{
    dest.clear();
    if (source.empty())
        return 0;
    // Appended in pieces to reserved space: no zero-filling of the whole
    // destination first.
    dest.reserve(Base64EncodedSize(source.size()));
    Base64EncodeChunks(source, [&dest](const char* piece, std::size_t n) { dest.append(piece, n); });
    return dest.size();
}

namespace {

// Decodes n whole groups of alphabet characters into out; false, with out
// partly written, when a character is a pad or outside the alphabet.
bool DecodeGroups(const unsigned char* s, std::size_t n, unsigned char* out)
{
    return (PackGroups(kBase64, s, n, out) & 0xC0) == 0;
}

// One 76-character line to its 57 bytes in row; false when it holds
// anything but alphabet characters.
bool DecodeRow(const unsigned char* s, unsigned char* row, bool simd)
{
#if defined(__x86_64__)
    if (simd) {
        for (int i = 0; i < 4; ++i)
            if (!DecodeSixteen(s + 16 * i, row + 12 * i))
                return false;
        return DecodeGroups(s + 64, 3, row + 48);
    }
#else
    (void)simd;
#endif
    return DecodeGroups(s, 19, row);
}

// The last line as the encoder ends it: whole groups, the last one possibly
// padded with its unused bits zero. Returns the bytes, or -1.
int DecodeLastRow(const unsigned char* s, std::size_t length, unsigned char* row)
{
    if (length == 0 || length > 76 || length % 4 != 0)
        return -1;
    const std::size_t groups = length / 4;
    if (!DecodeGroups(s, groups - 1, row))
        return -1;
    const unsigned char* g = s + length - 4;
    unsigned char* w = row + 3 * (groups - 1);
    const unsigned c1 = kBase64[g[0]], c2 = kBase64[g[1]], c3 = kBase64[g[2]], c4 = kBase64[g[3]];
    if (c1 >= 64 || c2 >= 64)
        return -1;
    if (c3 < 64 && c4 < 64)
        return DecodeGroups(g, 1, w) ? static_cast<int>(3 * groups) : -1;
    if (c3 == 64 && c4 == 64 && (c2 & 15) == 0) {
        w[0] = static_cast<unsigned char>((c1 << 2) | (c2 >> 4));
        return static_cast<int>(3 * groups - 2);
    }
    if (c3 < 64 && c4 == 64 && (c3 & 3) == 0) {
        w[0] = static_cast<unsigned char>((c1 << 2) | (c2 >> 4));
        w[1] = static_cast<unsigned char>((c2 << 4) | (c3 >> 2));
        return static_cast<int>(3 * groups - 1);
    }
    return -1;
}

} // namespace

bool Base64DecodeInPlace(std::string& text, bool& finalBreak)
{
    auto* const base = reinterpret_cast<unsigned char*>(text.data());
    const std::size_t size = text.size();
    // Each line is read whole before its bytes are written, and they land
    // at or before its start: nothing unread is overwritten.
#if defined(__x86_64__)
    const bool simd = HasSsse3();
#else
    const bool simd = false;
#endif
    std::size_t r = 0, w = 0;
    unsigned char row[60];
    while (size - r >= 78 && base[r + 76] == '\r' && base[r + 77] == '\n' && DecodeRow(base + r, row, simd)) {
        std::memcpy(base + w, row, 57);
        r += 78;
        w += 57;
    }
    const std::size_t rest = size - r;
    bool broken = true; // a text of whole lines ends with their break
    int last = 0;
    if (rest != 0) {
        broken = rest >= 2 && base[size - 2] == '\r' && base[size - 1] == '\n';
        last = DecodeLastRow(base + r, broken ? rest - 2 : rest, row);
        if (last > 0)
            std::memcpy(base + w, row, static_cast<std::size_t>(last));
    }
    if (last < 0 || size == 0) {
        // Laid out otherwise: the lines decoded so far are written back as
        // they were (they were the encoder's own, so encoding gives them
        // again), last first, since each lies over the ones before it.
        for (std::size_t line = w / 57; line-- > 0;) {
            std::memcpy(row, base + 57 * line, 57);
            char* out = reinterpret_cast<char*>(base + 78 * line);
            for (int i = 0; i < 19; ++i)
                out = EncodeGroup(row + 3 * i, out);
            out[0] = '\r';
            out[1] = '\n';
        }
        return false;
    }
    finalBreak = broken;
    text.resize(w + static_cast<std::size_t>(last));
    return true;
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
    const std::size_t k = n == 45 ? 60 : line.size() - 1;
    if (n == 45 && line.size() - 1 < 60)
        return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(line.data()) + 1;
    // The first 60 characters form a 360-bit sequence packed into the 45
    // bytes, the bits after the decoded ones being zero; an invalid
    // character anywhere rejects the line.
    unsigned char bytes[45] = {};
    const std::size_t used = std::min<std::size_t>(k, 60);
    unsigned bad = 0;
    std::size_t i = 0, o = 0;
    for (; i + 4 <= used; i += 4, o += 3) {
        const unsigned a = kUUValue[s[i]], b = kUUValue[s[i + 1]], c = kUUValue[s[i + 2]], d = kUUValue[s[i + 3]];
        bad |= a | b | c | d;
        const unsigned v = (a << 18) | (b << 12) | (c << 6) | d;
        bytes[o] = static_cast<unsigned char>(v >> 16);
        bytes[o + 1] = static_cast<unsigned char>(v >> 8);
        bytes[o + 2] = static_cast<unsigned char>(v);
    }
    unsigned bits = 0;
    int nbits = 0;
    for (; i < used; ++i) {
        const unsigned v = kUUValue[s[i]];
        bad |= v;
        bits = (bits << 6) | (v & 63);
        nbits += 6;
        if (nbits >= 8) {
            nbits -= 8;
            bytes[o++] = static_cast<unsigned char>(bits >> nbits);
            bits &= (1u << nbits) - 1;
        }
    }
    for (; i < k; ++i)
        bad |= kUUValue[s[i]];
    if (bad & 0x40)
        return 0;
    if (nbits > 0 && o < 45)
        bytes[o] = static_cast<unsigned char>(bits << (8 - nbits));
    std::memcpy(buffer, bytes, 45);
    return static_cast<std::size_t>(n);
}

namespace {

// Decodes the 60 characters of a full line ("M" and 60 characters) into 45
// bytes; the result has bit 0x40 set when one of them is no uuencode
// character.
unsigned UUDecodeFullLine(const unsigned char* s, unsigned char* o, bool simd)
{
    unsigned bad = 0;
    std::size_t groups = 15;
#if defined(__x86_64__)
    if (simd) {
        // 48 characters by SSSE3, the last 12 one group at a time.
        bad |= UUDecodeFortyEight(s, o);
        s += 48;
        o += 36;
        groups = 3;
    }
#else
    (void)simd;
#endif
    return bad | PackGroups(kUUValue, s, groups, o);
}

} // namespace

bool UUDecodeToStream(std::string_view text, std::string& stream)
{
    stream.clear();
    stream.reserve(text.size() * 3 / 4);
    unsigned char buffer[45 * 256];
    std::size_t filled = 0;
    std::size_t pos = 0;
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
#if defined(__x86_64__)
    const bool simd = HasSsse3();
#else
    const bool simd = false;
#endif
    while (pos < text.size()) {
        if (filled + 49 > sizeof buffer) {
            stream.append(reinterpret_cast<const char*>(buffer), filled);
            filled = 0;
        }
#if defined(__x86_64__)
        if (simd) {
            std::size_t consumed = 0;
            filled += UUDecodeFullLinesSsse3(bytes + pos, text.size() - pos, buffer + filled, sizeof buffer - filled,
                                             consumed);
            pos += consumed;
            if (consumed != 0)
                continue;
        }
#endif
        // Nearly every line is a full one followed by CR LF: when its 60
        // characters decode cleanly, no CR can hide among them, so that CR LF
        // is the line's end and no search is needed.
        if (text.size() - pos >= 63 && text[pos] == 'M' && text[pos + 61] == '\r' && text[pos + 62] == '\n'
            && !(UUDecodeFullLine(bytes + pos + 1, buffer + filled, simd) & 0x40)) {
            filled += 45;
            pos += 63;
            continue;
        }
        // The real line end: short lines are as legal as full ones. A zero
        // byte is no line end; the line that holds it is rejected.
        std::size_t e = std::string_view::npos;
        for (std::size_t i = pos; i + 1 < text.size();) {
            const void* cr = std::memchr(text.data() + i, '\r', text.size() - 1 - i);
            if (!cr)
                break;
            i = static_cast<std::size_t>(static_cast<const char*>(cr) - text.data());
            if (text[i + 1] == '\n') {
                e = i;
                break;
            }
            ++i;
        }
        const std::size_t lineEnd = e == std::string_view::npos ? text.size() : e;
        const std::string_view line = text.substr(pos, lineEnd - pos);
        pos = e == std::string_view::npos ? text.size() : e + 2;
        if (line.empty())
            continue;
        // A full line decodes in place; one with a character that is no
        // uuencode character gives nothing.
        if (line.size() >= 61 && line[0] == 'M') {
            if (!(UUDecodeFullLine(reinterpret_cast<const unsigned char*>(line.data()) + 1, buffer + filled, simd) & 0x40))
                filled += 45;
            continue;
        }
        filled += UUDecodeLine(line, buffer + filled);
    }
    stream.append(reinterpret_cast<const char*>(buffer), filled);
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
