// The viewer window's keys, headless with the real engine: the find bar and
// its count, zoom and its memory in corvanta.ini, the source window, print,
// the close keys, links in text bodies and the address of the link under
// the mouse.
#include "FindBar.h"
#include "SourceWindow.h"
#include "TAttachmentsform.h"
#include "TForm1.h"
#include "TPrintEngine.h"
#include "TQtWebEngine.h"
#include "ViewCommands.h"
#include "TestFiles.h"

#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

namespace {

// Types as a person does: into whatever has the keyboard focus.
void Key(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target && target->window() == window ? target : window, key, modifiers);
}

// The widget of the page that takes the mouse and the keys.
QWidget* PageWidget(TForm1& form)
{
    auto* view = form.findChild<QWebEngineView*>();
    return view ? view->focusProxy() : nullptr;
}

} // namespace

class ViewCommandsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_ini;

    QString Write(const char* name, const QByteArray& data) { return WriteTestFile(m_dir, name, data); }

    // The window shown, active, its message loaded.
    bool Open(TForm1& form)
    {
        form.resize(640, 480);
        form.show();
        if (!QTest::qWaitForWindowActive(&form))
            return false;
        QDeadlineTimer deadline(30000);
        while (form.EmbeddedWB1->IsBusy() && !deadline.hasExpired())
            QTest::qWait(20);
        return form.ViewCommands1->Page() && form.ViewCommands1->Page()->url().isValid();
    }

    double IniZoom()
    {
        QSettings settings(m_ini, QSettings::IniFormat);
        return settings.value(QStringLiteral("Defaults/Zoom"), -1.0).toDouble();
    }

    QString TextMessage(const char* name, const QByteArray& body)
    {
        return Write(name, "From: a@example.org\r\nSubject: t\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body);
    }

private slots:
    // Each test starts without settings.
    void init()
    {
        m_ini = m_dir.filePath(QStringLiteral("%1.ini").arg(QString::fromLatin1(QTest::currentTestFunction())));
        TAttachmentsform::SetSettingsFileName(m_ini);
    }

    void findBarCountsAndEscapeClosesItThenTheWindow()
    {
        TForm1 form(TextMessage("find.eml", "apple pie, apple tart\r\nand one more Apple.\r\n"));
        QVERIFY(Open(form));
        TFindBar* bar = form.ViewCommands1->FindBar;
        QVERIFY(!bar->isVisible());
        Key(&form, Qt::Key_F, Qt::ControlModifier);
        QVERIFY(bar->isVisible());
        QVERIFY(bar->Edit->hasFocus());
        // Between the header fields and the page.
        QVERIFY(bar->geometry().top() >= form.Panel2->geometry().bottom());
        QVERIFY(bar->geometry().bottom() <= form.EmbeddedWB1->geometry().top());

        QTest::keyClicks(bar->Edit, QStringLiteral("apple"));
        QTRY_COMPARE_WITH_TIMEOUT(bar->Matches(), 3, 10000);
        QTRY_COMPARE(bar->Count->text(), QStringLiteral("1 of 3 matches"));
        Key(&form, Qt::Key_F3);
        QTRY_COMPARE(bar->ActiveMatch(), 2);
        Key(&form, Qt::Key_Return);
        QTRY_COMPARE(bar->ActiveMatch(), 3);
        Key(&form, Qt::Key_F3, Qt::ShiftModifier);
        QTRY_COMPARE(bar->ActiveMatch(), 2);
        bar->Edit->selectAll();
        QTest::keyClicks(bar->Edit, QStringLiteral("pear"));
        QTRY_COMPARE(bar->Count->text(), QStringLiteral("No matches"));

        Key(&form, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        QVERIFY(form.isVisible());
        // F3 with nothing to find opens the bar; Escape closes it again.
        bar->Edit->clear();
        Key(&form, Qt::Key_F3);
        QVERIFY(bar->isVisible());
        Key(&form, Qt::Key_Escape);
        QVERIFY(!bar->isVisible());
        Key(&form, Qt::Key_Escape);
        QVERIFY(!form.isVisible());
    }

    void zoomKeysAreRemembered()
    {
        {
            TForm1 form(TextMessage("zoom.eml", "zoom me\r\n"));
            QVERIFY(Open(form));
            QWebEnginePage* page = form.ViewCommands1->Page();
            QCOMPARE(page->zoomFactor(), 1.0);
            Key(&form, Qt::Key_Plus, Qt::ControlModifier);
            QCOMPARE(page->zoomFactor(), 1.1);
            QCOMPARE(IniZoom(), 1.1);
            Key(&form, Qt::Key_Equal, Qt::ControlModifier); // plus without Shift
            QCOMPARE(page->zoomFactor(), 1.25);
            for (int i = 0; i < 3; ++i)
                Key(&form, Qt::Key_Minus, Qt::ControlModifier);
            QCOMPARE(page->zoomFactor(), 0.9);
            QCOMPARE(IniZoom(), 0.9);
            // Each activation loads the message again; the zoom stays.
            form.FormActivate();
            QTRY_VERIFY(!form.EmbeddedWB1->IsBusy());
            QCOMPARE(page->zoomFactor(), 0.9);
        }
        {
            TForm1 form(TextMessage("zoom2.eml", "again\r\n"));
            QVERIFY(Open(form));
            QCOMPARE(form.ViewCommands1->Page()->zoomFactor(), 0.9); // from corvanta.ini
            Key(&form, Qt::Key_0, Qt::ControlModifier);
            QCOMPARE(form.ViewCommands1->Page()->zoomFactor(), 1.0);
            QCOMPARE(IniZoom(), 1.0);
        }
    }

    void zoomSettingsAndSteps()
    {
        // A new file each time: QSettings keeps what it read of a file that
        // seems unchanged (same size, same second).
        int files = 0;
        auto saved = [&](const QString& value) {
            m_ini = m_dir.filePath(QStringLiteral("steps%1.ini").arg(++files));
            TAttachmentsform::SetSettingsFileName(m_ini);
            QFile f(m_ini);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write("[Defaults]\nZoom=" + value.toUtf8() + "\nAttachPath=/keep/me\n");
            f.close();
            return TViewCommands::SavedZoom();
        };
        QCOMPARE(saved(QStringLiteral("1.5")), 1.5);
        QCOMPARE(saved(QStringLiteral("abc")), 1.0);
        QCOMPARE(saved(QStringLiteral("-2")), 1.0);
        QCOMPARE(saved(QStringLiteral("nan")), 1.0);
        QCOMPARE(saved(QStringLiteral("99")), 5.0);
        QCOMPARE(saved(QStringLiteral("0.1")), 0.25);
        QFile::remove(m_ini);
        QCOMPARE(TViewCommands::SavedZoom(), 1.0);

        QCOMPARE(TViewCommands::ZoomStep(1.0, 1), 1.1);
        QCOMPARE(TViewCommands::ZoomStep(1.05, 1), 1.1);
        QCOMPARE(TViewCommands::ZoomStep(1.05, -1), 1.0);
        QCOMPARE(TViewCommands::ZoomStep(5.0, 1), 5.0);
        QCOMPARE(TViewCommands::ZoomStep(0.25, -1), 0.25);

        // Zooming keeps the other settings of the file.
        saved(QStringLiteral("1"));
        TForm1 form(TextMessage("keep.eml", "x\r\n"));
        form.ViewCommands1->ZoomIn();
        QSettings settings(m_ini, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("Defaults/AttachPath")).toString(), QStringLiteral("/keep/me"));
        QCOMPARE(settings.value(QStringLiteral("Defaults/Zoom")).toDouble(), 1.1);
    }

    void ctrlWheelZoomIsRememberedAtClose()
    {
        TForm1 form(TextMessage("wheel.eml", "wheel\r\n"));
        QVERIFY(Open(form));
        QWidget* target = PageWidget(form);
        QVERIFY(target);
        const QPoint at(100, 100);
        for (int i = 0; i < 2; ++i) {
            QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &wheel);
        }
        QTRY_VERIFY_WITH_TIMEOUT(form.ViewCommands1->Page()->zoomFactor() > 1.0, 10000);
        QCOMPARE(IniZoom(), -1.0); // not yet
        const double zoom = form.ViewCommands1->Page()->zoomFactor();
        Key(&form, Qt::Key_W, Qt::ControlModifier);
        QVERIFY(!form.isVisible());
        QCOMPARE(IniZoom(), std::round(zoom * 100) / 100);
    }

    void sourceWindowOnCtrlU()
    {
        const QString path = TextMessage("source.eml", "the body\r\n");
        TForm1 form(path);
        QVERIFY(Open(form));
        int shown = 0;
        form.ViewCommands1->ExecSource = [&](TSourceWindow& window) {
            ++shown;
            QFile f(path);
            f.open(QIODevice::ReadOnly);
            QCOMPARE(window.Source().bytes, f.readAll());
            QCOMPARE(window.HeaderTable->rowCount(), 3);
            QCOMPARE(window.parentWidget(), &form);
        };
        Key(&form, Qt::Key_U, Qt::ControlModifier);
        QCOMPARE(shown, 1);
    }

    void printKeyPrintsAsTheButtonDoes()
    {
        TForm1 form(TextMessage("print.eml", "print me\r\n"));
        QVERIFY(Open(form));
        const QString out = m_dir.filePath(QStringLiteral("ctrl-p.pdf"));
        TPrintEngine::SetOutputFile(out);
        Key(&form, Qt::Key_P, Qt::ControlModifier);
        TPrintEngine::SetOutputFile(QString());
        QVERIFY(QFileInfo(out).size() > 0);
        QCOMPARE(form.EmbeddedWB1->PrintOptions.HTMLHeader.size(), 7); // the button's header block
    }

    void textLinksOpenInTheSystemBrowserAndShowTheirAddress()
    {
        TForm1 form(TextMessage("links.eml", "https://example.org/a-long-path-to-click\r\n"
                                             "> quoted javascript:alert(1) file:///etc/passwd\r\n"));
        QVERIFY(Open(form));
        form.ViewCommands1->ZoomReset();
        QList<QUrl> opened;
        static_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine())->OpenLink = [&](const QUrl& url) {
            opened << url;
            return true;
        };
        QWidget* target = PageWidget(form);
        QVERIFY(target);
        // The first line: below the block's margin of 13 px (the page's 8 px
        // fall together with it).
        const QPoint onLink(60, 20);
        QTest::mouseMove(target, QPoint(300, 200));
        QTest::mouseMove(target, onLink);
        QTRY_VERIFY_WITH_TIMEOUT(form.ViewCommands1->LinkStatus->isVisible(), 10000);
        QCOMPARE(form.ViewCommands1->LinkStatus->text(), QStringLiteral("https://example.org/a-long-path-to-click"));
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, onLink);
        QTRY_COMPARE_WITH_TIMEOUT(opened.size(), 1, 10000);
        QCOMPARE(opened[0], QUrl(QStringLiteral("https://example.org/a-long-path-to-click")));
        // Moving off the link takes the address away.
        QTest::mouseMove(target, QPoint(400, 300));
        QTRY_VERIFY_WITH_TIMEOUT(!form.ViewCommands1->LinkStatus->isVisible(), 10000);
    }

    void deceptiveLinkShowsWhereItGoes()
    {
        TForm1 form(Write("deceptive.eml",
                          "Content-Type: text/html\r\n\r\n<html><body style='margin:0'>"
                          "<a href='http://evil.example/login' style='font-size:40px'>https://bank.example/</a>"
                          "</body></html>\r\n"));
        QVERIFY(Open(form));
        form.ViewCommands1->ZoomReset();
        QWidget* target = PageWidget(form);
        QTest::mouseMove(target, QPoint(300, 200));
        QTest::mouseMove(target, QPoint(40, 20));
        QTRY_VERIFY_WITH_TIMEOUT(form.ViewCommands1->LinkStatus->isVisible(), 10000);
        QCOMPARE(form.ViewCommands1->LinkStatus->text(), QStringLiteral("http://evil.example/login"));
        // In the page's bottom-left corner.
        const QRect status = form.ViewCommands1->LinkStatus->geometry();
        QCOMPARE(status.left(), 0);
        QCOMPARE(status.bottom(), form.EmbeddedWB1->height() - 1);
    }
};

QTEST_MAIN(ViewCommandsTest)
#include "ViewCommandsTest.moc"
