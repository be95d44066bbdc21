#pragma once
// A plain-text body as HTML for the message page: everything escaped, web
// and mail addresses (http, https, ftp, mailto) made links, quoted lines set
// apart in a muted colour, and format=flowed text (RFC 3676) reflowed into
// paragraphs that the page wraps to its width.
#include <QString>
#include <QList>
#include <QStringView>

#include <functional>

struct TTextFormat {
    bool flowed = false; // Content-Type parameter format=flowed
    bool delSp = false;  // and delsp=yes: the space before a soft break goes
};

// The text as the content of a pre-wrapped block: one line per line of the
// result, each ending in "\n".
[[nodiscard]] QString TextToHtml(QStringView text, TTextFormat format = {});

// The whole page around TextToHtml, with its style sheet.
[[nodiscard]] QString TextPageHtml(QStringView text, TTextFormat format = {});

// Appends text to out with web and mail addresses as links and everything
// else escaped.
void AppendLinkified(QStringView text, QString& out);

// The web and mail addresses in text that become links, in order.
struct TLinkSpan {
    qsizetype start = 0;
    qsizetype length = 0;
};
[[nodiscard]] QList<TLinkSpan> FindLinks(QStringView text);

// Whether a shown line is quoted (set apart in the muted colour).
[[nodiscard]] bool IsQuotedLine(QStringView line);

// The lines of the text as they are shown, without their line breaks:
// fixed text line by line, format=flowed text a paragraph to a line with
// its quote marks written anew ("> > " as ">> ").
void ForEachShownLine(QStringView text, TTextFormat format, const std::function<void(QStringView line)>& shown);
