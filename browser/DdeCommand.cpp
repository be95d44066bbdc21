#include "DdeCommand.h"

namespace {

bool IsNumberChar(QChar c) { return c.isDigit() || c == QLatin1Char('-') || c == QLatin1Char('+'); }

// The first run of sign and digit characters from position from; position
// moves past it. A run that is no number (a lone sign) reads as 0.
long long NumberRun(const QString& text, int& position)
{
    while (position < text.size() && !IsNumberChar(text[position]))
        ++position;
    const int start = position;
    while (position < text.size() && IsNumberChar(text[position]))
        ++position;
    bool ok = false;
    const long long value = text.mid(start, position - start).toLongLong(&ok);
    return ok ? value : 0;
}

} // namespace

QString ParseDdeHtmlCommand(const QString& text)
{
    if (!text.startsWith(QLatin1Char('"')))
        return text;
    const int close = text.indexOf(QLatin1Char('"'), 1);
    return close < 0 ? text.mid(1) : text.mid(1, close - 1);
}

TDdeFolderCommand ParseDdeFolderCommand(const QString& text)
{
    TDdeFolderCommand c;
    const int open = text.indexOf(QLatin1Char('['));
    const int paren = text.indexOf(QLatin1Char('('), open + 1);
    if (open >= 0 && paren > open)
        c.verb = text.mid(open + 1, paren - open - 1);
    const int q1 = text.indexOf(QLatin1Char('"'));
    const int q2 = q1 < 0 ? -1 : text.indexOf(QLatin1Char('"'), q1 + 1);
    if (q2 > q1)
        c.path = text.mid(q1 + 1, q2 - q1 - 1);
    const int comma1 = text.indexOf(QLatin1Char(','), q2 < 0 ? 0 : q2);
    if (comma1 < 0)
        return c;
    int position = comma1 + 1;
    c.handle = NumberRun(text, position);
    if (position < text.size() && text[position] == QLatin1Char(':'))
        c.process = NumberRun(text, ++position);
    const int comma2 = text.indexOf(QLatin1Char(','), position);
    if (comma2 >= 0) {
        for (int i = comma2 + 1; i < text.size(); ++i) {
            if (IsNumberChar(text[i])) {
                c.show = text[i].isDigit() ? text[i].digitValue() : 1;
                break;
            }
        }
    }
    return c;
}
