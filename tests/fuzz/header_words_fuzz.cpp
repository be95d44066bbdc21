// Encoded words and header lines. DecodeHeaderWords must equal the plain
// reading of its rules (search from the start again after every word), an
// encoded word must decode to the text it was made from, and the header
// line operations must keep what they promise.
#include "FuzzUtil.h"

#include "Codecs.h"
#include "HeaderLine.h"

#include <algorithm>
#include <vector>

namespace {

using fuzz::Shown;

std::string DecodeWordByRule(char encoding, std::string_view text)
{
    if (text.empty())
        return {};
    if (encoding == 'B') {
        std::vector<unsigned char> buf(text.size() + 3);
        const std::size_t n = Base64DecodeToBuffer(text, buf.data());
        return std::string(UpToZero(std::string_view(reinterpret_cast<const char*>(buf.data()), n)));
    }
    if (encoding == 'U') {
        unsigned char buf[45] = {};
        const std::size_t n = UUDecodeLine(text, buf);
        return std::string(UpToZero(std::string_view(reinterpret_cast<const char*>(buf), n)));
    }
    std::string t(text);
    for (char& c : t)
        if (c == '_')
            c = ' ';
    return QPDecodeText(t);
}

// The loop as the rules state it (quadratic, so only for short texts),
// with RFC 2047's one addition: blanks that only separate two encoded words
// are dropped.
std::string DecodeHeaderWordsByRule(std::string_view input)
{
    std::string r = TrimBlanks(input);
    std::size_t lastEnd = std::string::npos; // end of the last decoded text
    for (;;) {
        const std::size_t p = r.find("=?");
        if (p == std::string::npos)
            return r;
        std::size_t q = r.find('?', p + 2);
        if (q == std::string::npos)
            q = p + 1;
        std::size_t e = r.find("?=", q + 1);
        if (e == std::string::npos)
            e = q;
        const std::size_t next = r.find('?', e + 1);
        if (next != std::string::npos && next + 1 < r.size() && r[next + 1] == '=')
            e = next;
        if (!(p < q && q < e))
            return r;
        const std::string piece = r.substr(q + 1, e - q - 1);
        char encoding = 'Q';
        if (piece.size() >= 2 && piece[1] == '?') {
            const char c = AsciiUpper(piece[0]);
            if (c == 'B' || c == 'Q' || c == 'U')
                encoding = c;
        }
        const std::string decoded = DecodeWordByRule(encoding, piece.size() >= 2 ? piece.substr(2) : std::string());
        std::size_t prefixEnd = p;
        if (lastEnd != std::string::npos && lastEnd <= p
            && std::all_of(r.begin() + static_cast<long>(lastEnd), r.begin() + static_cast<long>(p), IsBlank))
            prefixEnd = lastEnd;
        r = r.substr(0, prefixEnd) + decoded + r.substr(e + 2);
        lastEnd = prefixEnd + decoded.size();
    }
}

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
        FUZZ_CHECK(decoded == DecodeHeaderWordsByRule(text),
                   "DecodeHeaderWords of " + Shown(text) + " gave " + Shown(decoded) + ", the rules give "
                       + Shown(DecodeHeaderWordsByRule(text)));
}

void RoundTrip(std::string_view charset, std::string_view text)
{
    const std::string word = EncodeHeaderWord(text, charset);
    FUZZ_CHECK(!HasAny(word, std::string_view("\r\n\0", 3)), "encoded word with a raw line break or NUL: " + Shown(word));
    // A text that itself holds "=?" is decoded once more after its word.
    if (text.find("=?") == std::string_view::npos)
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
