#include "HeaderText.h"

#include "Codecs.h"
#include "EngineText.h"
#include "HeaderLine.h"
#include "TMailMessage2000.h"
#include "TMailPart.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace {

std::string CharsetName(std::string_view charset)
{
    // RFC 2231 lets a language follow the charset ("utf-8*en").
    charset = charset.substr(0, charset.find('*'));
    std::string name = AsciiLowerCase(TrimBlanksView(charset));
    // Mailers label windows-1252 text as Latin-1 or ASCII all the time;
    // browsers read those labels as windows-1252 for the same reason.
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "latin1" || name == "us-ascii"
        || name == "ascii" || name == "l1")
        return "WINDOWS-1252";
    if (name == "ks_c_5601-1987")
        return "CP949";
    if (name == "gb2312" || name == "gbk" || name == "x-gbk")
        return "GB18030";
    if (name == "utf8")
        return "UTF-8";
    return name;
}

struct EncodedWord {
    std::size_t begin = 0; // position of "=?"
    std::size_t end = 0;   // position after "?="
    std::string_view charset;
    std::string bytes;
};

bool IsSpaceByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The encoded word that starts at pos, when one does.
std::optional<EncodedWord> WordAt(std::string_view line, std::size_t pos)
{
    if (line.compare(pos, 2, "=?") != 0)
        return std::nullopt;
    const std::size_t csEnd = line.find('?', pos + 2);
    if (csEnd == std::string_view::npos || csEnd == pos + 2 || csEnd + 2 >= line.size()
        || line[csEnd + 2] != '?')
        return std::nullopt;
    const std::string_view charset = line.substr(pos + 2, csEnd - pos - 2);
    for (char c : charset)
        if (IsSpaceByte(c))
            return std::nullopt;
    const char encoding = AsciiUpper(line[csEnd + 1]);
    if (encoding != 'B' && encoding != 'Q')
        return std::nullopt;
    const std::size_t textBegin = csEnd + 3;
    const std::size_t close = line.find("?=", textBegin);
    if (close == std::string_view::npos)
        return std::nullopt;
    // Blanks inside the encoded text break RFC 2047, yet mailers write them
    // and the engine decodes such words; converting them too keeps the two
    // readings of the header the same.
    const std::string_view text = line.substr(textBegin, close - textBegin);
    for (char c : text)
        if (c == '\r' || c == '\n')
            return std::nullopt;

    EncodedWord word;
    word.begin = pos;
    word.end = close + 2;
    word.charset = charset;
    if (encoding == 'B') {
        std::vector<unsigned char> buffer(text.size() + 4);
        word.bytes.assign(reinterpret_cast<const char*>(buffer.data()), Base64DecodeToBuffer(text, buffer.data()));
    } else {
        std::string q(text);
        for (char& c : q)
            if (c == '_')
                c = ' ';
        word.bytes = QPDecodeText(q);
    }
    return word;
}

void AppendUtf8Word(std::string& out, std::string_view utf8)
{
    std::string encoded;
    Base64EncodeStream(encoded, utf8);
    out += "=?UTF-8?B?";
    for (char c : encoded)
        if (c != '\r' && c != '\n')
            out += c;
    out += "?=";
}

// Bytes outside encoded words: kept when they are UTF-8, else read as Latin-1.
void AppendPlain(std::string& out, std::string_view bytes)
{
    if (IsValidUtf8(bytes)) {
        out += bytes;
        return;
    }
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

} // namespace

bool CharsetToUtf8(std::string_view charset, std::string_view text, std::string& out)
{
    const std::string name = CharsetName(charset);
    if (name.empty())
        return false;
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    out.clear();
    out.reserve(text.size());
    // A bounded piece at a time: for a body of megabytes a buffer of four
    // times its size would be written (and so taken) in full.
    std::string chunk(std::min<std::size_t>(4 * text.size() + 16, 64 * 1024), '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = chunk.data();
    std::size_t outLeft = chunk.size();
    auto flush = [&] {
        out.append(chunk.data(), static_cast<std::size_t>(outPtr - chunk.data()));
        outPtr = chunk.data();
        outLeft = chunk.size();
    };
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            flush();
            continue;
        }
        // An invalid or cut-off sequence: one replacement character, then on.
        flush();
        out += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
    }
    flush();
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft); // the shift state of stateful charsets
    flush();
    iconv_close(cd);
    return true;
}

std::string HeaderLineToUtf8(std::string_view raw)
{
    const std::string withParams = ExtendedParamsToUtf8(raw);
    const std::string_view line = withParams;
    if (line.find("=?") == std::string_view::npos && IsValidUtf8(line))
        return withParams;

    std::string out;
    out.reserve(line.size() + line.size() / 2);
    std::size_t plainStart = 0;
    std::size_t pos = 0;
    while ((pos = line.find("=?", pos)) != std::string_view::npos) {
        std::optional<EncodedWord> word = WordAt(line, pos);
        if (!word) {
            pos += 2;
            continue;
        }
        // Adjacent words of one charset are joined before conversion: mailers
        // split a multibyte character across two words.
        std::string bytes = std::move(word->bytes);
        std::size_t end = word->end;
        for (;;) {
            std::size_t next = end;
            while (next < line.size() && (line[next] == ' ' || line[next] == '\t'))
                ++next;
            std::optional<EncodedWord> more = WordAt(line, next);
            if (!more || !IEquals(more->charset, word->charset))
                break;
            bytes += more->bytes;
            end = more->end;
        }
        std::string utf8;
        if (!CharsetToUtf8(word->charset, bytes, utf8)) {
            pos += 2;
            continue;
        }
        AppendPlain(out, line.substr(plainStart, pos - plainStart));
        AppendUtf8Word(out, utf8);
        plainStart = pos = end;
    }
    AppendPlain(out, line.substr(plainStart));
    return out;
}

std::string ExtendedParamsToUtf8(std::string_view line)
{
    if (line.find("*=") == std::string_view::npos)
        return std::string(line);
    // The parameters, split at each ";" outside quotes; the text before the
    // first one (the field's name and main value) stays as it is.
    std::vector<std::string_view> pieces;
    bool inQuotes = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] == '"')
            inQuotes = !inQuotes;
        if (i == line.size() || (!inQuotes && line[i] == ';')) {
            pieces.push_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    // The names a reader is shown; the others stay as sent, so a line of
    // any number of parameters is read a bounded number of times.
    static constexpr std::string_view kShown[] = {"name", "filename"};
    auto nameOf = [](std::string_view piece) { return TrimBlanksView(piece.substr(0, piece.find('='))); };
    auto shownBase = [](std::string_view name) -> std::string_view {
        const std::size_t star = name.find('*');
        if (star == std::string_view::npos)
            return {};
        for (std::string_view base : kShown)
            if (IEquals(name.substr(0, star), base))
                return base;
        return {};
    };
    std::vector<std::string> bases;
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        const std::string_view base = shownBase(nameOf(pieces[k]));
        if (!base.empty() && pieces[k].find('=') != std::string_view::npos
            && std::find(bases.begin(), bases.end(), base) == bases.end())
            bases.emplace_back(base);
    }
    if (bases.empty())
        return std::string(line);
    std::string out(pieces[0]);
    for (std::size_t k = 1; k < pieces.size(); ++k) {
        const std::string_view base = shownBase(nameOf(pieces[k]));
        const bool extended = !base.empty() && std::find(bases.begin(), bases.end(), base) != bases.end();
        if (!extended) {
            out += ';';
            out += pieces[k];
        }
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const std::string& base : bases) {
        std::string value, charset;
        if (!GetHeaderParamExtended(line, base, value, &charset))
            continue;
        std::string utf8;
        if (charset.empty() || !CharsetToUtf8(charset, value, utf8))
            utf8 = IsValidUtf8(value) ? value : QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())).toStdString();
        out += "; " + base + "*=UTF-8''";
        for (unsigned char c : utf8) {
            if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
                || std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos) {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += kHex[c >> 4];
                out += kHex[c & 15];
            }
        }
    }
    return out;
}

void CopyHeaderAsUtf8(const TMailPart& source, TMailPart& target)
{
    target.Header.clear();
    target.Header.reserve(source.Header.size());
    for (const std::string& line : source.Header)
        target.Header.push_back(HeaderLineToUtf8(line));
}

TShownHeader::TShownHeader(const TMailPart& source) : m_header(std::make_unique<TMailMessage2000>())
{
    CopyHeaderAsUtf8(source, *m_header);
}

TShownHeader::~TShownHeader() = default;

QString TShownHeader::Subject() const { return FromEngineBytes(m_header->GetSubject()); }
QString TShownHeader::FromName() const { return FromEngineBytes(m_header->GetFromName()); }
QString TShownHeader::FromAddress() const { return FromEngineBytes(m_header->GetFromAddress()); }
QString TShownHeader::ToText() const { return FromEngineBytes(m_header->ToList.GetAddressesText()); }

QStringList TShownHeader::ToAddresses() const
{
    m_header->ToList.Refresh();
    QStringList list;
    for (const std::string_view a : m_header->ToList.Addresses)
        list << FromEngineBytes(a);
    return list;
}

QString TShownHeader::Value(std::string_view field) const
{
    return FromEngineBytes(DecodeHeaderWords(m_header->GetLabelValue(field)));
}

QString ShownFileName(const TMailPart& part)
{
    TMailMessage2000 scratch;
    CopyHeaderAsUtf8(part, scratch);
    // The engine's own name field holds the name re-labelled in the
    // message's charset; the sender's fields keep the one that was declared.
    const bool senders = scratch.LabelParamExists("Content-Type", "name")
                         || scratch.LabelParamExists("Content-Disposition", "filename")
                         || scratch.LabelParamExists("Content-Type", "name*")
                         || scratch.LabelParamExists("Content-Disposition", "filename*");
    if (senders)
        std::erase_if(scratch.Header, [](const std::string& line) { return IStartsWith(line, "X-Corvanta-Attachment:"); });
    return FromEngineBytes(scratch.GetFileName());
}

QString DecodeHeaderText(std::string_view raw)
{
    return FromEngineBytes(DecodeHeaderWords(HeaderLineToUtf8(raw)));
}

QString MessageDateText(const TMailMessage2000& message)
{
    const std::string field = TrimBlanks(message.GetLabelValue("Date"));
    if (field.empty())
        return {};
    if (ParseMailDateUtc(field).kind != TMailDateKind::Valid)
        return DecodeHeaderText(field).simplified();
    return DateTimeToStr(message.GetDate());
}
