// The attachments window, headless, in a home folder of its own, with its
// dialogs, openers and notices replaced by the test.
#include "DetachedProgram.h"
#include "EngineError.h"
#include "MimeTypes.h"
#include "TAttachmentsform.h"
#include "TQuickMessage.h"

#include <QAbstractItemModel>
#include <QFileDialog>
#include <QListWidget>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
    "--m\r\nContent-Type: application/octet-stream; name=\"a\x01" "b.bin\"\r\n\r\nCTRL\r\n"
    "--m\r\nContent-Type: text/plain; name=\"=?koi8-r?B?8NLJ18XU?=.txt\"\r\n\r\nkoi\r\n"
    "--m\r\nContent-Type: text/plain; name=.bashrc\r\n\r\nrm -rf ~\r\n"
    "--m\r\nContent-Type: text/plain; name=same.txt\r\n\r\none\r\n"
    "--m\r\nContent-Type: text/plain; name=same.txt\r\n\r\nsecond\r\n--m--\r\n";

enum Row { Report, Escape, Readme, Ctrl, Koi, Bashrc, Same1, Same2, RowCount };

void Load(TMailMessage2000& m, const std::string& text)
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

void Write(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QStringList Files(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

struct Notice {
    QString title, text;
    bool stays = false; // until the user closes it
};

} // namespace

class AttachmentsTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_home;
    TMailMessage2000 m_message;
    QString m_chosenFolder; // what the folder dialog answers; empty: cancel
    QString m_dialogTitle, m_dialogStart;
    QList<QUrl> m_opened;
    QStringList m_viewed;
    bool m_openerWorks = true;
    QList<Notice> m_notices;

    std::unique_ptr<TAttachmentsform> Form(TMailMessage2000* message = nullptr)
    {
        auto form = std::make_unique<TAttachmentsform>();
        form->ViewOnly = true;
        form->MailMessage = message ? message : &m_message;
        form->ChooseFolder = [this](const QString& title, const QString& start) {
            m_dialogTitle = title;
            m_dialogStart = start;
            return m_chosenFolder;
        };
        form->Opener = [this](const QUrl& url) {
            m_opened << url;
            return m_openerWorks;
        };
        form->OpenMessage = [this](const QString& path) {
            m_viewed << path;
            return true;
        };
        form->Notice = [this](const QString& title, const QString& text, bool stays) {
            m_notices << Notice{title, text, stays};
        };
        form->FormShow();
        return form;
    }

    QString Setting(const QString& key)
    {
        return QSettings(TAttachmentsform::SettingsFileName(), QSettings::IniFormat).value(key).toString();
    }

    QString NewFolder(const QString& name)
    {
        const QString path = m_home.filePath(name);
        QDir(path).removeRecursively();
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QLocale::setDefault(QLocale::c()); // sizes as "8 bytes" whatever the tester's locale
        qputenv("HOME", QFile::encodeName(m_home.path()));
        QDir().mkpath(m_home.filePath(QStringLiteral("run")));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.filePath(QStringLiteral("run"))));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".cache"))));
        SetMimeTypesPath(CORVANTA_TEST_DATA "/mime.types");
        TAttachmentsform::SetSettingsFileName(m_home.filePath(QStringLiteral("corvanta.ini")));
        Load(m_message, kMessage);
    }

    void init()
    {
        m_opened.clear();
        m_viewed.clear();
        m_notices.clear();
        m_openerWorks = true;
        m_chosenFolder.clear();
        m_dialogStart.clear();
    }

    void listsRealAttachmentsWithTheirSizesAndNamesInTheirCharsets()
    {
        auto form = Form();
        QStringList rows, names;
        for (int i = 0; i < form->attachments->count(); ++i) {
            rows << form->attachments->item(i)->text();
            names << form->FileNameOfRow(i);
        }
        // A path in a name gives its last component.
        QCOMPARE(names, (QStringList{"report.pdf", "escape", "readme.txt", "a_b.bin",
                                     QString::fromUtf8("Привет.txt"), ".bashrc", "same.txt", "same.txt"}));
        QCOMPARE(rows[Report], QStringLiteral("report.pdf  (8 bytes)"));
        // Two attachments of one name are told apart by their sizes.
        QCOMPARE(rows[Same1], QStringLiteral("same.txt  (3 bytes)"));
        QCOMPARE(rows[Same2], QStringLiteral("same.txt  (6 bytes)"));
        QCOMPARE(form->attachments->currentRow(), -1);
        QCOMPARE(form->AttachmentOfRow(Report)->GetFileName(), std::string("report.pdf"));
        QVERIFY(!form->Selectbut->isEnabled() && !form->RemBut->isEnabled());
        QCOMPARE(form->windowTitle(), QStringLiteral("Corvanta by TelmossaAttached Files"));
        QCOMPARE(form->CloseBut->text(), QStringLiteral("Close this Window"));
        QCOMPARE(form->size(), QSize(383, 277));
    }

    void saveNeverReplacesAFileAndReportsWhatItDid()
    {
        // The user's own files, of the names the sender chose.
        const QString home = m_home.path();
        Write(m_home.filePath(QStringLiteral(".bashrc")), "# mine\n");
        Write(m_home.filePath(QStringLiteral("report.pdf")), "my report");
        auto form = Form();
        form->attachments->item(Report)->setSelected(true);
        form->attachments->item(Bashrc)->setSelected(true);
        form->attachments->item(Koi)->setSelected(true);
        m_chosenFolder = home;
        form->Savethisfile1Click();
        QCOMPARE(m_dialogTitle, QStringLiteral("Select the Destination Folder"));
        QCOMPARE(Read(m_home.filePath(QStringLiteral(".bashrc"))), QByteArray("# mine\n"));
        QCOMPARE(Read(m_home.filePath(QStringLiteral("report.pdf"))), QByteArray("my report"));
        QCOMPARE(Read(m_home.filePath(QStringLiteral(".bashrc (2)"))), QByteArray("rm -rf ~"));
        QCOMPARE(Read(m_home.filePath(QStringLiteral("report (2).pdf"))), QByteArray("%PDF-1.4"));
        QCOMPARE(Read(m_home.filePath(QString::fromUtf8("Привет.txt"))), QByteArray("koi"));
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices[0].stays); // it names files saved under new names
        QCOMPARE(m_notices[0].title, QStringLiteral("Save to Disk"));
        QVERIFY2(m_notices[0].text.startsWith(QStringLiteral("3 files saved in ") + home), qPrintable(m_notices[0].text));
        QVERIFY(m_notices[0].text.contains(QStringLiteral("report (2).pdf")));
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), home + QLatin1Char('/'));

        // Saved again: a third name, never the second file.
        form->Savethisfile1Click();
        QCOMPARE(Read(m_home.filePath(QStringLiteral("report (2).pdf"))), QByteArray("%PDF-1.4"));
        QVERIFY(QFileInfo::exists(m_home.filePath(QStringLiteral("report (3).pdf"))));
        // A dangling link of the name is not followed either.
        const QString elsewhere = m_home.filePath(QStringLiteral("elsewhere.txt"));
        const QString folder = NewFolder(QStringLiteral("links"));
        QVERIFY(QFile::link(elsewhere, folder + QStringLiteral("/readme.txt")));
        form->attachments->clearSelection();
        form->attachments->item(Readme)->setSelected(true);
        m_chosenFolder = folder;
        form->Savethisfile1Click();
        QVERIFY(!QFileInfo::exists(elsewhere));
        QCOMPARE(Read(folder + QStringLiteral("/readme (2).txt")), QByteArray("read me"));
    }

    // The notice as the user gets it: above the attachments window (its
    // own, not a hidden leader's), waiting for the user when it names new
    // names, and readable from its first line to its last.
    void theNoticeIsTheWindowsOwnAndAllOfItIsReachable()
    {
        std::string many = "Content-Type: multipart/mixed; boundary=m\r\n\r\n";
        for (int i = 0; i < 40; ++i)
            many += "--m\r\nContent-Type: application/octet-stream; name=\"same.txt\"\r\n\r\nx\r\n";
        many += "--m--\r\n";
        TMailMessage2000 m;
        Load(m, many);
        const QString folder = NewFolder(QStringLiteral("notice"));
        auto form = std::make_unique<TAttachmentsform>(); // with its own notice
        form->ViewOnly = true;
        form->MailMessage = &m;
        form->ChooseFolder = [&](const QString&, const QString&) { return folder; };
        form->show();
        bool checked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            TQuickMessage* q = QuickMessage;
            if (!q || !q->isVisible())
                return;
            poll.stop();
            [&] {
                QCOMPARE(q->parentWidget(), form.get());
                QVERIFY(!q->AutoClose);
                QScrollBar* bar = q->Memo1->verticalScrollBar();
                QVERIFY(bar->isVisible());
                QVERIFY(bar->maximum() > 0);
                QCOMPARE(bar->value(), 0); // the count and the folder in sight
                QVERIFY(q->Memo1->toPlainText().startsWith(QStringLiteral("40 files saved in ")));
                checked = true;
            }();
            q->close();
        });
        poll.start(10);
        form->Savethisfile1Click(); // returns when the notice is closed
        QVERIFY(checked);
        QCOMPARE(Files(folder).size(), 40);
    }

    void withNothingSelectedEveryAttachmentIsSavedUnderItsOwnName()
    {
        auto form = Form();
        const QString folder = NewFolder(QStringLiteral("all"));
        m_chosenFolder = folder;
        form->Savethisfile1Click();
        QCOMPARE(Files(folder), (QStringList{".bashrc", "a_b.bin", "escape", "readme.txt", "report.pdf",
                                             "same (2).txt", "same.txt", QString::fromUtf8("Привет.txt")}));
        QCOMPARE(Read(folder + QStringLiteral("/same.txt")), QByteArray("one"));
        QCOMPARE(Read(folder + QStringLiteral("/same (2).txt")), QByteArray("second"));
        QVERIFY(m_notices.value(0).text.startsWith(QStringLiteral("8 files saved in ")));

        // Saved again beside a file another program made meanwhile: the
        // files of one name take the free numbers in turn, none skipped.
        Write(folder + QStringLiteral("/same (4).txt"), "theirs");
        form->Savethisfile1Click();
        QCOMPARE(Read(folder + QStringLiteral("/same (3).txt")), QByteArray("one"));
        QCOMPARE(Read(folder + QStringLiteral("/same (4).txt")), QByteArray("theirs"));
        QCOMPARE(Read(folder + QStringLiteral("/same (5).txt")), QByteArray("second"));
    }

    void filesAreCreatedWithTheUmasksMode()
    {
        auto form = Form();
        form->attachments->item(Report)->setSelected(true);
        for (const auto& [mask, mode] : {std::pair{022, 0644}, std::pair{077, 0600}, std::pair{002, 0664}}) {
            const QString folder = NewFolder(QStringLiteral("modes"));
            m_chosenFolder = folder;
            const mode_t old = ::umask(static_cast<mode_t>(mask));
            form->Savethisfile1Click();
            ::umask(old);
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(folder + QStringLiteral("/report.pdf")).constData(), &st), 0);
            QCOMPARE(static_cast<int>(st.st_mode & 0777), mode);
        }
        // Saved under its own name: nothing to act on, it closes by itself.
        QVERIFY(!m_notices.isEmpty() && !m_notices.back().stays);
    }

    void longNamesKeepTheirExtensionAndFitInBytes()
    {
        // Two UTF-8 names longer than a file name may be, alike up to their
        // ends, and a Latin-1 one that doubles in size as UTF-8.
        const QByteArray e200 = QString(200, QChar(0xE9)).toUtf8();
        const std::string latin(254, '\xE9');
        TMailMessage2000 m;
        Load(m, "Content-Type: multipart/mixed; boundary=m\r\n\r\n"
                "--m\r\nContent-Type: application/pdf; name=\"" + e200.toStdString() + "a.pdf\"\r\n\r\nA\r\n"
                "--m\r\nContent-Type: application/pdf; name=\"" + e200.toStdString() + "b.pdf\"\r\n\r\nB\r\n"
                "--m\r\nContent-Type: application/zip; name=\"" + latin + ".zip\"\r\n\r\nZ\r\n"
                "--m\r\nContent-Type: application/zip; name=\"/..\"\r\n\r\nD\r\n--m--\r\n");
        auto form = Form(&m);
        const QString outer = NewFolder(QStringLiteral("long"));
        m_chosenFolder = NewFolder(QStringLiteral("long/inside"));
        form->Savethisfile1Click();
        QCOMPARE(m_notices.size(), 1);
        QVERIFY2(!m_notices[0].text.contains(QStringLiteral("Not saved")), qPrintable(m_notices[0].text));
        const QStringList written = Files(m_chosenFolder);
        QCOMPARE(written.size(), 4);
        QStringList contents;
        for (const QString& name : written) {
            QVERIFY(QFile::encodeName(name).size() <= 255);
            contents << QString::fromLatin1(Read(m_chosenFolder + QLatin1Char('/') + name));
        }
        contents.sort();
        QCOMPARE(contents, (QStringList{"A", "B", "D", "Z"}));
        QCOMPARE(written.filter(QStringLiteral(".pdf")).size(), 2);
        QCOMPARE(written.filter(QStringLiteral(".zip")).size(), 2); // "/.." names no file: its type's name
        QVERIFY(written.filter(QStringLiteral(".pdf")).first().startsWith(QString(100, QChar(0xE9))));
        QCOMPARE(Files(outer), QStringList());
    }

    void aFolderThatTakesNothingIsShownAndNotRemembered()
    {
        auto form = Form();
        const QString good = NewFolder(QStringLiteral("good"));
        m_chosenFolder = good;
        form->attachments->item(Report)->setSelected(true);
        form->Savethisfile1Click();
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), good + QLatin1Char('/'));

        m_notices.clear();
        m_chosenFolder = m_home.filePath(QStringLiteral("missing"));
        form->attachments->item(Readme)->setSelected(true);
        form->Savethisfile1Click();
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices[0].stays);
        QVERIFY2(m_notices[0].text.startsWith(QStringLiteral("0 of 2 files saved in ") + m_chosenFolder),
                 qPrintable(m_notices[0].text));
        QVERIFY(m_notices[0].text.contains(QStringLiteral("report.pdf: No such file or directory")));
        QVERIFY(m_notices[0].text.contains(QStringLiteral("readme.txt: No such file or directory")));
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), good + QLatin1Char('/'));

        // Cancel: nothing written, nothing said, the folder stays remembered;
        // the dialog started there.
        m_notices.clear();
        m_chosenFolder.clear();
        form->Savethisfile1Click();
        QCOMPARE(m_dialogStart, good + QLatin1Char('/'));
        QVERIFY(m_notices.isEmpty());
        QCOMPARE(Setting(QStringLiteral("Defaults/AttachSavePath")), good + QLatin1Char('/'));
    }

    void oneFailedFileDoesNotStopTheOthers()
    {
        // Files over 5 bytes cannot be written (EFBIG); the rest can.
        auto form = Form();
        for (int row : {Report, Same1, Same2})
            form->attachments->item(row)->setSelected(true);
        const QString folder = NewFolder(QStringLiteral("limited"));
        m_chosenFolder = folder;
        rlimit old {};
        ::getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = old;
        limited.rlim_cur = 5;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        form->Savethisfile1Click();
        ::setrlimit(RLIMIT_FSIZE, &old);
        ::signal(SIGXFSZ, oldHandler);
        QCOMPARE(Files(folder), QStringList{QStringLiteral("same.txt")}); // no partial files left
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices[0].stays);
        QVERIFY2(m_notices[0].text.startsWith(QStringLiteral("1 of 3 files saved in ")), qPrintable(m_notices[0].text));
        QVERIFY(m_notices[0].text.contains(QStringLiteral("report.pdf: File too large")));
    }

    void executeRunWritesIntoAPrivateFolderAndSaysWhenNothingOpensIt()
    {
        auto form = Form();
        form->attachments->setCurrentRow(Readme); // "readme": no extension, so .txt
        form->ExecuteRun1Click();
        QCOMPARE(m_opened.size(), 1);
        const QString path = m_opened[0].toLocalFile();
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("readme.txt"));
        QCOMPARE(QFileInfo(path).absolutePath(), form->LastOpenFolder());
        QVERIFY(form->LastOpenFolder().startsWith(m_home.filePath(QStringLiteral("run/corvanta-open-"))));
        QCOMPARE(QFileInfo(form->LastOpenFolder()).permissions() & 0x0077, QFileDevice::Permissions());
        QCOMPARE(Read(path), QByteArray("read me"));
        QVERIFY(m_notices.isEmpty());

        // No current row: row 0; a second run never touches the first file.
        // Without an opener the notice names the file and its folder.
        m_openerWorks = false;
        form->attachments->setCurrentRow(-1);
        form->attachmentsDblClick();
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(QFileInfo(m_opened[1].toLocalFile()).fileName(), QStringLiteral("report.pdf"));
        QCOMPARE(Read(path), QByteArray("read me"));
        QCOMPARE(m_notices.size(), 1);
        QVERIFY(m_notices[0].stays);
        QVERIFY(m_notices[0].text.contains(QStringLiteral("report.pdf")));
        QVERIFY(m_notices[0].text.contains(form->LastOpenFolder()));
    }

    // What Execute/Run and a second viewer start: the viewer's descriptors
    // (the engine's sockets, shared memory, files, none of them
    // close-on-exec) stay here; the program has 0, 1 and 2 only, in a
    // session of its own, and is not the viewer's child.
    void startedProgramsGetNothingOfTheViewer()
    {
        const int file = ::open("/dev/null", O_RDONLY); // inherited by a plain fork and exec
        int pipe[2];
        QCOMPARE(::pipe(pipe), 0);
        QString error;
        const qint64 pid = StartDetachedProgram(QStringLiteral("sleep"), {QStringLiteral("30")}, &error);
        QVERIFY2(pid > 0, qPrintable(error));
        const QString proc = QStringLiteral("/proc/%1").arg(pid);
        QTRY_COMPARE(QFile::symLinkTarget(proc + QStringLiteral("/exe")), QStandardPaths::findExecutable("sleep"));
        QStringList fds = QDir(proc + QStringLiteral("/fd")).entryList(QDir::NoDotAndDotDot | QDir::System);
        fds.sort();
        QCOMPARE(fds, (QStringList{"0", "1", "2"}));
        QFile stat(proc + QStringLiteral("/stat"));
        QVERIFY(stat.open(QIODevice::ReadOnly));
        const QList<QByteArray> fields = stat.readAll().split(')').value(1).trimmed().split(' ');
        QVERIFY(fields.value(1).toLongLong() != ::getpid()); // its parent
        QVERIFY(fields.value(3).toLongLong() != ::getsid(0)); // its session
        ::kill(static_cast<pid_t>(pid), SIGKILL);
        for (int fd : {file, pipe[0], pipe[1]})
            ::close(fd);

        // What cannot be started says why, and starts nothing.
        QCOMPARE(StartDetachedProgram(QStringLiteral("no-such-program-here"), {}, &error), -1);
        QVERIFY(error.contains(QStringLiteral("not found")));
        const QString notExecutable = m_home.filePath(QStringLiteral("plain.sh"));
        Write(notExecutable, "#!/bin/sh\n");
        QFile::setPermissions(notExecutable, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        Write(notExecutable, "not a program");
        QCOMPARE(StartDetachedProgram(notExecutable, {}, &error), -1);
        QVERIFY2(error.contains(QStringLiteral("format")), qPrintable(error));
    }

    void executeRunOnAnEmptyListOnlyFails()
    {
        TMailMessage2000 empty;
        auto form = Form(&empty);
        QVERIFY_THROWS_EXCEPTION(EMailError, form->ExecuteRun1Click());
        QVERIFY(m_opened.isEmpty());
    }

    void aForwardedMessageOpensInASecondViewer()
    {
        TMailMessage2000 m;
        Load(m, "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nsee below\r\n"
                "--m\r\nContent-Type: message/rfc822\r\nContent-Disposition: attachment\r\n\r\n"
                "Subject: inner\r\nFrom: a@x\r\n\r\ninner body\r\n--m--\r\n");
        auto form = Form(&m);
        QCOMPARE(form->attachments->count(), 1);
        form->attachmentsDblClick();
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(m_viewed.size(), 1);
        QVERIFY(m_viewed[0].endsWith(QStringLiteral(".eml")));
        QVERIFY(Read(m_viewed[0]).contains("inner body"));
    }

    void anOutlookMessageAttachedAsAFileOpensInASecondViewerToo()
    {
        // A TNEF stream (a winmail.dat) and a compound file that is no
        // Outlook item (an old Word document): only the first is a message.
        const QByteArray tnef("\x78\x9f\x3e\x22\x01\x00" "\x01\x04\x80\x01\x00\x02\x00\x00\x00Hi\x00\x00", 19);
        QByteArray doc(1536, '\0');
        doc.replace(0, 8, QByteArray("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8));
        TMailMessage2000 m;
        Load(m, "Content-Type: multipart/mixed; boundary=m\r\n\r\n--m\r\nContent-Type: text/plain\r\n\r\nsee below\r\n"
                "--m\r\nContent-Type: application/octet-stream; name=\"fwd.dat\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                + tnef.toBase64().toStdString()
                + "\r\n--m\r\nContent-Type: application/msword; name=\"old.doc\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                + doc.toBase64().toStdString() + "\r\n--m--\r\n");
        auto form = Form(&m);
        QCOMPARE(form->attachments->count(), 2);
        form->attachments->setCurrentRow(0);
        form->attachmentsDblClick();
        QCOMPARE(m_viewed.size(), 1);
        QCOMPARE(Read(m_viewed[0]), tnef);
        form->attachments->setCurrentRow(1);
        form->attachmentsDblClick();
        QCOMPARE(m_viewed.size(), 1);
        QCOMPARE(m_opened.size(), 1);
    }

    void dragsCarryCopiesAsFileUrls()
    {
        auto form = Form();
        QAbstractItemModel* model = form->attachments->model();
        const QModelIndexList rows{model->index(Report, 0), model->index(Same2, 0)};
        std::unique_ptr<QMimeData> data(model->mimeData(rows));
        QVERIFY(data && data->hasUrls());
        const QList<QUrl> urls = data->urls();
        QCOMPARE(urls.size(), 2);
        QCOMPARE(Read(urls[0].toLocalFile()), QByteArray("%PDF-1.4"));
        QCOMPARE(Read(urls[1].toLocalFile()), QByteArray("second"));
        QVERIFY(TAttachmentsform::PrivateFolders().contains(QFileInfo(urls[0].toLocalFile()).absolutePath()));
        QCOMPARE(form->attachments->dragDropMode(), QAbstractItemView::DragOnly);
    }

    void privateFoldersGoAtExitUnlessAProgramStillUsesThem()
    {
        TAttachmentsform::RemovePrivateFolders();
        QCOMPARE(TAttachmentsform::PrivateFolders(), QStringList());
        auto form = Form();
        QStringList folders;
        for (int row : {Report, Readme, Ctrl}) {
            form->attachments->setCurrentRow(row);
            form->ExecuteRun1Click();
            folders << form->LastOpenFolder();
        }
        QCOMPARE(TAttachmentsform::PrivateFolders(), folders);
        // One file held open by a program, another named on a program's
        // command line (as a second viewer is started). The shell waits on
        // its input without starting a child: a child caught between its
        // start and its own program would still show the shell's command
        // line after the shell is gone.
        QProcess holder, named;
        holder.setStandardInputFile(m_opened[0].toLocalFile());
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        named.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("read line"), QStringLiteral("sh"),
                                           m_opened[1].toLocalFile()});
        QVERIFY(holder.waitForStarted() && named.waitForStarted());
        TAttachmentsform::RemovePrivateFolders();
        QCOMPARE(TAttachmentsform::PrivateFolders(), folders.mid(0, 2));
        QVERIFY(QFileInfo::exists(m_opened[0].toLocalFile()) && QFileInfo::exists(m_opened[1].toLocalFile()));
        QVERIFY(!QFileInfo::exists(folders[2]));
        holder.kill();
        named.kill();
        holder.waitForFinished();
        named.waitForFinished();
        TAttachmentsform::RemovePrivateFolders();
        QCOMPARE(TAttachmentsform::PrivateFolders(), QStringList());
        QVERIFY(!QFileInfo::exists(folders[0]) && !QFileInfo::exists(folders[1]));
    }

    void editModeAddsAndRemoves()
    {
        TMailMessage2000 m;
        Load(m, "Content-Type: text/plain\r\n\r\nhello\r\n");
        auto form = Form(&m);
        form->ViewOnly = false;
        QTemporaryDir files;
        auto make = [&](const char* name, const QByteArray& data) {
            const QString p = files.filePath(QString::fromLatin1(name));
            Write(p, data);
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
        QCOMPARE(form->FileNameOfRow(1), QStringLiteral("two.dat"));
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

    void cleanupTestCase() { TAttachmentsform::RemovePrivateFolders(); }
};

QTEST_MAIN(AttachmentsTest)
#include "AttachmentsTest.moc"
