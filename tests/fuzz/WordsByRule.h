#pragma once
// DecodeHeaderWords written plainly, as its rules read, for the tests and
// the fuzz target to hold the fast decoder against (quadratic: short texts
// only).
#include "Codecs.h"
#include "TextUtils.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace testref {

inline std::string DecodeWordByRule(char encoding, std::string_view text)
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

// The loop as the rules state it, written plainly: words found left to
// right, what a word decodes to never searched again (text that looks like
// a word was sent encoded, RFC 2047 5), an "=" before a word of nothing
// free to start a word with the "?" after it, and blanks that only separate
// two encoded words dropped.
inline std::string DecodeHeaderWordsByRule(std::string_view input)
{
    const std::string r = TrimBlanks(input);
    std::string out;
    std::size_t pos = 0;
    std::size_t lastEnd = std::string::npos; // end of the last word
    for (;;) {
        const std::size_t p = r.find("=?", pos);
        if (p == std::string::npos)
            break;
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
            break;
        const std::string piece = r.substr(q + 1, e - q - 1);
        char encoding = 'Q';
        if (piece.size() >= 2 && piece[1] == '?') {
            const char c = AsciiUpper(piece[0]);
            if (c == 'B' || c == 'Q' || c == 'U')
                encoding = c;
        }
        const std::string decoded = DecodeWordByRule(encoding, piece.size() >= 2 ? piece.substr(2) : std::string());
        std::string prefix = r.substr(pos, p - pos);
        if (lastEnd == pos && std::all_of(prefix.begin(), prefix.end(), IsBlank))
            prefix.clear();
        out += prefix + decoded;
        pos = lastEnd = e + 2;
        if (decoded.empty() && !out.empty() && out.back() == '=' && pos < r.size() && r[pos] == '?') {
            out.pop_back();
            --pos;
        }
    }
    return out + r.substr(std::min(pos, r.size()));
}

} // namespace testref
