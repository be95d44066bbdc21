#include "MessageSource.h"

#include "EngineText.h"
#include "HeaderText.h"
#include "EngineError.h"
#include "OutlookMessage.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

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

QString SourceText(std::string_view bytes)
{
    QString text;
    auto showNul = [&text](qsizetype from) {
        for (qsizetype i = from; i < text.size(); ++i)
            if (text[i].isNull())
                text[i] = QChar(0x2400);
    };
    const bool hasNul = std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
    if (IsValidUtf8(bytes)) { // the usual case: all of it at once
        text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
        if (hasNul)
            showNul(0);
        return text;
    }
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t pos = 0; pos < bytes.size();) {
        const void* nl = std::memchr(bytes.data() + pos, '\n', bytes.size() - pos);
        const std::size_t end = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - bytes.data()) + 1
                                   : bytes.size();
        const std::string_view line = bytes.substr(pos, end - pos);
        const qsizetype start = text.size();
        text += FromEngineBytes(line);
        if (hasNul)
            showNul(start);
        pos = end;
    }
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
