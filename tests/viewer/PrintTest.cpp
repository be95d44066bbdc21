// Printing, headless with the real engine: the header block (escaped, in
// the declared charsets), the page lines, orientation and margins, read back
// from the PDF; a print asked for during a load, and a failed print.
#include "EngineText.h"
#include "MessageStrings.h"
#include "TForm1.h"
#include "TPrintEngine.h"
#include "TQuickMessage.h"
#include "TestFiles.h"

#include <QPushButton>
#include <QTextEdit>

#include <QPdfDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString PdfText(const QString& pdf, bool layout = true)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), QStringList{layout ? QStringLiteral("-layout") : QStringLiteral("-raw"), pdf,
                                                     QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class PrintTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    int m_count = 0;

    QString Write(const char* name, const QByteArray& data) { return WriteTestFile(m_dir, name, data); }

    QString Print(TForm1& form)
    {
        const QString out = m_dir.filePath(QStringLiteral("out%1.pdf").arg(++m_count));
        TPrintEngine::SetOutputFile(out);
        form.BitBtn2Click();
        TPrintEngine::SetOutputFile(QString());
        return out;
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is needed");
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void printsTheHeaderBlockBodyAndPageLines()
    {
        const QString path = Write("m.eml",
            "From: Ann Example <ann@example.org>\r\nTo: bob@example.org, carol@example.org\r\n"
            "Subject: Quarterly figures\r\nDate: Mon, 12 Mar 2001 10:20:30 +0000\r\nOrganization: Example Ltd\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n\r\nThe figures are attached below.\r\n");
        TForm1 form(path);
        form.FormActivate();
        const QString pdf = Print(form);
        QVERIFY(QFile::exists(pdf));
        const QString text = PdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("Date: ") + DateTimeToStr(form.MailMessage20001.GetDate())), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("From: Ann Example (ann@example.org)")));
        QVERIFY(text.contains(QStringLiteral("To: bob@example.org,carol@example.org")));
        QVERIFY(text.contains(QStringLiteral("Organization: Example Ltd")));
        QVERIFY(text.contains(QStringLiteral("Subject: Quarterly figures")));
        QVERIFY(text.contains(QStringLiteral("The figures are attached below.")));
        QVERIFY(text.contains(QRegularExpression(QStringLiteral("Page 1 of 1"))));
        QVERIFY(text.contains(QLocale().toString(QDate::currentDate(), QLocale::ShortFormat)));
        QVERIFY(text.contains(QStringLiteral("m.eml")));

        // Portrait by default.
        QPdfDocument doc;
        QCOMPARE(doc.load(pdf), QPdfDocument::Error::None);
        const QSizeF size = doc.pagePointSize(0);
        QVERIFY(size.height() > size.width());

        // A second print builds the block anew: it appears once.
        const QString again = Print(form);
        QCOMPARE(form.EmbeddedWB1->PrintOptions.HTMLHeader.size(), 7);
        QCOMPARE(PdfText(again).count(QStringLiteral("Subject: Quarterly figures")), 1);
        // The displayed page is as it was before the print.
        QCOMPARE(PdfText(again).count(QStringLiteral("Date: ")), 1);
    }

    void headerValuesPrintAsText()
    {
        const QString path = Write("markup.eml",
            "From: \"AT&T <Labs>\" <labs@att.example>\r\nTo: bob@example.org\r\n"
            "Subject: Re: <URGENT> use <br> & &nbsp <style>body{display:none}</style>\r\n"
            "Organization: =?koi8-r?B?8NLJ18XU?= & <b>Co</b>\r\n"
            "Date: Mon, 12 Mar 2001 10:20:30 +0000\r\nContent-Type: text/plain\r\n\r\nBody text here.\r\n");
        TForm1 form(path);
        form.FormActivate();
        const QString text = PdfText(Print(form), false);
        QVERIFY2(text.contains(QStringLiteral("Subject: Re: <URGENT> use <br> & &nbsp <style>body{display:none}</style>")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("From: AT&T <Labs> (labs@att.example)")));
        QVERIFY(text.contains(QString::fromUtf8("Organization: Привет & <b>Co</b>")));
        QVERIFY(text.contains(QStringLiteral("Body text here.")));
    }

    void printAskedForDuringTheLoadPrintsAfterIt()
    {
        QByteArray m = "From: a@example.org\r\nSubject: Waited for\r\n"
                       "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                       "--b\r\nContent-Type: text/plain\r\n\r\nThe body.\r\n"
                       "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n";
        const QByteArray line = QByteArray(76, 'Q') + "\r\n";
        for (int i = 0; i < 8 * (1 << 20) / 78; ++i)
            m += line;
        m += "--b--\r\n";
        TForm1 form(Write("large.eml", m));
        const QString out = m_dir.filePath(QStringLiteral("during.pdf"));
        TPrintEngine::SetOutputFile(out);
        TProgressEvent inner = form.MailMessage20001.OnProgress;
        bool pressed = false;
        form.MailMessage20001.OnProgress = [&](TMailPart* sender, std::size_t total, std::size_t current) {
            if (current > 0 && !pressed) {
                pressed = true;
                QTimer::singleShot(0, &form, [&] { form.BitBtn2->click(); });
            }
            inner(sender, total, current);
        };
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(out), 120000);
        TPrintEngine::SetOutputFile(QString());
        QVERIFY(pressed);
        const QString text = PdfText(out, false);
        QVERIFY2(text.contains(QStringLiteral("Subject: Waited for")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("The body.")));
    }

    void aFailedPrintIsShown()
    {
        const QString path = Write("fail.eml", "Subject: s\r\n\r\nbody\r\n");
        TForm1 form(path);
        form.FormActivate();
        const QString taken = Write("taken-output.pdf", "not to be overwritten");
        TPrintEngine::SetOutputFile(taken);
        form.BitBtn2Click();
        TPrintEngine::SetOutputFile(QString());
        QVERIFY(!form.EmbeddedWB1->LastPrintError().isEmpty());
        QVERIFY(QuickMessage);
        QVERIFY(QuickMessage->Memo1->toPlainText().contains(QStringLiteral("could not be printed")));
        QuickMessage->close();
        QFile f(taken);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("not to be overwritten"));

        // The time limit grows with the document.
        QCOMPARE(TPrintEngine::TimeLimitMs(0), 120000);
        QVERIFY(TPrintEngine::TimeLimitMs(20 << 20) >= 20 * 60000);
    }

    void pageCodes()
    {
        TPageContext c;
        c.windowTitle = QStringLiteral("Title");
        c.url = QStringLiteral("file:///m.eml");
        c.now = QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9));
        c.page = 2;
        c.pages = 3;
        c.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        TPageLine line = ExpandPageCodes(QStringLiteral("&w&bPage &p of &P"), c);
        QCOMPARE(line.left, QStringLiteral("Title"));
        QCOMPARE(line.center, QStringLiteral("Page 2 of 3"));
        QCOMPARE(line.right, QString());
        line = ExpandPageCodes(QStringLiteral("&u&b&d&b&T && &x"), c);
        QCOMPARE(line.left, QStringLiteral("file:///m.eml"));
        QCOMPARE(line.center, c.locale.toString(c.now.date(), QLocale::ShortFormat));
        QCOMPARE(line.right, QStringLiteral("14:05:09 & &x"));
        line = ExpandPageCodes(QStringLiteral("&D|&t&"), c);
        QCOMPARE(line.left, c.locale.toString(c.now.date(), QLocale::LongFormat) + QLatin1Char('|')
                                + c.locale.toString(c.now.time(), QLocale::ShortFormat) + QLatin1Char('&'));
        QCOMPARE(MarginToMillimetres(QStringLiteral("0.75"), true, c.locale), 19.05);
        QCOMPARE(MarginToMillimetres(QStringLiteral("19,05"), false, QLocale(QLocale::German)), 19.05);
        QCOMPARE(FreshPdfName(m_dir.path(), QStringLiteral("fresh")), m_dir.filePath(QStringLiteral("fresh.pdf")));
        Write("taken.pdf", "x");
        QCOMPARE(FreshPdfName(m_dir.path(), QStringLiteral("taken")), m_dir.filePath(QStringLiteral("taken (2).pdf")));
    }

    void blockLinesForMissingValues()
    {
        const QString path = Write("bare.eml", "From: solo@example.org\r\nSubject: s\r\n\r\nbody\r\n");
        TForm1 form(path);
        form.FormActivate();
        Print(form);
        const QStringList& block = form.EmbeddedWB1->PrintOptions.HTMLHeader;
        QCOMPARE(block.value(0), QStringLiteral("<HR><font face=\"verdana,arial\" size=-1>"));
        QCOMPARE(block.value(0).size(), 39);
        QCOMPARE(block.value(2), QStringLiteral("From: solo@example.org<BR>")); // no parentheses
        QCOMPARE(block.value(4), QStringLiteral("Organization: <BR>"));
        QCOMPARE(block.value(6), QStringLiteral("<HR></font><P>"));
    }

    void landscapeAndMargins()
    {
        const QString path = Write("wide.eml", "Subject: wide\r\nContent-Type: text/html\r\n\r\n"
                                               "<html><body style='margin:0'><p>LEFTMOST words here</p></body></html>\r\n");
        TForm1 form(path);
        form.FormActivate();
        form.EmbeddedWB1->PrintOptions.Orientation = TPrintOrientationOption::poLandscape;
        const QString pdf = Print(form);
        QPdfDocument doc;
        QCOMPARE(doc.load(pdf), QPdfDocument::Error::None);
        const QSizeF size = doc.pagePointSize(0);
        QVERIFY(size.width() > size.height());

        // Words of the block and of the body start inside the 19.05 mm
        // (54 pt) margin; only the page lines are drawn in the margin.
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        p.waitForFinished(30000);
        const QString boxes = QString::fromUtf8(p.readAllStandardOutput());
        const QRegularExpression word(QStringLiteral("xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"[0-9.]+\" "
                                                     "yMax=\"([0-9.]+)\">([^<]*)<"));
        int checked = 0;
        for (auto it = word.globalMatch(boxes); it.hasNext();) {
            const auto m = it.next();
            const double x = m.captured(1).toDouble(), top = m.captured(2).toDouble(), bottom = m.captured(3).toDouble();
            if (top < 54 || bottom > size.height() - 54)
                continue; // a header or footer line
            QVERIFY2(x >= 54 - 0.5, qPrintable(m.captured(4)));
            if (m.captured(4) == QLatin1String("LEFTMOST"))
                QVERIFY(x < 60);
            ++checked;
        }
        QVERIFY(checked > 5);
    }
};

QTEST_MAIN(PrintTest)
#include "PrintTest.moc"
