#include "TAttachmentsform.h"

#include "EngineError.h"
#include "EngineText.h"
#include "FileIO.h"
#include "Look.h"
#include "MessageStrings.h"
#include "TQuickMessage.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>

#include <cstdlib>
#include <unistd.h>

TAttachmentsform* Attachmentsform = nullptr;

namespace {

QString g_settingsOverride;

QFont DialogFont(bool bold = false) { return SansFont(11, true, bold); }

// The folder part of a path, up to and including its last separator; an
// empty text when there is none (the prompt text the dialog started with).
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

// A name written into a folder never leaves it: no separators (the engine's
// safe names have none) and never "." or "..".
QString FileNameInFolder(const std::string& name)
{
    QString n = FromEngineBytes(name);
    n.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (n.isEmpty() || n == QLatin1String(".") || n == QLatin1String(".."))
        n = QStringLiteral("attachment");
    return n;
}

void WriteBytes(const QString& path, const std::string& bytes, bool overwrite)
{
    WriteFileSafely(QFile::encodeName(path).toStdString(), overwrite,
                    [&](const auto& sink) { sink(bytes); });
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
    attachments = new QListWidget(this);
    attachments->setGeometry(8, 20, 242, 249);
    attachments->setSelectionMode(QAbstractItemView::ExtendedSelection);
    attachments->setUniformItemSizes(true);
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
    OpenDialog2 = new QFileDialog(this);
    OpenDialog2->setFileMode(QFileDialog::AnyFile);
    OpenDialog2->setOption(QFileDialog::DontUseNativeDialog);

    ExecDialog = [](QFileDialog* dialog) {
        return dialog->exec() == QDialog::Accepted ? dialog->selectedFiles() : QStringList();
    };
    Opener = [](const QUrl& url) { return QDesktopServices::openUrl(url); };

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
    if (MailMessage)
        for (const TMailPart* part : MailMessage->AttachList)
            if (!part->Embedded)
                attachments->addItem(FromEngineBytes(part->GetFileName()));
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

QString TAttachmentsform::StartFolder(const QString& remembered)
{
    return QFileInfo(remembered).isDir() ? remembered : QDir::homePath();
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
    QString name = FileNameInFolder(part->GetFileName());
    const QString leaf = name.mid(std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char(':'))) + 1);
    if (!leaf.contains(QLatin1Char('.')))
        name += QStringLiteral(".txt");

    // Never into the current folder: started from a file manager that is
    // often the home folder, where an attachment named ".profile" would
    // replace the user's own file. A fresh private folder of its own instead.
    QString base = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (base.isEmpty() || !QFileInfo(base).isWritable())
        base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(base);
    QByteArray pattern = QFile::encodeName(QDir(base).filePath(QStringLiteral("corvanta-open-XXXXXX")));
    if (!mkdtemp(pattern.data()))
        throw EFOpenError("Cannot create a folder in " + base.toStdString());
    m_lastOpenFolder = QFile::decodeName(pattern);
    const QString target = QDir(m_lastOpenFolder).filePath(name);
    WriteBytes(target, part->Decoded, false);
    Opener(QUrl::fromLocalFile(target)); // its result is not examined
}

void TAttachmentsform::attachmentsDblClick() { ExecuteRun1Click(); }

void TAttachmentsform::Savethisfile1Click()
{
    QSettings settings(SettingsFileName(), QSettings::IniFormat);
    const QString folder = settings.value(QStringLiteral("Defaults/AttachSavePath"), QStringLiteral("c:\\")).toString();
    OpenDialog2->setDirectory(StartFolder(folder));
    OpenDialog2->selectFile(MessageStrings::Text(1, 251));
    QString current = MessageStrings::Text(1, 251); // the dialog's file name, a prompt until the user picks
    auto remember = [&] {
        settings.setValue(QStringLiteral("Defaults/AttachSavePath"), FolderPart(current));
        settings.sync();
    };
    try {
        if (!attachments->selectedItems().isEmpty()) {
            const QStringList chosen = ExecDialog(OpenDialog2);
            if (!chosen.isEmpty()) {
                current = chosen.first();
                const QString destination = FolderPart(current);
                for (int row = 0; row < attachments->count(); ++row) {
                    if (!attachments->item(row)->isSelected())
                        continue;
                    TMailPart* part = AttachmentOfRow(row);
                    if (!part)
                        continue;
                    if (part->Decoded.empty())
                        part->Decode();
                    // The user chose this folder: files of the same name
                    // there are replaced, as saving into it means.
                    const QString name = FileNameInFolder(attachments->item(row)->text().toStdString());
                    WriteBytes(destination + QFileInfo(name).fileName(), part->Decoded, true);
                }
            }
        }
    } catch (...) {
        remember();
        throw;
    }
    remember();
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
    ShowQuickMessage(MessageStrings::Text(2, 31), MessageStrings::Text(4, 15), 8000, false, true, 12, 1);
    QCoreApplication::processEvents();
    for (const QString& path : chosen) {
        if (!QFileInfo(path).isFile())
            continue;
        attachments->addItem(path);
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
