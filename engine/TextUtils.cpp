#include "TextUtils.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

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

void TLineList::Assign(std::string_view text)
{
    clear();
    m_text.assign(text);
    std::size_t i = 0;
    while (i < m_text.size()) {
        std::size_t j = i;
        while (j < m_text.size() && m_text[j] != '\r' && m_text[j] != '\n')
            ++j;
        m_starts.push_back(i);
        m_lengths.push_back(j - i);
        if (j < m_text.size() && m_text[j] == '\r' && j + 1 < m_text.size() && m_text[j + 1] == '\n')
            j += 2;
        else if (j < m_text.size())
            ++j;
        i = j;
    }
}

void TLineList::clear()
{
    m_text.clear();
    m_starts.clear();
    m_lengths.clear();
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
