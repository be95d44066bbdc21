#include "TextUtils.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(__x86_64__)
#include <emmintrin.h>
#endif

std::string_view TrimBlanksView(std::string_view text)
{
    std::size_t b = 0;
    while (b < text.size() && IsBlank(text[b]))
        ++b;
    std::size_t e = text.size();
    while (e > b && text[e - 1] == ' ')
        --e;
    return text.substr(b, e - b);
}

std::string TrimBlanks(std::string_view text) { return std::string(TrimBlanksView(text)); }

std::string TrimLeadingBlanks(std::string_view text)
{
    std::size_t b = 0;
    while (b < text.size() && IsBlank(text[b]))
        ++b;
    return std::string(text.substr(b));
}

std::string TrimTrailingBlanks(std::string_view text)
{
    std::size_t e = text.size();
    while (e > 0 && IsBlank(text[e - 1]))
        --e;
    return std::string(text.substr(0, e));
}

std::string PadLeftTo(std::string_view text, std::size_t width, std::string_view pad)
{
    std::string s = TrimLeadingBlanks(text);
    if (s.size() > width)
        return s.substr(s.size() - width);
    if (pad.empty() || s.size() >= width)
        return s;
    // As many whole pads as it takes to reach or pass the width, copied in
    // doubling runs.
    const std::size_t padded = (width - s.size() + pad.size() - 1) / pad.size() * pad.size();
    std::string r(padded + s.size(), '\0');
    std::memcpy(r.data(), pad.data(), pad.size());
    for (std::size_t done = pad.size(); done < padded;) {
        const std::size_t n = std::min(done, padded - done);
        std::memcpy(r.data() + done, r.data(), n);
        done += n;
    }
    std::memcpy(r.data() + padded, s.data(), s.size());
    return r;
}

std::string NextTextLine(std::string_view text, long long& position)
{
    if (position < 1 || static_cast<std::size_t>(position) > text.size()) {
        position = -1;
        return {};
    }
    const std::size_t start = static_cast<std::size_t>(position - 1);
    std::size_t end = text.size();
    for (std::size_t i = start; i + 1 < text.size(); ++i) {
        const void* cr = std::memchr(text.data() + i, '\r', text.size() - 1 - i);
        if (!cr)
            break;
        i = static_cast<const char*>(cr) - text.data();
        if (text[i + 1] == '\n') {
            end = i + 2;
            break;
        }
    }
    position = end >= text.size() ? -1 : static_cast<long long>(end + 1);
    return std::string(text.substr(start, end - start));
}

std::string AsciiLowerCase(std::string_view text)
{
    std::string s(text);
    for (char& c : s)
        c = AsciiLower(c);
    return s;
}

std::string_view UpToZero(std::string_view text)
{
    const void* z = std::memchr(text.data(), 0, text.size());
    return z ? text.substr(0, static_cast<const char*>(z) - text.data()) : text;
}

namespace {

// Calls emit(start, length) for each line of text in order: lines end at
// CR LF, LF or CR, and a last line without a break counts too.
template <class Emit> void ForEachLine(std::string_view text, Emit&& emit)
{
    const char* const s = text.data();
    const std::size_t n = text.size();
    std::size_t start = 0;
    const auto lineBreak = [&](std::size_t at) {
        if (at < start)
            return; // the LF of a CR LF pair, ended with its CR
        emit(start, at - start);
        start = at + 1 + (s[at] == '\r' && at + 1 < n && s[at + 1] == '\n');
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen bytes a step: a body's lines are found at the speed of a copy.
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; n - i >= 16; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        auto breaks =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
        for (; breaks; breaks &= breaks - 1)
            lineBreak(i + static_cast<std::size_t>(__builtin_ctz(breaks)));
    }
#endif
    for (; i < n; ++i)
        if (s[i] == '\r' || s[i] == '\n')
            lineBreak(i);
    if (start < n)
        emit(start, n - start);
}

template <class Lines> void FillLines(std::string_view text, Lines& lines)
{
    using Offset = decltype(Lines::value_type::start);
    // Room for lines as long as mail's usual ones; longer texts of short
    // lines grow the list as usual.
    lines.reserve(text.size() / 64 + 1);
    ForEachLine(text, [&lines](std::size_t start, std::size_t length) {
        lines.push_back({static_cast<Offset>(start), static_cast<Offset>(length)});
    });
}

} // namespace

void TLineList::Assign(std::string_view text)
{
    clear();
    m_text.assign(text);
    m_wide = m_text.size() > UINT32_MAX;
    if (m_wide)
        FillLines(m_text, m_wideLines);
    else
        FillLines(m_text, m_lines);
}

void TLineList::clear()
{
    m_text.clear();
    m_lines.clear();
    m_wideLines.clear();
    m_wide = false;
}

TStringList TLineList::ToStringList() const
{
    TStringList lines;
    lines.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        lines.emplace_back((*this)[i]);
    return lines;
}

void TTextList::push_back(std::string_view text)
{
    m_text.append(text);
    if (!m_wide && m_text.size() > UINT32_MAX) {
        m_wideEnds.assign(m_ends.begin(), m_ends.end());
        std::vector<std::uint32_t>().swap(m_ends);
        m_wide = true;
    }
    if (m_wide)
        m_wideEnds.push_back(m_text.size());
    else
        m_ends.push_back(static_cast<std::uint32_t>(m_text.size()));
}

void TTextList::clear()
{
    // Shrunk as well: a list rebuilt from a smaller header gives the
    // memory of a huge one back.
    std::string().swap(m_text);
    std::vector<std::uint32_t>().swap(m_ends);
    std::vector<std::size_t>().swap(m_wideEnds);
    m_wide = false;
}

void TTextList::reserve(std::size_t entries, std::size_t bytes)
{
    if (!m_wide)
        m_ends.reserve(entries);
    m_text.reserve(bytes);
}

TStringList TTextList::ToStringList() const
{
    TStringList list;
    list.reserve(size());
    for (std::string_view s : *this)
        list.emplace_back(s);
    return list;
}

bool operator==(const TTextList& a, const TStringList& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

// Every line break becomes CR LF, whatever it was before. Zero bytes are
// data like any other. A last line without a break gets none: adding one
// would change the content of the message's last part. Text that is
// already clean is used as it is.
// Where the text is known to hold only CR LF pairs up to: 64 bytes at a
// time, a CR must have an LF after it and an LF a CR before it. The rest is
// searched byte by byte.
// from is where an earlier call stopped (the text before it is known clean).
std::size_t CleanLineEndsUpTo(std::string_view text, std::size_t from)
{
    std::size_t i = from;
#if defined(__x86_64__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    std::uint64_t carry = i > 0 && text[i - 1] == '\r' ? 1 : 0; // a CR in the last byte before the block
    for (; i + 65 <= text.size(); i += 64) {
        std::uint64_t crs = 0;
        std::uint64_t lfs = 0;
        for (int k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i + 16 * k));
            crs |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)))} << (16 * k);
            lfs |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))} << (16 * k);
        }
        // The byte after the block stands in for the LF after its last byte.
        const std::uint64_t next = text[i + 64] == '\n' ? 1ULL << 63 : 0;
        if ((lfs & ~((crs << 1) | carry)) != 0 || (crs & ~((lfs >> 1) | next)) != 0)
            break;
        carry = crs >> 63;
    }
#endif
    return i;
}

// clean: how much of the text is known to hold only CR LF pairs already.
// inserted, when given, receives where in the result each byte the change
// added stands (the CR before a lone LF, the LF after a lone CR), in order.
void NormaliseLineEnds(std::string& text, std::size_t clean, std::vector<std::size_t>* inserted)
{
    // Most files already end every line in CR LF: find the first line break
    // that is not a CR LF pair before copying anything.
    std::size_t first = text.size();
    clean = CleanLineEndsUpTo(text, clean);
    for (std::size_t i = clean; (i = text.find('\n', i)) != std::string::npos; ++i)
        if (i == 0 || text[i - 1] != '\r') {
            first = i;
            break;
        }
    for (std::size_t i = clean; (i = text.find('\r', i)) != std::string::npos && i < first; ++i)
        if (i + 1 >= text.size() || text[i + 1] != '\n') {
            first = i;
            break;
        }
    if (first == text.size())
        return;
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    out.append(text, 0, first);
    std::size_t i = first;
    while (i < text.size()) {
        std::size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n')
            ++j;
        out.append(text, i, j - i);
        if (j < text.size())
            out += "\r\n"; // a last line without a break stays without one
        if (j < text.size() && text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n') {
            j += 2;
        } else if (j < text.size()) {
            if (inserted)
                inserted->push_back(out.size() - (text[j] == '\n' ? 2 : 1));
            ++j;
        }
        i = j;
    }
    text.swap(out);
}

std::string CanonicalLineEnds(std::string_view text)
{
    std::string out(text);
    NormaliseLineEnds(out);
    return out;
}
