#pragma once
// The raw message file for people to read: its first bytes as text (cut at a
// line break within the limit), the boundaries that separate its parts, and
// its header fields unfolded and decoded. No widgets here.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string_view>
#include <vector>

constexpr qint64 kSourceLimit = 2 * 1024 * 1024;
// How far before the limit a line break may be to end the text there.
constexpr qint64 kSourceCutSlack = 64 * 1024;

struct TMessageSource {
    QByteArray bytes;   // what is shown: the file, or its first bytes
    QString text;       // bytes as text
    qint64 fileSize = 0;
    bool cut = false;   // the file is longer than what is shown
    QString error;      // set when the file cannot be read
};

// Reads at most limit bytes of the file at path (see kSourceCutSlack).
[[nodiscard]] TMessageSource ReadMessageSource(const QString& path, qint64 limit = kSourceLimit);

// Bytes as text: header lines in UTF-8 when they are valid UTF-8, else in
// Latin-1 (one character per byte, as written); each part's body in the
// charset its part declares, as the message page shows it; NUL shows as
// U+2400.
[[nodiscard]] QString SourceText(std::string_view bytes);

// The multipart boundaries declared anywhere in the source (the parameter
// boundary=, quoted or not).
[[nodiscard]] QStringList DeclaredBoundaries(std::string_view bytes);

struct THeaderField {
    QString name;
    QString value; // unfolded, encoded words decoded in their charsets
};

// The message's own header fields (up to the first empty line), in order.
// Lines that are neither a field nor a continuation (an mbox "From " line)
// are left out.
[[nodiscard]] std::vector<THeaderField> HeaderFields(std::string_view bytes);

// "1.4 MB", "640 KB", "312 bytes".
[[nodiscard]] QString SizeText(qint64 bytes);
