#pragma once
// Turns a message file into what the HTML engine displays: its HTML body
// with the declared character set, or its text body escaped into a
// pre-wrapped block, or an empty page; where a multipart/mixed holds more
// inline text parts beside the body, the page is made of all of them in
// order; and the message's parts that the body refers to by Content-ID or
// Content-Location.
#include "TMailMessage2000.h"
#include "TextToHtml.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// A plain-text body as text, with how it is laid out.
struct TPlainText {
    QString text;
    TTextFormat format;
};

// Decoded text bodies above this many bytes are shown by the text view.
constexpr std::size_t kLargePlainTextBytes = 256 * 1024;

class TMessageDocument {
public:
    struct Reply {
        bool found = false;
        QByteArray contentType;
        QByteArray data;
    };

    // Loads the file; false when it cannot be read (the document is then an
    // empty page).
    bool Load(const QString& path);
    // The same from a message already parsed and scanned (not normalised)
    // by the caller: only what a page can ask for is copied (the bodies and
    // the parts with a Content-ID or Content-Location), so the file is not
    // parsed a second time.
    void Take(const QString& path, const TMailMessage2000& scanned);
    [[nodiscard]] const QString& Path() const { return m_path; }

    [[nodiscard]] Reply Document() const;
    // The document's text when it is one plain-text body longer than the
    // page can show (the engine lays out text of a few hundred kilobytes
    // in seconds, and runs out of memory on tens of megabytes): a view made
    // for text shows it instead. Nothing for other documents.
    [[nodiscard]] std::optional<TPlainText> LargePlainText() const;
    [[nodiscard]] Reply PartByContentId(const QString& contentId) const;
    // location: the URL as the page asked for it.
    [[nodiscard]] Reply PartByLocation(const QString& location) const;
    // Whether a part is at exactly this location (an absolute URL a page
    // refers to): it is then the part, not something on the network.
    [[nodiscard]] bool HoldsLocation(const QString& location) const;
    // The web addresses (http, https) the message holds parts under, as
    // written and as a page reads them.
    [[nodiscard]] QStringList WebLocations() const;
    // The style sheets among those parts, as text, by the same addresses.
    [[nodiscard]] QHash<QString, QString> WebStyleSheets() const;

private:
    [[nodiscard]] static Reply PartReply(TMailPart* part);
    // The page of several text parts, each as it would be shown alone.
    [[nodiscard]] Reply Pieces() const;
    // Where each Content-ID, Content-Location and last step of a location
    // first occurs in the attachment list. Made at the first request: a
    // page may ask for thousands of parts, and looking through every part
    // for each would hold the window up for seconds.
    struct Index {
        QHash<QString, qsizetype> byContentId;
        QHash<QString, qsizetype> byLocation;
        QHash<QString, qsizetype> byLeaf;
    };
    [[nodiscard]] const Index& Parts() const;

    QString m_path;
    std::unique_ptr<TMailMessage2000> m_message;
    // The text parts the page shows (ShownTextParts), in m_message.
    std::vector<TMailPart*> m_pieces;
    mutable std::optional<Index> m_index;
};

// The character set of a Content-Type, reduced to characters a charset name
// may hold; empty when none is declared.
[[nodiscard]] QByteArray DeclaredCharset(const TMailPart& part);

// A text part's decoded body as text: converted from its declared charset;
// without one (or with one unknown here), UTF-8 when it is valid UTF-8 and
// windows-1252 otherwise.
[[nodiscard]] QString TextBodyOf(const TMailPart& part);
// Whether the text part is format=flowed (RFC 3676), and with delsp=yes.
[[nodiscard]] TTextFormat TextFormatOf(const TMailPart& part);
