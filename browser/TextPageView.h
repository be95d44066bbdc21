#pragma once
// A plain-text body too large for the page, shown as the page shows text:
// monospace, wrapped to the width, quoted lines muted, web and mail
// addresses as links, format=flowed paragraphs reflowed. It holds the text
// once, shows its first screen at once and takes the rest in pieces from
// the event loop. Links, quote colours and found matches are drawn on the
// lines on screen only, so the time and memory it takes follow the text
// alone. Find and print work on the whole text.
#include "TextToHtml.h"

#include <QPageLayout>
#include <QPlainTextEdit>
#include <QTextLayout>
#include <QUrl>

#include <functional>

class QTimer;

// The shown lines of text (ForEachShownLine) as the view holds them. The
// editor keeps a record per paragraph and lays each out whole: a paragraph
// per line costs some 180 bytes a line, and a line of megabytes takes
// minutes to lay out. So up to kLinesPerBlock lines make one paragraph
// (U+2028 between them, '\n' between paragraphs), and a line longer than
// kLongLine is broken (at a blank near its end when there is one).
constexpr int kLinesPerBlock = 32;
constexpr qsizetype kLongLine = 1024;
[[nodiscard]] QString TextForView(QStringView text, TTextFormat format);

class TTextPageView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TTextPageView(QWidget* parent = nullptr);

    // Shows the text of a body: the first screen now, the rest from the
    // event loop (Progress, then Finished), each piece made into the view's
    // lines (TextForView) as it comes, so the text is never held twice.
    void SetText(QString text, TTextFormat format = {});
    void Clear();
    [[nodiscard]] bool Feeding() const { return m_fed < m_total; }
    // Takes the rest of the text at once (before a find or a print).
    void FinishFeeding();
    // Takes no more of it.
    void StopFeeding();

    // Finds text (case-insensitive) after the current match, or before it,
    // round again at the end; a new text is found from the top. Every match
    // on screen is marked, the current one more strongly.
    struct TFindResult {
        int matches = 0;
        int active = 0; // counted from 1; 0 when none
    };
    TFindResult Find(const QString& text, bool backward);
    void ClearFind();
    [[nodiscard]] const QString& FindText() const { return m_find; }

    void SetZoom(double factor);
    [[nodiscard]] double Zoom() const { return m_zoom; }

    // The whole text as PDF pages of layout, the HTML block ahead of it
    // (header and footer lines are the print engine's). going is told how
    // far it got (percent) now and then; when it answers false, the pages
    // end there and nothing is returned.
    [[nodiscard]] QByteArray ToPdf(const QPageLayout& layout, const QString& htmlHeader,
                                   const std::function<bool(int percent)>& going = {}) const;

    // The link (its address) at a point of the viewport; empty when none.
    [[nodiscard]] QString LinkAt(const QPoint& position) const;
    // Opens a clicked link outside the viewer.
    std::function<bool(const QUrl&)> OpenLink;

signals:
    void Progress(qint64 fed, qint64 total);
    void Finished();
    void LinkHovered(const QString& url);
    // Ctrl+wheel: one zoom step in (1) or out (-1).
    void ZoomStepRequested(int direction);

protected:
    void paintEvent(QPaintEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

private:
    void Feed(qsizetype size);
    void MarkVisibleLines();
    void Hover(const QString& url);

    QString m_source; // the body's text, until all of it is in the view
    TTextFormat m_format;
    qsizetype m_fed = 0; // of m_source
    qsizetype m_total = 0;
    QTimer* m_feeder = nullptr;
    double m_zoom = 1.0;
    QString m_find;
    int m_matches = 0;
    int m_activeStart = -1; // document position of the current match
    QString m_hovered;
    QString m_pressedLink;
};
