// Encoded words and header lines. DecodeHeaderWords must equal the plain
// reading of its rules (what a word decodes to is never decoded again), an
// encoded word must decode to the text it was made from, and the header
// line operations must keep what they promise.
#include "FuzzUtil.h"
#include "WordsByRule.h"

#include "Codecs.h"
#include "HeaderLine.h"

#include <algorithm>
#include <vector>

namespace {

using fuzz::Shown;

bool HasAny(std::string_view s, std::string_view chars) { return s.find_first_of(chars) != std::string_view::npos; }

bool IContains(std::string_view text, std::string_view part)
{
    for (std::size_t i = 0; i + part.size() <= text.size(); ++i)
        if (IEquals(text.substr(i, part.size()), part))
            return true;
    return false;
}

void Words(std::string_view text)
{
    const std::string decoded = DecodeHeaderWords(text);
    FUZZ_CHECK(decoded.size() <= TrimBlanks(text).size(), "DecodeHeaderWords grew the text " + Shown(text));
    if (text.size() <= 2048)
        FUZZ_CHECK(decoded == testref::DecodeHeaderWordsByRule(text),
                   "DecodeHeaderWords of " + Shown(text) + " gave " + Shown(decoded) + ", the rules give "
                       + Shown(testref::DecodeHeaderWordsByRule(text)));
}

void RoundTrip(std::string_view charset, std::string_view text)
{
    const std::string word = EncodeHeaderWord(text, charset);
    FUZZ_CHECK(!HasAny(word, std::string_view("\r\n\0", 3)), "encoded word with a raw line break or NUL: " + Shown(word));
    // Blanks around a text that needs no word go, as any header's do; a
    // word is decoded to the very text, "=?" in it or not.
    if (word != text || TrimBlanks(text) == text)
        FUZZ_CHECK(DecodeHeaderWords(word) == text, "header word round trip of " + Shown(text) + " via " + Shown(word));
}

void Lines(std::string_view line, std::string_view name, std::string_view value)
{
    // Stable once canonical (a line that starts with a blank, which
    // unfolding never leaves, has its first letter cased as a later one).
    const std::string canonical = CanonicalHeaderLine(line);
    if (line.empty() || !IsBlank(line[0]))
        FUZZ_CHECK(CanonicalHeaderLine(canonical) == canonical, "CanonicalHeaderLine not stable on " + Shown(line));
    (void)GetHeaderMainValue(line);
    (void)GetHeaderParam(line, name);
    const std::string withParam = SetHeaderParam(line, name, value);
    (void)GetHeaderParam(withParam, name);
    const std::string withMain = SetHeaderMainValue(line, value);

    // Without quotes in play, what is set is read back.
    if (HasAny(line, "\"") || HasAny(value, "\";=") || line.find(':') == std::string_view::npos)
        return;
    FUZZ_CHECK(GetHeaderMainValue(withMain) == TrimBlanks(value),
               "main value " + Shown(value) + " set on " + Shown(line) + " reads back as "
                   + Shown(GetHeaderMainValue(withMain)));
    const std::string trimmedName = TrimBlanks(name);
    if (trimmedName.empty() || HasAny(name, "\";=") || IContains(line, trimmedName))
        return;
    FUZZ_CHECK(GetHeaderParam(withParam, name) == TrimBlanks(value),
               "parameter " + Shown(name) + "=" + Shown(value) + " set on " + Shown(line) + " reads back as "
                   + Shown(GetHeaderParam(withParam, name)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    switch (in.Byte() % 3) {
    case 0:
        Words(in.Rest());
        break;
    case 1: {
        static constexpr std::string_view kCharsets[] = {"iso-8859-1", "utf-8", "x", ""};
        const std::string_view charset = kCharsets[in.Byte() % 4];
        RoundTrip(charset, in.Rest());
        break;
    }
    default: {
        const std::string_view line = in.Text();
        const std::string_view name = in.Text();
        Lines(line, name, in.Rest());
        break;
    }
    }
    return 0;
}
