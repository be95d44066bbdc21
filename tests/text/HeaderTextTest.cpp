// Encoded words shown in their declared charsets.
#include "HeaderText.h"
#include "TMailMessage2000.h"

#include <QTest>

class HeaderTextTest : public QObject {
    Q_OBJECT
private slots:
    void decodesInDeclaredCharset_data();
    void decodesInDeclaredCharset();
    void accessorsRunOnConvertedHeader();
    void plainHeadersPassUnchanged();
};

void HeaderTextTest::decodesInDeclaredCharset_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("shown");
    QTest::newRow("koi8-r name") << QByteArray("=?koi8-r?B?8NLJ18XU?=") << QString::fromUtf8("Привет");
    QTest::newRow("windows-1252 euro and quotes")
        << QByteArray("=?windows-1252?Q?=80_5_=93ok=94?=") << QString::fromUtf8("€ 5 “ok”");
    // Latin-1 labels are read as windows-1252, as browsers do.
    QTest::newRow("iso-8859-1 label with 0x80") << QByteArray("=?iso-8859-1?Q?=80?=") << QString::fromUtf8("€");
    QTest::newRow("utf-8 character split over two words")
        << QByteArray("=?utf-8?Q?caf=C3?= =?utf-8?Q?=A9?=") << QString::fromUtf8("café");
    QTest::newRow("two charsets side by side")
        << QByteArray("=?koi8-r?B?8NLJ18XU?= =?iso-8859-2?Q?=B1?=") << QString::fromUtf8("Приветą");
    QTest::newRow("stateful iso-2022-jp")
        << QByteArray("=?iso-2022-jp?B?GyRCJUYlOSVIGyhC?=") << QString::fromUtf8("テスト");
    QTest::newRow("text around words") << QByteArray("Re: =?koi8-r?B?8NLJ18XU?= (2)")
                                       << QString::fromUtf8("Re: Привет (2)");
    QTest::newRow("unknown charset keeps the bytes") << QByteArray("=?x-nonesuch?Q?abc?=") << QString("abc");
    QTest::newRow("invalid byte becomes a replacement")
        << QByteArray("=?utf-8?Q?a=FFb?=") << QString::fromUtf8("a\xEF\xBF\xBD" "b");
    QTest::newRow("blanks inside a word, as some mailers write")
        << QByteArray("=?windows-1252?Q?=93Quarterly=94 report; final?=") << QString::fromUtf8("“Quarterly” report; final");
    QTest::newRow("raw latin-1 outside words") << QByteArray("Gr\xFC\xDF =?utf-8?Q?=C3=A9?=")
                                               << QString::fromUtf8("Grüß é");
}

void HeaderTextTest::decodesInDeclaredCharset()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, shown);
    QCOMPARE(DecodeHeaderText(std::string_view(raw.constData(), raw.size())), shown);
}

void HeaderTextTest::accessorsRunOnConvertedHeader()
{
    TMailMessage2000 message;
    message.Header = {"From: =?koi8-r?B?8NLJ18XU?= <ivan@example.ru>",
                      "Subject: =?windows-1252?Q?=93Quoted=94?=",
                      "Content-Type: application/pdf; name=\"=?koi8-r?B?8NLJ18XU?=.pdf\""};
    TMailMessage2000 view;
    CopyHeaderAsUtf8(message, view);
    QCOMPARE(QString::fromStdString(view.GetFromName()), QString::fromUtf8("Привет"));
    QCOMPARE(QString::fromStdString(view.GetFromAddress()), QString("ivan@example.ru"));
    QCOMPARE(QString::fromStdString(view.GetSubject()), QString::fromUtf8("“Quoted”"));
    QCOMPARE(QString::fromStdString(view.GetFileName()), QString::fromUtf8("Привет.pdf"));
}

void HeaderTextTest::plainHeadersPassUnchanged()
{
    const std::string line = "To: a@example.com, \"B, C\" <b@example.com>";
    QCOMPARE(HeaderLineToUtf8(line), line);
    const std::string broken = "Subject: =?utf-8?Q?no end";
    QCOMPARE(HeaderLineToUtf8(broken), broken);
}

QTEST_GUILESS_MAIN(HeaderTextTest)
#include "HeaderTextTest.moc"
