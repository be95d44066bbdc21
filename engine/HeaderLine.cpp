#include "HeaderLine.h"

#include "Codecs.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace {

std::string_view StripOuterQuotesView(std::string_view s)
{
    if (!s.empty() && s.front() == '"' && s.back() == '"')
        return s.size() >= 2 ? s.substr(1, s.size() - 2) : std::string_view();
    return s;
}

// Decodes the encoded text of one word by its encoding letter. The result
// is never longer than the encoded text.
std::string DecodeWordText(char encoding, std::string_view text)
{
    if (text.empty())
        return {};
    switch (encoding) {
    case 'B': {
        std::vector<unsigned char> buf(text.size() + 3);
        const std::size_t n = Base64DecodeToBuffer(text, buf.data());
        return std::string(UpToZero(std::string_view(reinterpret_cast<const char*>(buf.data()), n)));
    }
    case 'U': {
        unsigned char buf[45] = {};
        const std::size_t n = UUDecodeLine(text, buf);
        return std::string(UpToZero(std::string_view(reinterpret_cast<const char*>(buf), n)));
    }
    default: {
        std::string t(text);
        for (char& c : t)
            if (c == '_')
                c = ' ';
        return QPDecodeText(t);
    }
    }
}

} // namespace

// The text is decoded in one buffer: finished output grows at the front,
// the text still to be searched sits at the back. What a word decodes to
// is finished output, never searched again: text that only looks like an
// encoded word ("Price =?utf-8?Q?100?= offer", sent encoded as RFC 2047 5
// asks) stays as the sender wrote it. A decoded word is never longer than
// its encoded form, so the two regions never meet. Where a word decodes to
// nothing, an "=" before it that meets a "?" after it moves back to the
// rest and may start a word there. Linear however many words the header
// holds.
std::string DecodeHeaderWords(std::string_view input)
{
    std::string buf = TrimBlanks(input);
    const std::size_t n = buf.size();
    std::size_t out = 0;  // end of finished output
    std::size_t head = 0; // start of the text still to be searched
    std::size_t lastEnd = std::string::npos; // where the last decoded text ends
    auto find = [&](std::string_view what, std::size_t from) {
        return from > n ? std::string::npos : buf.find(what, from);
    };
    for (;;) {
        const std::size_t p = find("=?", head);
        if (p == std::string::npos)
            break;
        std::size_t q = find("?", p + 2);
        if (q == std::string::npos)
            q = p + 1;
        std::size_t e = find("?=", q + 1);
        if (e == std::string::npos)
            e = q;
        // An encoded text that begins with "=" ends at its real "?=".
        const std::size_t next = find("?", e + 1);
        if (next != std::string::npos && next + 1 < n && buf[next + 1] == '=')
            e = next;
        if (!(p < q && q < e))
            break;
        std::string_view piece(buf.data() + q + 1, e - q - 1);
        char encoding = 'Q';
        if (piece.size() >= 2 && piece[1] == '?') {
            const char c = AsciiUpper(piece[0]);
            if (c == 'B' || c == 'Q' || c == 'U')
                encoding = c;
        }
        std::string decoded = DecodeWordText(encoding, piece.size() >= 2 ? piece.substr(2) : std::string_view());
        if (decoded.size() > piece.size())
            decoded.resize(piece.size()); // never happens; keeps the regions apart

        // RFC 2047 6.2: white space that only separates two encoded words
        // is not part of the text (a character split over two words comes
        // out whole).
        std::size_t prefixEnd = p;
        if (lastEnd != std::string::npos && lastEnd <= p) {
            bool onlyBlanks = true;
            for (std::size_t i = lastEnd; i < p && onlyBlanks; ++i)
                onlyBlanks = IsBlank(buf[i]);
            if (onlyBlanks)
                prefixEnd = lastEnd;
        }
        std::memmove(buf.data() + out, buf.data() + head, prefixEnd - head);
        out += prefixEnd - head;
        std::memcpy(buf.data() + out, decoded.data(), decoded.size());
        out += decoded.size();
        head = e + 2;
        lastEnd = e + 2;
        if (decoded.empty() && out > 0 && buf[out - 1] == '=' && head < n && buf[head] == '?') {
            --out;
            buf[--head] = '=';
        }
    }
    std::memmove(buf.data() + out, buf.data() + head, n - head);
    buf.resize(out + n - head);
    return buf;
}

std::string EncodeHeaderWord(std::string_view text, std::string_view charset)
{
    std::string enc = QPEncodeText(text, true);
    if (enc == text)
        return std::string(text);
    std::string r;
    r.reserve(enc.size() + charset.size() + 7);
    r += "=?";
    r += charset;
    r += "?Q?";
    r += enc;
    r += "?=";
    return r;
}

namespace {

// Whether CanonicalHeaderLine gives the line back unchanged, as it does for
// nearly every line a mailer writes. Read as the canonical form would be
// written over the line itself: the first byte it would write differently
// ends the test. A line without a colon is left to the full rewrite.
bool IsCanonicalHeaderLine(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || (colon > 0 && IsBlank(line[0])))
        return false;
    bool afterDash = true;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = line[i];
        char want = afterDash ? AsciiUpper(c) : AsciiLower(c);
        if (i + 1 == colon && i >= 2 && line[i - 1] == 'I' && line[i - 2] == '-' && want == 'd')
            want = 'D'; // "-ID"
        if (c != want)
            return false;
        afterDash = c == '-';
    }
    // One space after the colon, and the value from its first non-blank.
    const std::size_t valueStart = colon + 2;
    if (line.size() < valueStart || line[colon + 1] != ' ')
        return false;
    if (line.size() == valueStart)
        return true;
    if (IsBlank(line[valueStart]) || line.back() == ' ')
        return false;
    for (std::size_t i = valueStart; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos)
                return true; // kept as it stands
            i = close;
        } else if (c == ' ' && IsBlank(line[i - 1])) {
            return false; // blanks before a space fold into it
        }
    }
    return true;
}

} // namespace

void CanonicaliseHeaderLine(std::string& line)
{
    if (!IsCanonicalHeaderLine(line))
        line = CanonicalHeaderLine(line);
}

std::string CanonicalHeaderLine(std::string_view line)
{
    if (IsCanonicalHeaderLine(line))
        return std::string(line);
    std::string name;
    std::size_t i = 0;
    bool afterDash = true; // the first character is upper-cased too
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ':') {
            name += ':';
            ++i;
            break;
        }
        if (afterDash)
            name += AsciiUpper(c);
        else
            name += AsciiLower(c);
        afterDash = c == '-';
    }
    // "-Id" before the colon is written "-ID" (Message-ID, Content-ID).
    if (name.size() >= 4 && name.back() == ':' && name[name.size() - 2] == 'd' && name[name.size() - 3] == 'I'
        && name[name.size() - 4] == '-')
        name[name.size() - 2] = 'D';
    // The value is written straight after the name: one copy of a long
    // line, not three. Its leading blanks are never written, its trailing
    // spaces are cut at the end.
    std::string r = TrimBlanks(name);
    r += ' ';
    r.reserve(r.size() + (line.size() - i));
    const std::size_t valueStart = r.size();
    std::size_t quoteStart = std::string::npos;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (quoteStart != std::string::npos) {
            if (c == '"') {
                r.append(line.substr(quoteStart, i - quoteStart + 1));
                quoteStart = std::string::npos;
            }
            continue;
        }
        if (c == '"') {
            quoteStart = i;
        } else if (r.size() == valueStart && IsBlank(c)) {
            // leading blanks of the value
        } else if (c == ' ') {
            while (r.size() > valueStart && IsBlank(r.back()))
                r.pop_back();
            r += ' ';
        } else {
            r += c;
        }
    }
    // A quotation that never closes keeps its text as it stands.
    if (quoteStart != std::string::npos)
        r.append(line.substr(quoteStart));
    while (r.size() > valueStart && r.back() == ' ')
        r.pop_back();
    return r;
}

namespace {

// The header readers act only on quotes, colons, semicolons and equals
// signs; the bytes between them are skipped in a tight loop.
constexpr std::array<bool, 256> kMarks = [] {
    std::array<bool, 256> t{};
    for (const unsigned char c : {'"', ':', ';', '='})
        t[c] = true;
    return t;
}();

std::size_t NextMark(std::string_view s, std::size_t i)
{
    while (i < s.size() && !kMarks[static_cast<unsigned char>(s[i])])
        ++i;
    return i;
}

// Where the main value runs: from the first colon outside quotes up to the
// next semicolon outside quotes. False when the line has no such colon.
bool MainValueBounds(std::string_view line, std::size_t& start, std::size_t& end)
{
    bool inQuotes = false;
    start = std::string_view::npos;
    end = line.size();
    for (std::size_t i = NextMark(line, 0); i < line.size(); i = NextMark(line, i + 1)) {
        const char c = line[i];
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c == ':' && start == std::string_view::npos) {
            start = i + 1;
        } else if (!inQuotes && c == ';' && start != std::string_view::npos) {
            end = i;
            break;
        }
    }
    return start != std::string_view::npos;
}

} // namespace

std::string_view HeaderMainValueView(std::string_view line)
{
    std::size_t start = 0, end = 0;
    return MainValueBounds(line, start, end) ? line.substr(start, end - start) : std::string_view();
}

std::string GetHeaderMainValue(std::string_view line)
{
    return std::string(StripOuterQuotesView(TrimBlanksView(HeaderMainValueView(line))));
}

std::string SetHeaderMainValue(std::string_view line, std::string_view value)
{
    std::size_t start = 0, end = 0;
    if (!MainValueBounds(line, start, end))
        return std::string(line);
    value = TrimBlanksView(value);
    std::string r;
    r.reserve(start + 1 + value.size() + (line.size() - end));
    r.append(line.substr(0, start));
    r += ' ';
    r += value;
    r += line.substr(end);
    return r;
}

namespace {

// Whether a view points into the string: editing the string in place
// would change the text being written into it.
bool PointsInto(const std::string& s, std::string_view v)
{
    const std::less<const char*> before;
    return !v.empty() && !before(v.data(), s.data()) && before(v.data(), s.data() + s.size());
}

} // namespace

void ReplaceHeaderMainValue(std::string& line, std::string_view value)
{
    if (PointsInto(line, value)) {
        line = SetHeaderMainValue(line, value);
        return;
    }
    std::size_t start = 0, end = 0;
    if (!MainValueBounds(line, start, end))
        return;
    value = TrimBlanksView(value);
    line.replace(start, end - start, value.size() + 1, ' ');
    value.copy(line.data() + start + 1, value.size());
}

namespace {

// One pass over a header line as GetHeaderParam and SetHeaderParam read it,
// without a copy of the line or of the names it passes: it runs for every
// parameter question about every part. The text read is s, and one ";"
// after it when addSemicolon is set. Every matching parameter's value is
// gathered in value; returns after the first matching value ends when
// stopAtFirst is set (valueStart and valueEnd then say where it stood).
struct ParamScan {
    std::string_view want; // trimmed
    std::string* storage = nullptr;
    std::size_t valueStart = std::string::npos;
    std::size_t valueEnd = std::string::npos;
    // A view into s while the value is a single piece of it; pieced
    // together in storage when the name comes again, or when the ";" that
    // is not in s falls inside an open quotation.
    std::string_view value;
    bool pieced = false;
    bool any = false;

    void EndValue(std::string_view s, std::size_t from, std::size_t to)
    {
        const std::string_view piece = s.substr(from, std::min(to, s.size()) - from);
        const bool semicolon = to > s.size();
        if (!any && !semicolon) {
            value = piece;
            any = true;
            return;
        }
        any = true;
        if (!storage)
            return;
        if (!pieced) {
            storage->assign(value);
            pieced = true;
        }
        storage->append(piece);
        if (semicolon)
            storage->push_back(';');
        value = *storage;
    }

    void Run(std::string_view s, bool addSemicolon, bool stopAtFirst)
    {
        bool inQuotes = false, inMain = false, inParams = false, matching = false;
        std::size_t nameStart = 0; // the name being read, while in the parameters and not matching
        std::size_t valueFrom = 0; // the matching value being read
        const std::size_t n = s.size() + (addSemicolon ? 1 : 0);
        // NextMark stops at the end of s, where the added ";" stands.
        for (std::size_t i = NextMark(s, 0); i < n; i = NextMark(s, i + 1)) {
            const char c = i < s.size() ? s[i] : ';';
            if (c == '"') {
                inQuotes = !inQuotes;
                continue;
            }
            if (inQuotes)
                continue;
            if (c == ':' && !inMain && !inParams) {
                inMain = true;
            } else if (c == ';' && (inMain || inParams)) {
                if (matching) {
                    if (stopAtFirst) {
                        valueEnd = i;
                        return;
                    }
                    EndValue(s, valueFrom, i);
                }
                inMain = false;
                inParams = true;
                matching = false;
                nameStart = i + 1;
            } else if (c == '=' && inParams) {
                if (matching && stopAtFirst)
                    continue; // a second "=" ends nothing for the setter: the value runs to the next ";"
                // A name is only read between values: after a value's "="
                // the name is empty.
                const std::string_view name = matching ? std::string_view() : s.substr(nameStart, i - nameStart);
                if (matching)
                    EndValue(s, valueFrom, i);
                matching = IEquals(TrimBlanksView(name), want);
                nameStart = i + 1;
                if (matching) {
                    valueFrom = i + 1;
                    if (valueStart == std::string::npos)
                        valueStart = i + 1;
                }
            }
        }
        if (matching && !stopAtFirst)
            EndValue(s, valueFrom, n);
    }
};

} // namespace

std::string_view HeaderParamView(std::string_view line, std::string_view name, std::string& storage)
{
    const std::string_view s = TrimBlanksView(line);
    ParamScan scan;
    scan.want = TrimBlanksView(name);
    scan.storage = &storage;
    scan.Run(s, s.empty() || s.back() != ';', false);
    return StripOuterQuotesView(TrimBlanksView(scan.value));
}

std::string GetHeaderParam(std::string_view line, std::string_view name)
{
    std::string storage;
    const std::string_view v = HeaderParamView(line, name, storage);
    return std::string(v);
}

bool HeaderParamPresent(std::string_view line, std::string_view name)
{
    std::string storage;
    return !TrimBlanksView(HeaderParamView(line, name, storage)).empty();
}

void ReplaceHeaderParam(std::string& line, std::string_view name, std::string_view value)
{
    if (PointsInto(line, name) || PointsInto(line, value)) {
        const std::string ownName(name), ownValue(value);
        ReplaceHeaderParam(line, ownName, ownValue);
        return;
    }
    // The line is read trimmed and ending in ";" (added when missing); that
    // last ";" is not written back.
    const std::string_view t = TrimBlanksView(line);
    const std::size_t from = static_cast<std::size_t>(t.data() - line.data());
    const bool hadSemicolon = !t.empty() && t.back() == ';';
    ParamScan scan;
    scan.want = TrimBlanksView(name);
    scan.Run(t, !hadSemicolon, true);
    std::size_t to = from + t.size() - (hadSemicolon ? 1 : 0);
    if (scan.valueStart != std::string::npos && scan.valueEnd != std::string::npos) {
        line.erase(to);
        line.replace(from + scan.valueStart, scan.valueEnd - scan.valueStart, TrimBlanksView(value));
        line.erase(0, from);
        return;
    }
    while (to > from && line[to - 1] == ' ')
        --to;
    line.erase(to);
    line.erase(0, from);
    name = TrimBlanksView(name);
    value = TrimBlanksView(value);
    line.reserve(line.size() + 3 + name.size() + value.size());
    line += "; ";
    line += name;
    line += '=';
    line += value;
}

std::string SetHeaderParam(std::string_view line, std::string_view name, std::string_view value)
{
    std::string r(line);
    ReplaceHeaderParam(r, name, value);
    return r;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = AsciiUpper(c);
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// "%XX" escapes of an RFC 2231 value made bytes; a "%" that starts none
// stays as it is.
void AppendPercentDecoded(std::string_view text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
}

} // namespace

bool GetHeaderParamExtended(std::string_view line, std::string_view name, std::string& value,
                            std::string* charset, std::string* language)
{
    // Every extended form has a "*" after the name: most lines have none
    // and need no closer look.
    if (line.find('*') == std::string_view::npos)
        return false;
    const std::string_view want = TrimBlanksView(name);
    // Each parameter of the line as name and raw value; the same quoting
    // rules as GetHeaderParam.
    struct Section {
        unsigned long index;
        bool encoded;
        std::string_view raw;
    };
    std::vector<Section> sections;
    bool single = false; // name*= seen
    std::string_view singleRaw;
    bool inQuotes = false, seenColon = false;
    std::size_t paramStart = std::string_view::npos, eq = std::string_view::npos;
    auto finish = [&](std::size_t end) {
        if (paramStart == std::string_view::npos || eq == std::string_view::npos)
            return;
        const std::string_view pname = TrimBlanksView(line.substr(paramStart, eq - paramStart));
        std::string_view raw = TrimBlanksView(line.substr(eq + 1, end - eq - 1));
        if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"')
            raw = raw.substr(1, raw.size() - 2);
        if (pname.size() <= want.size() || !IEquals(pname.substr(0, want.size()), want) || pname[want.size()] != '*')
            return;
        std::string_view rest = pname.substr(want.size() + 1);
        if (rest.empty()) {
            if (!single) {
                single = true;
                singleRaw = raw;
            }
            return;
        }
        const bool encoded = rest.back() == '*';
        if (encoded)
            rest.remove_suffix(1);
        if (rest.empty() || rest.size() > 6)
            return;
        unsigned long index = 0;
        for (char c : rest) {
            if (c < '0' || c > '9')
                return;
            index = index * 10 + static_cast<unsigned long>(c - '0');
        }
        sections.push_back({index, encoded, raw});
    };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c == ':' && !seenColon) {
            seenColon = true;
        } else if (!inQuotes && c == ';' && seenColon) {
            finish(i);
            paramStart = i + 1;
            eq = std::string_view::npos;
        } else if (!inQuotes && c == '=' && paramStart != std::string_view::npos && eq == std::string_view::npos) {
            eq = i;
        }
    }
    finish(line.size());

    // Continuations run from section 0 up to the first one missing.
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Section& x, const Section& y) { return x.index < y.index; });
    std::vector<const Section*> run;
    for (const Section& sec : sections) {
        if (sec.index == run.size())
            run.push_back(&sec);
        else if (sec.index > run.size())
            break; // a gap; a repeated index keeps its first
    }
    if (!single && run.empty())
        return false;
    value.clear();
    auto decodeFirst = [&](std::string_view raw, bool encoded) {
        if (!encoded) {
            value.append(raw);
            return;
        }
        // charset "'" language "'" text; a value that lacks the two quotes
        // is taken as text.
        const std::size_t q1 = raw.find('\'');
        const std::size_t q2 = q1 == std::string_view::npos ? q1 : raw.find('\'', q1 + 1);
        if (q2 != std::string_view::npos) {
            if (charset)
                *charset = std::string(raw.substr(0, q1));
            if (language)
                *language = std::string(raw.substr(q1 + 1, q2 - q1 - 1));
            raw = raw.substr(q2 + 1);
        }
        AppendPercentDecoded(raw, value);
    };
    if (charset)
        charset->clear();
    if (language)
        language->clear();
    if (!run.empty()) {
        decodeFirst(run[0]->raw, run[0]->encoded);
        for (std::size_t k = 1; k < run.size(); ++k) {
            if (run[k]->encoded)
                AppendPercentDecoded(run[k]->raw, value);
            else
                value.append(run[k]->raw);
        }
    } else {
        decodeFirst(singleRaw, true);
    }
    return true;
}

int FindHeaderLine(const TStringList* list, std::string_view prefix, int occurrence)
{
    if (!list)
        return -1;
    int seen = 0;
    for (std::size_t i = 0; i < list->size(); ++i) {
        if (IStartsWith((*list)[i], prefix)) {
            if (seen == occurrence)
                return static_cast<int>(i);
            ++seen;
        }
    }
    return -1;
}

namespace {

// RFC 2045 token characters, and "*" for RFC 2231 names.
bool IsTokenChar(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (u <= 32 || u >= 127)
        return false;
    return std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

} // namespace

bool IsMediaType(std::string_view type)
{
    const std::size_t slash = type.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == type.size())
        return false;
    for (std::size_t i = 0; i < type.size(); ++i)
        if (i != slash && !IsTokenChar(type[i]))
            return false;
    return true;
}

std::string WithParamSeparators(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return std::string(line);
    std::string out;
    bool inQuotes = false;
    char lastSolid = ':'; // the last character outside quotes that is no blank
    std::size_t from = 0;
    for (std::size_t i = colon + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            inQuotes = !inQuotes;
            lastSolid = c;
            continue;
        }
        if (inQuotes)
            continue;
        if (!IsBlank(c)) {
            lastSolid = c;
            continue;
        }
        // A run of blanks after a value, then a name and "=": a parameter
        // whose ";" is missing.
        std::size_t j = i;
        while (j < line.size() && IsBlank(line[j]))
            ++j;
        std::size_t k = j;
        while (k < line.size() && IsTokenChar(line[k]))
            ++k;
        std::size_t eq = k;
        while (eq < line.size() && IsBlank(line[eq]))
            ++eq;
        const bool afterValue = lastSolid != ':' && lastSolid != ';' && lastSolid != '=';
        if (afterValue && k > j && eq < line.size() && line[eq] == '=') {
            out.append(line.substr(from, i - from));
            out += ';';
            from = i;
            lastSolid = ';';
        }
        i = j - 1;
    }
    if (from == 0)
        return std::string(line);
    out.append(line.substr(from));
    return out;
}
