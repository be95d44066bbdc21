#include "Rtf.h"

#include "MapiProps.h"
#include "Utf16.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::uint32_t kCompressed = 0x75465A4C;   // "LZFu"
constexpr std::uint32_t kUncompressed = 0x414C454D; // "MELA"

// The dictionary every compressed RTF starts from.
constexpr std::string_view kPrebuf = "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}{\\f0\\fnil \\froman \\fswiss "
                                     "\\fmodern \\fscript \\fdecor MS Sans SerifSymbolArialTimes New "
                                     "RomanCourier{\\colortbl\\red0\\green0\\blue0\r\n\\par "
                                     "\\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx";

} // namespace

std::string DecompressRtf(std::string_view stored, std::size_t most)
{
    if (stored.size() < 16)
        return {};
    const std::uint32_t compSize = ReadLe32(stored, 0);
    const std::uint32_t rawSize = ReadLe32(stored, 4);
    const std::uint32_t type = ReadLe32(stored, 8);
    const std::string_view data = stored.substr(16, std::min<std::size_t>(stored.size() - 16,
                                                                          compSize >= 12 ? compSize - 12 : 0));
    if (type == kUncompressed)
        return std::string(data.substr(0, std::min<std::size_t>({data.size(), rawSize, most})));
    if (type != kCompressed)
        return {};
    // Each control byte and its eight items expand at most 17 times.
    const std::size_t limit = std::min<std::size_t>({rawSize, data.size() * 9, most});
    // Written in place: a byte at a time through append, the decoder ran
    // at half the speed.
    std::string out(limit, '\0');
    char* const o = out.data();
    std::size_t n = 0;
    unsigned char dict[4096];
    std::memcpy(dict, kPrebuf.data(), kPrebuf.size());
    std::memset(dict + kPrebuf.size(), 0, sizeof dict - kPrebuf.size());
    std::size_t write = kPrebuf.size();
    std::size_t in = 0;
    while (in < data.size() && n < limit) {
        const auto control = static_cast<unsigned char>(data[in++]);
        for (int bit = 0; bit < 8 && in < data.size() && n < limit; ++bit) {
            if ((control & (1 << bit)) == 0) {
                const char c = data[in++];
                o[n++] = c;
                dict[write] = static_cast<unsigned char>(c);
                write = (write + 1) & 0xFFF;
                continue;
            }
            if (in + 1 >= data.size()) {
                out.resize(n);
                return out;
            }
            const unsigned ref = (static_cast<unsigned char>(data[in]) << 8) | static_cast<unsigned char>(data[in + 1]);
            in += 2;
            std::size_t offset = ref >> 4;
            const std::size_t length = std::min<std::size_t>((ref & 0xF) + 2, limit - n);
            if (offset == write) {
                out.resize(n);
                return out; // the end marker
            }
            for (std::size_t k = 0; k < length; ++k) {
                const unsigned char c = dict[offset];
                o[n++] = static_cast<char>(c);
                dict[write] = c;
                write = (write + 1) & 0xFFF;
                offset = (offset + 1) & 0xFFF;
            }
        }
    }
    out.resize(n);
    return out;
}

namespace {

// The code page of an RTF font charset number.
int CharsetCodePage(int charset)
{
    switch (charset) {
    case 0:
        return 1252;
    case 2:
        return 0; // symbol: read as Windows-1252, the page's text stays UTF-8
    case 77:
        return 10000;
    case 128:
        return 932;
    case 129:
        return 949;
    case 134:
        return 936;
    case 136:
        return 950;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    default:
        return -1;
    }
}

// One pass over RTF that keeps what a reader sees: in text mode the text
// of the document, in HTML mode the HTML that \fromhtml1 RTF carries (the
// text of \*\htmltag groups and the text outside \htmlrtf stretches).
class TRtfReader {
public:
    TRtfReader(std::string_view rtf, bool html) : m_rtf(rtf), m_html(html) {}

    std::string Run()
    {
        m_out.reserve(m_rtf.size());
        m_stack.push_back(State{});
        while (m_pos < m_rtf.size()) {
            const char c = m_rtf[m_pos];
            if (c == '{') {
                ++m_pos;
                Flush();
                // Nesting past this only hides text in the deepest groups.
                if (m_stack.size() < 4096)
                    m_stack.push_back(m_stack.back());
                else
                    ++m_overflow;
                m_stack.back().groupStart = true;
            } else if (c == '}') {
                ++m_pos;
                Flush();
                if (m_overflow > 0)
                    --m_overflow;
                else if (m_stack.size() > 1)
                    m_stack.pop_back();
            } else if (c == '\\') {
                Control();
                m_stack.back().groupStart = false;
            } else if (c == '\r' || c == '\n') {
                ++m_pos;
            } else if (m_skipFallback == 0 && m_pending.empty() && static_cast<unsigned char>(c) < 0x80 && Emitting()) {
                // A run of plain text, as most of a document is, at once.
                std::size_t end = m_pos + 1;
                while (end < m_rtf.size() && static_cast<unsigned char>(m_rtf[end]) < 0x80 && m_rtf[end] != '{'
                       && m_rtf[end] != '}' && m_rtf[end] != '\\' && m_rtf[end] != '\r' && m_rtf[end] != '\n')
                    ++end;
                m_out.append(m_rtf, m_pos, end - m_pos);
                m_pos = end;
                m_stack.back().groupStart = false;
            } else {
                ++m_pos;
                if (m_skipFallback > 0) {
                    --m_skipFallback;
                    continue;
                }
                Byte(c);
                m_stack.back().groupStart = false;
            }
        }
        Flush();
        return std::move(m_out);
    }

private:
    struct State {
        bool skip = false;     // a destination nobody reads
        bool htmlrtf = false;  // RTF only, not part of the HTML
        bool htmltag = false;  // inside \*\htmltag: HTML
        bool fontTable = false;
        bool groupStart = false;
        int font = -1;
        int uc = 1;
    };

    [[nodiscard]] bool Emitting() const
    {
        const State& s = m_stack.back();
        if (s.skip || s.fontTable)
            return false;
        return !m_html || !s.htmlrtf;
    }

    int CodePage() const
    {
        const int font = m_stack.back().font >= 0 ? m_stack.back().font : m_defaultFont;
        if (const auto it = m_fontCodePage.find(font); it != m_fontCodePage.end() && it->second >= 0)
            return it->second;
        return m_codePage;
    }

    // Bytes of the current code page wait until the text in it ends.
    void Byte(char c)
    {
        if (!Emitting()) {
            if (m_stack.back().fontTable && m_readingFont >= 0 && c == ';')
                m_readingFont = -1;
            return;
        }
        if (static_cast<unsigned char>(c) < 0x80 && m_pending.empty()) {
            m_out += c;
            return;
        }
        if (!m_pending.empty() && m_pendingCodePage != CodePage())
            Flush();
        m_pendingCodePage = CodePage();
        m_pending += c;
    }

    void Flush()
    {
        if (m_pending.empty())
            return;
        m_out += CodePageToUtf8(m_pendingCodePage, m_pending);
        m_pending.clear();
    }

    void Text(std::string_view utf8)
    {
        if (!Emitting())
            return;
        Flush();
        m_out += utf8;
    }

    void Control()
    {
        ++m_pos; // the backslash
        if (m_pos >= m_rtf.size())
            return;
        const char c = m_rtf[m_pos];
        if (!IsAlpha(c)) {
            ++m_pos;
            Symbol(c);
            return;
        }
        const std::size_t start = m_pos;
        while (m_pos < m_rtf.size() && IsAlpha(m_rtf[m_pos]) && m_pos - start < 32)
            ++m_pos;
        const std::string_view word = m_rtf.substr(start, m_pos - start);
        bool hasParam = false;
        long param = 0;
        bool negative = false;
        if (m_pos < m_rtf.size() && m_rtf[m_pos] == '-') {
            negative = true;
            ++m_pos;
        }
        for (int digits = 0; m_pos < m_rtf.size() && m_rtf[m_pos] >= '0' && m_rtf[m_pos] <= '9'; ++m_pos) {
            if (++digits <= 10)
                param = param * 10 + (m_rtf[m_pos] - '0');
            hasParam = true;
        }
        if (negative)
            param = -param;
        if (m_pos < m_rtf.size() && m_rtf[m_pos] == ' ')
            ++m_pos;
        Word(word, hasParam, param);
    }

    static bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

    void Symbol(char c)
    {
        State& s = m_stack.back();
        switch (c) {
        case '\'': {
            if (m_pos + 1 < m_rtf.size()) {
                const int hi = Hex(m_rtf[m_pos]);
                const int lo = Hex(m_rtf[m_pos + 1]);
                m_pos += 2;
                if (hi >= 0 && lo >= 0) {
                    if (m_skipFallback > 0)
                        --m_skipFallback;
                    else
                        Byte(static_cast<char>(hi * 16 + lo));
                }
            }
            break;
        }
        case '*':
            // An optional destination: read only where it is HTML.
            if (s.groupStart && (!m_html || !StartsWordAt("htmltag")))
                s.skip = true;
            break;
        case '~':
            Text("\xC2\xA0");
            break;
        case '_':
            Text("\xE2\x80\x91");
            break;
        case '-':
            break; // optional hyphen
        case '\r':
        case '\n':
            Text("\r\n");
            break;
        default:
            if (m_skipFallback > 0)
                --m_skipFallback;
            else
                Byte(c); // \\ \{ \} and the rest stand for themselves
            break;
        }
    }

    bool StartsWordAt(std::string_view word) const
    {
        std::size_t p = m_pos;
        while (p < m_rtf.size() && (m_rtf[p] == '\r' || m_rtf[p] == '\n' || m_rtf[p] == ' '))
            ++p;
        return p < m_rtf.size() && m_rtf[p] == '\\' && m_rtf.substr(p + 1, word.size()) == word;
    }

    static int Hex(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    void Word(std::string_view w, bool hasParam, long param)
    {
        State& s = m_stack.back();
        m_skipFallback = 0;
        if (w == "htmltag" && m_html) {
            // HTML as it was written, whatever RTF-only stretch it stands in.
            s.htmltag = true;
            s.skip = false;
            s.htmlrtf = false;
        } else if (w == "bin") {
            Flush();
            if (hasParam && param > 0)
                m_pos += std::min<std::size_t>(static_cast<std::size_t>(param), m_rtf.size() - m_pos);
        } else if (w == "htmlrtf") {
            s.htmlrtf = !hasParam || param != 0;
        } else if (w == "u") {
            Flush();
            long code = param < 0 ? param + 65536 : param;
            if (code >= 0xD800 && code <= 0xDBFF) {
                m_highSurrogate = static_cast<std::uint32_t>(code);
            } else {
                if (code >= 0xDC00 && code <= 0xDFFF && m_highSurrogate)
                    code = 0x10000 + ((m_highSurrogate - 0xD800) << 10) + (code - 0xDC00);
                m_highSurrogate = 0;
                std::string u;
                AppendUtf8(u, static_cast<std::uint32_t>(code));
                Text(u);
            }
            m_skipFallback = s.uc;
        } else if (w == "uc") {
            s.uc = hasParam && param >= 0 && param < 16 ? static_cast<int>(param) : 1;
        } else if (w == "par" || w == "line" || w == "sect" || w == "page") {
            Text("\r\n");
        } else if (w == "row") {
            Text("\r\n");
        } else if (w == "tab" || w == "cell") {
            Text("\t");
        } else if (w == "emdash") {
            Text("\xE2\x80\x94");
        } else if (w == "endash") {
            Text("\xE2\x80\x93");
        } else if (w == "bullet") {
            Text("\xE2\x80\xA2");
        } else if (w == "lquote") {
            Text("\xE2\x80\x98");
        } else if (w == "rquote") {
            Text("\xE2\x80\x99");
        } else if (w == "ldblquote") {
            Text("\xE2\x80\x9C");
        } else if (w == "rdblquote") {
            Text("\xE2\x80\x9D");
        } else if (w == "ansicpg") {
            if (hasParam && param > 0 && param < 65536)
                m_codePage = static_cast<int>(param);
        } else if (w == "deff") {
            m_defaultFont = static_cast<int>(param);
        } else if (w == "fonttbl") {
            s.fontTable = true;
        } else if (w == "f") {
            if (s.fontTable)
                m_readingFont = static_cast<int>(param);
            else {
                Flush();
                s.font = static_cast<int>(param);
            }
        } else if (w == "fcharset") {
            if (s.fontTable && m_readingFont >= 0)
                m_fontCodePage[m_readingFont] = CharsetCodePage(static_cast<int>(param));
        } else if (s.groupStart && IsSkippedDestination(w)) {
            s.skip = true;
        }
    }

    static bool IsSkippedDestination(std::string_view w)
    {
        static constexpr std::string_view kSkipped[] = {
            "colortbl", "stylesheet", "info",    "pict",       "object",    "header",      "footer",
            "headerl",  "headerr",    "headerf", "footerl",    "footerr",   "footerf",     "fldinst",
            "themedata", "colorschememapping", "datastore", "latentstyles", "listtable", "listoverridetable",
            "rsidtbl",  "generator",  "xmlnstbl", "mmathPr",   "pgdsctbl",  "filetbl",     "revtbl",
            "private",  "nonshppict", "bkmkstart", "bkmkend",  "fldtype",   "userprops",   "xe",
            "tc",       "txe",        "pn",      "pntext",     "listtext",  "footnote",    "annotation",
            "atnid",    "atnauthor",  "comment", "operator",   "author",    "title",       "subject",
            "doccomm",  "keywords",   "company", "category",   "manager",   "hlinkbase",   "mhtmltag",
        };
        return std::find(std::begin(kSkipped), std::end(kSkipped), w) != std::end(kSkipped);
    }

    std::string_view m_rtf;
    bool m_html;
    std::size_t m_pos = 0;
    std::string m_out;
    std::string m_pending;
    int m_pendingCodePage = 1252;
    std::vector<State> m_stack;
    std::size_t m_overflow = 0;
    int m_codePage = 1252;
    int m_defaultFont = -1;
    int m_readingFont = -1;
    std::unordered_map<int, int> m_fontCodePage;
    int m_skipFallback = 0;
    std::uint32_t m_highSurrogate = 0;
};

} // namespace

bool RtfHasHtml(std::string_view rtf)
{
    // The marker stands in the document's first line of control words.
    const std::string_view head = rtf.substr(0, std::min<std::size_t>(rtf.size(), 1024));
    return head.starts_with("{\\rtf") && head.find("\\fromhtml1") != std::string_view::npos;
}

std::string RtfToHtml(std::string_view rtf) { return TRtfReader(rtf, true).Run(); }

std::string RtfToText(std::string_view rtf)
{
    std::string text = TRtfReader(rtf, false).Run();
    // What the document ends with is blank lines and spaces nobody reads.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    if (!text.empty())
        text += "\r\n";
    return text;
}
