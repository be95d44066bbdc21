// Plain-text bodies too large for the page: the view's lines, the text fed
// in pieces and complete, find over all of it, links and quotes on screen,
// and in the window: the find bar, zoom, and print (also pressed while the
// text still comes in).
#include "FindBar.h"
#include "MessageDocument.h"
#include "TAttachmentsform.h"
#include "TForm1.h"
#include "TPrintEngine.h"
#include "TQtWebEngine.h"
#include "TestFiles.h"
#include "TextPageView.h"
#include "ViewCommands.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QtTest>

namespace {

const QChar kLine(QChar::LineSeparator);

// lines numbered lines of text, each "line N", quoted every 10th, with a
// link every 7th; a marker on the first and the last.
QString NumberedLines(int lines)
{
    QString text;
    for (int i = 0; i < lines; ++i) {
        if (i % 10 == 9)
            text += QStringLiteral("> ");
        text += QStringLiteral("line %1").arg(i);
        if (i % 7 == 3)
            text += QStringLiteral(" see https://example.org/%1 now").arg(i);
        if (i == 0 || i == lines - 1)
            text += QStringLiteral(" MARKER");
        text += QStringLiteral("\r\n");
    }
    return text;
}

// The view's text as a reader copies it: one line break per line.
QString Shown(const TTextPageView& view) { return view.document()->toPlainText(); }

QString Expected(const QString& text)
{
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.chop(1);
    return lines;
}

QString PdfText(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TextPageViewTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString Message(const char* name, const QString& body, const char* format = "")
    {
        return WriteTestFile(m_dir, name,
                             "From: Ann <ann@example.org>\r\nSubject: long\r\nContent-Type: text/plain; charset=utf-8"
                                 + QByteArray(format) + "\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body.toUtf8());
    }

private slots:
    void initTestCase() { TAttachmentsform::SetSettingsFileName(m_dir.filePath(QStringLiteral("corvanta.ini"))); }

    void viewLinesAreThePagesLines()
    {
        // Paragraphs of 32 lines, the lines within one apart by U+2028.
        QString seventy;
        for (int i = 0; i < 70; ++i)
            seventy += QStringLiteral("l%1\r\n").arg(i);
        const QString view = TextForView(seventy, {});
        QCOMPARE(view.count(QLatin1Char('\n')), 2);
        QCOMPARE(view.count(kLine), 67);
        QVERIFY(view.startsWith(QStringLiteral("l0") + kLine + QStringLiteral("l1")));
        // An empty first line stays; NUL cannot be kept; a paragraph end of
        // the text's own is a line break.
        QCOMPARE(TextForView(QStringView(u"\nx\0y\u2029z", 6), {}),
                 QString(kLine) + QStringLiteral("x\uFFFDy") + kLine + QStringLiteral("z"));
        // A line longer than the editor lays out in time: cut at a blank
        // near the end, else hard.
        const QString words = QString(1000, QLatin1Char('a')) + QStringLiteral(" ") + QString(200, QLatin1Char('b'));
        QCOMPARE(TextForView(words, {}), QString(1000, QLatin1Char('a')) + QStringLiteral(" ") + kLine
                                             + QString(200, QLatin1Char('b')));
        QCOMPARE(TextForView(QString(2500, QLatin1Char('x')), {}).split(kLine).size(), 3);
        // Flowed: a paragraph to a line, quote marks written anew.
        QCOMPARE(TextForView(u">> one \r\n>> two\r\nthree \r\nfour\r\n", {true, false}),
                 QStringLiteral(">> one two") + kLine + QStringLiteral("three four"));
    }

    void largeTextComesInPiecesAndComplete()
    {
        const QString text = NumberedLines(200000); // some 3 MB
        TTextPageView view;
        view.resize(600, 400);
        view.show();
        QSignalSpy finished(&view, &TTextPageView::Finished);
        QSignalSpy progress(&view, &TTextPageView::Progress);
        view.SetText(text);
        QVERIFY(view.Feeding()); // the first screen only, so far
        QVERIFY(view.document()->characterCount() < text.size() / 10);
        QVERIFY(view.document()->toPlainText().startsWith(QStringLiteral("line 0 MARKER\nline 1\n")));
        QVERIFY(finished.wait(30000));
        QVERIFY(progress.size() > 2);
        QCOMPARE(progress.last().value(0).toLongLong(), progress.last().value(1).toLongLong());
        QCOMPARE(Shown(view), Expected(text));
        QVERIFY(view.document()->blockCount() < 200000 / 16); // paragraphs of many lines
        // Copied as it reads.
        view.selectAll();
        view.copy();
        QCOMPARE(QApplication::clipboard()->text().left(40), Expected(text).left(40));

        // Flowed text fed in pieces makes the lines the whole would.
        QString flowed;
        for (int i = 0; i < 60000; ++i)
            flowed += i % 3 == 2 ? QStringLiteral("end %1\r\n").arg(i) : QStringLiteral("soft %1 \r\n").arg(i);
        finished.clear();
        view.SetText(flowed, {true, false});
        QVERIFY(finished.wait(30000));
        QString whole = TextForView(flowed, {true, false});
        whole.replace(kLine, QLatin1Char('\n'));
        QCOMPARE(Shown(view), whole);
    }

    void findCountsEveryMatchAndGoesRound()
    {
        TTextPageView view;
        view.resize(600, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.SetText(NumberedLines(100000) + QStringLiteral("Marker again\r\n"));
        // Found in all of it, also while it still comes in.
        QVERIFY(view.Feeding());
        using R = TTextPageView::TFindResult;
        auto same = [](R a, R b) { return a.matches == b.matches && a.active == b.active; };
        QVERIFY(same(view.Find(QStringLiteral("marker"), false), {3, 1}));
        QVERIFY(!view.Feeding());
        QVERIFY(same(view.Find(QStringLiteral("marker"), false), {3, 2}));
        QVERIFY(same(view.Find(QStringLiteral("MARKER"), false), {3, 3}));
        QVERIFY(same(view.Find(QStringLiteral("marker"), false), {3, 1})); // round again
        QVERIFY(same(view.Find(QStringLiteral("marker"), true), {3, 3}));
        QVERIFY(same(view.Find(QStringLiteral("no such words"), false), {0, 0}));
        // The current match is in sight, and marked with the others on screen.
        view.Find(QStringLiteral("line 5000"), false);
        QVERIFY(view.cursorRect().intersects(view.viewport()->rect()));
        QVERIFY(view.textCursor().block().text().contains(QStringLiteral("line 5000")));
        view.viewport()->repaint();
        QVERIFY(!view.extraSelections().isEmpty());
        view.ClearFind();
        view.viewport()->repaint();
        QVERIFY(view.extraSelections().isEmpty());
    }

    void linksAndQuotesOnScreen()
    {
        TTextPageView view;
        view.resize(900, 400);
        view.show();
        QList<QUrl> opened;
        view.OpenLink = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        QSignalSpy hovered(&view, &TTextPageView::LinkHovered);
        view.SetText(NumberedLines(20000));
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.viewport()->repaint();
        // "line 3 see https://example.org/3 now": the link and the quoted
        // line 9 get their looks; lines never shown get none.
        const QTextBlock first = view.document()->begin();
        const QString text = first.text();
        bool link = false, quote = false;
        for (const QTextLayout::FormatRange& r : first.layout()->formats()) {
            link = link || (text.mid(r.start, r.length) == QLatin1String("https://example.org/3") && r.format.fontUnderline());
            quote = quote || text.mid(r.start, r.length).startsWith(QLatin1String("> line 9"));
        }
        QVERIFY(link && quote);
        QVERIFY(view.document()->lastBlock().layout()->formats().isEmpty());

        QTextCursor at(view.document());
        at.setPosition(static_cast<int>(text.indexOf(QLatin1String("example.org/3"))));
        const QPoint onLink = view.cursorRect(at).center() + QPoint(3, 0);
        QCOMPARE(view.LinkAt(onLink), QStringLiteral("https://example.org/3"));
        QCOMPARE(view.LinkAt(view.cursorRect(at).center() + QPoint(0, 60)), QString());
        QTest::mouseMove(view.viewport(), onLink);
        QTRY_COMPARE(hovered.size(), 1);
        QCOMPARE(hovered[0][0].toString(), QStringLiteral("https://example.org/3"));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, onLink);
        QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/3"))});
        // A drag that selects text opens nothing.
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, onLink);
        QTest::mouseMove(view.viewport(), onLink + QPoint(0, 40));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, onLink + QPoint(0, 40));
        QCOMPARE(opened.size(), 1);

        // Printing stops when told to.
        QCOMPARE(view.ToPdf(QPageLayout(), QString(), [](int) { return false; }), QByteArray());
    }

    // In the window: the text view instead of the page, the find bar and
    // zoom on it, and a print asked for while the text comes in prints all
    // of it, with the header block and the page lines.
    void inTheWindow()
    {
        const QString body = NumberedLines(60000); // about 800 KB
        TForm1 form(Message("large.eml", body));
        form.ShowNotices = false;
        form.resize(640, 480);
        form.show();
        auto* engine = static_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine());
        const QString out = m_dir.filePath(QStringLiteral("large.pdf"));
        TPrintEngine::SetOutputFile(out);
        form.FormActivate();
        QVERIFY(engine->TextShown());
        QVERIFY(form.EmbeddedWB1->IsBusy()); // the text still comes in
        form.BitBtn2Click();
        TPrintEngine::SetOutputFile(QString());
        QVERIFY2(form.EmbeddedWB1->LastPrintError().isEmpty(), qPrintable(form.EmbeddedWB1->LastPrintError()));
        const QString printed = PdfText(out);
        QVERIFY(printed.contains(QStringLiteral("Subject: long")));
        QVERIFY(printed.contains(QStringLiteral("line 0 MARKER")));
        QVERIFY(printed.contains(QStringLiteral("line 59999 MARKER")));
        QVERIFY(printed.contains(QStringLiteral("Page 1 of ")));
        QVERIFY(!form.IsLoading());
        QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->minimum());
        QCOMPARE(Shown(*engine->TextView()), Expected(body));

        form.ViewCommands1->Find();
        QTest::keyClicks(form.ViewCommands1->FindBar->Edit, QStringLiteral("marker"));
        QCOMPARE(form.ViewCommands1->FindBar->Count->text(), QStringLiteral("1 of 2 matches"));
        form.ViewCommands1->FindNext();
        QCOMPARE(form.ViewCommands1->FindBar->Count->text(), QStringLiteral("2 of 2 matches"));
        form.ViewCommands1->Escape();
        QVERIFY(engine->TextView()->FindText().isEmpty());

        const int pixels = engine->TextView()->font().pixelSize();
        form.ViewCommands1->ZoomIn();
        QVERIFY(engine->TextView()->font().pixelSize() > pixels);
        QCOMPARE(form.ViewCommands1->Zoom(), 1.1);
        form.ViewCommands1->ZoomReset();

        // Just under the size, a text body stays in the page.
        TForm1 small(Message("small.eml", QString(200 * 1024, QLatin1Char('x'))));
        small.FormActivate();
        QVERIFY(!static_cast<TQtWebEngine*>(small.EmbeddedWB1->Engine())->TextShown());
    }
};

QTEST_MAIN(TextPageViewTest)
#include "TextPageViewTest.moc"
