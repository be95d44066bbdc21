#include "MessageSource.h"

#include "EngineText.h"
#include "HeaderLine.h"
#include "HeaderText.h"
#include "EngineError.h"
#include "OutlookMessage.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace {

bool IsFieldNameChar(char c) { return c > ' ' && c < 127 && c != ':'; }

// The length of a line from pos without its line break, and where the next
// one starts.
std::string_view LineAt(std::string_view bytes, std::size_t pos, std::size_t& next)
{
    const void* nl = std::memchr(bytes.data() + pos, '\n', bytes.size() - pos);
    const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) : bytes.size();
    next = end + 1;
    std::size_t stop = end;
    if (stop > pos && bytes[stop - 1] == '\r')
        --stop;
    return bytes.substr(pos, stop - pos);
}

} // namespace

TMessageSource ReadMessageSource(const QString& path, qint64 limit)
{
    TMessageSource source;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        source.error = file.errorString();
        return source;
    }
    source.fileSize = file.size();
    source.bytes = file.read(limit + 1);
    // An Outlook file is shown as the Internet message it is read as: its
    // own bytes are a binary container nobody can read.
    if (IsOutlookFile(std::string_view(source.bytes.constData(), static_cast<std::size_t>(std::min<qsizetype>(source.bytes.size(), 8))))) {
        try {
            const QByteArray all = source.bytes + file.readAll();
            const std::string mime = OutlookFileToMime(std::string_view(all.constData(), static_cast<std::size_t>(all.size())));
            source.fileSize = static_cast<qint64>(mime.size());
            source.bytes = QByteArray(mime.data(), static_cast<qsizetype>(std::min<std::size_t>(mime.size(), static_cast<std::size_t>(limit) + 1)));
        } catch (const EMailError& e) {
            source.error = QString::fromUtf8(e.what());
            source.bytes.clear();
            return source;
        }
    }
    if (source.bytes.size() > limit) {
        source.cut = true;
        // Cut at a line break near the limit, so that no line is shown in
        // half; without one near, between two characters (a UTF-8 sequence
        // is never cut).
        qsizetype cut = limit;
        const qsizetype nl = source.bytes.lastIndexOf('\n', limit - 1);
        if (nl >= 0 && limit - (nl + 1) <= kSourceCutSlack) {
            cut = nl + 1;
        } else {
            for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(source.bytes[cut]) & 0xC0) == 0x80;
                 ++back)
                --cut;
        }
        source.bytes.truncate(cut);
    }
    source.text = SourceText(std::string_view(source.bytes.constData(), static_cast<std::size_t>(source.bytes.size())));
    return source;
}

namespace {

bool IsAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// What a part's header says of its body's text.
struct TBodyCharset {
    bool text = true;    // a text type, or none (text by default)
    std::string charset; // declared, lower case; empty when none is
};

// A text body as the page reads it: in the charset its part declares;
// without one (or with one unknown here, or plain ASCII declared for 8-bit
// text), UTF-8 when it is valid UTF-8 and windows-1252 otherwise. Read one
// byte to a character instead, a windows-1252 body's quotes and dashes
// (0x80 to 0x9F) would be control characters, shown as boxes. Other bodies
// are one byte to a character, as written.
QString BodyText(std::string_view bytes, const TBodyCharset& declared)
{
    if (IsAscii(bytes) || !declared.text)
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::string& charset = declared.charset;
    std::string utf8;
    const bool ascii = charset == "us-ascii" || charset == "ascii";
    if (!charset.empty() && !ascii && CharsetToUtf8(charset, bytes, utf8))
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    if (IsValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (CharsetToUtf8("windows-1252", bytes, utf8))
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

TBodyCharset DeclaredCharsetOf(const std::string& contentType)
{
    TBodyCharset declared;
    if (contentType.empty())
        return declared;
    const std::string type = AsciiLowerCase(GetHeaderMainValue(contentType));
    declared.text = type.empty() || type.rfind("text/", 0) == 0;
    declared.charset = AsciiLowerCase(TrimBlanks(GetHeaderParam(contentType, "charset")));
    return declared;
}

bool IsDelimiterLine(std::string_view line, const std::vector<std::string>& boundaries)
{
    if (line.size() < 3 || line[0] != '-' || line[1] != '-')
        return false;
    for (const std::string& b : boundaries)
        if (line.substr(2).substr(0, b.size()) == b)
            return true;
    return false;
}

} // namespace

// The header lines one by one, each in UTF-8 when it is valid UTF-8 and
// else one byte to a character, as written; each part's body as a whole in
// its declared charset (BodyText). The parts are found by the boundaries the
// source declares, as the source view marks their headers.
QString SourceText(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    std::vector<std::string> boundaries;
    for (const QString& b : DeclaredBoundaries(bytes))
        boundaries.push_back(b.toStdString());

    bool inHeader = true;
    std::string contentType; // the part's Content-Type, unfolded
    bool inContentType = false;
    TBodyCharset charset;    // what the body is read in
    std::size_t bodyStart = 0;
    auto flushBody = [&](std::size_t end) {
        if (end > bodyStart)
            text += BodyText(bytes.substr(bodyStart, end - bodyStart), charset);
    };
    for (std::size_t pos = 0; pos < bytes.size();) {
        const void* nl = std::memchr(bytes.data() + pos, '\n', bytes.size() - pos);
        const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1
                                   : bytes.size();
        std::string_view line = bytes.substr(pos, end - pos);
        std::string_view bare = line;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
            bare.remove_suffix(1);
        if (inHeader) {
            text += FromEngineBytes(line);
            if (bare.empty()) {
                // A forwarded message's body starts with its own header.
                const std::string type = AsciiLowerCase(GetHeaderMainValue(contentType));
                inHeader = type == "message/rfc822";
                charset = DeclaredCharsetOf(contentType);
                contentType.clear();
                inContentType = false;
                bodyStart = end;
            } else if (bare[0] == ' ' || bare[0] == '\t') {
                if (inContentType)
                    contentType += bare;
            } else {
                inContentType = bare.size() > 13 && AsciiLowerCase(bare.substr(0, 13)) == "content-type:";
                if (inContentType)
                    contentType.assign(bare);
            }
        } else if (IsDelimiterLine(bare, boundaries)) {
            flushBody(pos);
            text += QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size()));
            // After a closing delimiter comes the enclosing part's text, in
            // no declared charset; after any other, a part's header.
            std::string_view delimiter = bare;
            while (delimiter.back() == ' ' || delimiter.back() == '\t')
                delimiter.remove_suffix(1);
            const bool closing = delimiter.size() >= 4 && delimiter.substr(delimiter.size() - 2) == "--"
                                 && std::none_of(boundaries.begin(), boundaries.end(), [&](const std::string& b) {
                                        return delimiter.substr(2) == b;
                                    });
            inHeader = !closing;
            charset = {};
            bodyStart = end;
        }
        pos = end;
    }
    if (!inHeader)
        flushBody(bytes.size());
    if (std::memchr(bytes.data(), '\0', bytes.size()))
        for (QChar& c : text)
            if (c.isNull())
                c = QChar(0x2400);
    return text;
}

QStringList DeclaredBoundaries(std::string_view bytes)
{
    static const QRegularExpression kBoundary(QString::fromLatin1(R"re(\bboundary\s*=\s*(?:"([^"\r\n]+)"|([^\s;"]+)))re"),
                                              QRegularExpression::CaseInsensitiveOption);
    QStringList boundaries;
    const QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (auto it = kBoundary.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString b = m.captured(1).isEmpty() ? m.captured(2) : m.captured(1);
        if (!boundaries.contains(b))
            boundaries << b;
    }
    return boundaries;
}

std::vector<THeaderField> HeaderFields(std::string_view bytes)
{
    std::vector<THeaderField> fields;
    std::string name, value;
    bool open = false;
    auto flush = [&] {
        if (open)
            fields.push_back({QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
                              DecodeHeaderText(value).trimmed()});
        open = false;
    };
    std::size_t next = 0;
    for (std::size_t pos = 0; pos < bytes.size(); pos = next) {
        const std::string_view line = LineAt(bytes, pos, next);
        if (line.empty())
            break; // the end of the header
        if (line[0] == ' ' || line[0] == '\t') {
            if (open) { // RFC 5322 unfolding: the line break goes, the blank stays
                value += line;
            }
            continue;
        }
        flush();
        std::size_t colon = 0;
        while (colon < line.size() && IsFieldNameChar(line[colon]))
            ++colon;
        // Blanks before the colon are an old form ("Subject : x").
        std::size_t after = colon;
        while (after < line.size() && (line[after] == ' ' || line[after] == '\t'))
            ++after;
        if (colon == 0 || after >= line.size() || line[after] != ':')
            continue; // not a field
        name.assign(line.substr(0, colon));
        value.assign(line.substr(after + 1));
        open = true;
    }
    flush();
    return fields;
}

QString SizeText(qint64 bytes)
{
    const QLocale locale;
    if (bytes >= 1024 * 1024)
        return locale.toString(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
    if (bytes >= 1024)
        return locale.toString((bytes + 512) / 1024) + QStringLiteral(" KB");
    return locale.toString(bytes) + QStringLiteral(" bytes");
}
