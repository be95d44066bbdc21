// The parts a page asks for by Content-ID and Content-Location: which one
// answers when several carry the same name, and that a document taken
// again answers from its new message, not from what it answered before.
#include "MessageDocument.h"
#include "TMailMessage2000.h"

#include <QtTest>

namespace {

// A related message whose parts, after the HTML, are given as
// "header lines|body" pairs.
void Take(TMessageDocument& doc, const QStringList& parts)
{
    std::string text = "Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n<p>x</p>\r\n";
    for (const QString& part : parts) {
        const QStringList pieces = part.split(QLatin1Char('|'));
        text += "--r\r\n" + pieces[0].toStdString() + "\r\n\r\n" + pieces[1].toStdString() + "\r\n";
    }
    text += "--r--\r\n";
    TMailMessage2000 m;
    m.ParseText(text, true);
    m.ScanParts();
    doc.Take(QStringLiteral("/tmp/m.eml"), m);
}

QByteArray ById(const TMessageDocument& doc, const QString& id)
{
    const TMessageDocument::Reply r = doc.PartByContentId(id);
    return r.found ? r.data : QByteArray("(none)");
}

QByteArray ByLocation(const TMessageDocument& doc, const QString& location)
{
    const TMessageDocument::Reply r = doc.PartByLocation(location);
    return r.found ? r.data : QByteArray("(none)");
}

} // namespace

class MessageDocumentTest : public QObject {
    Q_OBJECT
private slots:
    void contentIds()
    {
        TMessageDocument doc;
        Take(doc, {"Content-Type: image/png\r\nContent-ID: <a@x>|first a",
                   "Content-Type: image/png\r\nContent-ID: <a@x>|second a",
                   "Content-Type: image/gif\r\nContent-ID:  b c |b", "Content-Type: image/gif|no id"});
        QCOMPARE(ById(doc, "a@x"), QByteArray("first a"));
        QCOMPARE(ById(doc, "<a@x>"), QByteArray("first a"));
        QCOMPARE(ById(doc, "b%20c"), QByteArray("b"));
        QCOMPARE(ById(doc, "c@x"), QByteArray("(none)"));
        QCOMPARE(doc.PartByContentId("a@x").contentType, QByteArray("image/png"));
    }

    void locations()
    {
        TMessageDocument doc;
        Take(doc, {"Content-Type: image/png\r\nContent-Location: http://other.example/img/logo.png|leaf only",
                   "Content-Type: image/png\r\nContent-Location: http://x.example/img/logo.png|whole",
                   "Content-Type: image/png\r\nContent-Location: http://x.example/img/logo.png|whole again",
                   "Content-Type: image/png\r\nContent-Location: http://x.example/a b.png|spaced",
                   "Content-Type: image/png\r\nContent-Location: http://x.example/dir/|folder"});
        // The whole location wins over an earlier part that only ends the same.
        QCOMPARE(ByLocation(doc, "http://x.example/img/logo.png"), QByteArray("whole"));
        QCOMPARE(ByLocation(doc, "http://x.example/a%20b.png"), QByteArray("spaced"));
        QCOMPARE(ByLocation(doc, "http://elsewhere.example/logo.png"), QByteArray("leaf only"));
        QCOMPARE(ByLocation(doc, "http://elsewhere.example/"), QByteArray("(none)"));
        QCOMPARE(ByLocation(doc, "http://x.example/dir/"), QByteArray("folder"));
        QCOMPARE(ByLocation(doc, "http://x.example/missing.png"), QByteArray("(none)"));

        // Only a whole web address is the message's own: a page elsewhere
        // whose picture merely has the same name is not.
        QVERIFY(doc.HoldsLocation("http://x.example/img/logo.png"));
        QVERIFY(doc.HoldsLocation("http://x.example/a%20b.png"));
        QVERIFY(!doc.HoldsLocation("http://elsewhere.example/logo.png"));
        const QStringList web = doc.WebLocations();
        QVERIFY(web.contains("http://x.example/a b.png") && web.contains("http://x.example/a%20b.png"));
        QCOMPARE(web.size(), 5);
    }

    void takenAgainAnswersFromTheNewMessage()
    {
        TMessageDocument doc;
        Take(doc, {"Content-Type: image/png\r\nContent-ID: <a@x>\r\nContent-Location: http://x/p.png|old"});
        QCOMPARE(ById(doc, "a@x"), QByteArray("old"));
        QCOMPARE(ByLocation(doc, "http://x/p.png"), QByteArray("old"));
        Take(doc, {"Content-Type: image/png\r\nContent-ID: <b@x>|other",
                   "Content-Type: image/png\r\nContent-ID: <a@x>\r\nContent-Location: http://x/p.png|new"});
        QCOMPARE(ById(doc, "a@x"), QByteArray("new"));
        QCOMPARE(ById(doc, "b@x"), QByteArray("other"));
        QCOMPARE(ByLocation(doc, "http://x/p.png"), QByteArray("new"));
        QVERIFY(!doc.Load(QStringLiteral("/nonexistent/corvanta/m.eml")));
        QCOMPARE(ById(doc, "a@x"), QByteArray("(none)"));
    }

    // Every inline text part of a mixed message is in the page, in order,
    // each plain one as plain text: only the chosen body was, and the other
    // text appeared nowhere.
    void inlineTextPartsOfAMixedMessage_data()
    {
        QTest::addColumn<QByteArray>("parts");
        QTest::addColumn<QStringList>("inOrder");
        QTest::addColumn<QString>("absent");
        QTest::newRow("text then html") << QByteArray("--m\r\nContent-Type: text/plain\r\n\r\nHello <you>\r\n"
                                                      "--m\r\nContent-Type: text/html\r\n\r\n<b>Bold</b>\r\n")
                                        << QStringList{"Hello &lt;you&gt;", "<b>Bold</b>"} << QString();
        QTest::newRow("list footer after an html body")
            << QByteArray("--m\r\nContent-Type: multipart/alternative; boundary=a\r\n\r\n"
                          "--a\r\nContent-Type: text/plain\r\n\r\nplain twin\r\n"
                          "--a\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n<p>caf\xe9</p>\r\n--a--\r\n"
                          "--m\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nlist footer \xc3\xa9 http://l.example/\r\n")
            << QStringList{QString::fromUtf8("<p>café</p>"), QString::fromUtf8("list footer é"),
                           "<a href=\"http://l.example/\">"}
            << QString("plain twin");
        QTest::newRow("an object only, after text")
            << QByteArray("--m\r\nContent-Type: text/plain\r\n\r\nsee the file\r\n"
                          "--m\r\nContent-Type: text/html\r\n\r\n<object data=\"cid:f\"></object>\r\n"
                          "--m\r\nContent-Type: application/pdf; name=f.pdf\r\n\r\n%PDF\r\n")
            << QStringList{"see the file", "<object data=\"cid:f\"></object>"} << QString("%PDF");
        QTest::newRow("meta charset of a later html part")
            << QByteArray("--m\r\nContent-Type: text/plain\r\n\r\nfirst\r\n--m\r\nContent-Type: text/html\r\n\r\n"
                          "<meta charset=\"koi8-r\"><p>\xf0\xd2\xc9\xd7\xc5\xd4</p>\r\n")
            << QStringList{"first", QString::fromUtf8("Привет")} << QString();
    }

    void inlineTextPartsOfAMixedMessage()
    {
        QFETCH(QByteArray, parts);
        QFETCH(QStringList, inOrder);
        QFETCH(QString, absent);
        const std::string text = "Content-Type: multipart/mixed; boundary=m\r\n\r\n" + parts.toStdString() + "--m--\r\n";
        TMailMessage2000 m;
        m.ParseText(text.data(), text.size(), true);
        m.ScanParts();
        TMessageDocument taken;
        taken.Take(QStringLiteral("/tmp/m.eml"), m);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("m.eml")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qint64>(text.size()));
        file.close();
        TMessageDocument loaded;
        QVERIFY(loaded.Load(file.fileName()));
        for (const TMessageDocument* doc : {&taken, &loaded}) {
            const TMessageDocument::Reply page = doc->Document();
            QCOMPARE(page.contentType, QByteArray("text/html;charset=utf-8"));
            const QString html = QString::fromUtf8(page.data);
            qsizetype at = 0;
            for (const QString& piece : inOrder) {
                const qsizetype found = html.indexOf(piece, at);
                QVERIFY2(found >= 0, qPrintable(piece + QStringLiteral(" not in order in ") + html));
                at = found + piece.size();
            }
            if (!absent.isEmpty())
                QVERIFY2(!html.contains(absent), qPrintable(html));
        }
    }

    void aSingleBodyIsServedAsItWas()
    {
        TMessageDocument doc;
        const std::string text = "Content-Type: multipart/alternative; boundary=a\r\n\r\n--a\r\nContent-Type: text/plain\r\n\r\n"
                                 "plain\r\n--a\r\nContent-Type: text/html; charset=iso-8859-1\r\n\r\n<p>caf\xe9</p>\r\n--a--\r\n";
        TMailMessage2000 m;
        m.ParseText(text.data(), text.size(), true);
        m.ScanParts();
        doc.Take(QStringLiteral("/tmp/m.eml"), m);
        QCOMPARE(doc.Document().data, QByteArray("<p>caf\xe9</p>"));
        QCOMPARE(doc.Document().contentType, QByteArray("text/html;charset=iso-8859-1"));
    }
};

QTEST_GUILESS_MAIN(MessageDocumentTest)
#include "MessageDocumentTest.moc"
