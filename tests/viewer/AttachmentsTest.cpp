// The attachments window, headless, with its dialogs and the desktop opener
// replaced by the test.
#include "EngineError.h"
#include "MimeTypes.h"
#include "TAttachmentsform.h"
#include "TQuickMessage.h"

#include <QFileDialog>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const char* const kMessage =
    "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
    "--m\r\nContent-Type: text/plain\r\n\r\nthe body\r\n"
    "--m\r\nContent-Type: multipart/related; boundary=r\r\n\r\n"
    "--r\r\nContent-Type: text/html\r\n\r\n<img src=cid:i>\r\n"
    "--r\r\nContent-Type: image/png; name=embedded.png\r\nContent-ID: <i>\r\n\r\nPNG\r\n--r--\r\n"
    "--m\r\nContent-Type: application/pdf; name=report.pdf\r\nContent-Transfer-Encoding: base64\r\n\r\n"
    "JVBERi0xLjQ=\r\n"
    "--m\r\nContent-Type: application/octet-stream; name=\"../../escape\"\r\n\r\nESCAPE\r\n"
    "--m\r\nContent-Type: text/plain; name=readme\r\n\r\nread me\r\n"
    "--m\r\nContent-Type: application/octet-stream; name=\"a\x01" "b.bin\"\r\n\r\nCTRL\r\n--m--\r\n";

void Load(TMailMessage2000& m, const char* text)
{
    std::string buffer(text);
    m.ParseText(buffer, true);
    m.RebuildStructure(0);
    m.ScanParts();
}

QByteArray Read(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

class AttachmentsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    TMailMessage2000 m_message;
    QStringList m_dialogAnswer;
    QString m_dialogStart, m_dialogFileName;
    QList<QUrl> m_opened;

    std::unique_ptr<TAttachmentsform> Form()
    {
        auto form = std::make_unique<TAttachmentsform>();
        form->ViewOnly = true;
        form->MailMessage = &m_message;
        form->ExecDialog = [this](QFileDialog* d) {
            m_dialogStart = d->directory().absolutePath();
            m_dialogFileName = d->selectedFiles().value(0);
            return m_dialogAnswer;
        };
        form->Opener = [this](const QUrl& url) {
            m_opened << url;
            return true;
        };
        form->FormShow();
        return form;
    }

    QString Setting(const QString& key)
    {
        return QSettings(TAttachmentsform::SettingsFileName(), QSettings::IniFormat).value(key).toString();
    }

private slots:
    void initTestCase()
    {
        SetMimeTypesPath(CORVANTA_TEST_DATA "/mime.types");
        TAttachmentsform::SetSettingsFileName(m_dir.filePath(QStringLiteral("corvanta.ini")));
        Load(m_message, kMessage);
    }

    void init()
    {
        m_opened.clear();
        m_dialogAnswer.clear();
    }

    void listsOnlyRealAttachmentsAndCaptions()
    {
        auto form = Form();
        QStringList rows;
        for (int i = 0; i < form->attachments->count(); ++i)
            rows << form->attachments->item(i)->text();
        QCOMPARE(rows, (QStringList{"report.pdf", ".._.._escape", "readme.txt", "a_b.bin"}));
        QCOMPARE(form->attachments->currentRow(), -1);
        QCOMPARE(form->AttachmentOfRow(0)->GetFileName(), std::string("report.pdf"));
        QVERIFY(!form->Selectbut->isEnabled() && !form->RemBut->isEnabled());
        QCOMPARE(form->windowTitle(), QStringLiteral("Corvanta by TelmossaAttached Files"));
        QCOMPARE(form->CloseBut->text(), QStringLiteral("Close this Window"));
        QCOMPARE(form->size(), QSize(383, 277));
    }

    void saveWritesSelectedRowsIntoTheChosenFolder()
    {
        auto form = Form();
        QTemporaryDir target;
        form->attachments->item(0)->setSelected(true);
        form->attachments->item(1)->setSelected(true);
        m_dialogAnswer = {target.filePath(QStringLiteral("whatever the user typed"))};
        form->Savethisfile1Click();
        QCOMPARE(Read(target.filePath(QStringLiteral("report.pdf"))), QByteArray("%PDF-1.4"));
        QCOMPARE(Read(target.filePath(QStringLiteral(".._.._escape"))), QByteArray("ESCAPE"));
        QCOMPARE(QDir(target.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        QCOMPARE(m_dialogFileName.section(QLatin1Char('/'), -1), QStringLiteral("Select the Destination Folder"));
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), target.path() + QLatin1Char('/'));

        // The next dialog starts where the last save went.
        form->attachments->clearSelection();
        form->attachments->item(3)->setSelected(true);
        form->Savethisfile1Click();
        QCOMPARE(m_dialogStart, target.path());
        QCOMPARE(Read(target.filePath(QStringLiteral("a_b.bin"))), QByteArray("CTRL"));

        // Nothing selected: no dialog, and an empty folder is remembered.
        form->attachments->clearSelection();
        m_dialogStart.clear();
        form->Savethisfile1Click();
        QVERIFY(m_dialogStart.isEmpty());
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), QString());
        // ... and a folder that does not exist here starts at home.
        form->attachments->item(0)->setSelected(true);
        m_dialogAnswer.clear(); // cancelled
        form->Savethisfile1Click();
        QCOMPARE(m_dialogStart, QDir::homePath());
    }

    void longNamesStayInsideTheFolder()
    {
        TMailMessage2000 m;
        const std::string longName(300, 'n');
        Load(m, ("Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: application/zip; name=\"/" + longName
                 + "\"\r\n\r\nZ\r\n--m\r\nContent-Type: application/zip; name=\"..\"\r\n\r\nD\r\n--m--\r\n")
                 .c_str());
        auto form = std::make_unique<TAttachmentsform>();
        form->MailMessage = &m;
        form->ExecDialog = [&](QFileDialog*) { return m_dialogAnswer; };
        form->FormShow();
        QTemporaryDir outer;
        QDir(outer.path()).mkdir(QStringLiteral("inside"));
        m_dialogAnswer = {outer.filePath(QStringLiteral("inside/x"))};
        form->attachments->selectAll();
        form->Savethisfile1Click();
        const QStringList written = QDir(outer.filePath(QStringLiteral("inside"))).entryList(QDir::Files);
        QCOMPARE(written.size(), 2);
        for (const QString& name : written)
            QVERIFY(name.size() <= 254);
        QCOMPARE(QDir(outer.path()).entryList(QDir::Files).size(), 0);
    }

    void failedSaveBeepsKeepsEarlierFilesAndRemembersTheFolder()
    {
        auto form = Form();
        QTemporaryDir target;
        const QString folder = geteuid() == 0 ? target.filePath(QStringLiteral("missing")) : target.path();
        if (geteuid() != 0)
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        form->attachments->item(0)->setSelected(true);
        m_dialogAnswer = {folder + QStringLiteral("/x")};
        QVERIFY_THROWS_EXCEPTION(EMailError, form->Savethisfile1Click());
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), folder + QLatin1Char('/'));
        QFile::setPermissions(target.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void executeRunWritesIntoAPrivateFolderAndOpensIt()
    {
        auto form = Form();
        form->attachments->setCurrentRow(2); // "readme": no extension, so .txt
        form->ExecuteRun1Click();
        QCOMPARE(m_opened.size(), 1);
        const QString path = m_opened[0].toLocalFile();
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("readme.txt"));
        QCOMPARE(QFileInfo(path).absolutePath(), form->LastOpenFolder());
        QCOMPARE(QFileInfo(form->LastOpenFolder()).permissions() & 0x0077, QFileDevice::Permissions());
        QVERIFY(QFileInfo(form->LastOpenFolder()).absolutePath() != QDir::currentPath());
        QCOMPARE(Read(path), QByteArray("read me"));

        // No current row: row 0; a second run never touches the first file.
        form->attachments->setCurrentRow(-1);
        form->attachmentsDblClick();
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(QFileInfo(m_opened[1].toLocalFile()).fileName(), QStringLiteral("report.pdf"));
        QCOMPARE(Read(path), QByteArray("read me"));
        QDir(QFileInfo(path).absolutePath()).removeRecursively();
        QDir(QFileInfo(m_opened[1].toLocalFile()).absolutePath()).removeRecursively();
    }

    void executeRunOnAnEmptyListOnlyFails()
    {
        TMailMessage2000 empty;
        auto form = std::make_unique<TAttachmentsform>();
        form->MailMessage = &empty;
        form->Opener = [this](const QUrl& url) {
            m_opened << url;
            return true;
        };
        form->FormShow();
        QVERIFY_THROWS_EXCEPTION(EMailError, form->ExecuteRun1Click());
        QVERIFY(m_opened.isEmpty());
    }

    void editModeAddsAndRemoves()
    {
        TMailMessage2000 m;
        Load(m, "Content-Type: text/plain\r\n\r\nhello\r\n");
        auto form = std::make_unique<TAttachmentsform>();
        form->MailMessage = &m;
        QTemporaryDir files;
        auto make = [&](const char* name, const QByteArray& data) {
            const QString p = files.filePath(QString::fromLatin1(name));
            QFile f(p);
            f.open(QIODevice::WriteOnly);
            f.write(data);
            return p;
        };
        form->ExecDialog = [&](QFileDialog*) {
            return QStringList{make("one.dat", "1"), files.filePath(QStringLiteral("gone.dat")), make("two.dat", "22")};
        };
        form->FormShow();
        QVERIFY(form->Selectbut->isEnabled());
        form->SelectbutClick();
        if (QuickMessage)
            QuickMessage->close();
        QCOMPARE(form->attachments->count(), 2);
        QCOMPARE(m.AttachList.Count(), 2u);
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachPath")), files.path() + QLatin1Char('/'));

        form->attachments->item(0)->setSelected(true);
        form->RemButClick();
        QCOMPARE(form->attachments->count(), 1);
        QCOMPARE(m.AttachList.Count(), 1u);
        m.AttachList.Items(0)->Decode();
        QCOMPARE(m.AttachList.Items(0)->Decoded, std::string("22"));
        QVERIFY(form->attachments->isEnabled());
    }
};

QTEST_MAIN(AttachmentsTest)
#include "AttachmentsTest.moc"
