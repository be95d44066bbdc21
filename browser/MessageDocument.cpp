#include "MessageDocument.h"

#include "EngineText.h"
#include "HeaderText.h"
#include "MessageFile.h"
#include "TextToHtml.h"
#include "TextUtils.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

namespace {

QByteArray Sanitised(const std::string& token)
{
    QByteArray out;
    for (char c : token)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'
            || c == '.' || c == ':' || c == '/' || c == '+')
            out += c;
    return out;
}

QString StripAngles(QString id)
{
    id = id.trimmed();
    if (id.startsWith(QLatin1Char('<')) && id.endsWith(QLatin1Char('>')))
        id = id.mid(1, id.size() - 2);
    return id;
}

bool IsWebAddress(const QUrl& url)
{
    return url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
}

} // namespace

QByteArray DeclaredCharset(const TMailPart& part) { return Sanitised(part.GetLabelParamValue("Content-Type", "charset")); }

QString TextBodyOf(const TMailPart& part)
{
    const std::string& bytes = part.Decoded;
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const QByteArray charset = DeclaredCharset(part).toLower();
    // UTF-8 is read in one pass, without a converted copy in between (a
    // body may be tens of megabytes).
    if (charset == "utf-8" || charset == "utf8")
        return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless)(view);
    std::string utf8;
    // Converted here rather than by the page's charset, so that the page's
    // markup is never read in a charset whose bytes could look like "<"
    // (ISO-2022-JP).
    if (!charset.isEmpty() && CharsetToUtf8(charset.toStdString(), bytes, utf8))
        return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(view);
    if (!decoder.hasError())
        return text;
    CharsetToUtf8("windows-1252", bytes, utf8);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

namespace {

// An HTML part's text: in its declared charset, or in the one its own
// <meta> names when the header names none (a page read alone gets that
// from the engine; inside another page the engine no longer looks).
QString HtmlBodyOf(const TMailPart& part)
{
    if (DeclaredCharset(part).isEmpty()) {
        static const QRegularExpression kMeta(QStringLiteral(R"(<meta[^>]*charset\s*=\s*["']?([A-Za-z0-9_.:+-]+))"),
                                              QRegularExpression::CaseInsensitiveOption);
        const std::string& bytes = part.Decoded;
        const QString head = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(std::min<std::size_t>(bytes.size(), 1024)));
        const QRegularExpressionMatch m = kMeta.match(head);
        std::string utf8;
        if (m.hasMatch() && CharsetToUtf8(m.captured(1).toStdString(), bytes, utf8))
            return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    }
    return TextBodyOf(part);
}

} // namespace

TTextFormat TextFormatOf(const TMailPart& part)
{
    TTextFormat format;
    format.flowed = AsciiLowerCase(TrimBlanks(part.GetLabelParamValue("Content-Type", "format"))) == "flowed";
    format.delSp = format.flowed && AsciiLowerCase(TrimBlanks(part.GetLabelParamValue("Content-Type", "delsp"))) == "yes";
    return format;
}

bool TMessageDocument::Load(const QString& path)
{
    m_path = path;
    m_index.reset(); // it points into the message being replaced
    auto message = std::make_unique<TMailMessage2000>();
    try {
        LoadMessageFile(*message, QFile::encodeName(path).toStdString());
        // Scanned, not normalised: the parts keep the headers they came with
        // (the body's character set among them).
        message->ScanParts();
    } catch (...) {
        m_message.reset();
        m_pieces.clear();
        return false;
    }
    m_pieces = ShownTextParts(*message);
    m_message = std::move(message);
    return true;
}

void TMessageDocument::Take(const QString& path, const TMailMessage2000& scanned)
{
    m_path = path;
    auto message = std::make_unique<TMailMessage2000>();
    auto copy = [&](const TMailPart* part) -> TMailPart* {
        if (!part)
            return nullptr;
        TMailPart* c = message->CreatePart();
        c->Header = part->Header;
        // The page needs the decoded bytes: the encoded ones only when they
        // are not decoded yet.
        if (part->IsDecoded)
            c->Decoded = part->Decoded;
        else
            c->SetBody(part->Body());
        c->IsDecoded = part->IsDecoded;
        return c;
    };
    message->HtmlPart = copy(scanned.HtmlPart);
    message->TextPart = copy(scanned.TextPart);
    m_pieces.clear();
    for (TMailPart* piece : ShownTextParts(scanned))
        m_pieces.push_back(piece == scanned.HtmlPart   ? message->HtmlPart
                           : piece == scanned.TextPart ? message->TextPart
                                                       : copy(piece));
    for (TMailPart* part : scanned.AttachList)
        if (part->LabelExists("Content-ID") || part->LabelExists("Content-Location"))
            message->AttachList.Add(copy(part));
    m_message = std::move(message);
    m_index.reset();
}

TMessageDocument::Reply TMessageDocument::Document() const
{
    if (m_message && m_pieces.size() > 1)
        return Pieces();
    Reply r;
    r.found = true;
    if (m_message && m_message->HtmlPart) {
        TMailPart* html = m_message->HtmlPart;
        html->Decode();
        r.data = QByteArray(html->Decoded.data(), static_cast<qsizetype>(html->Decoded.size()));
        const QByteArray charset = DeclaredCharset(*html);
        r.contentType = charset.isEmpty() ? QByteArray("text/html") : "text/html;charset=" + charset;
        return r;
    }
    if (m_message && m_message->TextPart) {
        TMailPart* text = m_message->TextPart;
        text->Decode();
        r.data = TextPageHtml(TextBodyOf(*text), TextFormatOf(*text)).toUtf8();
        r.contentType = "text/html;charset=utf-8";
        return r;
    }
    r.data = "<!DOCTYPE html><html><body></body></html>";
    r.contentType = "text/html;charset=utf-8";
    return r;
}

std::optional<TPlainText> TMessageDocument::LargePlainText() const
{
    // A body shown in pieces goes to the page, which lays them out together.
    if (!m_message || m_message->HtmlPart || !m_message->TextPart || m_pieces.size() > 1)
        return std::nullopt;
    TMailPart* text = m_message->TextPart;
    text->Decode();
    if (text->Decoded.size() <= kLargePlainTextBytes)
        return std::nullopt;
    return TPlainText{TextBodyOf(*text), TextFormatOf(*text)};
}

// Each piece as it would be shown alone, one after the other, in UTF-8: an
// HTML engine reads the later pieces' own html, head and body tags as
// nothing more than their content and style sheets. The charset comes
// first, before any piece could name another.
TMessageDocument::Reply TMessageDocument::Pieces() const
{
    QString page = QStringLiteral("<meta charset=\"utf-8\">");
    for (std::size_t i = 0; i < m_pieces.size(); ++i) {
        TMailPart* piece = m_pieces[i];
        piece->Decode();
        if (i > 0)
            page += QStringLiteral("\n<hr>\n");
        if (piece->GetContentType().starts_with("text/html"))
            page += HtmlBodyOf(*piece);
        else
            page += TextPageHtml(TextBodyOf(*piece), TextFormatOf(*piece));
    }
    Reply r;
    r.found = true;
    r.data = page.toUtf8();
    r.contentType = "text/html;charset=utf-8";
    return r;
}

TMessageDocument::Reply TMessageDocument::PartReply(TMailPart* part)
{
    Reply r;
    if (!part)
        return r;
    part->Decode();
    r.found = true;
    r.data = QByteArray(part->Decoded.data(), static_cast<qsizetype>(part->Decoded.size()));
    r.contentType = Sanitised(AsciiLowerCase(part->GetLabelValue("Content-Type")));
    if (r.contentType.isEmpty())
        r.contentType = "application/octet-stream";
    const QByteArray charset = DeclaredCharset(*part);
    if (!charset.isEmpty() && r.contentType.startsWith("text/"))
        r.contentType += ";charset=" + charset;
    return r;
}

const TMessageDocument::Index& TMessageDocument::Parts() const
{
    if (m_index)
        return *m_index;
    Index index;
    const auto first = [](QHash<QString, qsizetype>& hash, const QString& key, qsizetype i) {
        if (!hash.contains(key))
            hash.insert(key, i);
    };
    const TMailPartList& parts = m_message->AttachList;
    for (qsizetype i = 0; i < static_cast<qsizetype>(parts.Count()); ++i) {
        const TMailPart* part = parts.Items(static_cast<std::size_t>(i));
        // The first part with a name wins, as when the list is read in order.
        if (part->LabelExists("Content-ID"))
            first(index.byContentId, StripAngles(FromEngineBytes(part->GetLabelValue("Content-ID"))), i);
        if (part->LabelExists("Content-Location")) {
            const QString location = FromEngineBytes(part->GetLabelValue("Content-Location"));
            first(index.byLocation, location, i);
            first(index.byLeaf, location.section(QLatin1Char('/'), -1), i);
        }
    }
    return m_index.emplace(std::move(index));
}

TMessageDocument::Reply TMessageDocument::PartByContentId(const QString& contentId) const
{
    if (!m_message)
        return {};
    const Index& index = Parts();
    const auto it = index.byContentId.constFind(StripAngles(QUrl::fromPercentEncoding(contentId.toUtf8())));
    if (it == index.byContentId.cend())
        return {};
    return PartReply(m_message->AttachList.Items(static_cast<std::size_t>(*it)));
}

bool TMessageDocument::HoldsLocation(const QString& location) const
{
    if (!m_message)
        return false;
    const Index& index = Parts();
    return index.byLocation.contains(location)
           || index.byLocation.contains(QUrl::fromPercentEncoding(location.toUtf8()));
}

QStringList TMessageDocument::WebLocations() const
{
    QStringList web;
    if (!m_message)
        return web;
    const Index& index = Parts();
    for (auto it = index.byLocation.cbegin(); it != index.byLocation.cend(); ++it) {
        const QUrl url(it.key());
        if (IsWebAddress(url))
            web << it.key() << url.toString(QUrl::FullyEncoded);
    }
    web.removeDuplicates();
    return web;
}

QHash<QString, QString> TMessageDocument::WebStyleSheets() const
{
    QHash<QString, QString> sheets;
    if (!m_message)
        return sheets;
    const Index& index = Parts();
    for (auto it = index.byLocation.cbegin(); it != index.byLocation.cend(); ++it) {
        const QUrl url(it.key());
        if (!IsWebAddress(url))
            continue;
        TMailPart* part = m_message->AttachList.Items(static_cast<std::size_t>(*it));
        if (part->GetContentType() != "text/css")
            continue;
        part->Decode();
        const QString text = TextBodyOf(*part);
        sheets.insert(it.key(), text);
        sheets.insert(url.toString(QUrl::FullyEncoded), text);
    }
    return sheets;
}

TMessageDocument::Reply TMessageDocument::PartByLocation(const QString& location) const
{
    if (!m_message)
        return {};
    const Index& index = Parts();
    // The whole location, as the page asked for it or decoded, before any
    // part that only ends in the same name; of two such, the earlier.
    const QString decoded = QUrl::fromPercentEncoding(location.toUtf8());
    qsizetype found = -1;
    for (const QString& key : {decoded, location})
        if (const auto it = index.byLocation.constFind(key); it != index.byLocation.cend() && (found < 0 || *it < found))
            found = *it;
    if (found < 0) {
        const QString leaf = decoded.section(QLatin1Char('/'), -1);
        if (const auto it = index.byLeaf.constFind(leaf); !leaf.isEmpty() && it != index.byLeaf.cend())
            found = *it;
    }
    return PartReply(found < 0 ? nullptr : m_message->AttachList.Items(static_cast<std::size_t>(found)));
}
