#include "TextPageView.h"

#include "MonospaceFont.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QMouseEvent>
#include <QPainter>
#include <QPdfWriter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

namespace {

// As the page's style sheet has them.
constexpr int kFontPixels = 13;
constexpr int kMargin = 10;
const QColor kQuoteColor(0x6b, 0x72, 0x80);
const QColor kLinkColor(0x00, 0x00, 0xee);
const QColor kMatchColor(0xff, 0xff, 0x00);
const QColor kActiveMatchColor(0xff, 0x96, 0x32);

// The first screen comes in one piece, the rest a megabyte at a time: an
// insertion of that size takes a few milliseconds, so the window keeps
// answering while the text comes in.
constexpr qsizetype kFirstPiece = 32 * 1024;
constexpr qsizetype kPiece = 1024 * 1024;

// Characters the editor gives a meaning of its own: an object (shown as the
// replacement character, as NUL, which it cannot keep), and the end of a
// paragraph (a line break, as the view's own).
void MakeShowable(QString& text, qsizetype from)
{
    for (qsizetype i = from; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u == 0 || u == QChar::ObjectReplacementCharacter)
            text[i] = QChar(QChar::ReplacementCharacter);
        else if (u == QChar::ParagraphSeparator)
            text[i] = QChar(QChar::LineSeparator);
    }
}

// Calls visit(start, length) for each line of a paragraph of the view.
template <typename Visit>
void ForEachLineOf(const QString& block, Visit visit)
{
    qsizetype start = 0;
    for (;;) {
        qsizetype end = block.indexOf(QChar(QChar::LineSeparator), start);
        if (end < 0)
            end = block.size();
        visit(start, end - start);
        if (end >= block.size())
            return;
        start = end + 1;
    }
}

// Non-overlapping case-insensitive matches of needle in text, as the
// document's find moves from one to the next.
template <typename Visit>
void ForEachMatch(QStringView text, const QString& needle, Visit visit)
{
    if (needle.isEmpty())
        return;
    for (qsizetype at = text.indexOf(needle, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(needle, at + needle.size(), Qt::CaseInsensitive))
        visit(at);
}

} // namespace

QString TextForView(QStringView text, TTextFormat format)
{
    QString out;
    out.reserve(text.size() + 16);
    bool first = true;
    int lines = 0; // in the paragraph being made
    ForEachShownLine(text, format, [&](QStringView line) {
        do {
            qsizetype cut = line.size();
            if (cut > kLongLine) {
                cut = kLongLine;
                const qsizetype blank = line.left(kLongLine).lastIndexOf(QLatin1Char(' '));
                if (blank >= kLongLine - 256)
                    cut = blank + 1;
                else if (line[cut - 1].isHighSurrogate())
                    --cut;
            }
            if (!first) {
                const bool next = ++lines >= kLinesPerBlock;
                if (next)
                    lines = 0;
                out += next ? QChar(QLatin1Char('\n')) : QChar(QChar::LineSeparator);
            }
            first = false;
            const qsizetype at = out.size();
            out += line.left(cut);
            MakeShowable(out, at);
            line = line.sliced(cut);
        } while (!line.isEmpty());
    });
    return out;
}

TTextPageView::TTextPageView(QWidget* parent) : QPlainTextEdit(parent), m_feeder(new QTimer(this))
{
    setObjectName(QStringLiteral("TextPageView"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFrameShape(QFrame::NoFrame);
    document()->setDocumentMargin(kMargin);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
    setFont(MonospaceFont(kFontPixels));
    viewport()->setMouseTracking(true);
    m_feeder->setInterval(0);
    connect(m_feeder, &QTimer::timeout, this, [this] { Feed(kPiece); });
}

void TTextPageView::SetText(QString text, TTextFormat format)
{
    Clear();
    m_source = std::move(text);
    m_format = format;
    m_total = m_source.size();
    Feed(kFirstPiece);
    if (Feeding())
        m_feeder->start();
}

void TTextPageView::Clear()
{
    StopFeeding();
    ClearFind();
    document()->clear();
    m_fed = m_total = 0;
}

namespace {

// Where a piece of the source that starts at from and takes about size
// ends: after a line break, and in flowed text after one that ends a
// paragraph (a line that does not end in a blank), so that the pieces make
// the lines that the whole would.
qsizetype PieceEnd(const QString& source, qsizetype from, qsizetype size, bool flowed)
{
    for (qsizetype at = std::min(source.size(), from + size); at < source.size();) {
        const qsizetype nl = source.indexOf(QLatin1Char('\n'), at);
        if (nl < 0)
            break;
        qsizetype last = nl; // where the line's text ends
        if (last > 0 && source[last - 1] == QLatin1Char('\r'))
            --last;
        const bool soft = last > 0 && source[last - 1] == QLatin1Char(' ');
        if (!flowed || !soft)
            return nl + 1;
        at = nl + 1;
    }
    return source.size();
}

} // namespace

void TTextPageView::Feed(qsizetype size)
{
    const qsizetype end = PieceEnd(m_source, m_fed, size, m_format.flowed);
    QString lines = TextForView(QStringView(m_source).sliced(m_fed, end - m_fed), m_format);
    if (m_fed > 0)
        lines.prepend(QLatin1Char('\n')); // a piece starts a paragraph of the view
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(lines);
    m_fed = end;
    emit Progress(m_fed, m_total);
    if (!Feeding()) {
        m_feeder->stop();
        m_source = QString();
        emit Finished();
    }
}

void TTextPageView::FinishFeeding()
{
    if (Feeding())
        Feed(m_total);
}

void TTextPageView::StopFeeding()
{
    m_feeder->stop();
    m_source = QString();
    m_total = m_fed;
}

// ---- what is drawn on the lines on screen ----------------------------------

namespace {

// The looks of a paragraph's characters: quoted, or a link (also in a
// quoted line), as runs that do not overlap.
QList<QTextLayout::FormatRange> FormatsOf(const QString& text)
{
    enum : quint8 { kQuote = 1, kLink = 2 };
    QVarLengthArray<quint8, 4096> marks(text.size());
    std::fill(marks.begin(), marks.end(), quint8(0));
    ForEachLineOf(text, [&](qsizetype start, qsizetype length) {
        const QStringView line = QStringView(text).sliced(start, length);
        if (IsQuotedLine(line))
            std::fill(marks.begin() + start, marks.begin() + start + length, quint8(kQuote));
        for (const TLinkSpan& link : FindLinks(line))
            std::fill(marks.begin() + start + link.start, marks.begin() + start + link.start + link.length,
                      quint8(kLink));
    });
    QList<QTextLayout::FormatRange> formats;
    for (qsizetype start = 0; start < text.size();) {
        const quint8 what = marks[start];
        qsizetype end = start + 1;
        while (end < text.size() && marks[end] == what)
            ++end;
        if (what) {
            QTextCharFormat f;
            f.setForeground(what == kLink ? kLinkColor : kQuoteColor);
            f.setFontUnderline(what == kLink);
            formats.append({static_cast<int>(start), static_cast<int>(end - start), f});
        }
        start = end;
    }
    return formats;
}

} // namespace

// The lines on screen get their looks as they come into view: quote colours
// and links as the paragraph's own formats (those of paragraphs never shown
// are never made), matches as extra selections drawn under the text.
void TTextPageView::MarkVisibleLines()
{
    QList<QTextEdit::ExtraSelection> matches;
    const QPointF offset = contentOffset();
    const int bottom = viewport()->height();
    for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
        if (blockBoundingGeometry(block).translated(offset).top() > bottom)
            break;
        const QString text = block.text();
        const QList<QTextLayout::FormatRange> formats = FormatsOf(text);
        if (block.layout()->formats() != formats) {
            block.layout()->setFormats(formats);
            document()->markContentsDirty(block.position(), block.length());
        }
        ForEachMatch(text, m_find, [&](qsizetype at) {
            QTextCursor c(block);
            c.setPosition(block.position() + static_cast<int>(at));
            c.setPosition(c.position() + static_cast<int>(m_find.size()), QTextCursor::KeepAnchor);
            QTextCharFormat f;
            f.setBackground(c.selectionStart() == m_activeStart ? kActiveMatchColor : kMatchColor);
            matches.append({c, f});
        });
    }
    setExtraSelections(matches);
}

void TTextPageView::paintEvent(QPaintEvent* e)
{
    MarkVisibleLines();
    QPlainTextEdit::paintEvent(e);
}

// ---- links -------------------------------------------------------------------

QString TTextPageView::LinkAt(const QPoint& position) const
{
    const QTextBlock block = cursorForPosition(position).block();
    if (!block.isValid() || !block.layout())
        return {};
    const QPointF local = QPointF(position) - blockBoundingGeometry(block).translated(contentOffset()).topLeft();
    const QTextLayout* layout = block.layout();
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        if (local.y() < line.y() || local.y() >= line.y() + line.height())
            continue;
        // On the text, not in the blank after a line's end.
        if (local.x() < line.x() || local.x() >= line.x() + line.naturalTextWidth())
            return {};
        const int at = line.xToCursor(local.x(), QTextLine::CursorOnCharacter);
        const QString text = block.text();
        QString url;
        ForEachLineOf(text, [&](qsizetype start, qsizetype length) {
            if (at < start || at >= start + length)
                return;
            for (const TLinkSpan& link : FindLinks(QStringView(text).sliced(start, length)))
                if (at >= start + link.start && at < start + link.start + link.length)
                    url = text.mid(start + link.start, link.length);
        });
        return url;
    }
    return {};
}

void TTextPageView::Hover(const QString& url)
{
    if (url == m_hovered)
        return;
    m_hovered = url;
    viewport()->setCursor(url.isEmpty() ? Qt::IBeamCursor : Qt::PointingHandCursor);
    emit LinkHovered(url);
}

void TTextPageView::mouseMoveEvent(QMouseEvent* e)
{
    Hover(e->buttons() == Qt::NoButton ? LinkAt(e->position().toPoint()) : QString());
    QPlainTextEdit::mouseMoveEvent(e);
}

void TTextPageView::mousePressEvent(QMouseEvent* e)
{
    m_pressedLink = e->button() == Qt::LeftButton ? LinkAt(e->position().toPoint()) : QString();
    QPlainTextEdit::mousePressEvent(e);
}

// A click on a link opens it; a drag that selects text does not.
void TTextPageView::mouseReleaseEvent(QMouseEvent* e)
{
    QPlainTextEdit::mouseReleaseEvent(e);
    if (e->button() != Qt::LeftButton || m_pressedLink.isEmpty() || textCursor().hasSelection())
        return;
    const QString link = std::exchange(m_pressedLink, QString());
    if (link == LinkAt(e->position().toPoint()) && OpenLink)
        OpenLink(QUrl(link));
}

void TTextPageView::leaveEvent(QEvent* e)
{
    Hover(QString());
    QPlainTextEdit::leaveEvent(e);
}

void TTextPageView::wheelEvent(QWheelEvent* e)
{
    if (e->modifiers() & Qt::ControlModifier) {
        if (e->angleDelta().y() != 0)
            emit ZoomStepRequested(e->angleDelta().y() > 0 ? 1 : -1);
        e->accept();
        return;
    }
    QPlainTextEdit::wheelEvent(e);
}

void TTextPageView::SetZoom(double factor)
{
    m_zoom = factor;
    setFont(MonospaceFont(std::max(1, static_cast<int>(std::lround(kFontPixels * factor)))));
}

// ---- find ----------------------------------------------------------------------

// One pass over the text: the number of matches, and the next one after
// the current match (or before it), round again at the end.
TTextPageView::TFindResult TTextPageView::Find(const QString& text, bool backward)
{
    FinishFeeding();
    if (text.isEmpty()) {
        ClearFind();
        return {};
    }
    int from = backward ? document()->characterCount() : 0; // a new text is found from the top
    if (text.compare(m_find, Qt::CaseInsensitive) == 0 && m_activeStart >= 0)
        from = backward ? m_activeStart : m_activeStart + 1;
    m_find = text;
    int total = 0;
    int found = -1, foundIndex = 0;
    int first = -1, last = -1;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        ForEachMatch(block.text(), m_find, [&](qsizetype at) {
            const int position = block.position() + static_cast<int>(at);
            ++total;
            if (first < 0)
                first = position;
            last = position;
            if (backward ? position < from : position >= from && found < 0) {
                found = position;
                foundIndex = total;
            }
        });
    }
    m_matches = total;
    if (found < 0 && total > 0) { // round again
        found = backward ? last : first;
        foundIndex = backward ? total : 1;
    }
    m_activeStart = found;
    if (found >= 0) {
        // The view moves to the match; the match is marked, not selected.
        QTextCursor at(document());
        at.setPosition(found);
        setTextCursor(at);
        centerCursor();
    }
    viewport()->update();
    return {total, found >= 0 ? foundIndex : 0};
}

void TTextPageView::ClearFind()
{
    m_find.clear();
    m_matches = 0;
    m_activeStart = -1;
    viewport()->update();
}

// ---- print -----------------------------------------------------------------------

QByteArray TTextPageView::ToPdf(const QPageLayout& layout, const QString& htmlHeader,
                                const std::function<bool(int percent)>& going) const
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageLayout(layout);
    writer.setResolution(300);
    writer.setCreator(QStringLiteral("Corvanta"));
    QPainter painter(&writer);
    const QRect page = layout.paintRectPixels(writer.resolution());
    const double width = page.width(), height = page.height();
    double y = 0;

    if (!htmlHeader.isEmpty()) {
        QTextDocument header;
        header.documentLayout()->setPaintDevice(&writer);
        header.setDocumentMargin(0);
        QFont sans(QStringLiteral("Liberation Sans"));
        sans.setStyleHint(QFont::SansSerif);
        sans.setPointSizeF(10);
        header.setDefaultFont(sans);
        header.setHtml(htmlHeader);
        header.setTextWidth(width);
        header.drawContents(&painter);
        y = header.size().height();
    }

    // The page's 13 pixels at 96 to the inch.
    QFont font = MonospaceFont();
    font.setPointSizeF(kFontPixels * 72.0 / 96.0);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // One paragraph laid out at a time, drawn and let go.
    const int blocks = document()->blockCount();
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (going && block.blockNumber() % 64 == 0 && !going(static_cast<int>(100LL * block.blockNumber() / blocks))) {
            painter.end();
            return {};
        }
        const QString text = block.text();
        QTextLayout lines(text, font, &writer);
        lines.setTextOption(option);
        lines.setFormats(FormatsOf(text));
        lines.beginLayout();
        for (QTextLine line = lines.createLine(); line.isValid(); line = lines.createLine())
            line.setLineWidth(width);
        lines.endLayout();
        for (int i = 0; i < lines.lineCount(); ++i) {
            const QTextLine line = lines.lineAt(i);
            if (y > 0 && y + line.height() > height) {
                writer.newPage();
                y = 0;
            }
            line.draw(&painter, QPointF(0, y - line.y()));
            y += line.height();
        }
    }
    painter.end();
    return pdf;
}
