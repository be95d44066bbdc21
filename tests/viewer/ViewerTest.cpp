// The viewer window, headless: header fields, the attachments button state,
// the empty state for every kind of unusable path, loading once, and closing
// or pressing buttons while a large message loads.
#include "EngineText.h"
#include "MessageStrings.h"
#include "MimeTypes.h"
#include "TForm1.h"
#include "TestImages.h"
#include "TPrintEngine.h"
#include "TQtWebEngine.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <csignal>

#include "TQuickMessage.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A short HTML body and an attachment of about megabytes MB in base64 lines.
QByteArray LargeMessage(int megabytes)
{
    QByteArray m = "From: Ann <ann@example.org>\r\nSubject: large\r\n"
                   "Content-Type: multipart/mixed; boundary=b\r\n\r\n"
                   "--b\r\nContent-Type: text/html\r\n\r\n<p>Large</p>\r\n"
                   "--b\r\nContent-Type: application/octet-stream; name=big.bin\r\n"
                   "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray line = QByteArray(76, 'Q') + "\r\n";
    const int lines = megabytes * (1 << 20) / 78;
    m.reserve(m.size() + lines * line.size() + 16);
    for (int i = 0; i < lines; ++i)
        m += line;
    m += "--b--\r\n";
    return m;
}

// Counts the loads (a parse starts with progress 0) and runs atStart once
// at the first progress report after the start of a load.
struct LoadWatch {
    int loads = 0;
    bool inLoad = false;
    std::function<void()> atStart;

    void Attach(TForm1& form)
    {
        TProgressEvent inner = form.MailMessage20001.OnProgress;
        form.MailMessage20001.OnProgress = [this, inner](TMailPart* sender, std::size_t total, std::size_t current) {
            if (current == 0)
                ++loads;
            inLoad = current < total;
            if (current > 0 && inLoad && atStart) {
                auto run = std::move(atStart);
                atStart = nullptr;
                run();
            }
            inner(sender, total, current);
            if (current == total)
                inLoad = false;
        };
    }
};

} // namespace

class ViewerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        SetMimeTypesPath(CORVANTA_TEST_DATA "/mime.types");
    }

    void showsTheFourFieldsOfTheSample()
    {
        TForm1 form(QStringLiteral(CORVANTA_SAMPLES "/welcome.eml"));
        form.show();
        form.FormActivate();
        QCOMPARE(form.Edit1->text(), DateTimeToStr(EncodeDateTime(2026, 12, 8, 8, 30, 0)));
        QCOMPARE(form.Edit2->text(), QStringLiteral("Corvanta Team (welcome@corvanta.example)"));
        QCOMPARE(form.Edit3->text(), QStringLiteral("Welcome to Corvanta \u2014 your quick e-mail viewer"));
        QCOMPARE(form.Edit4->text(), QStringLiteral("you@example.org,reader@example.org"));
        QVERIFY(form.kelColorButton1->isEnabled());
        QCOMPARE(form.kelColorButton1->Color(), QColor(253, 172, 83));
        // The parse fills the bar; the finished page empties it again.
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
        QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->minimum());
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvanta - Quick E-Mail Viewer"));
        QCOMPARE(form.Label4->text(), QStringLiteral("Subject"));
        QCOMPARE(form.kelColorButton1->Caption(), QStringLiteral("&Attachments"));
        QCOMPARE(form.BitBtn1->text(), QStringLiteral("&Close"));
    }

    void emptyStateForUnusablePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason"); // what the notice says; none without a file
        QTest::newRow("no argument") << QString() << QString();
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/dir/x.eml")
                                      << QStringLiteral("No such file or directory");
        QTest::newRow("directory") << QDir::tempPath() << QStringLiteral("Is a directory");
        m_dir.reset(new QTemporaryDir);
        const QString unreadable = m_dir->filePath(QStringLiteral("locked.eml"));
        QFile f(unreadable);
        f.open(QIODevice::WriteOnly);
        f.write("Subject: secret\r\n\r\nx\r\n");
        f.close();
        chmod(unreadable.toLocal8Bit().constData(), 0);
        if (geteuid() != 0) // root reads it anyway
            QTest::newRow("unreadable file") << unreadable << QStringLiteral("Permission denied");
    }

    // Empty fields (no first day of the calendar, no " ()"), and a notice
    // that names the file and the reason.
    void emptyStateForUnusablePaths()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        TForm1 form(path);
        form.show();
        form.FormActivate();
        QCOMPARE(form.Edit1->text(), QString());
        QCOMPARE(form.Edit2->text(), QString());
        QCOMPARE(form.LoadErrorBar->isVisible(), !reason.isEmpty());
        if (!reason.isEmpty()) {
            QCOMPARE(form.LoadError(), reason);
            QVERIFY2(form.LoadErrorLabel->text().contains(path), qPrintable(form.LoadErrorLabel->text()));
            QVERIFY(form.LoadErrorLabel->text().endsWith(reason));
        }
        QCOMPARE(form.Edit3->text(), QString());
        QCOMPARE(form.Edit4->text(), QString());
        QVERIFY(!form.kelColorButton1->isEnabled());
        QCOMPARE(form.kelColorButton1->Color(), QColor(192, 192, 192));
        QCOMPARE(form.kelColorButton1->HotColor(), QColor(192, 192, 192));
        // Flat grey with the mouse over it too: its caption stays.
        TkelColorButton* b = form.kelColorButton1;
        auto captionPixels = [b] { return DarkPixels(b->grab().toImage()); };
        const int normal = captionPixels();
        QVERIFY(normal > 20);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(b, &enter);
        QVERIFY(b->Hot());
        QCOMPARE(captionPixels(), normal);
    }

    void oddMessagesGiveDefinedFields()
    {
        QTemporaryDir dir;
        auto write = [&](const char* name, const QByteArray& data) {
            const QString p = dir.filePath(QString::fromLatin1(name));
            QFile f(p);
            f.open(QIODevice::WriteOnly);
            f.write(data);
            return p;
        };
        {
            TForm1 form(write("binary.eml", QByteArray("\x01\x02\xFF\x00\x03 binary", 12)));
            form.FormActivate();
            QCOMPARE(form.Edit3->text(), QString());
        }
        {
            TForm1 form(write("garbage.eml", "Date: no date at all\r\nFrom: <>\r\nSubject: \xE9t\xE9\r\n\r\n"));
            form.FormActivate();
            QCOMPARE(form.Edit2->text(), QStringLiteral(" ()"));
            QCOMPARE(form.Edit3->text(), QStringLiteral("\u00e9t\u00e9")); // not UTF-8: read as ISO-8859-1
            // A date that names no day is shown as written, not as the present moment.
            QCOMPARE(form.Edit1->text(), QStringLiteral("no date at all"));
        }
        {
            TForm1 form(write("april.eml", "Date: Mon, 31 Apr 2001 10:00:00 GMT\r\n\r\nx\r\n"));
            form.FormActivate();
            QCOMPARE(form.Edit1->text(), QStringLiteral("Mon, 31 Apr 2001 10:00:00 GMT"));
        }
        {
            // No date is no date, not the first day of the calendar.
            TForm1 form(write("undated.eml", "Subject: undated\r\n\r\nx\r\n"));
            form.FormActivate();
            QCOMPARE(form.Edit1->text(), QString());
        }
        {
            TForm1 form(write("quotes.eml", "From: \"\"\r\nTo: a@x\r\nDate: 1 Jan 2001 00:00:00 GMT\r\n\r\n"));
            form.FormActivate();
            QCOMPARE(form.Edit2->text(), QStringLiteral(" ()"));
            QCOMPARE(form.Edit1->text(), DateTimeToStr(EncodeDateTime(2001, 1, 1, 0, 0, 0)));
            QVERIFY(!form.Edit1->text().contains(QLatin1Char(':'))); // midnight: no time
            QVERIFY(!form.kelColorButton1->isEnabled());
        }
        {
            // Only embedded images: nothing to list, the button stays grey.
            TForm1 form(write("related.eml",
                              "Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n"
                              "<img src=cid:a>\r\n--r\r\nContent-Type: image/png\r\nContent-ID: <a>\r\n\r\nPNG\r\n--r--\r\n"));
            form.FormActivate();
            QVERIFY(!form.kelColorButton1->isEnabled());
        }
    }

    void activationReloadsOnlyAChangedFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("m.eml"));
        auto write = [&](const QByteArray& data) {
            QFile f(path);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            f.write(data);
        };
        write("Subject: first\r\n\r\nx\r\n");
        TForm1 form(path);
        LoadWatch watch;
        watch.Attach(form);
        // Shown without ever being activated: the load starts all the same.
        form.show();
        QTRY_COMPARE(form.Edit3->text(), QStringLiteral("first"));
        QCOMPARE(watch.loads, 1);
        form.FormActivate();
        form.FormActivate();
        QCOMPARE(watch.loads, 1); // unchanged on disk: nothing is parsed again

        write("Subject: second\r\nContent-Type: application/pdf\r\n\r\n%PDF\r\n");
        form.FormActivate();
        QCOMPARE(watch.loads, 2);
        QCOMPARE(form.Edit3->text(), QStringLiteral("second"));
        QVERIFY(form.kelColorButton1->isEnabled());

        // Replaced by another file of the same size: a new inode.
        const QString other = dir.filePath(QStringLiteral("other.eml"));
        QFile::copy(path, other);
        QFile::remove(path);
        QFile::rename(other, path);
        form.FormActivate();
        QCOMPARE(watch.loads, 3);

        QFile::remove(path); // a failed load keeps what was shown
        form.FormActivate();
        QCOMPARE(form.Edit3->text(), QStringLiteral("second"));
    }

    void closingDuringALoadClosesWhenItEnds()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.eml"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(LargeMessage(20));
        }
        QPointer<TForm1> form = new TForm1(path);
        form->setAttribute(Qt::WA_DeleteOnClose);
        LoadWatch watch;
        watch.Attach(*form);
        bool freedDuringLoad = false;
        connect(form, &QObject::destroyed, this, [&] { freedDuringLoad = watch.inLoad; });
        // The close comes from the event loop, as a click on Close does, while
        // the parse is on the stack.
        watch.atStart = [&] { QTimer::singleShot(0, form, [&] { form->BitBtn1->click(); }); };
        form->show();
        QTRY_VERIFY_WITH_TIMEOUT(form.isNull(), 60000);
        QVERIFY(!freedDuringLoad);
        QCOMPARE(watch.loads, 1);
    }

    void attachmentsAndActivationWaitForTheLoad()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.eml"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(LargeMessage(20));
        }
        TForm1 form(path);
        LoadWatch watch;
        watch.Attach(form);
        bool opened = false, openedDuringLoad = false;
        watch.atStart = [&] {
            QTimer::singleShot(0, &form, [&] {
                form.FormActivate(); // activation during the load: covered by it
                // The button is not enabled yet: the click waits, and opens the
                // window once the load has found the attachment.
                form.kelColorButton1click();
            });
        };
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                opened = true;
                openedDuringLoad = watch.inLoad;
                w->reject();
            }
        });
        closer.start(20);
        form.show();
        QTRY_VERIFY_WITH_TIMEOUT(opened, 60000);
        QVERIFY(!openedDuringLoad);
        QCOMPARE(watch.loads, 1);
    }

    void progressBarFollowsAClockNotEveryLine()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("large.eml"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(LargeMessage(20));
        }
        TForm1 form(path);
        int updates = 0;
        connect(form.ProgressBar1, &QProgressBar::valueChanged, this, [&] { ++updates; });
        QElapsedTimer clock;
        clock.start();
        form.FormActivate();
        const qint64 ms = clock.elapsed();
        // About 270000 lines; at most one update per 33 ms, and the end.
        QVERIFY2(updates <= 3 + ms / 30, qPrintable(QStringLiteral("%1 updates in %2 ms").arg(updates).arg(ms)));
        QCOMPARE(form.Edit3->text(), QStringLiteral("large"));
    }

    void headerFieldsInTheirDeclaredCharsets()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cs.eml"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("From: =?koi8-r?B?8NLJ18XU?= <ivan@example.ru>\r\n"
                    "To: =?iso-8859-2?Q?Pawe=B3?= <p@example.pl>\r\n"
                    "Subject: =?windows-1252?Q?=93Quoted=94_=80?=\r\n\r\nx\r\n");
        }
        TForm1 form(path);
        form.FormActivate();
        QCOMPARE(form.Edit2->text(), QString::fromUtf8("Привет (ivan@example.ru)"));
        QCOMPARE(form.Edit3->text(), QString::fromUtf8("“Quoted” €"));
        QCOMPARE(form.Edit4->text(), QStringLiteral("p@example.pl"));
    }

    // The renderer killed (as the system does when memory runs out): a bar
    // says so, a print says why it failed (also one already waiting for the
    // page), and the bar's button shows the page again.
    void aPageWhoseRendererEndsSaysSoAndLoadsAgain()
    {
        TForm1 form(QStringLiteral(CORVANTA_SAMPLES "/welcome.eml"));
        form.ShowNotices = false;
        form.show();
        form.FormActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
        auto* engine = static_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine());
        QWebEnginePage* page = engine->View()->page();
        auto killRenderer = [page] {
            const qint64 pid = page->renderProcessPid();
            QVERIFY(pid > 0);
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        };
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("p.pdf"));
        TPrintEngine::SetOutputFile(out);
        // Killed while the print waits for the page's answer.
        QTimer::singleShot(0, this, killRenderer);
        QElapsedTimer clock;
        clock.start();
        form.BitBtn2Click();
        QVERIFY(clock.elapsed() < 20000); // not the print's time limit
        QVERIFY2(form.EmbeddedWB1->LastPrintError().startsWith(QStringLiteral("the page stopped: its renderer ")),
                 qPrintable(form.EmbeddedWB1->LastPrintError()));
        QTRY_VERIFY_WITH_TIMEOUT(form.PageEndedBar->isVisible(), 10000);
        QCOMPARE(form.PageEndedLabel->text(), QStringLiteral("The page stopped: its renderer was killed (as when memory runs out)."));
        // Pressed again while the page is gone: at once the same answer.
        form.BitBtn2Click();
        QVERIFY(form.EmbeddedWB1->LastPrintError().startsWith(QStringLiteral("the page stopped")));
        QVERIFY(!QFileInfo::exists(out));

        QSignalSpy shown(&form, &TForm1::MessageShown);
        form.PageEndedButton->click();
        QVERIFY(!form.PageEndedBar->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 30000);
        QVERIFY(page->renderProcessPid() > 0);
        form.BitBtn2Click();
        TPrintEngine::SetOutputFile(QString());
        QVERIFY2(form.EmbeddedWB1->LastPrintError().isEmpty(), qPrintable(form.EmbeddedWB1->LastPrintError()));
        QVERIFY(QFileInfo(out).size() > 0);
    }

    void attachmentsButtonLookAndKeyboard()
    {
        TForm1 form(QStringLiteral(CORVANTA_SAMPLES "/welcome.eml"));
        form.show();
        form.FormActivate();
        TkelColorButton* b = form.kelColorButton1;
        QVERIFY(b->isEnabled());
        // Enabled after having been grey: its hot look is blue and yellow again.
        QCOMPARE(b->HotColor(), QColor(0, 128, 255));
        QCOMPARE(b->HotFontColor(), QColor(255, 255, 0));
        // Reached by Tab from the last field; Alt+A opens the window too.
        QCOMPARE(form.Edit4->nextInFocusChain(), static_cast<QWidget*>(b));
        QVERIFY(b->focusPolicy() & Qt::TabFocus);
        int opened = 0;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ++opened;
                w->reject();
            }
        });
        closer.start(20);
        form.activateWindow();
        QTRY_VERIFY(form.isActiveWindow());
        QTest::keyClick(&form, Qt::Key_A, Qt::AltModifier);
        QTRY_COMPARE(opened, 1);
        b->setFocus();
        QTest::keyClick(b, Qt::Key_Space);
        QTRY_COMPARE(opened, 2);

        // The application's icon, so the quick message shows it too.
        QVERIFY(!QApplication::windowIcon().isNull());
        TQuickMessage quick;
        QVERIFY(!quick.Image5->pixmap().isNull());
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(ViewerTest)
#include "ViewerTest.moc"
