// The viewer window, headless: header fields, the attachments button state
// and the empty state for every kind of unusable path.
#include "EngineText.h"
#include "MessageStrings.h"
#include "MimeTypes.h"
#include "TForm1.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

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
        QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
        QCOMPARE(form.windowTitle(), QStringLiteral("Corvanta - Quick E-Mail Viewer"));
        QCOMPARE(form.Label4->text(), QStringLiteral("Subject"));
        QCOMPARE(form.kelColorButton1->Caption(), QStringLiteral("Attachments"));
        QCOMPARE(form.BitBtn1->text(), QStringLiteral("&Close"));
    }

    void emptyStateForUnusablePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("no argument") << QString();
        QTest::newRow("missing file") << QStringLiteral("/nonexistent/dir/x.eml");
        QTest::newRow("directory") << QDir::tempPath();
        m_dir.reset(new QTemporaryDir);
        const QString unreadable = m_dir->filePath(QStringLiteral("locked.eml"));
        QFile f(unreadable);
        f.open(QIODevice::WriteOnly);
        f.write("Subject: secret\r\n\r\nx\r\n");
        f.close();
        chmod(unreadable.toLocal8Bit().constData(), 0);
        if (geteuid() != 0) // root reads it anyway
            QTest::newRow("unreadable file") << unreadable;
    }

    void emptyStateForUnusablePaths()
    {
        QFETCH(QString, path);
        TForm1 form(path);
        form.show();
        form.FormActivate();
        QCOMPARE(form.Edit1->text(), DateTimeToStr(0.0));
        QVERIFY(form.Edit1->text().contains(QStringLiteral("1899")) || form.Edit1->text().contains(QStringLiteral("99")));
        QCOMPARE(form.Edit2->text(), QStringLiteral(" ()"));
        QCOMPARE(form.Edit3->text(), QString());
        QCOMPARE(form.Edit4->text(), QString());
        QVERIFY(!form.kelColorButton1->isEnabled());
        QCOMPARE(form.kelColorButton1->Color(), QColor(192, 192, 192));
        QCOMPARE(form.kelColorButton1->HotColor(), QColor(192, 192, 192));
        QCOMPARE(form.kelColorButton1->HotFontColor(), QColor(192, 192, 192));
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

    void activationReloadsFromDisk()
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
        form.FormActivate();
        QCOMPARE(form.Edit3->text(), QStringLiteral("first"));
        write("Subject: second\r\nContent-Type: application/pdf\r\n\r\n%PDF\r\n");
        form.FormActivate();
        QCOMPARE(form.Edit3->text(), QStringLiteral("second"));
        QVERIFY(form.kelColorButton1->isEnabled());
        QFile::remove(path); // a failed load keeps what was shown
        form.FormActivate();
        QCOMPARE(form.Edit3->text(), QStringLiteral("second"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(ViewerTest)
#include "ViewerTest.moc"
