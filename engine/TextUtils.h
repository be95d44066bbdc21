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

// Splits a text at CR LF, LF or CR into lines without their breaks.
[[nodiscard]] TStringList SplitLines(std::string_view text);
// Joins lines, each followed by CR LF.
[[nodiscard]] std::string JoinLines(const TStringList& lines);
