#pragma once
// Small byte-string helpers shared by the whole engine. Blanks are space and
// TAB; nothing here knows about character sets.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using TStringList = std::vector<std::string>;

[[nodiscard]] inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Leading spaces and TABs go, trailing spaces go; trailing TABs stay.
[[nodiscard]] std::string TrimBlanks(std::string_view text);
[[nodiscard]] std::string_view TrimBlanksView(std::string_view text);
[[nodiscard]] std::string TrimLeadingBlanks(std::string_view text);
[[nodiscard]] std::string TrimTrailingBlanks(std::string_view text);
[[nodiscard]] std::string PadLeftTo(std::string_view text, std::size_t width, std::string_view pad);

// Copies the line that starts at position (counted from 1) up to and
// including its CR LF; position moves past it and becomes -1 at the end.
[[nodiscard]] std::string NextTextLine(std::string_view text, long long& position);

// Inline: every header question compares field and parameter names, and a
// call per character was a measurable share of reading a message.
[[nodiscard]] inline char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
[[nodiscard]] inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
[[nodiscard]] std::string AsciiLowerCase(std::string_view text);
[[nodiscard]] inline bool IEquals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}
[[nodiscard]] inline bool IStartsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}
[[nodiscard]] inline bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The text up to its first zero byte, as the engine reads stream contents.
[[nodiscard]] std::string_view UpToZero(std::string_view text);

// A list of texts kept in one buffer: a long list is a few allocations,
// not one per entry. Entries read as string views.
class TTextList {
public:
    class const_iterator {
    public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const TTextList* list, std::size_t i) : m_list(list), m_i(i) {}
        std::string_view operator*() const { return (*m_list)[m_i]; }
        const_iterator& operator++()
        {
            ++m_i;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_i;
            return old;
        }
        bool operator==(const const_iterator& o) const { return m_i == o.m_i; }

    private:
        const TTextList* m_list = nullptr;
        std::size_t m_i = 0;
    };

    void push_back(std::string_view text);
    void clear();
    // Room for entries texts of bytes in all; the memory is only used as
    // it fills.
    void reserve(std::size_t entries, std::size_t bytes);
    [[nodiscard]] std::size_t size() const { return m_wide ? m_wideEnds.size() : m_ends.size(); }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] std::string_view operator[](std::size_t i) const
    {
        const std::size_t start = i ? End(i - 1) : 0;
        return std::string_view(m_text).substr(start, End(i) - start);
    }
    [[nodiscard]] const_iterator begin() const { return {this, 0}; }
    [[nodiscard]] const_iterator end() const { return {this, size()}; }
    [[nodiscard]] TStringList ToStringList() const;
    friend bool operator==(const TTextList& a, const TStringList& b);

private:
    [[nodiscard]] std::size_t End(std::size_t i) const { return m_wide ? m_wideEnds[i] : m_ends[i]; }

    std::string m_text;
    // Where each entry ends: four bytes each while the texts stay below
    // 4 GiB, which a list of short addresses needs to stay small.
    std::vector<std::uint32_t> m_ends;
    std::vector<std::size_t> m_wideEnds;
    bool m_wide = false;
};

// Every line break (CR LF, LF or CR) made CR LF, in place; text that holds
// only CR LF pairs is left as it is, without a copy. clean: how much of the
// text is known to be so already. inserted, when given, receives where in
// the result each byte the change added stands (the CR before a lone LF,
// the LF after a lone CR), in order. A last line without a break gets none.
void NormaliseLineEnds(std::string& text, std::size_t clean = 0, std::vector<std::size_t>* inserted = nullptr);
// How far from from the text is known to hold only CR LF pairs (checked 64
// bytes at a time; the rest is for NormaliseLineEnds to search).
[[nodiscard]] std::size_t CleanLineEndsUpTo(std::string_view text, std::size_t from = 0);
// The same as a new text.
[[nodiscard]] std::string CanonicalLineEnds(std::string_view text);

// A text split into lines (at CR LF, LF or CR) that keeps the text in one
// piece: a long body is one allocation, not one per line.
class TLineList {
public:
    void Assign(std::string_view text);
    void clear();
    [[nodiscard]] std::size_t size() const { return m_wide ? m_wideLines.size() : m_lines.size(); }
    [[nodiscard]] bool empty() const { return size() == 0; }
    [[nodiscard]] std::string_view operator[](std::size_t i) const
    {
        if (m_wide)
            return std::string_view(m_text).substr(m_wideLines[i].start, m_wideLines[i].length);
        return std::string_view(m_text).substr(m_lines[i].start, m_lines[i].length);
    }
    [[nodiscard]] TStringList ToStringList() const;

private:
    template <class Offset> struct Span {
        Offset start;
        Offset length;
    };

    std::string m_text;
    // Eight bytes a line while the text stays below 4 GiB, sixteen above.
    std::vector<Span<std::uint32_t>> m_lines;
    std::vector<Span<std::size_t>> m_wideLines;
    bool m_wide = false;
};

