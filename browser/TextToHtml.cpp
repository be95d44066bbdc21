#include "TextToHtml.h"

#include <QList>

namespace {

void AppendEscaped(QStringView text, QString& out)
{
    for (QChar c : text) {
        switch (c.unicode()) {
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        default:
            out += c;
        }
    }
}

struct Scheme {
    QLatin1StringView prefix;
    bool web; // a host follows the "//"
};
constexpr Scheme kSchemes[] = {
    {QLatin1StringView("http://"), true},
    {QLatin1StringView("https://"), true},
    {QLatin1StringView("ftp://"), true},
    {QLatin1StringView("mailto:"), false},
};

// Where an address written in running text ends: at blanks and controls, at
// the characters that delimit addresses in mail ("<http://...>", quotes), and
// at punctuation outside ASCII (a Japanese full stop right after the
// address); letters of any script stay (international names).
bool EndsAddress(QChar c)
{
    const char16_t u = c.unicode();
    if (u <= 0x20 || u == 0x7F || c.isSpace())
        return true;
    if (u == '<' || u == '>' || u == '"' || u == '`')
        return true;
    return u >= 0x80 && !c.isLetterOrNumber() && !c.isMark();
}

bool MayStartMailbox(QChar c)
{
    return c.isLetterOrNumber() || (c.unicode() < 0x80 && QLatin1String("!#$%&'*+/=?^_{|}~-").contains(c));
}

// The length of the link that starts at pos, 0 when none does; then resume
// is where the next one may start. Each character is looked at a bounded
// number of times, so a line of "http://-http://-..." costs no more than
// any other.
qsizetype LinkLength(QStringView s, qsizetype pos, qsizetype& resume)
{
    resume = pos + 1;
    for (const Scheme& scheme : kSchemes) {
        if (!s.sliced(pos).startsWith(scheme.prefix, Qt::CaseInsensitive))
            continue;
        const qsizetype restStart = pos + scheme.prefix.size();
        if (restStart >= s.size())
            return 0;
        const QChar first = s[restStart];
        // A host begins with a letter or digit (or "[" of an IPv6 address);
        // a mailbox with a character a local part may begin with.
        if (scheme.web ? !(first.isLetterOrNumber() || first == QLatin1Char('[')) : !MayStartMailbox(first))
            return 0;
        qsizetype end = restStart;
        int parens = 0, brackets = 0; // opened minus closed
        qsizetype at = -1;
        while (end < s.size() && !EndsAddress(s[end])) {
            const char16_t u = s[end].unicode();
            parens += (u == '(') - (u == ')');
            brackets += (u == '[') - (u == ']');
            if (u == '@' && at < 0)
                at = end;
            ++end;
        }
        // Punctuation that ends the sentence is not the address's; a closing
        // bracket is only when the address opened it ("(see http://x/a_(b))").
        while (end > restStart + 1) {
            const char16_t u = s[end - 1].unicode();
            if (u == '.' || u == ',' || u == ';' || u == ':' || u == '!' || u == '?' || u == '\'' || u == '*') {
                --end;
            } else if (u == ')' && parens < 0) {
                ++parens;
                --end;
            } else if (u == ']' && brackets < 0) {
                ++brackets;
                --end;
            } else {
                break;
            }
        }
        if (!scheme.web && !(at > restStart && at < end - 1)) {
            // No mailbox here, nor in any address that starts further on
            // before the same end.
            resume = end;
            return 0;
        }
        return end - pos;
    }
    return 0;
}

bool MayStartLink(QStringView s, qsizetype pos)
{
    const char16_t u = s[pos].unicode() | 0x20; // ASCII lower case
    if (u != 'h' && u != 'f' && u != 'm')
        return false;
    return pos == 0 || !(s[pos - 1].isLetterOrNumber() || s[pos - 1] == QLatin1Char('@')
                         || s[pos - 1] == QLatin1Char('.') || s[pos - 1] == QLatin1Char('/'));
}

void AppendQuoteStart(QString& out) { out += QLatin1String("<span class=\"q\">"); }
void AppendQuoteEnd(QString& out) { out += QLatin1String("</span>"); }

// The next line of text from pos, without its line break; pos moves past it.
QStringView NextLine(QStringView text, qsizetype& pos)
{
    const qsizetype start = pos;
    qsizetype nl = text.indexOf(QLatin1Char('\n'), start);
    if (nl < 0)
        nl = text.size();
    pos = nl + 1;
    qsizetype end = nl;
    if (end > start && text[end - 1] == QLatin1Char('\r'))
        --end;
    return text.sliced(start, end - start);
}

void AppendShownLine(QStringView line, QString& out)
{
    const bool quoted = IsQuotedLine(line);
    if (quoted)
        AppendQuoteStart(out);
    AppendLinkified(line, out);
    if (quoted)
        AppendQuoteEnd(out);
    out += QLatin1Char('\n');
}

// RFC 3676: a line that ends in a space continues in the next line of the
// same quote depth; quote marks and the space stuffed after them are not
// text; the signature separator "-- " never flows. The paragraph is
// gathered first so that an address broken across a soft break is one link.
// Each paragraph is shown as one line, its quote marks written anew.
void ForEachFlowedLine(QStringView text, bool delSp, const std::function<void(QStringView line)>& shown)
{
    QString paragraph;
    int depth = -1; // quote depth of the open paragraph; -1: none open
    auto close = [&] {
        if (depth < 0)
            return;
        if (depth > 0)
            paragraph.prepend(QString(depth, QLatin1Char('>')) + QLatin1Char(' '));
        shown(paragraph);
        paragraph.clear();
        depth = -1;
    };
    qsizetype pos = 0;
    while (pos < text.size()) {
        QStringView line = NextLine(text, pos);
        int lineDepth = 0;
        while (lineDepth < line.size() && line[lineDepth] == QLatin1Char('>'))
            ++lineDepth;
        line = line.sliced(lineDepth);
        if (line.startsWith(QLatin1Char(' ')))
            line = line.sliced(1);
        const bool signature = line == QLatin1String("-- ");
        const bool soft = !signature && line.endsWith(QLatin1Char(' '));
        if (soft && delSp)
            line.chop(1);
        if (depth >= 0 && depth != lineDepth)
            close(); // a flowed line followed by another depth: RFC 3676 4.5
        depth = lineDepth;
        paragraph += line;
        if (!soft)
            close();
    }
    close();
}

} // namespace

QList<TLinkSpan> FindLinks(QStringView text)
{
    QList<TLinkSpan> links;
    for (qsizetype pos = 0; pos < text.size();) {
        qsizetype resume = pos + 1;
        const qsizetype length = MayStartLink(text, pos) ? LinkLength(text, pos, resume) : 0;
        if (length == 0) {
            pos = resume;
            continue;
        }
        links.append({pos, length});
        pos += length;
    }
    return links;
}

bool IsQuotedLine(QStringView line) { return line.startsWith(QLatin1Char('>')); }

void ForEachShownLine(QStringView text, TTextFormat format, const std::function<void(QStringView line)>& shown)
{
    if (format.flowed) {
        ForEachFlowedLine(text, format.delSp, shown);
        return;
    }
    qsizetype pos = 0;
    while (pos < text.size())
        shown(NextLine(text, pos));
}

void AppendLinkified(QStringView text, QString& out)
{
    qsizetype run = 0;
    for (const TLinkSpan& link : FindLinks(text)) {
        AppendEscaped(text.sliced(run, link.start - run), out);
        const QStringView address = text.sliced(link.start, link.length);
        out += QLatin1String("<a href=\"");
        AppendEscaped(address, out);
        out += QLatin1String("\">");
        AppendEscaped(address, out);
        out += QLatin1String("</a>");
        run = link.start + link.length;
    }
    AppendEscaped(text.sliced(run), out);
}

QString TextToHtml(QStringView text, TTextFormat format)
{
    QString out;
    out.reserve(text.size() + text.size() / 8 + 64);
    ForEachShownLine(text, format, [&out](QStringView line) { AppendShownLine(line, out); });
    return out;
}

QString TextPageHtml(QStringView text, TTextFormat format)
{
    return QLatin1String("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><style>body{margin:8px 12px}"
                         "pre{white-space:pre-wrap;word-wrap:break-word;font-family:monospace;font-size:13px}"
                         ".q{color:#6b7280}"
                         "</style></head><body><pre>")
           + TextToHtml(text, format) + QLatin1String("</pre></body></html>");
}
