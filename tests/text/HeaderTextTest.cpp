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
    void namesInTheirCharsets_data();
    void namesInTheirCharsets();
    void shownHeaderOfAMessage();
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

void HeaderTextTest::namesInTheirCharsets_data()
{
    QTest::addColumn<QByteArray>("fields");
    QTest::addColumn<QString>("name");
    // RFC 2231 values were taken as Latin-1 whatever their charset
    // ("\u00f0\u00d2\u00c9\u00d7\u00c5\u00d4.txt").
    QTest::newRow("koi8-r") << QByteArray("Content-Disposition: attachment; filename*=koi8-r''%F0%D2%C9%D7%C5%D4.txt")
                            << QString::fromUtf8("Привет.txt");
    QTest::newRow("continued, charset in the first section")
        << QByteArray("Content-Disposition: attachment; filename*0*=koi8-r'ru'%F0%D2%C9; filename*1*=%D7%C5%D4;"
                      " filename*2=.txt")
        << QString::fromUtf8("Привет.txt");
    QTest::newRow("continuations out of order, quoted")
        << QByteArray("Content-Type: text/plain; name*1=\"b c.txt\"; name*0=\"a \"") << QString("a b c.txt");
    QTest::newRow("utf-8") << QByteArray("Content-Type: image/png; name*=UTF-8''caf%C3%A9.png")
                           << QString::fromUtf8("café.png");
    QTest::newRow("latin-1") << QByteArray("Content-Type: image/png; name*=iso-8859-1'de'Fr%F6sche.png")
                             << QString::fromUtf8("Frösche.png");
    QTest::newRow("shift_jis") << QByteArray("Content-Type: application/pdf; name*=shift_jis''%83e%83X%83g.pdf")
                               << QString::fromUtf8("テスト.pdf");
    QTest::newRow("extended beside a plain fallback")
        << QByteArray("Content-Type: application/pdf; name=\"fallback.pdf\"; name*=koi8-r''%F0%D2%C9%D7%C5%D4.pdf")
        << QString::fromUtf8("Привет.pdf");
    QTest::newRow("unknown charset keeps the bytes")
        << QByteArray("Content-Type: application/pdf; name*=x-nonesuch''abc.pdf") << QString("abc.pdf");
    QTest::newRow("raw latin-1 bytes") << QByteArray("Content-Type: text/plain; name=\"HasenundFr\xF6sche.txt\"")
                                       << QString::fromUtf8("HasenundFrösche.txt");
    QTest::newRow("encoded word with a path")
        << QByteArray("Content-Type: image/png; name=\"=?koi8-r?B?8NLJ18XU?=\\C:\\TEMP\\a.png\"") << QString("a.png");
    QTest::newRow("engine's own field beside the sender's")
        << QByteArray("Content-Type: text/plain; name*=koi8-r''%F0%D2%C9%D7%C5%D4.txt\r\n"
                      "X-Corvanta-Attachment: \"=?iso-8859-1?Q?=F0=D2=C9=D7=C5=D4.txt?=\"; embedded=no")
        << QString::fromUtf8("Привет.txt");
}

void HeaderTextTest::namesInTheirCharsets()
{
    QFETCH(QByteArray, fields);
    QFETCH(QString, name);
    TMailMessage2000 message;
    for (const QByteArray& line : fields.split('\n'))
        message.Header.push_back(line.trimmed().toStdString());
    QCOMPARE(ShownFileName(message), name);
}

void HeaderTextTest::shownHeaderOfAMessage()
{
    TMailMessage2000 message;
    message.Header = {"From: =?koi8-r?B?8NLJ18XU?= <ivan@example.ru>",
                      "To: Team: a@x, =?utf-8?Q?J=C3=BCrgen?= <b@y>;, c@z",
                      // UTF-7 and a UTF-8 word beside a Latin-1 one.
                      "Subject: =?utf-7?Q?+APY-l?= and =?utf-8?Q?K=C3=A4se?= =?iso-8859-1?Q?_s=FC=DF?=",
                      "Organization: =?iso-8859-2?Q?=A3=F3d=BC?="};
    const TShownHeader shown(message);
    QCOMPARE(shown.FromName(), QString::fromUtf8("Привет"));
    QCOMPARE(shown.FromAddress(), QString("ivan@example.ru"));
    QCOMPARE(shown.Subject(), QString::fromUtf8("öl and Käse süß"));
    QCOMPARE(shown.ToAddresses(), QStringList({"a@x", "b@y", "c@z"}));
    QCOMPARE(shown.ToText(), QString("a@x,b@y,c@z"));
    QCOMPARE(shown.Value("Organization"), QString::fromUtf8("Łódź"));
}

QTEST_GUILESS_MAIN(HeaderTextTest)
#include "HeaderTextTest.moc"
