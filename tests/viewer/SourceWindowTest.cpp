// The source window, headless: header fields decoded, header names in bold
// where they are header names, the 2 MB cut with its note, find, and Save As
// (the whole file, failures shown).
#include "MessageSource.h"
#include "SourceWindow.h"
#include "TestFiles.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextLayout>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kMessage =
    "From someone@example.org Mon Dec  7 10:00:00 2026\r\n"
    "From: =?iso-8859-1?Q?Ren=E9?= <rene@example.org>\r\n"
    "To: a@example.org\r\n"
    "Cc: =?koi8-r?B?8NLJ18XU?= <ivan@example.ru>,\r\n"
    "\t=?utf-8?Q?J=C3=BCrgen?= <j@example.de>\r\n"
    "Reply-To: list@example.org\r\n"
    "Message-ID: <abc.123@example.org>\r\n"
    "Subject : old form\r\n"
    "X-Raw: caf\xc3\xa9\r\n"
    "Content-Type: multipart/mixed;\r\n boundary=\"sep\"\r\n"
    "\r\n"
    "Note: not a header\r\n"
    "--sep\r\n"
    "Content-Type: text/plain\r\n"
    "\r\n"
    "Body: line\r\n"
    "--sep--\r\n";

// The bold ranges of the editor's line number index.
QList<QPair<int, int>> BoldRanges(QPlainTextEdit* view, int index)
{
    QList<QPair<int, int>> out;
    const QTextBlock block = view->document()->findBlockByNumber(index);
    for (const QTextLayout::FormatRange& r : block.layout()->formats())
        if (r.format.fontWeight() == QFont::Bold)
            out << qMakePair(r.start, r.length);
    return out;
}

} // namespace

class SourceWindowTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString Write(const char* name, const QByteArray& data) { return WriteTestFile(m_dir, name, data); }

private slots:
    void headerFieldsDecoded()
    {
        const std::vector<THeaderField> fields = HeaderFields(std::string_view(kMessage.constData(), kMessage.size()));
        QStringList names;
        for (const THeaderField& f : fields)
            names << f.name;
        QCOMPARE(names, QStringList({"From", "To", "Cc", "Reply-To", "Message-ID", "Subject", "X-Raw", "Content-Type"}));
        QCOMPARE(fields[0].value, QStringLiteral("Ren\u00e9 <rene@example.org>"));
        QCOMPARE(fields[2].value,
                 QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 <ivan@example.ru>,\tJ\u00fcrgen <j@example.de>"));
        QCOMPARE(fields[4].value, QStringLiteral("<abc.123@example.org>"));
        QCOMPARE(fields[5].value, QStringLiteral("old form"));
        QCOMPARE(fields[6].value, QStringLiteral("caf\u00e9"));
        QCOMPARE(fields[7].value, QStringLiteral("multipart/mixed; boundary=\"sep\""));
        // Only the header: a body line with a colon is no field.
        QVERIFY(HeaderFields("A: 1\n\nB: 2\n").size() == 1);
        QVERIFY(HeaderFields("").empty());
    }

    void windowShowsSourceAndHeaders()
    {
        TSourceWindow window(Write("m.eml", kMessage));
        window.show();
        QVERIFY(!window.CutNote->isVisible());
        QPlainTextEdit* view = window.SourceView;
        QCOMPARE(view->document()->findBlockByNumber(1).text(), QStringLiteral("From: =?iso-8859-1?Q?Ren=E9?= <rene@example.org>"));
        QCOMPARE(view->document()->findBlockByNumber(8).text(), QStringLiteral("X-Raw: caf\u00e9"));
        using Ranges = QList<QPair<int, int>>;
        QCOMPARE(BoldRanges(view, 0), Ranges());            // the mbox "From " line
        QCOMPARE(BoldRanges(view, 1), Ranges({{0, 4}}));    // From
        QCOMPARE(BoldRanges(view, 4), Ranges());            // continuation
        QCOMPARE(BoldRanges(view, 12), Ranges());           // "Note:" in the body
        QCOMPARE(BoldRanges(view, 14), Ranges({{0, 12}}));  // the part's Content-Type
        QCOMPARE(BoldRanges(view, 16), Ranges());           // "Body:" in the part
        QVERIFY(view->isReadOnly());
        QVERIFY(view->font().fixedPitch() || QFontInfo(view->font()).fixedPitch());

        QCOMPARE(window.HeaderTable->rowCount(), 8);
        QCOMPARE(window.HeaderTable->item(2, 0)->text(), QStringLiteral("Cc"));
        QVERIFY(window.HeaderTable->item(2, 1)->text().startsWith(QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442")));
        QVERIFY(window.HeaderTable->item(2, 0)->font().bold());
    }

    void findCountsAndWraps()
    {
        TSourceWindow window(Write("f.eml", kMessage));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(window.FindEdit->hasFocus());
        QTest::keyClicks(window.FindEdit, QStringLiteral("content-type"));
        QCOMPARE(window.Matches(), 2);
        QCOMPARE(window.FindCount->text(), QStringLiteral("1 of 2 matches"));
        QCOMPARE(window.SourceView->textCursor().blockNumber(), 9);
        QTest::keyClick(window.FindEdit, Qt::Key_Return);
        QCOMPARE(window.FindCount->text(), QStringLiteral("2 of 2 matches"));
        QCOMPARE(window.SourceView->textCursor().blockNumber(), 14);
        QTest::keyClick(&window, Qt::Key_F3);
        QCOMPARE(window.FindCount->text(), QStringLiteral("1 of 2 matches")); // round again
        QTest::keyClick(&window, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(window.FindCount->text(), QStringLiteral("2 of 2 matches"));

        window.Tabs->setCurrentWidget(window.HeaderTable);
        window.FindEdit->selectAll();
        QTest::keyClicks(window.FindEdit, QStringLiteral("example.org"));
        QCOMPARE(window.Matches(), 4); // From, To, Reply-To, Message-ID
        QCOMPARE(window.HeaderTable->currentRow(), 0);
        QTest::keyClick(&window, Qt::Key_F3);
        QCOMPARE(window.HeaderTable->currentRow(), 1);

        window.FindEdit->selectAll();
        QTest::keyClicks(window.FindEdit, QStringLiteral("nowhere"));
        QCOMPARE(window.Matches(), 0);
        QCOMPARE(window.FindCount->text(), QStringLiteral("No matches"));
    }

    void longMessageIsCutWithANote()
    {
        QByteArray data = kMessage;
        const QByteArray line = QByteArray(75, 'A') + "\r\n";
        while (data.size() < kSourceLimit + 300000)
            data += line;
        data += "THE END\r\n";
        const QString path = Write("long.eml", data);
        TSourceWindow window(path);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(window.Source().cut);
        QVERIFY(window.CutNote->isVisible());
        QVERIFY2(window.CutNote->text().contains(QStringLiteral("first 2.0 MB")), qPrintable(window.CutNote->text()));
        QVERIFY(window.Source().bytes.size() <= kSourceLimit);
        QVERIFY(window.Source().bytes.endsWith("\r\n")); // cut at a line break
        QVERIFY(!window.SourceView->toPlainText().contains(QStringLiteral("THE END")));

        // Save As saves all of it, not the part shown.
        const QString target = m_dir.filePath(QStringLiteral("saved.eml"));
        window.AskFileName = [&](const QString& suggested) {
            [&] { QCOMPARE(QFileInfo(suggested).fileName(), QStringLiteral("long.eml")); }();
            return target;
        };
        QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), data);
    }

    void saveFailuresAreShownAndCancelWritesNothing()
    {
        const QString path = Write("s.eml", kMessage);
        TSourceWindow window(path);
        QStringList errors;
        window.ShowError = [&](const QString& message) { errors << message; };
        window.AskFileName = [](const QString&) { return QString(); };
        window.SaveAs();
        QVERIFY(errors.isEmpty());

        QVERIFY(!window.SaveTo(m_dir.filePath(QStringLiteral("no/such/folder/x.eml"))));
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors[0].contains(QStringLiteral("no/such/folder/x.eml")));

        // Replacing a file the user confirmed in the dialog: its content goes.
        const QString existing = Write("existing.eml", "old");
        QVERIFY(window.SaveTo(existing));
        QFile f(existing);
        f.open(QIODevice::ReadOnly);
        QCOMPARE(f.readAll(), kMessage);

        // The message gone since the window opened: said, and nothing written.
        QFile::remove(path);
        const QString target = m_dir.filePath(QStringLiteral("after-delete.eml"));
        QVERIFY(!window.SaveTo(target));
        QCOMPARE(errors.size(), 2);
        QVERIFY(!QFileInfo::exists(target));
    }

    void unreadableOrOddFiles()
    {
        TSourceWindow missing(m_dir.filePath(QStringLiteral("missing.eml")));
        missing.show();
        QVERIFY(missing.CutNote->isVisible());
        QVERIFY(missing.CutNote->text().contains(QStringLiteral("cannot be read")));
        QCOMPARE(missing.HeaderTable->rowCount(), 0);

        // Mixed line charsets, NUL bytes, no line break at all.
        QCOMPARE(SourceText("a\xc3\xa9\nb\xe9\n"), QStringLiteral("a\u00e9\nb\u00e9\n"));
        QCOMPARE(SourceText(std::string_view("x\0y", 3)), QStringLiteral("x\u2400y"));
        const TMessageSource one = ReadMessageSource(Write("oneline.eml", QByteArray(5000, 'x')), 1000);
        QVERIFY(one.cut);
        QCOMPARE(one.bytes.size(), 1000);
        QCOMPARE(one.fileSize, 5000);
        // A header line, then one long line: cut in the long line (not after
        // the header), and never inside a UTF-8 sequence.
        QByteArray longLine = "Subject: xy\r\n\r\n"; // odd: the limit falls inside a character
        while (longLine.size() < kSourceLimit + 10)
            longLine += "\xc3\xa9";
        const TMessageSource two = ReadMessageSource(Write("long-line.eml", longLine));
        QVERIFY(two.cut);
        QVERIFY(two.bytes.size() > kSourceLimit - 4);
        QVERIFY(two.text.endsWith(QChar(0xe9)));
        QVERIFY(!two.text.contains(QChar(0xfffd)));

        // An Outlook file shows as the message it is read as, not as its
        // binary container; one that holds nothing says why.
        const QByteArray tnef("\x78\x9f\x3e\x22\x01\x00" "\x01\x04\x80\x01\x00\x05\x00\x00\x00Hello\x00\x00", 22);
        const TMessageSource dat = ReadMessageSource(Write("winmail.dat", tnef));
        QVERIFY(dat.error.isEmpty());
        QVERIFY(dat.text.contains(QStringLiteral("Subject: Hello\r\n")));
        const TMessageSource bad = ReadMessageSource(Write("bad.msg", QByteArray("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1 cut", 12)));
        QVERIFY(!bad.error.isEmpty());
    }

    void bodiesInTheirDeclaredCharsets()
    {
        const QByteArray data = "Subject: caf\xe9\r\n"
                                "Content-Type: multipart/mixed;\r\n boundary=\"b\"\r\n\r\n"
                                "--b\r\nContent-Type: text/plain;\r\n charset=windows-1252\r\n"
                                "Content-Transfer-Encoding: 8bit\r\n\r\n"
                                "\x93Quoted\x94 \x80 5 \x96 \xe9t\xe9\r\n"
                                "--b\r\nContent-Type: text/plain; charset=koi8-r\r\n\r\n\xf0\xd2\xc9\xd7\xc5\xd4\r\n"
                                "--b\r\nContent-Type: text/plain\r\n\r\nno charset \x93x\x94\r\n"
                                "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nmislabelled \xc3\xa9\r\n"
                                "--b\r\nContent-Type: application/octet-stream\r\n\r\n\x93\x01\r\n"
                                "--b--\r\nepilogue \x93\r\n";
        const QString text = SourceText(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
        QVERIFY(text.startsWith(QStringLiteral("Subject: caf\u00e9\r\n"))); // a header line, as written
        QVERIFY2(text.contains(QStringLiteral("\u201cQuoted\u201d \u20ac 5 \u2013 \u00e9t\u00e9\r\n")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("\r\n\u041f\u0440\u0438\u0432\u0435\u0442\r\n")));
        QVERIFY(text.contains(QStringLiteral("no charset \u201cx\u201d")));
        QVERIFY(text.contains(QStringLiteral("mislabelled \u00e9")));
        QVERIFY(text.contains(QStringLiteral("\r\n\u0093\u0001\r\n"))); // not text: one byte, one character
        QVERIFY(text.contains(QStringLiteral("--b\r\nContent-Type: text/plain; charset=koi8-r\r\n")));
        QVERIFY(text.endsWith(QStringLiteral("--b--\r\nepilogue \u201c\r\n")));
        // The window shows what the page shows.
        TSourceWindow window(Write("cp1252.eml", data));
        QVERIFY(window.SourceView->toPlainText().contains(QStringLiteral("\u201cQuoted\u201d")));
    }

    void longLinesAreShownInPieces()
    {
        const QByteArray data = "Subject: x\r\n\r\n" + QByteArray(300000, 'a') + "\r\nend\r\n";
        TSourceWindow window(Write("pieces.eml", data));
        const QTextDocument* doc = window.SourceView->document();
        int longest = 0;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
            longest = std::max(longest, b.length() - 1);
        QCOMPARE(longest, 1024);
        QCOMPARE(doc->toPlainText().remove(QLatin1Char('\n')), QString::fromLatin1(data).remove(QStringLiteral("\r\n")));
        window.FindEdit->setText(QStringLiteral("end"));
        window.FindNext();
        QCOMPARE(window.FindCount->text(), QStringLiteral("1 of 1 match"));
        QCOMPARE(window.SourceView->textCursor().selectedText(), QStringLiteral("end"));
    }

    void boundariesAndSizes()
    {
        QCOMPARE(DeclaredBoundaries("Content-Type: multipart/mixed; boundary=\"a b\"\r\n"
                                    " x; BOUNDARY=plain;\r\nboundary=\"a b\""),
                 QStringList({"a b", "plain"}));
        QCOMPARE(SizeText(312), QStringLiteral("312 bytes"));
        QCOMPARE(SizeText(640 * 1024), QStringLiteral("640 KB"));
        QCOMPARE(SizeText(5 * 1024 * 1024 + 300 * 1024), QStringLiteral("5.3 MB"));
    }
};

QTEST_MAIN(SourceWindowTest)
#include "SourceWindowTest.moc"
