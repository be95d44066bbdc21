#include "TMailPart.h"

#include "Codecs.h"
#include "EngineError.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "MimeTypes.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

// ---- TMailPartList ---------------------------------------------------------

int TMailPartList::IndexOf(const TMailPart* part) const
{
    const auto it = std::find(m_items.begin(), m_items.end(), part);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

void TMailPartList::Insert(std::size_t index, TMailPart* part)
{
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(std::min(index, m_items.size())), part);
}

void TMailPartList::Delete(std::size_t index)
{
    if (index < m_items.size())
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
}

bool TMailPartList::Remove(const TMailPart* part)
{
    // Parts are usually removed from the end (children freed in reverse).
    for (std::size_t i = m_items.size(); i-- > 0;) {
        if (m_items[i] == part) {
            m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

// ---- TMailPart -------------------------------------------------------------

TMailPart::TMailPart(TMailMessage2000* owner) : OwnerMessage(owner) {}

TMailPart::~TMailPart() = default;

int TMailPart::FindLabel(std::string_view label) const
{
    // The name and its colon compared in place: every header question about
    // every part comes here, and building "Label:" first cost an allocation
    // each time. The colon test rejects most lines before any compare.
    const std::size_t n = label.size();
    for (std::size_t i = 0; i < Header.size(); ++i) {
        const std::string& line = Header[i];
        if (line.size() > n && line[n] == ':' && IEquals(std::string_view(line).substr(0, n), label))
            return static_cast<int>(i);
    }
    return -1;
}

namespace {

// Quotes of either kind around a value longer than two characters go.
std::string_view StripLabelQuotes(std::string_view v)
{
    auto isQuote = [](char c) { return c == '"' || c == '\''; };
    if (v.size() > 2 && isQuote(v.front()) && isQuote(v.back()))
        return v.substr(1, v.size() - 2);
    return v;
}

// The main value as the accessors give it, still inside the line.
std::string_view LabelValueView(std::string_view line)
{
    return StripLabelQuotes(TrimBlanksView(HeaderMainValueView(line)));
}

} // namespace

std::string TMailPart::GetLabelValue(std::string_view label) const
{
    const int i = FindLabel(label);
    if (i < 0)
        return {};
    return std::string(LabelValueView(Header[static_cast<std::size_t>(i)]));
}

namespace {

std::string LabelParamOfLine(std::string_view line, std::string_view param)
{
    // The RFC 2231 form carries the real name where mailers also write a
    // plain fallback beside it.
    std::string extended;
    if (GetHeaderParamExtended(line, param, extended) && !TrimBlanksView(extended).empty())
        return std::string(StripLabelQuotes(TrimBlanksView(extended)));
    std::string storage;
    return std::string(StripLabelQuotes(TrimBlanksView(HeaderParamView(line, param, storage))));
}

} // namespace

std::string TMailPart::GetLabelParamValue(std::string_view label, std::string_view param) const
{
    const int i = FindLabel(label);
    return i < 0 ? std::string() : LabelParamOfLine(Header[static_cast<std::size_t>(i)], param);
}

void TMailPart::SetLabelValue(std::string_view label, std::string_view value)
{
    int i = FindLabel(label);
    if (value.empty()) {
        if (i >= 0)
            Header.erase(Header.begin() + i);
        return;
    }
    if (i < 0) {
        // The line is finished before it joins the header: value may point
        // into another header line, which growing the list can move.
        std::string line;
        line.reserve(label.size() + 2 + value.size());
        line += label;
        line += ": ";
        ReplaceHeaderMainValue(line, value);
        Header.push_back(std::move(line));
        return;
    }
    ReplaceHeaderMainValue(Header[static_cast<std::size_t>(i)], value);
}

void TMailPart::SetLabelParamValue(std::string_view label, std::string_view param, std::string_view value)
{
    int i = FindLabel(label);
    if (i < 0) {
        std::string line;
        line.reserve(label.size() + 5 + param.size() + value.size());
        line += label;
        line += ": ";
        ReplaceHeaderParam(line, param, value); // before the list can grow, as above
        Header.push_back(std::move(line));
        return;
    }
    ReplaceHeaderParam(Header[static_cast<std::size_t>(i)], param, value);
}

bool TMailPart::LabelExists(std::string_view label) const { return FindLabel(label) >= 0; }

bool TMailPart::LabelParamExists(std::string_view label, std::string_view param) const
{
    const int i = FindLabel(label);
    return i >= 0 && HeaderParamPresent(Header[static_cast<std::size_t>(i)], param);
}

std::string TMailPart::GetContentType() const
{
    const int i = FindLabel("Content-Type");
    if (i < 0)
        return {};
    // Lowered while copied: one allocation where there were three.
    const std::string_view v = LabelValueView(Header[static_cast<std::size_t>(i)]);
    std::string type(v.size(), '\0');
    std::transform(v.begin(), v.end(), type.begin(), AsciiLower);
    return type;
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = AsciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The boundary parameter read from the field line itself, as mailers write
// it: unquoted with "=" inside, quoted with escapes, or in the RFC 2231
// forms (boundary*=charset''value, boundary*0=..., boundary*1=...).
// Delimiter lines must match the whole boundary, so none of it may be lost.
std::string BoundaryFromField(std::string_view line)
{
    std::vector<std::pair<int, std::string>> pieces;
    std::size_t i = line.find(':');
    bool inQuotes = false;
    for (i = i == std::string_view::npos ? 0 : i + 1; i < line.size() && (inQuotes || line[i] != ';'); ++i)
        if (line[i] == '"')
            inQuotes = !inQuotes;
    while (i < line.size()) {
        ++i; // past ";"
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        const std::size_t eq = line.find_first_of("=;", i);
        if (eq == std::string_view::npos || line[eq] == ';') {
            i = eq == std::string_view::npos ? line.size() : eq;
            continue;
        }
        const std::string_view name = TrimBlanksView(line.substr(i, eq - i));
        // Only the boundary's own values are copied: the container's
        // boundary is asked for once per part placed in it.
        const bool wanted = IStartsWith(name, "boundary");
        i = eq + 1;
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        std::string value;
        if (i < line.size() && line[i] == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\' && i + 1 < line.size())
                    ++i;
                if (wanted)
                    value += line[i];
            }
            while (i < line.size() && line[i] != ';')
                ++i;
        } else {
            const std::size_t stop = std::min(line.find(';', i), line.size());
            if (wanted)
                value = TrimBlanks(line.substr(i, stop - i));
            i = stop;
        }
        if (!wanted)
            continue;
        std::string_view rest = name.substr(8);
        const bool extended = !rest.empty() && rest.back() == '*';
        if (extended)
            rest.remove_suffix(1);
        int index = 0;
        if (!rest.empty()) {
            if (rest.front() != '*' || rest.size() < 2 || rest.size() > 4)
                continue;
            index = 0;
            for (char c : rest.substr(1)) {
                if (c < '0' || c > '9') {
                    index = -1;
                    break;
                }
                index = index * 10 + (c - '0');
            }
            if (index < 0)
                continue;
        }
        if (extended) {
            if (index == 0) {
                const std::size_t q1 = value.find('\'');
                const std::size_t q2 = q1 == std::string::npos ? q1 : value.find('\'', q1 + 1);
                if (q2 != std::string::npos)
                    value.erase(0, q2 + 1);
            }
            std::string decoded;
            for (std::size_t k = 0; k < value.size(); ++k) {
                if (value[k] == '%' && k + 2 < value.size() && HexDigit(value[k + 1]) >= 0
                    && HexDigit(value[k + 2]) >= 0) {
                    decoded += static_cast<char>(HexDigit(value[k + 1]) * 16 + HexDigit(value[k + 2]));
                    k += 2;
                } else {
                    decoded += value[k];
                }
            }
            value = std::move(decoded);
        }
        // The first plain boundary parameter wins; otherwise the numbered
        // pieces in order.
        if (rest.empty())
            return value;
        pieces.emplace_back(index, std::move(value));
    }
    std::sort(pieces.begin(), pieces.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string joined;
    for (int expect = 0; const auto& [index, value] : pieces) {
        if (index != expect++)
            break;
        joined += value;
    }
    return joined;
}

} // namespace

std::string TMailPart::GetBoundary() const
{
    const int i = FindLabel("Content-Type");
    if (i >= 0) {
        std::string b = BoundaryFromField(Header[static_cast<std::size_t>(i)]);
        while (!b.empty() && IsBlank(b.back()))
            b.pop_back();
        if (!b.empty())
            return b;
    }
    return GetLabelParamValue("Content-Type", "boundary");
}

namespace {

// A name as the sender wrote it, encoded words decoded, trimmed.
std::string DecodedName(std::string name)
{
    if (name.find("=?") != std::string::npos)
        return DecodeHeaderWords(name);
    // Without an encoded word, decoding would only trim.
    const std::string_view t = TrimBlanksView(name);
    const auto from = static_cast<std::size_t>(t.data() - name.data());
    name.erase(from + t.size());
    name.erase(0, from);
    return name;
}

// The last component of a name that carries a path ("C:\TEMP\a.png",
// "/home/u/report.pdf"): RFC 2183 2.3 lets a receiver take only that.
// Empty when nothing but folders is named.
std::string LeafName(std::string name)
{
    while (!name.empty() && IsBlank(name.back()))
        name.pop_back();
    const std::size_t sep = name.find_last_of("/\\");
    if (sep != std::string::npos)
        name.erase(0, sep + 1);
    const std::string_view t = TrimBlanksView(name);
    if (t == "." || t == ".." || t == "\"\"") // "" is an empty name in quotes
        return {};
    return std::string(t);
}

// The last step of a location ("http://x/img/logo.png?v=2" gives
// "logo.png"), its %XX escapes made bytes.
std::string LocationLeaf(std::string_view location)
{
    location = location.substr(0, location.find_first_of("?#"));
    std::string leaf = LeafName(std::string(location));
    if (leaf.find(':') != std::string::npos && leaf.find('.') == std::string::npos)
        return {}; // a scheme or host alone ("cid:", "http:") names no file
    std::string out;
    for (std::size_t i = 0; i < leaf.size(); ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : (c | 32) >= 'a' && (c | 32) <= 'f' ? (c | 32) - 'a' + 10 : -1;
        };
        if (leaf[i] == '%' && i + 2 < leaf.size() && hex(leaf[i + 1]) >= 0 && hex(leaf[i + 2]) >= 0) {
            out += static_cast<char>(hex(leaf[i + 1]) * 16 + hex(leaf[i + 2]));
            i += 2;
        } else {
            out += leaf[i];
        }
    }
    return out;
}

// The extension a name the engine makes up gets: the registered one, else
// one that says what kind of file it is.
std::string MadeUpExtension(std::string_view type)
{
    std::string ext = ExtensionForContentType(type);
    if (!ext.empty())
        return ext;
    const std::string t = AsciiLowerCase(TrimBlanksView(type));
    if (!IsMediaType(t.substr(0, t.find_first_of(" \t("))))
        return ".txt"; // no type to be read: plain text (RFC 2045 5.2)
    if (t == "message/rfc822" || t == "message/global")
        return ".eml";
    if (t.starts_with("text/") || t.starts_with("message/") || t.starts_with("multipart/"))
        return ".txt"; // text, or MIME text kept whole
    return ".bin";
}

} // namespace

std::string TMailPart::GetFileName() const
{
    // Each field is looked up once: names are asked for every attachment
    // of a message, often more than once.
    const int type = FindLabel("Content-Type");
    auto value = [this](int i) { return std::string(LabelValueView(Header[static_cast<std::size_t>(i)])); };
    // The names a sender (or the engine, in its own field) gave the file.
    auto given = [&]() -> std::string {
        if (const int i = FindLabel("X-Corvanta-Attachment"); i >= 0)
            if (std::string n = LeafName(DecodedName(value(i))); !n.empty())
                return n;
        if (type >= 0)
            if (std::string n = LeafName(DecodedName(LabelParamOfLine(Header[static_cast<std::size_t>(type)], "name")));
                !n.empty())
                return n;
        if (const int i = FindLabel("Content-Disposition"); i >= 0)
            if (std::string n = LeafName(DecodedName(LabelParamOfLine(Header[static_cast<std::size_t>(i)], "filename")));
                !n.empty())
                return n;
        return {};
    };
    std::string name = given();
    const std::string typeValue = type >= 0 ? value(type) : std::string();
    if (name.empty()) {
        // A name made up from what else the part says of itself: it gets
        // the type's extension, and a Content-ID no angle brackets.
        if (const int i = FindLabel("Content-ID"); i >= 0) {
            std::string id = DecodedName(value(i));
            if (id.size() >= 2 && id.front() == '<' && id.back() == '>')
                id = TrimBlanks(std::string_view(id).substr(1, id.size() - 2));
            name = SafeFileName(id);
            if (!name.empty() && type >= 0) {
                const std::string ext = MadeUpExtension(typeValue);
                if (name.size() <= ext.size() || !IEquals(std::string_view(name).substr(name.size() - ext.size()), ext))
                    name = SafeFileName(name + ext);
            }
        }
        if (name.empty())
            if (const int i = FindLabel("Content-Location"); i >= 0)
                name = LocationLeaf(DecodedName(value(i)));
        if (name.empty() && type >= 0)
            name = DecodedName(typeValue) + MadeUpExtension(typeValue);
        if (name.empty())
            return "unknown";
        std::string safe = SafeFileName(name);
        if (safe.find('.') == std::string::npos && type >= 0)
            safe = SafeFileName(safe + MadeUpExtension(typeValue));
        return safe;
    }
    // A name without a dot gets its type's extension; so does one whose
    // only dot the length limit cut away, or read again (after a rebuild,
    // or from the saved message) it would gain one and change. Not the
    // ".bin" of a type that says nothing of the content: "AUTHORS" or
    // "Makefile" would be saved under a name their sender never gave.
    std::string safe = SafeFileName(name);
    if (safe.find('.') == std::string::npos && type >= 0
        && !IEquals(typeValue, "application/octet-stream"))
        safe = SafeFileName(safe + ExtensionForContentType(typeValue));
    return safe;
}

void TMailPart::Detach()
{
    if (!ParentPart || this == OwnerMessage)
        return;
    if (ParentPart->SubPartList.Remove(this))
        ParentPart = nullptr;
}

namespace {

// A header field line: a name of visible characters, perhaps blanks, then a
// colon. The first line of a part that is no such line is already content.
// The line that starts at pos ends at end (before its CR LF); the next one
// starts at next. Lines end at CR LF only: a bare CR or LF is a character of
// its line. The last line, without CR LF, ends at the end of the text.
void LineEnd(std::string_view text, std::size_t pos, std::size_t& end, std::size_t& next)
{
    for (std::size_t i = pos; i < text.size();) {
        const void* lf = std::memchr(text.data() + i, '\n', text.size() - i);
        if (!lf)
            break;
        const std::size_t j = static_cast<std::size_t>(static_cast<const char*>(lf) - text.data());
        if (j > pos && text[j - 1] == '\r') {
            end = j - 1;
            next = j + 1;
            return;
        }
        i = j + 1;
    }
    end = next = text.size();
}

bool LooksLikeField(std::string_view line)
{
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && IsBlank(name.back()))
        name.remove_suffix(1);
    if (name.empty())
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 127; });
}

// Whether "binary" stands anywhere in the text, in any case: only then can a
// part be of that transfer encoding.
bool MentionsBinary(std::string_view text)
{
    for (std::size_t i = 0; (i = text.find("inary", i)) != std::string_view::npos; i += 5)
        if (i > 0 && AsciiLower(text[i - 1]) == 'b')
            return true;
    for (std::size_t i = 0; (i = text.find("INARY", i)) != std::string_view::npos; i += 5)
        if (i > 0 && AsciiLower(text[i - 1]) == 'b')
            return true;
    return false;
}

bool IsBlankText(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return IsBlank(c) || c == '\r' || c == '\n'; });
}

// "begin", a blank, an octal mode of three or four digits, blanks, a name.
bool IsUuBeginLine(std::string_view line, std::string& name)
{
    if (!StartsWith(line, "begin "))
        return false;
    std::size_t i = 6;
    const std::size_t modeStart = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '7')
        ++i;
    if (i - modeStart < 3 || i - modeStart > 4 || i >= line.size() || line[i] != ' ')
        return false;
    while (i < line.size() && line[i] == ' ')
        ++i;
    const std::string_view rest = line.substr(i);
    if (rest.empty() || IsBlank(rest.front()))
        return false;
    name = TrimBlanks(rest.substr(0, 999));
    return true;
}

bool IsUuEndLine(std::string_view line)
{
    return TrimBlanksView(line) == "end";
}

struct ViewHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

} // namespace

// One parse: a single walk over the text, line by line, without changing
// it. The boundaries of the multiparts being read form a stack; a delimiter
// line of any of them ends every part opened inside it, so each line is read
// once however deep the nesting.
struct TMailPart::Parser {
    std::string_view text;
    TMailMessage2000* msg;
    TMailPart* reporter; // the message, when it is the part parsed and listens
    std::size_t pos = 0; // the current line: [pos, end); the next starts at next
    std::size_t end = 0;
    std::size_t next = 0;
    bool done = false;
    // The storage of the text, when the caller gives it up: the largest
    // body can then take it over instead of being copied out of it.
    std::string* owner = nullptr;
    struct Placed {
        TMailPart* part;
        std::size_t from;
        std::size_t to;
        bool binary = false; // its bytes are taken as they were in the file
    };
    std::vector<Placed> bodies{};
    // Parts whose uuencoded files come out before the placing, with their
    // body's index in bodies (npos: none).
    struct Lift {
        TMailPart* part;
        std::size_t body;
    };
    std::vector<Lift> lifts{};
    std::vector<std::string> open{}; // boundaries of the multiparts being read, outermost first
    std::unordered_map<std::string, std::vector<int>, ViewHash, std::equal_to<>> levels{};

    void Next()
    {
        if (next >= text.size()) {
            done = true;
            pos = end = text.size();
            return;
        }
        pos = next;
        LineEnd(text, pos, end, next);
        if (reporter)
            reporter->ReportProgress(text.size(), pos + 1);
    }
    // Moves to the next line that could be a delimiter line: one that
    // starts with "--". Between delimiters there is nothing to read line by
    // line, and base64 has no "-", so a whole encoded body is one search.
    // A listener is told of every line, so it gets them one by one.
    void NextCandidate()
    {
        if (reporter) {
            Next();
            return;
        }
        std::size_t from = next;
        while (!levels.empty() && from < text.size()) {
            const void* dash = std::memchr(text.data() + from, '-', text.size() - from);
            if (!dash)
                break;
            const std::size_t j = static_cast<std::size_t>(static_cast<const char*>(dash) - text.data());
            const bool lineStart = j == from || (j >= from + 2 && text[j - 2] == '\r' && text[j - 1] == '\n');
            if (lineStart && j + 1 < text.size() && text[j + 1] == '-') {
                pos = j;
                LineEnd(text, pos, end, next);
                return;
            }
            std::size_t lineEnd = 0;
            LineEnd(text, j, lineEnd, from);
        }
        done = true;
        pos = end = next = text.size();
    }
    [[nodiscard]] std::string_view Line() const { return text.substr(pos, end - pos); }

    // The level of the innermost open multipart that the current line
    // delimits (the boundary, perhaps "--", perhaps trailing blanks), or -1.
    int Match(bool& closing) const
    {
        closing = false;
        if (levels.empty() || end - pos < 2 || text[pos] != '-' || text[pos + 1] != '-')
            return -1;
        std::string_view rest = text.substr(pos + 2, end - pos - 2);
        while (!rest.empty() && IsBlank(rest.back()))
            rest.remove_suffix(1);
        int level = -1;
        if (const auto it = levels.find(rest); it != levels.end())
            level = it->second.back();
        if (rest.size() >= 2 && rest.substr(rest.size() - 2) == "--") {
            const auto it = levels.find(rest.substr(0, rest.size() - 2));
            if (it != levels.end() && it->second.back() > level) {
                level = it->second.back();
                closing = true;
            }
        }
        return level;
    }
    // Reads lines up to the next delimiter line of an open multipart (hit is
    // its level, -1 at the end of the text); returns where the first line
    // read starts, npos when there was none.
    std::size_t ReadToDelimiter(bool& closing, int& hit)
    {
        std::size_t first = std::string_view::npos;
        hit = -1;
        while (!done) {
            if ((hit = Match(closing)) >= 0)
                break;
            if (first == std::string_view::npos)
                first = pos;
            NextCandidate();
        }
        return first;
    }

    int Push(const std::string& boundary)
    {
        const int level = static_cast<int>(open.size());
        open.push_back(boundary);
        levels[boundary].push_back(level);
        return level;
    }
    void Pop()
    {
        const auto it = levels.find(open.back());
        it->second.pop_back();
        if (it->second.empty())
            levels.erase(it);
        open.pop_back();
    }

    // Bodies are copied once the walk has passed them, a stretch of text at
    // a time: the parts and their headers then lie together in memory,
    // apart from the bulk of the bodies, and every later pass over the tree
    // touches less of it; and the text of a stretch is still in the cache
    // when its bodies are copied out of it.
    void SetBody(TMailPart& part, std::size_t from, std::size_t to)
    {
        const bool binary = inserted && !inserted->empty()
                            && IEquals(part.GetLabelValue("Content-Transfer-Encoding"), "binary");
        bodies.push_back({&part, from, to, binary});
    }
    // Where the line ends of a loaded file were made CR LF: the bytes the
    // change added, by their place in text.
    const std::vector<std::size_t>* inserted = nullptr;
    // A body's bytes; binary content (RFC 2045 2.9) as it was in the file,
    // without the CRs (or LFs) its lone line ends were given.
    void Assign(const Placed& b) const
    {
        std::string& to = b.part->m_body;
        if (!b.binary) {
            to.assign(text.data() + b.from, b.to - b.from);
            return;
        }
        to.clear();
        to.reserve(b.to - b.from);
        std::size_t at = b.from;
        for (auto it = std::lower_bound(inserted->begin(), inserted->end(), b.from);
             it != inserted->end() && *it < b.to; ++it) {
            to.append(text.data() + at, *it - at);
            at = *it + 1;
        }
        to.append(text.data() + at, b.to - at);
    }
    // The body the walk gave a part that has no children yet.
    [[nodiscard]] std::string_view BodyOf(const TMailPart& part) const
    {
        if (!bodies.empty() && bodies.back().part == &part)
            return text.substr(bodies.back().from, bodies.back().to - bodies.back().from);
        return {};
    }
    // Forgets a part without children that is about to be freed.
    void Forget(const TMailPart& part)
    {
        if (!bodies.empty() && bodies.back().part == &part)
            bodies.pop_back();
        if (!lifts.empty() && lifts.back().part == &part)
            lifts.pop_back();
    }
    // A body that could take the storage over (most of the text) waits for
    // the end, when the largest is known.
    [[nodiscard]] bool MayTakeOver(const Placed& b) const
    {
        return owner && !b.binary && (b.to - b.from) * 2 >= owner->size();
    }
    void PlaceBodies(bool all = true);
    // Only between parts: the last body stays where the walk can see it
    // while its part is read.
    void PlaceSome()
    {
        if (pos - placedUpTo >= kPlaceEvery) {
            PlaceBodies(false);
            placedUpTo = pos;
        }
    }
    static constexpr std::size_t kPlaceEvery = 256 * 1024;
    std::size_t placedUpTo = 0;

    void ParsePart(TMailPart& part, bool hasHeader, int depth);
    void ParseMultipart(TMailPart& part, int depth);
    std::size_t LiftUuencoded(TMailPart& part, std::string_view body);
};

// Every body but the largest is copied out of the text; the largest, when
// it is most of the text (one big attachment), takes the storage over, so a
// large file is not held twice. Uuencoded files come out of the text
// first: the body that held them keeps only its own text, and is not
// copied whole. Before the end of the walk (all false) only the bodies that
// cannot take the storage over are placed.
void TMailPart::Parser::PlaceBodies(bool all)
{
    for (const Lift& lift : lifts) {
        if (lift.body == std::string_view::npos)
            continue; // no body, nothing to lift
        Placed& b = bodies[lift.body];
        const std::size_t keep = LiftUuencoded(*lift.part, text.substr(b.from, b.to - b.from));
        if (keep != std::string_view::npos)
            b.to = b.from + keep;
    }
    lifts.clear();
    if (!all) {
        for (const Placed& b : bodies)
            if (!MayTakeOver(b))
                Assign(b);
        std::erase_if(bodies, [this](const Placed& b) { return !MayTakeOver(b); });
        return;
    }
    if (!bodies.empty()) {
        std::size_t largest = 0;
        for (std::size_t i = 1; i < bodies.size(); ++i)
            if (bodies[i].to - bodies[i].from > bodies[largest].to - bodies[largest].from)
                largest = i;
        const Placed big = bodies[largest];
        const bool takeOver = MayTakeOver(big);
        for (std::size_t i = 0; i < bodies.size(); ++i)
            if (i != largest || !takeOver)
                Assign(bodies[i]);
        if (takeOver) {
            owner->resize(big.to);
            owner->erase(0, big.from);
            big.part->m_body = std::move(*owner);
            owner->clear();
        }
        text = {};
        bodies.clear();
    }
}

// The part's text begins at the current line. Returns at the end of the
// text or with a delimiter line of an enclosing multipart current.
void TMailPart::Parser::ParsePart(TMailPart& part, bool hasHeader, int depth)
{
    bool closing = false;
    int hit = -1;
    if (hasHeader) {
        while (!done) {
            if ((hit = Match(closing)) >= 0)
                break;
            const std::string_view l = Line();
            if (l.empty()) {
                Next();
                break;
            }
            const bool fold = l[0] == '\t' || l[0] == ' ';
            // A part inside a multipart whose first line is no field has no
            // header block: that line is already content.
            if (part.Header.empty() && depth > 0 && !LooksLikeField(l))
                break;
            // A line that is no field at all (no colon, no fold) means the
            // blank line before the body is missing: the body starts here
            // instead of being swallowed into the header.
            if (!fold && l.find(':') == std::string_view::npos && !part.Header.empty())
                break;
            if (fold && !part.Header.empty()) {
                std::string& prev = part.Header.back();
                prev += ' ';
                std::string_view rest = l.substr(1);
                while (!rest.empty() && IsBlank(rest.front()))
                    rest.remove_prefix(1);
                prev += rest;
            } else {
                part.Header.emplace_back(l);
            }
            Next();
        }
        for (auto& h : part.Header) {
            // No header field may hold a zero byte, and a saved message
            // writes one as a blank; reading it as a blank here keeps the
            // message the same before and after a save.
            std::replace(h.begin(), h.end(), '\0', ' ');
            CanonicaliseHeaderLine(h);
            // "multipart/mixed boundary=..." (no ";") is read as its
            // parameters: otherwise the message shows no body at all.
            if (StartsWith(h, "Content-Type:") || StartsWith(h, "Content-Disposition:"))
                h = WithParamSeparators(h);
            h.shrink_to_fit(); // built piece by piece, often with twice the room
        }
    }
    if (hit >= 0)
        return; // the part ends inside its header

    // Without a usable boundary every "--" line (a signature's "-- ") would
    // be a delimiter: the body is then text, shown whole.
    if (depth < kMaxNesting && part.GetContentType().compare(0, 10, "multipart/") == 0
        && !part.GetBoundary().empty()) {
        ParseMultipart(part, depth);
        return;
    }

    const std::size_t bodyStart = ReadToDelimiter(closing, hit);
    if (bodyStart != std::string_view::npos) {
        // The CR LF before a delimiter line belongs to the delimiter.
        SetBody(part, bodyStart, hit >= 0 ? pos - 2 : text.size());
    }
    if (!part.LabelExists("Content-Type")) {
        const bool hasBody = !bodies.empty() && bodies.back().part == &part;
        lifts.push_back({&part, hasBody ? bodies.size() - 1 : std::string_view::npos});
    }
}

void TMailPart::Parser::ParseMultipart(TMailPart& part, int depth)
{
    const std::string boundary = part.GetBoundary();
    const int level = Push(boundary);
    bool closing = false;
    int hit = -1;
    const std::size_t bodyStart = ReadToDelimiter(closing, hit);
    if (bodyStart != std::string_view::npos) {
        // The preamble keeps the line break before its own first delimiter;
        // one ended by an enclosing delimiter gives that break to it.
        SetBody(part, bodyStart, hit == level ? pos : hit >= 0 ? pos - 2 : text.size());
    }
    part.m_delimited = hit == level && !closing;
    // Freed together at the end: one by one, each would walk the lists a
    // part may be on, and thousands of empty parts would take minutes.
    std::vector<TMailPart*> empty;
    while (hit == level && !closing) {
        Next();
        if (done)
            break;
        PlaceSome();
        TMailPart* child = msg->CreatePart();
        child->ParentPart = &part;
        try {
            ParsePart(*child, true, depth + 1);
        } catch (...) {
            empty.push_back(child);
            msg->FreeParts(empty);
            throw;
        }
        // Two delimiters in a row, or blank lines after the last one, make
        // no part.
        if (child->Header.empty() && child->SubPartList.Empty() && IsBlankText(BodyOf(*child))) {
            Forget(*child);
            child->ParentPart = nullptr; // it was never listed
            empty.push_back(child);
        } else {
            child->ParentBoundary = boundary;
            part.SubPartList.Add(child);
        }
        hit = done ? -1 : Match(closing);
    }
    msg->FreeParts(empty);
    Pop();
    if (hit == level && closing) {
        // The epilogue is ignored, up to a delimiter of an enclosing part.
        Next();
        while (!done && Match(closing) < 0)
            NextCandidate();
    }
}

namespace {

// The first of two bytes in text from pos on, or npos.
std::size_t FindEither(std::string_view text, char a, char b, std::size_t pos)
{
    std::size_t i = pos;
#if defined(__x86_64__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        if (const int m = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb))))
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(m)));
    }
#endif
    for (; i < text.size(); ++i)
        if (text[i] == a || text[i] == b)
            return i;
    return std::string_view::npos;
}

} // namespace

// A part without Content-Type may carry uuencoded files: each block from a
// begin line to an end line becomes an attachment, and the text around the
// blocks stays together in a text part before them. A begin line without
// an end line stays text. body is the part's body; returns how much of it
// stays (the text before the first file), or npos when no file came out.
std::size_t TMailPart::Parser::LiftUuencoded(TMailPart& part, std::string_view body)
{
    if (body.find("begin ") == std::string_view::npos)
        return std::string_view::npos;
    // In quoted-printable, a line ending in "=" continues on the next one: a
    // "begin" there is not at the start of a line.
    const bool qp = AsciiLowerCase(part.GetLabelValue("Content-Transfer-Encoding")) == "quoted-printable";
    struct Block {
        std::string name;
        std::size_t from;
        std::size_t to;
    };
    std::vector<Block> blocks;
    std::string kept; // the text outside complete blocks
    std::size_t keptFrom = 0;
    std::size_t firstBegin = std::string_view::npos;
    bool inBlock = false;
    std::size_t beginAt = 0;
    std::size_t dataFrom = 0;
    std::string name;
    // Only lines that start with "b" (a begin line) or, inside a block, an
    // "end" after blanks matter; a search for those letters skips the rest,
    // and a whole uuencoded block (whose characters hold no lower-case
    // letter) in one step.
    constexpr std::size_t kNone = std::string_view::npos;
    const auto lineStart = [body](std::size_t k) {
        return k == 0 || (k >= 2 && body[k - 2] == '\r' && body[k - 1] == '\n');
    };
    // The next line from p on that starts with "b", or (inside a block) that
    // holds only blanks before an "e".
    const auto nextCandidate = [&](std::size_t from, bool withEnd) {
        for (std::size_t j = from; (j = withEnd ? FindEither(body, 'b', 'e', j) : body.find('b', j)) != kNone; ++j) {
            if (body[j] == 'b' && lineStart(j))
                return j;
            if (body[j] == 'e') {
                std::size_t k = j;
                while (k > from && IsBlank(body[k - 1]))
                    --k;
                if (lineStart(k))
                    return k;
            }
        }
        return kNone;
    };
    for (std::size_t p = 0; p < body.size();) {
        const std::size_t c = nextCandidate(p, inBlock);
        if (c == kNone)
            break;
        std::size_t e = 0;
        std::size_t n = 0;
        LineEnd(body, c, e, n);
        const std::string_view l = body.substr(c, e - c);
        // In quoted-printable, a line after one that ends in "=" continues it.
        const bool soft = qp && c >= 3 && body[c - 3] == '=';
        std::string found;
        if (inBlock && IsUuEndLine(l)) {
            kept.append(body.substr(keptFrom, beginAt - keptFrom));
            blocks.push_back({name, dataFrom, std::max(dataFrom, c >= 2 ? c - 2 : 0)});
            if (firstBegin == kNone)
                firstBegin = beginAt;
            keptFrom = n;
            inBlock = false;
        } else if (body[c] == 'b' && !soft && IsUuBeginLine(l, found)) {
            // A begin line inside an open block leaves that block as text.
            inBlock = true;
            beginAt = c;
            dataFrom = n;
            name = std::move(found);
        }
        p = n;
    }
    if (blocks.empty())
        return std::string_view::npos;
    kept.append(body.substr(keptFrom));

    const std::string boundary = NewBoundary();
    if (!IsBlankText(kept)) {
        TMailPart* child = msg->CreatePart();
        child->ParentPart = &part;
        child->m_body = qp ? std::move(kept) : QPEncodeText(kept, false);
        child->ParentBoundary = boundary;
        child->SetLabelValue("Content-Type", "text/plain");
        child->SetLabelParamValue("Content-Type", "charset", "\"" + msg->Charset + "\"");
        child->SetLabelValue("Content-Transfer-Encoding", "quoted-printable");
        part.SubPartList.Add(child);
    }
    for (const Block& b : blocks) {
        TMailPart* child = msg->CreatePart();
        child->ParentPart = &part;
        if (b.to > b.from)
            UUDecodeToStream(body.substr(b.from, b.to - b.from), child->Decoded);
        child->IsDecoded = true;
        child->EncodeLater(TEncodingType::etBase64, false);
        child->ParentBoundary = boundary;
        child->SetLabelValue("Content-Type", ContentTypeForFile(b.name));
        child->SetLabelValue("Content-Transfer-Encoding", "base64");
        child->SetLabelValue("Content-Disposition", "attachment");
        const std::string quoted = "\"" + EncodeHeaderWord(b.name, msg->Charset) + "\"";
        child->SetLabelParamValue("Content-Type", "name", quoted);
        child->SetLabelParamValue("Content-Disposition", "filename", quoted);
        child->SetLabelValue("X-Corvanta-Attachment", quoted);
        child->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "no");
        part.SubPartList.Add(child);
    }
    part.SetLabelValue("Content-Type", "multipart/mixed");
    part.SetLabelParamValue("Content-Type", "boundary", "\"" + boundary + "\"");
    return firstBegin; // the text before the first file stays the preamble
}

void TMailPart::LoadFromFile(const std::string& fileName)
{
    // The line ends are checked piece by piece as the file comes in, while
    // each piece is still in the cache.
    std::size_t clean = 0;
    std::string text = ReadWholeFile(fileName, [&clean](std::string_view read) {
        clean = CleanLineEndsUpTo(read, clean);
    });
    // Binary content has no lines: where it is declared, the line ends that
    // the change adds are remembered, to be taken out of its bytes again.
    std::vector<std::size_t> inserted;
    NormaliseLineEnds(text, clean, MentionsBinary(text) ? &inserted : nullptr);
    ParseRange(text, true, &text, &inserted);
}

void TMailPart::ParseText(std::string& data, bool hasHeader) { ParseRange(data, hasHeader, nullptr); }

void TMailPart::ParseText(std::string&& data, bool hasHeader) { ParseRange(data, hasHeader, &data); }

void TMailPart::ParseText(const char* data, std::size_t length, bool hasHeader)
{
    ParseRange(std::string_view(data, length), hasHeader, nullptr);
}

void TMailPart::ReportProgress(std::size_t total, std::size_t current)
{
    if (this == OwnerMessage && OwnerMessage->OnProgress)
        OwnerMessage->OnProgress(this, total, current);
}

// owner, when given, is the string that holds text and that the caller
// gives up: the largest body may then take it over instead of a copy.
void TMailPart::ParseRange(std::string_view text, bool hasHeader, std::string* owner,
                           const std::vector<std::size_t>* inserted)
{
    if (!OwnerMessage)
        throw EMailError(Name + ": TMailPart must be owned by a TMailMessage2000");
    TMailMessage2000* const msg = OwnerMessage;
    if (this == msg) {
        // Every derived reference is about to dangle; a scan rebuilds them.
        msg->AttachList.Clear();
        msg->TextPart = msg->HtmlPart = msg->MixedPart = msg->RelatedPart = msg->AlternativePart = nullptr;
        msg->CurrentContainer = nullptr;
    }
    // All in one go: one at a time, each would walk the list again.
    msg->FreeParts({SubPartList.begin(), SubPartList.end()});
    SubPartList.Clear(); // what is left belongs to no one here
    Header.clear();
    ClearBody();
    Decoded.clear();
    IsDecoded = false;
    Embedded = false;
    m_delimited = false;
    msg->NeedsSerialize = msg->NeedsRebuild = msg->NeedsScan = true;

    const std::size_t length = text.size();
    ReportProgress(length, 0);
    Parser parser{text, msg, this == msg && msg->OnProgress ? this : nullptr};
    parser.owner = owner;
    parser.inserted = inserted;
    parser.Next();
    parser.ParsePart(*this, hasHeader, 0);
    parser.PlaceBodies();
    ReportProgress(length, length);
}

bool TMailPart::Decode()
{
    if (IsDecoded)
        return true;
    const std::string_view body = Body();
    IsDecoded = true;
    if (body.empty())
        return true;
    Decoded.clear();
    const std::string cte = AsciiLowerCase(GetLabelValue("Content-Transfer-Encoding"));
    if (cte == "quoted-printable") {
        QPDecodeAppend(body, Decoded);
    } else if (cte == "base64") {
        // A body the encoder would write the same way needs no second copy:
        // it turns into its bytes where it is, and is encoded again only if
        // it is read (big attachments otherwise cost their size twice over).
        bool finalBreak = true;
        if (m_pending == TPending::None && Base64DecodeInPlace(m_body, finalBreak)) {
            Decoded = std::move(m_body);
            m_body.clear();
            m_pending = TPending::Encoding;
            m_pendingEncoding = TEncodingType::etBase64;
            m_pendingBreak = finalBreak;
            return true;
        }
        // Otherwise the whole body in one pass: a group may be split over
        // two lines, and blanks or junk between the characters are skipped.
        Base64DecodeAppend(body, Decoded);
    } else if (cte == "uucode" || cte == "x-uuencode" || cte == "uuencode" || cte == "x-uue") {
        // Lines keep their trailing spaces: older encoders end full lines
        // with them, and each stands for a zero value. Leading blanks go
        // (a line that starts with one carries no bytes anyway).
        unsigned char buf[45];
        std::size_t pos = 0;
        while (pos < body.size()) {
            const std::size_t e = body.find("\r\n", pos);
            const std::size_t lineEnd = e == std::string_view::npos ? body.size() : e;
            std::string_view line = body.substr(pos, lineEnd - pos);
            while (!line.empty() && IsBlank(line.front()))
                line.remove_prefix(1);
            if (const std::size_t n = UUDecodeLine(line, buf))
                Decoded.append(reinterpret_cast<const char*>(buf), n);
            pos = e == std::string_view::npos ? body.size() : e + 2;
        }
        EncodeLater(TEncodingType::etBase64, false);
    } else {
        Decoded.assign(body);
    }
    return true;
}

void TMailPart::ForgetDecoded()
{
    if (m_pending == TPending::Encoding || (m_body.empty() && !Decoded.empty()))
        return;
    std::string().swap(Decoded);
    IsDecoded = false;
}

void TMailPart::Encode(TEncodingType encoding)
{
    switch (encoding) {
    case TEncodingType::etBase64:
        EncodeBase64();
        break;
    case TEncodingType::etQuotedPrintable:
        EncodeQuotedPrintable();
        break;
    case TEncodingType::etNoEncoding:
        if (m_pending != TPending::None)
            MakeBody();
        EncodeBody(encoding);
        SetLabelValue("Content-Transfer-Encoding", "");
        break;
    }
}

// A body still to be made is made first, with the length that goes with
// it, as if it had been encoded at once.
void TMailPart::EncodeQuotedPrintable()
{
    if (m_pending != TPending::None)
        MakeBody();
    EncodeBody(TEncodingType::etQuotedPrintable);
    SetLabelValue("Content-Transfer-Encoding", "quoted-printable");
}

void TMailPart::EncodeBase64()
{
    if (m_pending != TPending::None)
        MakeBody();
    EncodeBody(TEncodingType::etBase64);
    SetLabelValue("Content-Transfer-Encoding", "base64");
}

void TMailPart::EncodeBody(TEncodingType encoding) const
{
    m_body.clear(); // its old storage is reused
    switch (encoding) {
    case TEncodingType::etBase64:
        Base64EncodeStream(m_body, Decoded);
        break;
    case TEncodingType::etQuotedPrintable: {
        if (Decoded.empty())
            break;
        QPEncodeBodyAppend(Decoded, m_body);
        // The encoder ends every text with a line break; a text that had
        // none ends with a soft break instead, so decoding gives the same
        // bytes back.
        const bool hadBreak = Decoded.size() >= 2 && Decoded.compare(Decoded.size() - 2, 2, "\r\n") == 0;
        if (!hadBreak && m_body.size() >= 2)
            m_body.insert(m_body.size() - 2, "=");
        break;
    }
    case TEncodingType::etNoEncoding:
        m_body = Decoded;
        break;
    }
}

// ---- the body, made when read ----------------------------------------------

const std::string& TMailPart::Body() const
{
    if (m_pending != TPending::None)
        MakeBody();
    return m_body;
}

void TMailPart::SetBody(std::string body)
{
    m_body = std::move(body);
    m_pending = TPending::None;
    m_pendingBreak = true;
}

void TMailPart::ClearBody()
{
    m_body.clear();
    m_pending = TPending::None;
    m_pendingBreak = true;
}

bool TMailPart::BodyEmpty() const
{
    switch (m_pending) {
    case TPending::Encoding:
        return Decoded.empty(); // every encoding of nothing is empty
    case TPending::Parts:
        return false; // joined parts start with the preamble
    case TPending::None:
        break;
    }
    return m_body.empty();
}

void TMailPart::EncodeLater(TEncodingType encoding, bool withLength)
{
    std::string().swap(m_body); // what it held is decoded already: the memory goes
    m_pending = TPending::Encoding;
    m_pendingEncoding = encoding;
    m_pendingBreak = true;
    SetLabelValue("Content-Transfer-Encoding", encoding == TEncodingType::etBase64 ? "base64"
                                               : encoding == TEncodingType::etQuotedPrintable ? "quoted-printable"
                                                                                              : "");
    if (withLength) {
        // A text body is small beside what it takes to count its encoded
        // length: it is encoded now.
        if (encoding == TEncodingType::etQuotedPrintable)
            MakeBody();
        SetLength();
    }
}

void TMailPart::SerializeLater()
{
    m_body.clear(); // the storage is kept for the joined parts
    m_pending = TPending::Parts;
    SetLength();
}

// The length is written when the body is left to be made, not when it is
// made: whoever reads the header first (as a message file is written)
// must find the real value there, not an empty field.
void TMailPart::SetLength() { SetLabelValue("Content-Length", std::to_string(BodySize())); }

std::size_t TMailPart::BodySize() const
{
    switch (m_pending) {
    case TPending::None:
        break;
    case TPending::Encoding:
        if (m_pendingEncoding == TEncodingType::etBase64) {
            const std::size_t n = Base64EncodedSize(Decoded.size());
            return !m_pendingBreak && n >= 2 ? n - 2 : n;
        }
        if (m_pendingEncoding == TEncodingType::etNoEncoding)
            return Decoded.size();
        MakeBody();
        break;
    case TPending::Parts:
        return SerializedSize(*this);
    }
    return m_body.size();
}

void TMailPart::MoveBodyTo(TMailPart& to)
{
    if (m_pending == TPending::Encoding) {
        to.m_pending = m_pending;
        to.m_pendingEncoding = m_pendingEncoding;
        to.m_pendingBreak = m_pendingBreak;
    }
    // Joined parts are not moved: the parts stay here.
    if (m_pending != TPending::Parts)
        to.m_body = std::move(m_body);
    ClearBody();
}

// The body is a cache of what the part holds: making it changes nothing a
// reader could tell apart, so it is done behind a const reader's back.
void TMailPart::MakeBody() const
{
    const TPending pending = m_pending;
    m_pending = TPending::None;
    if (pending == TPending::Encoding) {
        EncodeBody(m_pendingEncoding);
        if (!m_pendingBreak && m_body.size() >= 2)
            m_body.resize(m_body.size() - 2);
        m_pendingBreak = true;
    }
    else if (pending == TPending::Parts)
        SerializeParts(*this, m_body);
}
