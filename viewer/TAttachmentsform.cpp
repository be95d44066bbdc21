#include "TAttachmentsform.h"

#include "DetachedProgram.h"
#include "EngineError.h"
#include "EngineText.h"
#include "HeaderText.h"
#include "Look.h"
#include "MessageStrings.h"
#include "OutlookMessage.h"
#include "SecureParts.h"
#include "TQuickMessage.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

TAttachmentsform* Attachmentsform = nullptr;

namespace {

QString g_settingsOverride;
QStringList g_privateFolders;

constexpr int kNameRole = Qt::UserRole; // the file name a row saves under

QFont DialogFont(bool bold = false) { return SansFont(11, true, bold); }

// The folder part of a path, up to and including its last separator; an
// empty text when there is none.
QString FolderPart(const QString& path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

// Restores the cursor when the handler ends, however it ends.
class CursorGuard {
public:
    explicit CursorGuard(std::initializer_list<QWidget*> widgets) : m_widgets(widgets)
    {
        for (QWidget* w : m_widgets)
            w->setCursor(Qt::WaitCursor);
    }
    ~CursorGuard()
    {
        for (QWidget* w : m_widgets)
            w->unsetCursor();
    }

private:
    std::vector<QWidget*> m_widgets;
};

// The list, with drags that carry files. A drag only ever copies: a move
// accepted by a file manager would make the view delete the rows.
class TAttachmentList : public QListWidget {
public:
    using QListWidget::QListWidget;
    std::function<QMimeData*(const QList<int>&)> MakeMimeData;

protected:
    [[nodiscard]] QStringList mimeTypes() const override { return {QStringLiteral("text/uri-list")}; }
    [[nodiscard]] QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override
    {
        QList<int> rows;
        for (QListWidgetItem* item : items)
            rows << row(item);
        std::sort(rows.begin(), rows.end());
        return MakeMimeData ? MakeMimeData(rows) : nullptr;
    }
    void startDrag(Qt::DropActions) override { QListWidget::startDrag(Qt::CopyAction); }
};

// A name written into a folder never leaves it: no separators (the engine's
// safe names have none) and never "." or "..".
QString FileNameInFolder(QString n)
{
    n.replace(QLatin1Char('/'), QLatin1Char('_'));
    n.replace(QChar(0), QLatin1Char('_'));
    if (n.isEmpty() || n == QLatin1String(".") || n == QLatin1String(".."))
        n = QStringLiteral("attachment");
    return n;
}

// Where the extension of a name begins: its last dot, unless that dot
// starts the name (".bashrc") or what follows is too long to be one.
qsizetype ExtensionStart(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && name.size() - dot <= 32 ? dot : name.size();
}

// stem + suffix + ext, the stem shortened by whole characters until the name
// fits the folder's limit counted in bytes of the file system's encoding (a
// Latin-1 name of 254 characters needs more bytes than that in UTF-8).
QString FitName(QString stem, const QString& suffix, const QString& ext, qsizetype max)
{
    while (!stem.isEmpty() && QFile::encodeName(stem + suffix + ext).size() > max)
        stem.chop(stem.size() >= 2 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem + suffix + ext;
}

struct Written {
    QString path;  // empty when nothing was written
    QString error; // why not
};

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Writes bytes into folder under name or, when a file of that name is there
// already, under the first free "name (2).ext", "name (3).ext", ... The file
// is created exclusively, so an existing file (a dot file the dialog never
// showed, a file created meanwhile by another program) is never replaced;
// its mode is 0666 less the user's umask. A failed write leaves nothing.
// taken, when given, remembers for each name the number the search goes on
// from: saving thousands of files of one name would otherwise try every
// number before the next free one again for each file.
using TTakenNames = QHash<QString, int>;
Written WriteUnderFreeName(const QString& folder, const QString& wanted, const std::string& bytes,
                           TTakenNames* taken = nullptr)
{
    const QString name = FileNameInFolder(wanted);
    const qsizetype extStart = ExtensionStart(name);
    const QString stem = name.left(extStart);
    const QString ext = name.mid(extStart);
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    const qsizetype max = limit > 0 ? limit : 255;
    const QDir dir(folder);
    const int from = taken ? taken->value(name, 1) : 1;
    for (int n = from; n < from + 10000; ++n) {
        const QString candidate = FitName(stem, n == 1 ? QString() : QStringLiteral(" (%1)").arg(n), ext, max);
        const QString path = dir.filePath(candidate);
        const QByteArray encoded = QFile::encodeName(path);
        const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return {{}, ErrorText(errno)};
        }
        int error = 0;
        const char* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const ssize_t w = ::write(fd, data, left);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                error = errno;
                break;
            }
            data += w;
            left -= static_cast<std::size_t>(w);
        }
        if (::close(fd) != 0 && error == 0)
            error = errno;
        if (error != 0) {
            ::unlink(encoded.constData());
            return {{}, ErrorText(error)};
        }
        if (taken)
            taken->insert(name, n + 1);
        return {path, {}};
    }
    return {{}, QStringLiteral("no free file name")};
}

// A fresh folder only this user can enter, for files handed to other
// programs. Never the current folder: started from a file manager that is
// often the home folder, where an attachment named ".profile" would land
// among the user's own files. Empty (and error set) when none can be made.
QString NewPrivateFolder(QString& error)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty() || !QFileInfo(base).isWritable())
        base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(base);
    QByteArray pattern = QFile::encodeName(QDir(base).filePath(QStringLiteral("corvanta-open-XXXXXX")));
    if (!mkdtemp(pattern.data())) {
        error = ErrorText(errno) + QStringLiteral(" (") + base + QLatin1Char(')');
        return {};
    }
    static bool cleanupConnected = false;
    if (!cleanupConnected && qApp) {
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, &TAttachmentsform::RemovePrivateFolders);
        cleanupConnected = true;
    }
    g_privateFolders << QFile::decodeName(pattern);
    return g_privateFolders.back();
}

// The folders, among those given, that a running program (other than this
// one) has a file open in or was started with a path into: an editor that
// still shows the attachment, or a second viewer, which reads its file again
// each time it is activated.
QSet<QString> FoldersInUse(const QStringList& folders)
{
    QSet<QString> used;
    QStringList prefixes; // each folder as created and as the system resolves it
    QStringList owners;
    for (const QString& f : folders) {
        prefixes << f + QLatin1Char('/');
        owners << f;
        const QString canonical = QFileInfo(f).canonicalFilePath();
        if (!canonical.isEmpty() && canonical != f) {
            prefixes << canonical + QLatin1Char('/');
            owners << f;
        }
    }
    auto mark = [&](const QByteArray& path) {
        if (path.isEmpty())
            return;
        const QString p = QFile::decodeName(path);
        for (qsizetype i = 0; i < prefixes.size(); ++i)
            if (p.startsWith(prefixes[i]))
                used.insert(owners[i]);
    };
    const pid_t self = ::getpid();
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return used;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (*end || pid <= 0 || pid == self)
            continue;
        const QByteArray base = QByteArray("/proc/") + entry->d_name;
        if (DIR* fds = ::opendir(base + "/fd")) {
            while (const dirent* fd = ::readdir(fds)) {
                char target[4096];
                const ssize_t n = ::readlink(base + "/fd/" + fd->d_name, target, sizeof target);
                if (n > 0)
                    mark(QByteArray(target, n));
            }
            ::closedir(fds);
        }
        QFile cmdline(QString::fromLatin1(base + "/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly))
            for (const QByteArray& arg : cmdline.readAll().split('\0'))
                mark(arg);
    }
    ::closedir(proc);
    return used;
}

QString SizeText(qint64 size) { return QLocale().formattedDataSize(size, 1, QLocale::DataSizeTraditionalFormat); }

QListWidgetItem* NewRow(const QString& text, const QString& fileName, qint64 size)
{
    auto* item = new QListWidgetItem(text + QStringLiteral("  (") + SizeText(size) + QLatin1Char(')'));
    item->setData(kNameRole, fileName);
    item->setToolTip(item->text());
    return item;
}

// A forwarded message, or an Outlook message or winmail.dat attached as a
// file (its content says so, not its name): each opens in a viewer of its
// own.
bool IsForwardedMessage(const TMailPart& part)
{
    if (part.GetContentType() == "message/rfc822")
        return true;
    return IsOutlookMessage(part.Decoded);
}

} // namespace

TAttachmentsform::TAttachmentsform(QWidget* owner) : QDialog(owner), m_ownMessage(std::make_unique<TMailMessage2000>())
{
    m_ownMessage->Charset = "iso-8859-1";
    m_ownMessage->TextEncoding = TEncodingType::etQuotedPrintable;
    m_ownMessage->AttachEncoding = TEncodingType::etBase64;
    m_ownMessage->EmbedMethod = TEmbedMethod::emContentLocation;
    m_ownMessage->ContentLocationBase = "http://localhost/corvanta/";
    MailMessage = m_ownMessage.get();

    setObjectName(QStringLiteral("Attachmentsform"));
    setFixedSize(383, 277);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    FillBackground(this, QColor(205, 219, 235));
    setFont(DialogFont());

    Label1 = new QLabel(this);
    Label1->setFont(DialogFont(true));
    Label1->setGeometry(9, 4, 98, 13);
    auto* list = new TAttachmentList(this);
    list->MakeMimeData = [this](const QList<int>& rows) { return MimeDataOfRows(rows); };
    attachments = list;
    attachments->setGeometry(8, 20, 242, 249);
    attachments->setSelectionMode(QAbstractItemView::ExtendedSelection);
    attachments->setUniformItemSizes(true);
    attachments->setTextElideMode(Qt::ElideMiddle); // the extension and the size stay in sight
    attachments->setDragEnabled(true);
    attachments->setDragDropMode(QAbstractItemView::DragOnly);
    attachments->setDefaultDropAction(Qt::CopyAction);
    auto button = [this](int x, int y) {
        auto* b = new QPushButton(this);
        b->setGeometry(x, y, 113, 23);
        return b;
    };
    Selectbut = button(260, 22);
    RemBut = button(260, 68);
    SaveBut = button(260, 99);
    Exebut = button(260, 129);
    CloseBut = button(259, 244);
    setTabOrder(Selectbut, CloseBut);
    setTabOrder(CloseBut, RemBut);
    setTabOrder(RemBut, attachments);
    setTabOrder(attachments, SaveBut);
    setTabOrder(SaveBut, Exebut);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setFileMode(QFileDialog::ExistingFiles);
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1 = new QFileDialog(this);

    ExecDialog = [](QFileDialog* dialog) {
        return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles() : QStringList();
    };
    ChooseFolder = [this](const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(this, title, startFolder,
                                                 QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    };
    // Started with nothing of the viewer's (its engine's sockets and files)
    // but standard input, output and error, in a session of their own.
    Opener = OpenWithDesktop;
    OpenMessage = [](const QString& path) {
        return StartDetachedProgram(QCoreApplication::applicationFilePath(), {path}) >= 0;
    };
    // The notice is this window's, above it. A result the user can read and
    // forget closes by itself; one that lists failures or new names waits
    // until the user has seen it, in the large form when it is long.
    Notice = [this](const QString& title, const QString& text, bool stays) {
        ShowQuickMessage(title, text, 6000, text.count(QLatin1Char('\n')) > 6, !stays, 10, 0, this);
    };

    connect(Selectbut, &QPushButton::clicked, this, &TAttachmentsform::SelectbutClick);
    connect(RemBut, &QPushButton::clicked, this, &TAttachmentsform::RemButClick);
    connect(SaveBut, &QPushButton::clicked, this, &TAttachmentsform::Savethisfile1Click);
    connect(Exebut, &QPushButton::clicked, this, &TAttachmentsform::ExecuteRun1Click);
    connect(CloseBut, &QPushButton::clicked, this, &TAttachmentsform::CloseButClick);
    connect(attachments, &QListWidget::itemDoubleClicked, this, &TAttachmentsform::attachmentsDblClick);
    FormCreate();
}

TAttachmentsform::~TAttachmentsform()
{
    if (Attachmentsform == this)
        Attachmentsform = nullptr;
}

QString TAttachmentsform::SettingsFileName()
{
    if (!g_settingsOverride.isEmpty())
        return g_settingsOverride;
    const QString exeFolder = QCoreApplication::applicationDirPath();
    if (QFileInfo(exeFolder).isWritable())
        return QDir(exeFolder).filePath(QStringLiteral("corvanta.ini"));
    const QString config = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(config);
    return QDir(config).filePath(QStringLiteral("corvanta.ini"));
}

void TAttachmentsform::SetSettingsFileName(const QString& path) { g_settingsOverride = path; }

void TAttachmentsform::FormCreate()
{
    OpenDialog1->setDirectory(QCoreApplication::applicationDirPath());
    ViewOnly = false;
    setWindowTitle(QStringLiteral("Corvanta by Telmossa") + MessageStrings::Text(1, 229));
    Label1->setText(MessageStrings::Text(1, 229));
    Selectbut->setText(MessageStrings::Text(1, 225));
    SaveBut->setText(MessageStrings::Text(1, 228));
    Exebut->setText(MessageStrings::Text(1, 226));
    RemBut->setText(MessageStrings::Text(1, 227));
    CloseBut->setText(MessageStrings::Text(1, 230));
}

void TAttachmentsform::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    if (parentWidget())
        move(parentWidget()->geometry().center() - rect().center());
    FormShow();
}

void TAttachmentsform::FormShow()
{
    attachments->clear();
    if (MailMessage) {
        // Each name as every way of saving gives it: in its declared
        // charset, so a koi8-r or windows-1252 name shows (and saves) as sent.
        for (TMailPart* part : MailMessage->AttachList) {
            if (part->Embedded)
                continue;
            QString name;
            try {
                name = ShownFileName(*part);
            } catch (const std::exception&) {
                name = FromEngineBytes(part->GetFileName());
            }
            if (part->Decoded.empty())
                part->Decode();
            // Kept for those who want it, and said to be what it is.
            const QString shown = IsSignatureType(part->GetContentType())
                                      ? name + QStringLiteral(" (the message's signature)")
                                      : name;
            attachments->addItem(NewRow(shown, name, static_cast<qint64>(part->Decoded.size())));
        }
    }
    Selectbut->setEnabled(!ViewOnly);
    RemBut->setEnabled(!ViewOnly);
    attachments->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

int TAttachmentsform::AttachListIndexOfRow(int row) const
{
    if (!MailMessage || row < 0)
        return -1;
    int seen = 0;
    for (std::size_t i = 0; i < MailMessage->AttachList.Count(); ++i) {
        if (MailMessage->AttachList.Items(i)->Embedded)
            continue;
        if (seen++ == row)
            return static_cast<int>(i);
    }
    return -1;
}

TMailPart* TAttachmentsform::AttachmentOfRow(int row) const
{
    const int i = AttachListIndexOfRow(row);
    return i < 0 ? nullptr : MailMessage->AttachList.Items(static_cast<std::size_t>(i));
}

QString TAttachmentsform::FileNameOfRow(int row) const
{
    const QListWidgetItem* item = attachments->item(row);
    return item ? item->data(kNameRole).toString() : QString();
}

QString TAttachmentsform::StartFolder(const QString& remembered)
{
    return QFileInfo(remembered).isDir() ? remembered : QDir::homePath();
}

QStringList TAttachmentsform::PrivateFolders() { return g_privateFolders; }

void TAttachmentsform::RemovePrivateFolders()
{
    const QSet<QString> inUse = FoldersInUse(g_privateFolders);
    QStringList kept;
    for (const QString& folder : std::as_const(g_privateFolders)) {
        if (inUse.contains(folder))
            kept << folder;
        else
            QDir(folder).removeRecursively();
    }
    g_privateFolders = kept;
}

void TAttachmentsform::ExecuteRun1Click()
{
    int row = attachments->currentRow();
    if (row < 0)
        row = 0;
    TMailPart* part = AttachmentOfRow(row);
    if (!part)
        throw EMailError("List index out of bounds (0)"); // beeps, as an empty list does
    if (part->Decoded.empty())
        part->Decode();
    const bool message = IsForwardedMessage(*part);
    QString name = FileNameInFolder(FileNameOfRow(row));
    if (!name.contains(QLatin1Char('.')))
        name += message ? QStringLiteral(".eml") : QStringLiteral(".txt");

    const QString title = MessageStrings::Text(1, 226);
    QString error;
    const QString folder = NewPrivateFolder(error);
    if (folder.isEmpty()) {
        Notice(title, QStringLiteral("%1 could not be written: %2").arg(name, error), true);
        return;
    }
    m_lastOpenFolder = folder;
    const Written written = WriteUnderFreeName(folder, name, part->Decoded);
    if (written.path.isEmpty()) {
        Notice(title, QStringLiteral("%1 could not be written into %2: %3").arg(name, folder, written.error), true);
        return;
    }
    // A forwarded message opens in a viewer of its own, not in whatever
    // the desktop associates with .eml files (often nothing, or a mail
    // program that imports it).
    const bool started = message ? OpenMessage(written.path) : Opener(QUrl::fromLocalFile(written.path));
    if (!started)
        Notice(title,
               QStringLiteral("No program was found to open %1.\n\nThe file is in %2")
                   .arg(QFileInfo(written.path).fileName(), folder),
               true);
}

void TAttachmentsform::attachmentsDblClick() { ExecuteRun1Click(); }

void TAttachmentsform::Savethisfile1Click()
{
    // The selected rows, or every row when none is selected.
    QList<int> rows;
    for (int row = 0; row < attachments->count(); ++row)
        if (attachments->item(row)->isSelected())
            rows << row;
    if (rows.isEmpty())
        for (int row = 0; row < attachments->count(); ++row)
            rows << row;
    if (rows.isEmpty())
        return;

    QSettings settings(SettingsFileName(), QSettings::IniFormat);
    const QString remembered =
        settings.value(QStringLiteral("Defaults/AttachSavePath"), QStringLiteral("c:\\")).toString();
    QString folder = ChooseFolder(MessageStrings::Text(1, 251), StartFolder(remembered));
    if (folder.isEmpty())
        return; // cancelled: the remembered folder stays
    folder = QDir::cleanPath(QDir(folder).absolutePath());

    CursorGuard cursor{this, attachments};
    int saved = 0;
    QStringList renamed, failed;
    TTakenNames taken;
    for (int row : rows) {
        const QString name = FileNameOfRow(row);
        TMailPart* part = AttachmentOfRow(row);
        if (!part) {
            failed << name + QStringLiteral(": not in the message");
            continue;
        }
        Written written;
        try {
            if (part->Decoded.empty())
                part->Decode();
            written = WriteUnderFreeName(folder, name, part->Decoded, &taken);
        } catch (const std::exception& e) {
            written.error = QString::fromLocal8Bit(e.what());
        }
        if (written.path.isEmpty()) {
            failed << name + QStringLiteral(": ") + written.error;
            continue;
        }
        ++saved;
        const QString savedAs = QFileInfo(written.path).fileName();
        if (savedAs != name)
            renamed << name + QStringLiteral(" \u2192 ") + savedAs;
    }

    // Only a folder that took files is remembered for the next save.
    if (saved > 0) {
        settings.setValue(QStringLiteral("Defaults/AttachSavePath"), folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
        settings.sync();
    }
    QString text = saved == 1 ? QStringLiteral("1 file saved in %1").arg(folder)
                              : QStringLiteral("%1 files saved in %2").arg(saved).arg(folder);
    if (!failed.isEmpty())
        text = QStringLiteral("%1 of %2 files saved in %3").arg(saved).arg(rows.size()).arg(folder);
    if (!renamed.isEmpty())
        text += QStringLiteral("\n\nUnder a new name, as the name was taken:\n") + renamed.join(QLatin1Char('\n'));
    if (!failed.isEmpty())
        text += QStringLiteral("\n\nNot saved:\n") + failed.join(QLatin1Char('\n'));
    Notice(MessageStrings::Text(1, 228), text, !failed.isEmpty() || !renamed.isEmpty());
}

QMimeData* TAttachmentsform::MimeDataOfRows(const QList<int>& rows)
{
    QString error;
    const QString folder = rows.isEmpty() ? QString() : NewPrivateFolder(error);
    if (folder.isEmpty())
        return nullptr;
    QList<QUrl> urls;
    TTakenNames taken;
    for (int row : rows) {
        TMailPart* part = AttachmentOfRow(row);
        if (!part)
            continue;
        if (part->Decoded.empty())
            part->Decode();
        const Written written = WriteUnderFreeName(folder, FileNameOfRow(row), part->Decoded, &taken);
        if (!written.path.isEmpty())
            urls << QUrl::fromLocalFile(written.path);
    }
    if (urls.isEmpty())
        return nullptr;
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

void TAttachmentsform::SelectbutClick()
{
    QSettings settings(SettingsFileName(), QSettings::IniFormat);
    CursorGuard cursor{this, attachments};
    struct Focus {
        QWidget* w;
        ~Focus() { w->activateWindow(); }
    } focus{this};
    OpenDialog1->setDirectory(
        StartFolder(settings.value(QStringLiteral("Defaults/AttachPath"), QStringLiteral("c:\\")).toString()));
    const QStringList chosen = ExecDialog(OpenDialog1);
    if (chosen.isEmpty())
        return;
    ShowQuickMessage(MessageStrings::Text(2, 31), MessageStrings::Text(4, 15), 8000, false, true, 12, 1, this);
    QCoreApplication::processEvents();
    for (const QString& path : chosen) {
        const QFileInfo info(path);
        if (!info.isFile())
            continue;
        attachments->addItem(NewRow(path, info.fileName(), info.size()));
        MailMessage->AttachFile(QFile::encodeName(path).toStdString(), "application/octet-stream", false);
        QCoreApplication::processEvents();
    }
    settings.setValue(QStringLiteral("Defaults/AttachPath"), FolderPart(chosen.first()));
    settings.sync();
}

void TAttachmentsform::RemButClick()
{
    attachments->setEnabled(false);
    CursorGuard cursor{attachments};
    struct Enable {
        QWidget* w;
        ~Enable() { w->setEnabled(true); }
    } enable{attachments};
    if (attachments->selectedItems().isEmpty())
        return;
    int row = 0;
    while (row < attachments->count()) {
        if (!attachments->item(row)->isSelected()) {
            ++row;
            continue;
        }
        const int index = AttachListIndexOfRow(row);
        if (index >= 0)
            MailMessage->RemoveAttachment(index);
        delete attachments->takeItem(row);
    }
    if (attachments->count() > 0)
        attachments->setCurrentRow(0);
}

void TAttachmentsform::CloseButClick() { close(); }
