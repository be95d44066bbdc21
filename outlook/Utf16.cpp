#include "Utf16.h"

#include <iconv.h>

#include <cerrno>
#include <unordered_map>

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Utf16LeToUtf8(std::string_view bytes)
{
    // Written through a pointer into room for the worst case (three bytes
    // for each unit), then cut: most strings are short, some are a body.
    std::string out(bytes.size() / 2 * 3 + 4, '\0');
    char* o = out.data();
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size() & ~std::size_t{1};
    for (std::size_t i = 0; i < n; i += 2) {
        std::uint32_t c = b[i] | (b[i + 1] << 8);
        if (c < 0x80) {
            *o++ = static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < n) {
            const std::uint32_t low = b[i + 2] | (b[i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        if (c < 0x800) {
            *o++ = static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (c >> 18));
            *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        *o++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

bool IsUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
        if (n == 9 || (n == 1 && c < 0xC2) || i + n >= s.size() + (n ? 0 : 1))
            return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n + 1;
    }
    return true;
}

std::string CodePageCharset(int codePage)
{
    switch (codePage) {
    case 0:
    case 1252:
        return "CP1252";
    case 65001:
        return "UTF-8";
    case 1200:
        return "UTF-16LE";
    case 20127:
        return "ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 51932:
        return "EUC-JP";
    case 51936:
    case 936:
        return "GBK";
    case 54936:
        return "GB18030";
    case 51949:
        return "EUC-KR";
    case 949:
        return "CP949";
    case 950:
        return "BIG5";
    case 10000:
        return "MACINTOSH";
    case 52936:
        return "HZ";
    default:
        break;
    }
    if (codePage >= 28591 && codePage <= 28606)
        return "ISO-8859-" + std::to_string(codePage - 28590);
    return "CP" + std::to_string(codePage);
}

namespace {

std::string Cp1252ToUtf8(std::string_view bytes)
{
    // The C1 range of Windows-1252; its five holes keep their code.
    static constexpr std::uint16_t kHigh[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        AppendUtf8(out, c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c);
    }
    return out;
}

// One converter for each code page, opened at its first use and kept: an
// item in an 8-bit code page converts each of its strings, and opening a
// converter costs far more than a short string.
class TConverters {
public:
    TConverters() = default;
    TConverters(const TConverters&) = delete;
    TConverters& operator=(const TConverters&) = delete;
    ~TConverters() { CloseAll(); }
    iconv_t Get(int codePage)
    {
        const auto it = m_open.find(codePage);
        if (it != m_open.end())
            return it->second;
        // A hostile file naming thousands of code pages keeps no more
        // than a few open.
        if (m_open.size() >= 64)
            CloseAll();
        return m_open.emplace(codePage, ::iconv_open("UTF-8", CodePageCharset(codePage).c_str())).first->second;
    }

private:
    void CloseAll()
    {
        for (const auto& [page, cd] : m_open)
            if (cd != reinterpret_cast<iconv_t>(-1))
                ::iconv_close(cd);
        m_open.clear();
    }

    std::unordered_map<int, iconv_t> m_open;
};

iconv_t Converter(int codePage)
{
    thread_local TConverters converters;
    return converters.Get(codePage);
}

} // namespace

std::string CodePageToUtf8(int codePage, std::string_view bytes)
{
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    if (ascii && codePage != 1200 && codePage != 50220 && codePage != 50221 && codePage != 50222
        && codePage != 52936)
        return std::string(bytes);
    if (codePage == 0 || codePage == 1252)
        return Cp1252ToUtf8(bytes);
    if (codePage == 65001 && IsUtf8(bytes))
        return std::string(bytes);
    const iconv_t cd = Converter(codePage);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return Cp1252ToUtf8(bytes);
    std::string out(bytes.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    bool failed = false;
    while (inLeft > 0) {
        if (::iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) { // cannot happen with four bytes out for each in, but never loop
            failed = true;
            break;
        }
        // A byte the code page does not know: it is taken as Windows-1252
        // would read it and the rest goes on.
        const std::string one = Cp1252ToUtf8(std::string_view(in, 1));
        if (one.size() > toLeft) {
            failed = true;
            break;
        }
        for (char c : one)
            *to++ = c;
        toLeft -= one.size();
        ++in;
        --inLeft;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    ::iconv(cd, nullptr, nullptr, &to, &toLeft);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr); // ready for the next text
    if (failed)
        return Cp1252ToUtf8(bytes);
    out.resize(out.size() - toLeft);
    return out;
}
