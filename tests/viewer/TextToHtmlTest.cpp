// Plain-text bodies as HTML: escaping, links (and what must never become
// one), quoted lines, format=flowed, and the text part's charset.
#include "MessageDocument.h"
#include "TMailMessage2000.h"
#include "TextToHtml.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

QString Link(const QString& url) { return QStringLiteral("<a href=\"%1\">%1</a>").arg(url); }

} // namespace

class TextToHtmlTest : public QObject {
    Q_OBJECT
private slots:
    void escapesEverythingElse()
    {
        const QString html = TextToHtml(u"<script>alert(1)</script> & \"q\" <b>x</b>");
        QCOMPARE(html, QStringLiteral("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;q&quot; &lt;b&gt;x&lt;/b&gt;\n"));
    }

    void links_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("html");
        QTest::newRow("http") << "see http://example.org/a?b=1" << "see " + Link("http://example.org/a?b=1");
        QTest::newRow("https, upper-case scheme")
            << "HTTPS://Example.org/X" << Link("HTTPS://Example.org/X");
        QTest::newRow("ftp") << "ftp://ftp.example.org/pub/f.tgz" << Link("ftp://ftp.example.org/pub/f.tgz");
        QTest::newRow("mailto") << "write to mailto:a.b@example.org." << "write to " + Link("mailto:a.b@example.org") + ".";
        QTest::newRow("sentence punctuation stays outside")
            << "Go to http://x.example/page, then http://y.example/!" << "Go to " + Link("http://x.example/page")
                                                                             + ", then " + Link("http://y.example/") + "!";
        QTest::newRow("in angle brackets") << "<http://x.example/>" << "&lt;" + Link("http://x.example/") + "&gt;";
        QTest::newRow("in parentheses") << "(see http://x.example/a)" << "(see " + Link("http://x.example/a") + ")";
        QTest::newRow("its own parentheses kept")
            << "(http://en.example/wiki/Mail_(protocol))" << "(" + Link("http://en.example/wiki/Mail_(protocol)") + ")";
        QTest::newRow("ampersand in the query")
            << "http://x.example/?a=1&b=2" << "<a href=\"http://x.example/?a=1&amp;b=2\">http://x.example/?a=1&amp;b=2</a>";
        QTest::newRow("a quote ends it")
            << "\"http://x.example/\"onmouseover=x" << "&quot;" + Link("http://x.example/") + "&quot;onmouseover=x";
        QTest::newRow("Japanese full stop ends it")
            << QStringLiteral("http://x.example/a\u3002") << Link("http://x.example/a") + QStringLiteral("\u3002");
        QTest::newRow("two on a line") << "http://a.example http://b.example" << Link("http://a.example") + " "
                                                                                   + Link("http://b.example");
        // Never links: other schemes, and schemes without an address.
        QTest::newRow("javascript") << "javascript:alert(1)" << "javascript:alert(1)";
        QTest::newRow("file") << "file:///etc/passwd" << "file:///etc/passwd";
        QTest::newRow("data") << "data:text/html,<b>x</b>" << "data:text/html,&lt;b&gt;x&lt;/b&gt;";
        QTest::newRow("scheme alone") << "http:// and http://." << "http:// and http://.";
        QTest::newRow("host must start with a letter or digit") << "http://-x" << "http://-x";
        QTest::newRow("mailto without address") << "mailto:nobody" << "mailto:nobody";
        QTest::newRow("inside a word") << "xhttp://a.example" << "xhttp://a.example";
        QTest::newRow("mailto with nothing before the @") << "mailto:@x.example" << "mailto:@x.example";
        // Long runs of false starts, as a hostile message may hold: defined
        // output (and in linear time, see bench/viewtext).
        QTest::newRow("false web starts")
            << QString(QStringLiteral("http://-").repeated(20000) + " http://ok.example")
            << QString(QStringLiteral("http://-").repeated(20000) + " " + Link("http://ok.example"));
        QTest::newRow("false mailto starts")
            << QString(QStringLiteral("(mailto:a").repeated(20000) + " mailto:b@ok.example")
            << QString(QStringLiteral("(mailto:a").repeated(20000) + " " + Link("mailto:b@ok.example"));
    }

    void links()
    {
        QFETCH(QString, text);
        QFETCH(QString, html);
        QCOMPARE(TextToHtml(text), html + QLatin1Char('\n'));
    }

    void quotedLinesAreMuted()
    {
        const QString html = TextToHtml(u"Hi\r\n> you wrote\r\n>> earlier http://x.example\r\n > not a quote\r\n");
        QCOMPARE(html, QStringLiteral("Hi\n<span class=\"q\">&gt; you wrote</span>\n<span class=\"q\">&gt;&gt; earlier ")
                           + Link("http://x.example") + QStringLiteral("</span>\n &gt; not a quote\n"));
    }

    void linesKeepTheirBreaks()
    {
        QCOMPARE(TextToHtml(u"a\n\nb"), QStringLiteral("a\n\nb\n"));
        QCOMPARE(TextToHtml(u"trailing blank \r\nline"), QStringLiteral("trailing blank \nline\n"));
        QCOMPARE(TextToHtml(u""), QString());
    }

    void flowed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("delSp");
        QTest::addColumn<QString>("html");
        QTest::newRow("soft breaks join") << "This is \r\none para.\r\nNext.\r\n" << false << "This is one para.\nNext.\n";
        QTest::newRow("delsp takes the space") << "Verylong\xc2\xad \r\nword\r\n" << true
                                               << QString::fromUtf8("Verylong\xc2\xadword\n");
        QTest::newRow("space-stuffing removed") << " From me \r\n >x\r\n" << false << "From me &gt;x\n";
        QTest::newRow("quoted paragraph")
            << "> quoted \r\n> text\r\nreply\r\n" << false
            << "<span class=\"q\">&gt; quoted text</span>\nreply\n";
        QTest::newRow("depth change ends the paragraph")
            << ">> deep \r\n> shallow\r\n" << false
            << "<span class=\"q\">&gt;&gt; deep </span>\n<span class=\"q\">&gt; shallow</span>\n";
        QTest::newRow("signature separator never flows") << "text\r\n-- \r\nJo\r\n" << false << "text\n-- \nJo\n";
        QTest::newRow("last line soft") << "end \r\n" << false << "end \n";
        QTest::newRow("address across a soft break")
            << "see http://x.example/a/ \r\nthen\r\n" << false << "see " + Link("http://x.example/a/") + " then\n";
        QTest::newRow("empty lines are paragraphs") << "a\r\n\r\nb\r\n" << false << "a\n\nb\n";
    }

    void flowed()
    {
        QFETCH(QString, text);
        QFETCH(bool, delSp);
        QFETCH(QString, html);
        QCOMPARE(TextToHtml(text, {true, delSp}), html);
    }

    void pageHasStyleAndNoScript()
    {
        const QString page = TextPageHtml(u"> q");
        QVERIFY(page.contains(QLatin1String(".q{color:")));
        QVERIFY(page.contains(QLatin1String("<pre><span class=\"q\">")));
        QVERIFY(!page.contains(QLatin1String("<script"), Qt::CaseInsensitive));
    }

    void textPartCharsetAndFormat()
    {
        auto part = [](const std::string& message) {
            auto m = std::make_unique<TMailMessage2000>();
            std::string data = message;
            m->ParseText(data, true);
            m->ScanParts();
            m->TextPart->Decode();
            return m;
        };
        {
            // "メール" in ISO-2022-JP has the byte of "<" in it: converted
            // before the markup, it survives.
            auto m = part("Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$B%a!<%k\x1b(B <tag>\r\n");
            QCOMPARE(TextBodyOf(*m->TextPart), QStringLiteral("\u30e1\u30fc\u30eb <tag>\r\n"));
            QCOMPARE(TextPageHtml(TextBodyOf(*m->TextPart)).count(QStringLiteral("&lt;")), 1);
        }
        {
            auto m = part("Content-Type: text/plain; charset=koi8-r\r\n\r\n\xf0\xd2\xc9\xd7\xc5\xd4\r\n");
            QCOMPARE(TextBodyOf(*m->TextPart), QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442\r\n"));
        }
        {
            // No charset: UTF-8 when it is, else windows-1252 (a curly quote).
            auto m = part("Content-Type: text/plain\r\n\r\ncaf\xc3\xa9\r\n");
            QCOMPARE(TextBodyOf(*m->TextPart), QStringLiteral("caf\u00e9\r\n"));
            auto w = part("Content-Type: text/plain; charset=x-unknown\r\n\r\n\x93q\x94\r\n");
            QCOMPARE(TextBodyOf(*w->TextPart), QStringLiteral("\u201cq\u201d\r\n"));
        }
        {
            auto m = part("Content-Type: text/plain; charset=utf-8; format=\"Flowed\"; DelSp=Yes\r\n\r\nx\r\n");
            const TTextFormat f = TextFormatOf(*m->TextPart);
            QVERIFY(f.flowed);
            QVERIFY(f.delSp);
            auto fixed = part("Content-Type: text/plain; delsp=yes\r\n\r\nx\r\n");
            QVERIFY(!TextFormatOf(*fixed->TextPart).flowed);
            QVERIFY(!TextFormatOf(*fixed->TextPart).delSp);
        }
    }
};

QTEST_APPLESS_MAIN(TextToHtmlTest)
#include "TextToHtmlTest.moc"
