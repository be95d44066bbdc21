// The real engine, headless: a message's HTML with its cid: image, a script
// that must not run, a text body in ISO-8859-1, the busy state, remote
// content blocked until asked for, and the page's context menu.
#include "TEmbeddedWB.h"
#include "TForm1.h"
#include "TQtWebEngine.h"
#include "TestFiles.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QtTest>

namespace {

// A 4x4 PNG, all pure red.
QByteArray RedPng()
{
    QImage img(4, 4, QImage::Format_RGB32);
    img.fill(QColor(255, 0, 0));
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "PNG");
    return data;
}

QString PlainText(QWebEnginePage* page)
{
    QString text;
    bool done = false;
    page->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    QDeadlineTimer deadline(10000);
    while (!done && !deadline.hasExpired())
        QTest::qWait(20);
    return text;
}

int CountColor(const QImage& img, QRgb color)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) == (color & 0xFFFFFF);
    return n;
}

// A web server on 127.0.0.1 that counts the requests for each path and
// answers each with a small body. It lives as long as the test that made it.
class CountingServer : public QObject {
public:
    QHash<QString, int> Requests;

    CountingServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Answer(socket); });
            }
        });
    }
    [[nodiscard]] QString Url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(QLatin1String(path));
    }
    [[nodiscard]] int Total() const
    {
        int n = 0;
        for (int v : Requests)
            n += v;
        return n;
    }

private:
    void Answer(QTcpSocket* socket)
    {
        const QByteArray request = socket->readAll();
        const QByteArray path = request.split(' ').value(1);
        if (path.isEmpty())
            return;
        ++Requests[QString::fromLatin1(path.mid(1))];
        QByteArray type = "text/plain", body = "x";
        if (path.endsWith(".png")) {
            type = "image/png";
            body = RedPng();
        } else if (path.endsWith(".css")) {
            type = "text/css";
            body = "body{background:#00ff00}";
        }
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: "
                      + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
};

} // namespace

class BrowserEngineTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QString Write(const char* name, const QByteArray& data) { return WriteTestFile(m_dir, name, data); }

    // Shows a host with the viewer's flags and loads path into it.
    void Show(TEmbeddedWB& wb, const QString& path)
    {
        wb.SetDownloadOptions({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
                               TDownloadControlOption::DLCTL_BGSOUNDS, TDownloadControlOption::DLCTL_NO_SCRIPTS,
                               TDownloadControlOption::DLCTL_NO_JAVA, TDownloadControlOption::DLCTL_NO_RUNACTIVEXCTLS,
                               TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS});
        wb.resize(400, 300);
        wb.show();
        QSignalSpy idle(&wb, &TEmbeddedWB::BusyChanged);
        wb.NavigateUrl(path);
        QVERIFY(wb.IsBusy());
        QTRY_VERIFY_WITH_TIMEOUT(!wb.IsBusy(), 30000);
        QVERIFY(!idle.isEmpty());
    }

private slots:
    void relatedMessageShowsItsCidImage()
    {
        const QByteArray png = RedPng().toBase64();
        const QString path = Write("related.eml",
            "Content-Type: multipart/related; boundary=r\r\n\r\n"
            "--r\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
            "<html><body style='margin:0;background:#fff'><img src='cid:pic@x' width=120 height=80></body></html>\r\n"
            "--r\r\nContent-Type: image/png\r\nContent-ID: <pic@x>\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            + png + "\r\n--r--\r\n");
        TEmbeddedWB wb;
        Show(wb, path);
        auto* engine = static_cast<TQtWebEngine*>(wb.Engine());
        QTRY_COMPARE_WITH_TIMEOUT(engine->ServedRequests().value(QStringLiteral("cid:pic@x")), 1, 10000);
        QVERIFY(wb.Engine()->HasDocument());
        // The image is drawn: a block of red the size of the <img>.
        QTRY_VERIFY_WITH_TIMEOUT(CountColor(wb.grab().toImage(), qRgb(255, 0, 0)) >= 120 * 80 * 9 / 10, 10000);

        // The window hands the page the message it parsed itself: the same
        // page, the same image.
        TForm1 form(path);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(!form.Edit2->text().isEmpty() && !form.IsLoading(), 30000); // the fields are filled
        auto* formEngine = static_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine());
        QTRY_COMPARE_WITH_TIMEOUT(formEngine->ServedRequests().value(QStringLiteral("cid:pic@x")), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(CountColor(form.EmbeddedWB1->grab().toImage(), qRgb(255, 0, 0)) >= 120 * 80 * 9 / 10,
                                 10000);
    }

    void scriptsInAMessageNeverRun()
    {
        const QString path = Write("script.eml",
            "Content-Type: text/html\r\n\r\n"
            "<html><head><title>quiet</title></head><body style='margin:0;background:#fff'>"
            "<div id=d style='width:200px;height:100px'></div>"
            "<img src=x onerror=\"document.title='pwned'\">"
            "<script>document.title='pwned';document.getElementById('d').style.background='#00f';</script>"
            "</body></html>\r\n");
        TEmbeddedWB wb;
        Show(wb, path);
        auto* engine = static_cast<TQtWebEngine*>(wb.Engine());
        QTest::qWait(300);
        QCOMPARE(engine->View()->page()->title(), QStringLiteral("quiet"));
        QCOMPARE(CountColor(wb.grab().toImage(), qRgb(0, 0, 255)), 0);
    }

    void textBodyInIso88591ShowsItsCharacters()
    {
        const QString path = Write("latin1.eml",
            "Subject: x\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\nCaf=E9 cr=E8me <b>not bold</b> & co\r\n");
        TEmbeddedWB wb;
        Show(wb, path);
        const QString text = PlainText(static_cast<TQtWebEngine*>(wb.Engine())->View()->page());
        QVERIFY2(text.contains(QStringLiteral("Caf\u00e9 cr\u00e8me <b>not bold</b> & co")), qPrintable(text));
    }

    void messageWithoutBodiesIsAnEmptyPage()
    {
        const QString path = Write("empty.eml", "Subject: nothing\r\nContent-Type: application/pdf\r\n\r\n%PDF\r\n");
        TEmbeddedWB wb;
        Show(wb, path);
        QCOMPARE(PlainText(static_cast<TQtWebEngine*>(wb.Engine())->View()->page()).trimmed(), QString());
    }

    void remoteContentLoadsOnlyWhenAskedFor()
    {
        CountingServer server;
        const QByteArray html =
            "<html><head><link rel=stylesheet href='" + server.Url("style.css").toLatin1() + "'>"
            "<script src='" + server.Url("script.js").toLatin1() + "'></script>"
            "<style>@font-face{font-family:F;src:url(" + server.Url("font.woff").toLatin1() + ")}"
            "p{font-family:F}</style></head><body>"
            "<p>Remote test</p><img src='" + server.Url("pixel.png").toLatin1() + "' width=50 height=50>"
            "<iframe src='" + server.Url("frame.html").toLatin1() + "'></iframe>"
            "<form action='" + server.Url("submit").toLatin1() + "'><input name=q></form></body></html>";
        const QString path = Write("remote.eml", "Subject: remote\r\nContent-Type: text/html\r\n\r\n" + html + "\r\n");
        TForm1 form(path);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(form.RemoteContentBar->isVisible(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
        QTest::qWait(300);
        QCOMPARE(server.Total(), 0); // nothing reached the network

        form.RemoteContentButton->click();
        QVERIFY(!form.RemoteContentBar->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(server.Requests.value(QStringLiteral("pixel.png")) >= 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(server.Requests.value(QStringLiteral("style.css")) >= 1, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!form.EmbeddedWB1->IsBusy(), 30000);
        QTest::qWait(300);
        // Scripts and frames stay off, forms never submit.
        QCOMPARE(server.Requests.value(QStringLiteral("script.js")), 0);
        QCOMPARE(server.Requests.value(QStringLiteral("frame.html")), 0);
        QCOMPARE(server.Requests.value(QStringLiteral("submit")), 0);

        // For this message only: a new load blocks again.
        const int before = server.Total();
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write("\r\n");
        f.close();
        form.FormActivate();
        QTRY_VERIFY_WITH_TIMEOUT(form.RemoteContentBar->isVisible(), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
        QTest::qWait(300);
        QCOMPARE(server.Total(), before);
    }

    // A picture, a background and a style sheet the message carries under a
    // web address (a page sent whole) are shown from the message, with the
    // background the style sheet names: nothing goes to those addresses, and
    // there is nothing remote to ask about.
    void partsAtWebAddressesComeFromTheMessage()
    {
        CountingServer server;
        const QByteArray url = server.Url("pics/red.png").toLatin1();
        const QByteArray tile = server.Url("pics/tile.png").toLatin1();
        const QByteArray css = server.Url("style.css").toLatin1();
        const QByteArray box = "style='display:inline-block;width:120px;height:80px;vertical-align:top";
        const QString path = Write("webpage.eml",
            "Subject: page\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
            "--r\r\nContent-Type: text/html\r\n\r\n"
            "<html><head><link rel='stylesheet' href='" + css + "'></head>"
            "<body style='margin:0;background:#fff'><img src='" + url + "' width=120 height=80>"
            "<div " + box + ";background-image:url(\"" + tile + "\")'></div>"
            "<div class='x' " + box + "'></div></body></html>\r\n"
            "--r\r\nContent-Type: text/css\r\nContent-Location: " + css + "\r\n\r\n"
            ".x { background: url(pics/red.png) }\r\n"
            "--r\r\nContent-Type: image/png\r\nContent-Location: " + url + "\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            + RedPng().toBase64() + "\r\n"
            "--r\r\nContent-Type: image/png\r\nContent-Location: " + tile + "\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            + RedPng().toBase64() + "\r\n--r--\r\n");
        TForm1 form(path);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(!form.Edit2->text().isEmpty() && !form.IsLoading(), 30000); // the fields are filled
        QTRY_VERIFY_WITH_TIMEOUT(
            CountColor(form.EmbeddedWB1->grab().toImage(), qRgb(255, 0, 0)) >= 3 * 120 * 80 * 9 / 10, 10000);
        QVERIFY(!form.RemoteContentBar->isVisible());
        QCOMPARE(server.Total(), 0);
    }

    void contextMenuHasCopyAndSelectAll()
    {
        const QString path = Write("menu.eml", "Content-Type: text/html\r\n\r\n<p>Some words</p>"
                                               "<a href='https://example.org/'>a link</a>\r\n");
        TEmbeddedWB wb;
        Show(wb, path);
        auto* view = static_cast<TQtWebEngine*>(wb.Engine())->View();
        emit view->customContextMenuRequested(QPoint(5, 5));
        QMenu* menu = view->findChild<QMenu*>(QStringLiteral("PageContextMenu"));
        QVERIFY(menu);
        QStringList texts;
        for (QAction* a : menu->actions())
            if (!a->isSeparator())
                texts << a->text();
        QCOMPARE(texts.size(), 2); // no link under the mouse
        QVERIFY(menu->actions().contains(view->page()->action(QWebEnginePage::Copy)));
        QVERIFY(menu->actions().contains(view->page()->action(QWebEnginePage::SelectAll)));
        menu->close();

        // A host that answers the callback itself gets no menu from the engine.
        wb.OnShowContextMenu = [](unsigned, void*, void*, void*) { return HResult::S_OK; };
        QTRY_VERIFY(!view->findChild<QMenu*>(QStringLiteral("PageContextMenu")));
        emit view->customContextMenuRequested(QPoint(5, 5));
        QVERIFY(!view->findChild<QMenu*>(QStringLiteral("PageContextMenu")));
    }

    void htmlFilesAreNavigatedToDirectly()
    {
        QVERIFY(!TQtWebEngine::NamesMessageFile(QStringLiteral("/tmp/page.html")));
        QVERIFY(!TQtWebEngine::NamesMessageFile(QStringLiteral("https://example.org/")));
        QVERIFY(TQtWebEngine::NamesMessageFile(QStringLiteral("/tmp/message.eml")));
        QVERIFY(TQtWebEngine::NamesMessageFile(QStringLiteral("relative/no-extension")));
        const QString path = Write("page.html", "<html><body>direct page</body></html>");
        TEmbeddedWB wb;
        Show(wb, path);
        QVERIFY(PlainText(static_cast<TQtWebEngine*>(wb.Engine())->View()->page()).contains(QStringLiteral("direct page")));
    }
};

QTEST_MAIN(BrowserEngineTest)
#include "BrowserEngineTest.moc"
