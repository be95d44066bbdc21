// The window's security bar and the attachments list on signed and
// encrypted messages, made with throwaway keys in a GnuPG home of the
// test's own: the right words and colour for each case, the bar gone for
// a message that is neither, the signature marked in the list.
#include "SecurityBar.h"
#include "TAttachmentsform.h"
#include "TForm1.h"

#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class SecurityBarTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(QProcess::execute(QStringLiteral("python3"),
                                   {QStringLiteral(CORVANTA_SOURCE "/tests/crypto/make_secure_mail.py"), m_dir.path()}),
                 0);
        qputenv("GNUPGHOME", QFile::encodeName(m_dir.filePath(QStringLiteral("gnupg"))));
    }
    void cleanupTestCase()
    {
        for (const char* home : {"gnupg", "other"}) {
            QProcess kill;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("GNUPGHOME"), m_dir.filePath(QString::fromLatin1(home)));
            kill.setProcessEnvironment(env);
            kill.start(QStringLiteral("gpgconf"), {QStringLiteral("--kill"), QStringLiteral("all")});
            kill.waitForFinished();
        }
    }

    void barShowsEachCase_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("look");
        QTest::addColumn<QString>("words");
        using L = TSecurityBar::TLook;
        QTest::newRow("good") << "pgp-good.eml" << int(L::Good) << "Signed by Alice Example <alice@example.org>";
        QTest::newRow("changed") << "pgp-changed.eml" << int(L::Warning) << "BAD signature";
        QTest::newRow("expired") << "pgp-expired.eml" << int(L::Warning) << "has expired";
        QTest::newRow("unknown key") << "pgp-unknown-key.eml" << int(L::Notice) << "is not here";
        QTest::newRow("untrusted") << "pgp-untrusted.eml" << int(L::Notice) << "not certified";
        QTest::newRow("other sender") << "pgp-other-from.eml" << int(L::Notice) << "is not the From address";
        QTest::newRow("no key") << "pgp-wrong-recipient.eml" << int(L::Notice) << "to keys that are not here";
        QTest::newRow("encrypted") << "pgp-encrypted.eml" << int(L::Good) << "decrypted with your key";
        // Anyone may encrypt to the reader: not green without a signature.
        QTest::newRow("encrypted, unsigned") << "pgp-encrypted-unsigned.eml" << int(L::Notice) << "decrypted with your key";
        QTest::newRow("s/mime") << "smime-good.eml" << int(L::Good) << "certificate is trusted";
    }
    void barShowsEachCase()
    {
        QFETCH(QString, file);
        QFETCH(int, look);
        QFETCH(QString, words);
        TForm1 form(m_dir.filePath(QStringLiteral("mail/") + file));
        form.ShowNotices = false;
        form.show();
        form.FormActivate();
        QVERIFY(form.SecurityBar->isVisible());
        QCOMPARE(int(form.SecurityBar->Look()), look);
        QVERIFY2(form.SecurityBar->Text().contains(words), qPrintable(form.SecurityBar->Text()));
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
    }

    void barGoesForAPlainMessageAndSignatureIsMarked()
    {
        const QString path = m_dir.filePath(QStringLiteral("shown.eml"));
        QFile::copy(m_dir.filePath(QStringLiteral("mail/pgp-good.eml")), path);
        TForm1 form(path);
        form.show();
        form.FormActivate();
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
        QVERIFY(form.SecurityBar->isVisible());

        TAttachmentsform list;
        list.MailMessage = &form.MailMessage20001;
        list.FormShow();
        QCOMPARE(list.attachments->count(), 2);
        QVERIFY(list.attachments->item(0)->text().startsWith(QStringLiteral("notes.txt  (")));
        QVERIFY(list.attachments->item(1)->text().startsWith(QStringLiteral("signature.asc (the message's signature)")));

        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("From: a@x\r\nSubject: plain\r\n\r\nnot signed, and a little longer\r\n");
        file.close();
        form.FormActivate();
        QVERIFY(!form.SecurityBar->isVisible());
        QVERIFY(form.Security.Empty());
        QTRY_VERIFY_WITH_TIMEOUT(!form.IsLoading(), 30000);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(SecurityBarTest)
#include "SecurityBarTest.moc"
