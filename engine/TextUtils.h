#pragma once
// Small byte-string helpers shared by the whole engine. Blanks are space and
// TAB; nothing here knows about character sets.
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

[[nodiscard]] char AsciiLower(char c);
[[nodiscard]] char AsciiUpper(char c);
[[nodiscard]] std::string AsciiLowerCase(std::string_view text);
[[nodiscard]] bool IEquals(std::string_view a, std::string_view b);
[[nodiscard]] bool IStartsWith(std::string_view text, std::string_view prefix);
[[nodiscard]] inline bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The text up to its first zero byte, as the engine reads stream contents.
[[nodiscard]] std::string_view UpToZero(std::string_view text);

// A text split into lines (at CR LF, LF or CR) that keeps the text in one
// piece: a long body is one allocation, not one per line.
class TLineList {
public:
    void Assign(std::string_view text);
    void clear();
    [[nodiscard]] std::size_t size() const { return m_starts.size(); }
    [[nodiscard]] bool empty() const { return m_starts.empty(); }
    [[nodiscard]] std::string_view operator[](std::size_t i) const
    {
        return std::string_view(m_text).substr(m_starts[i], m_lengths[i]);
    }
    [[nodiscard]] TStringList ToStringList() const;

private:
    std::string m_text;
    std::vector<std::size_t> m_starts;
    std::vector<std::size_t> m_lengths;
};

