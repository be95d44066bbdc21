#pragma once
// A plain-text body as HTML for the message page: everything escaped, web
// and mail addresses (http, https, ftp, mailto) made links, quoted lines set
// apart in a muted colour, and format=flowed text (RFC 3676) reflowed into
// paragraphs that the page wraps to its width.
#include <QString>
#include <QStringView>

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
