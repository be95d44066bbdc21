#include "TForm1.h"

#include "AppIcon.h"
#include "EngineText.h"
#include "HeaderText.h"
#include "Look.h"
#include "MessageFile.h"
#include "MessageStrings.h"
#include "SecurityBar.h"
#include "TAttachmentsform.h"
#include "TApplication.h"
#include "TQuickMessage.h"
#include "ViewCommands.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Design size of the client area; controls anchored right follow the width.
constexpr int kDesignWidth = 589;
constexpr int kDesignHeight = 409;

const QColor kOrange(253, 172, 83);
const QColor kCream(254, 252, 224);
const QColor kSilver(192, 192, 192);
const QColor kHotBlue(0, 128, 255);
const QColor kYellow(255, 255, 0);
const QColor kNoticeYellow(255, 244, 184);

// The progress bar moves at most this often (milliseconds): painting per
// parse step costs far more than the parse itself.
constexpr int kProgressInterval = 33;

QFont PixelFont(int pixels) { return SansFont(pixels, true); }

QFrame* Panel(QWidget* parent, const QColor& color, int height)
{
    auto* p = new QFrame(parent);
    FillBackground(p, color);
    p->setFixedHeight(height);
    return p;
}

QIcon EnvelopeIcon()
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 60, 0), 2));
    p.setBrush(kOrange);
    p.drawRoundedRect(QRectF(3, 7, 26, 18), 2, 2);
    p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(16, 18), QPointF(29, 8)}));
    return QIcon(pm);
}

// A bar above the page that tells the user something about it, with a
// button to act on it when buttonText is given; hidden at first.
struct TNoticeBar {
    QFrame* bar;
    QLabel* label;
    QPushButton* button;
};
TNoticeBar NoticeBar(QWidget* parent, const QString& name, const QString& text, const QString& buttonText)
{
    auto* bar = new QFrame(parent);
    bar->setObjectName(name + QStringLiteral("Bar"));
    FillBackground(bar, kNoticeYellow);
    bar->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(8, 3, 6, 3);
    auto* label = new QLabel(text, bar);
    label->setObjectName(name + QStringLiteral("Label"));
    label->setWordWrap(true);
    label->setFont(PixelFont(12));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label, 1);
    QPushButton* button = nullptr;
    if (!buttonText.isEmpty()) {
        button = new QPushButton(buttonText, bar);
        button->setObjectName(name + QStringLiteral("Button"));
        layout->addWidget(button);
    }
    bar->hide();
    return {bar, label, button};
}

// Why path cannot be read, in the system's words; empty when it can.
QString ReadProblem(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("no file was named");
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat st {};
    const bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    ::close(fd);
    return directory ? QString::fromLocal8Bit(std::strerror(EISDIR)) : QString();
}

QString WhatFailed(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("it is not a message this program can read");
    }
}

// The caption with an accelerator: the string table's text keeps its
// meaning, the first letter is marked when the text marks none.
QString WithAccelerator(const QString& caption)
{
    if (caption.contains(QLatin1Char('&')))
        return caption;
    for (int i = 0; i < caption.size(); ++i)
        if (caption[i].isLetterOrNumber())
            return caption.left(i) + QLatin1Char('&') + caption.mid(i);
    return caption;
}

} // namespace

TForm1::TForm1(QString messagePath, QWidget* parent) : QWidget(parent), m_messagePath(std::move(messagePath))
{
    BuildComponents();
    FormCreate();
    ViewCommands1 = new TViewCommands(this);
}

TForm1::~TForm1() = default;

void TForm1::BuildComponents()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Corvanta - Quick E-Mail Viewer"));
    // The icon is the application's, so every window of the program (the
    // quick message among them) shows it; an icon set already is kept.
    if (QApplication::windowIcon().isNull())
        QApplication::setWindowIcon(AppIcon(EnvelopeIcon()));
    resize(kDesignWidth, kDesignHeight);
    setMinimumSize(420, 260);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel2 = Panel(this, kCream, 105);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    const QFont labelFont = PixelFont(12);
    const QFont editFont = PixelFont(11);
    const int tops[4] = {7, 31, 55, 79};
    QLabel** labels[4] = {&Label1, &Label2, &Label3, &Label4};
    const char* labelNames[4] = {"Label1", "Label2", "Label3", "Label4"};
    const char* labelCaptions[4] = {"Date", "From", "To", "Subject"};
    for (int i = 0; i < 4; ++i) {
        auto* l = new QLabel(QString::fromLatin1(labelCaptions[i]), Panel2);
        l->setObjectName(QString::fromLatin1(labelNames[i]));
        l->setFont(labelFont);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setGeometry(0, tops[i], 80, 21); // right-justified: the right edge stays
        *labels[i] = l;
    }
    auto makeEdit = [&](const char* name, int top, int width) {
        auto* e = new QLineEdit(Panel2);
        e->setObjectName(QString::fromLatin1(name));
        e->setFont(editFont);
        e->setReadOnly(true);
        e->setGeometry(88, top, width, 21);
        return e;
    };
    Edit1 = makeEdit("Edit1", 7, 150);
    Edit2 = makeEdit("Edit2", 31, 484);
    Edit4 = makeEdit("Edit4", 55, 484);
    Edit3 = makeEdit("Edit3", 79, 484);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Edit4);
    Label1->setBuddy(Edit1);
    Label2->setBuddy(Edit2);
    Label3->setBuddy(Edit4);
    Label4->setBuddy(Edit3);

    kelColorButton1 = new TkelColorButton(Panel2);
    kelColorButton1->setObjectName(QStringLiteral("kelColorButton1"));
    kelColorButton1->setGeometry(447, 4, 123, 22);
    kelColorButton1->SetCaption(QStringLiteral("View Attachments"));
    kelColorButton1->SetAlignment(TkelColorButton::TAlignment::taCenter);
    kelColorButton1->SetWordWrap(false);
    kelColorButton1->SetFlat(false);
    kelColorButton1->SetMarginHorizontal(8);
    kelColorButton1->SetMarginVertical(4);
    kelColorButton1->setEnabled(false);
    kelColorButton1->SetColor(kOrange);
    kelColorButton1->SetHotTrack(true);
    kelColorButton1->SetHotColor(kHotBlue);
    kelColorButton1->SetDownColor(QColor(0, 0, 128));
    kelColorButton1->SetHotFontColor(QColor(255, 255, 0));
    kelColorButton1->SetDownFontColor(Qt::white);
    kelColorButton1->setFont(PixelFont(11));
    kelColorButton1->setFocusPolicy(Qt::StrongFocus);
    connect(kelColorButton1, &TkelColorButton::onclick, this, &TForm1::kelColorButton1click);
    setTabOrder(Edit4, kelColorButton1);
    layout->addWidget(Panel2);

    PageArea = new QVBoxLayout;
    PageArea->setContentsMargins(0, 0, 0, 0);
    PageArea->setSpacing(0);
    layout->addLayout(PageArea, 1);

    const TNoticeBar remote = NoticeBar(this, QStringLiteral("RemoteContent"),
                                        QStringLiteral("Remote content was blocked: pictures, style sheets and fonts from "
                                                       "the internet would tell the sender when and where this message "
                                                       "was read."),
                                        QStringLiteral("&Load remote content"));
    RemoteContentBar = remote.bar;
    RemoteContentLabel = remote.label;
    RemoteContentButton = remote.button;
    connect(RemoteContentButton, &QPushButton::clicked, this, &TForm1::RemoteContentButtonClick);
    PageArea->addWidget(RemoteContentBar);

    EmbeddedWB1 = new TEmbeddedWB(this);
    EmbeddedWB1->setObjectName(QStringLiteral("EmbeddedWB1"));
    EmbeddedWB1->SetDownloadOptions({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
                                     TDownloadControlOption::DLCTL_BGSOUNDS, TDownloadControlOption::DLCTL_NO_SCRIPTS,
                                     TDownloadControlOption::DLCTL_NO_JAVA,
                                     TDownloadControlOption::DLCTL_NO_RUNACTIVEXCTLS,
                                     TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS});
    EmbeddedWB1->SetUserInterfaceOptions({});
    EmbeddedWB1->ReplaceCaption = false;
    EmbeddedWB1->EnableDDE = false;
    EmbeddedWB1->SetfpExceptions(true);
    EmbeddedWB1->PrintOptions.Margins = {19.05, 19.05, 19.05, 19.05};
    EmbeddedWB1->PrintOptions.Header = QStringLiteral("&w&bPage &p of &P");
    EmbeddedWB1->PrintOptions.Footer = QStringLiteral("&u&b&d");
    EmbeddedWB1->PrintOptions.HTMLHeader = QStringList{QStringLiteral("<HTML></HTML>")};
    EmbeddedWB1->PrintOptions.Orientation = TPrintOrientationOption::poPortrait;
    EmbeddedWB1->OnProgressChange = [this](TEmbeddedWB* sender, int progress, int max) {
        EmbeddedWB1ProgressChange(sender, progress, max);
    };
    EmbeddedWB1->OnRemoteContentBlocked = [this](TEmbeddedWB*) { RemoteContentBar->show(); };
    // A page whose renderer ended is grey and empty: the bar says so.
    EmbeddedWB1->OnRenderProcessEnded = [this](TEmbeddedWB*, const QString& why) {
        PageEndedLabel->setText(why.left(1).toUpper() + why.mid(1) + QLatin1Char('.'));
        PageEndedBar->show();
    };
    connect(EmbeddedWB1, &TEmbeddedWB::BusyChanged, this, [this](bool busy) {
        if (!busy && m_pageLoading)
            PageFinished();
    });
    PageArea->addWidget(EmbeddedWB1, 1);
    const TNoticeBar loadError = NoticeBar(this, QStringLiteral("LoadError"), QString(), QString());
    LoadErrorBar = loadError.bar;
    LoadErrorLabel = loadError.label;
    AddPageBar(LoadErrorBar);
    const TNoticeBar ended = NoticeBar(this, QStringLiteral("PageEnded"), QString(), QStringLiteral("Load &again"));
    PageEndedBar = ended.bar;
    PageEndedLabel = ended.label;
    PageEndedButton = ended.button;
    connect(PageEndedButton, &QPushButton::clicked, this, &TForm1::PageEndedButtonClick);
    AddPageBar(PageEndedBar);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFixedHeight(10);
    layout->addWidget(ProgressBar1);

    Panel1 = Panel(this, kOrange, 33);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Close"), Panel1);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(473, 5, 111, 24);
    BitBtn2 = new QPushButton(QIcon::fromTheme(QStringLiteral("document-print"),
                                               style()->standardIcon(QStyle::SP_FileIcon)),
                              QStringLiteral("Print"), Panel1);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(6, 5, 111, 24);
    layout->addWidget(Panel1);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm1::BitBtn2Click);

    MailMessage20001.Name = "MailMessage20001";
    MailMessage20001.Charset = "iso-8859-1";
    MailMessage20001.TextEncoding = TEncodingType::etQuotedPrintable;
    MailMessage20001.AttachEncoding = TEncodingType::etBase64;
    MailMessage20001.EmbedMethod = TEmbedMethod::emContentLocation;
    MailMessage20001.ContentLocationBase = "http://localhost/corvanta/";
    MailMessage20001.OnProgress = [this](TMailPart* sender, std::size_t total, std::size_t current) {
        MailMessage20001Progress(sender, total, current);
    };
    SetAttachmentsButton(false);

    SecurityBar = new TSecurityBar(this);
    AddPageBar(SecurityBar);
}

void TForm1::FormCreate()
{
    TApplication::SetExceptionHandler(&TForm1::Errorhandler);
    Label1->setText(MessageStrings::Text(4, 34));
    Label2->setText(MessageStrings::Text(4, 33));
    Label3->setText(MessageStrings::Text(4, 32));
    Label4->setText(MessageStrings::Text(4, 37));
    kelColorButton1->SetCaption(WithAccelerator(MessageStrings::Text(4, 23)));
    BitBtn1->setText(MessageStrings::Text(1, 363));
    BitBtn2->setText(MessageStrings::Text(1, 235));
    EmbeddedWB1->SetUserAgent(QStringLiteral("Corvanta v.3.0.5 by TELMOSSA"));
}


void TForm1::AddPageBar(QWidget* bar) { PageArea->insertWidget(PageArea->indexOf(EmbeddedWB1), bar); }

bool TForm1::event(QEvent* e)
{
    const bool result = QWidget::event(e);
    // Run from the event loop, not inside the activation's delivery: the load
    // may process events itself.
    if (e->type() == QEvent::WindowActivate)
        QTimer::singleShot(0, this, &TForm1::FormActivate);
    return result;
}

// Some window managers never activate a new window: the first load also
// starts when the window is first shown.
void TForm1::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (!m_loadedOnce)
        QTimer::singleShot(0, this, &TForm1::FormActivate);
}

TForm1::TFileStamp TForm1::StampOf(const QString& path)
{
    TFileStamp stamp;
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return stamp;
}

// Loads the message when it was never loaded or the file changed on disk
// since (size, modification time, inode); otherwise what is shown stays.
// The fields are filled as soon as the file is parsed; the page finishes
// loading afterwards, without anything of this load left on the stack.
void TForm1::FormActivate()
{
    if (m_busy != TBusy::Idle)
        return; // a change on disk is seen at the next activation
    const TFileStamp stamp = StampOf(m_messagePath);
    if (m_loadedOnce && stamp == m_loadedStamp)
        return;
    m_loadedOnce = true;
    m_loadedStamp = stamp;
    m_busy = TBusy::Loading;
    repaint();
    // The page starts before the parse, so the engine gets ready while the
    // file is parsed; it is handed the parsed message instead of reading the
    // file a second time.
    bool navigated = false;
    const QFileInfo file(m_messagePath);
    if (!m_messagePath.isEmpty() && file.isFile() && file.isReadable()) {
        RemoteContentBar->hide();
        PageEndedBar->hide();
        EmbeddedWB1->NavigateMessage(m_messagePath);
        navigated = true;
    }
    try {
        LoadMessageFile(MailMessage20001, QFile::encodeName(m_messagePath).toStdString(), Security);
        m_messageRead = true;
        SecurityBar->Show(Security);
        // Scanning first changes nothing for the normalisation, which scans
        // anyway; the page takes the parts as they came.
        MailMessage20001.ScanParts();
        if (navigated && m_closePending) {
            EmbeddedWB1->CancelMessage();
            navigated = false;
        } else if (navigated) {
            EmbeddedWB1->ProvideMessage(MailMessage20001);
        }
        MailMessage20001.RebuildStructure(0);
        MailMessage20001.ScanParts();
        MailMessage20001.SerializeBody();
        if (!navigated && !m_closePending) {
            RemoteContentBar->hide();
            PageEndedBar->hide();
            EmbeddedWB1->NavigateUrl(m_messagePath);
            navigated = true;
        }
        m_loadError.clear();
    } catch (...) {
        // A file that cannot be read shows whatever the message held before,
        // and the bar says why.
        if (navigated)
            EmbeddedWB1->CancelMessage();
        navigated = false;
        m_loadError = ReadProblem(m_messagePath);
        if (m_loadError.isEmpty())
            m_loadError = WhatFailed(std::current_exception());
    }
    // Without a file named there is nothing to say: the window is empty.
    LoadErrorBar->setVisible(!m_loadError.isEmpty() && !m_messagePath.isEmpty());
    LoadErrorLabel->setText(QStringLiteral("The message %1 cannot be read: %2")
                                .arg(QFileInfo(m_messagePath).absoluteFilePath(), m_loadError));
    FillFields();
    m_busy = TBusy::Idle;
    m_pageLoading = navigated && EmbeddedWB1->IsBusy();
    if (!m_pageLoading && !m_closePending)
        PageFinished();
    RunPending();
}

// Before any message was read there is no date to show (the empty
// message's would be the first day of the calendar).
QString TForm1::DateText() const { return m_messageRead ? MessageDateText(MailMessage20001) : QString(); }

void TForm1::FillFields()
{
    // The header as every place that shows it reads it: encoded words in
    // their declared charsets.
    const TShownHeader header(MailMessage20001);
    Edit1->setText(DateText());
    Edit2->setText(m_messageRead ? header.FromName() + QStringLiteral(" (") + header.FromAddress() + QLatin1Char(')')
                                 : QString());
    Edit3->setText(header.Subject());
    Edit4->setText(header.ToText());
    for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4})
        e->setCursorPosition(0);

    const auto& list = MailMessage20001.AttachList;
    const bool any = std::any_of(list.begin(), list.end(), [](const TMailPart* p) { return !p->Embedded; });
    SetAttachmentsButton(any);
}

void TForm1::PageFinished()
{
    m_pageLoading = false;
    // Also when no page was loaded (an unreadable file) or the engine never
    // said it had finished: the parse left the bar full.
    ProgressBar1->setValue(ProgressBar1->minimum());
    EmbeddedWB1->UIActivateDocument();
    emit MessageShown();
}

// Orange and live, with its blue and yellow hot look, with something to
// list; flat grey without hot tracking otherwise: the mouse over it changes
// nothing, and its caption stays in the caption's colour (silver on silver
// it would vanish).
void TForm1::SetAttachmentsButton(bool enabled)
{
    kelColorButton1->setEnabled(enabled);
    if (enabled) {
        kelColorButton1->SetColor(kOrange);
        kelColorButton1->SetHotColor(kHotBlue);
        kelColorButton1->SetHotFontColor(kYellow);
    } else {
        kelColorButton1->SetColor(kSilver);
        kelColorButton1->SetHotColor(kSilver);
        kelColorButton1->SetHotFontColor(kelColorButton1->palette().color(QPalette::Active, QPalette::WindowText));
    }
    kelColorButton1->update();
}

void TForm1::kelColorButton1click()
{
    if (m_busy == TBusy::Loading) {
        m_attachmentsPending = true;
        return;
    }
    if (m_busy != TBusy::Idle)
        return;
    m_busy = TBusy::Attachments;
    {
        Attachmentsform = new TAttachmentsform(this);
        struct Free {
            TBusy& busy;
            ~Free()
            {
                delete Attachmentsform;
                Attachmentsform = nullptr;
                busy = TBusy::Idle;
            }
        } free{m_busy};
        Attachmentsform->ViewOnly = true;
        Attachmentsform->MailMessage = &MailMessage20001;
        Attachmentsform->exec();
    }
    RunPending();
}

// What was asked for while other work ran, once it has ended. Closing wins
// over everything else.
void TForm1::RunPending()
{
    if (m_busy != TBusy::Idle)
        return;
    if (m_closePending) {
        m_closePending = m_printPending = m_attachmentsPending = false;
        close();
        return;
    }
    if (m_printPending) {
        m_printPending = false;
        BitBtn2Click();
        return;
    }
    if (m_attachmentsPending) {
        m_attachmentsPending = false;
        if (kelColorButton1->isEnabled())
            kelColorButton1click();
    }
}

void TForm1::closeEvent(QCloseEvent* e)
{
    if (m_busy != TBusy::Idle) {
        // The running work still uses the window and its message: the window
        // closes as soon as that work has ended, which stopping hastens.
        m_closePending = true;
        if (m_busy == TBusy::Printing)
            EmbeddedWB1->CancelPrint();
        if (EmbeddedWB1->IsBusy())
            EmbeddedWB1->StopLoading();
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
}

// Waits for the engine without spinning: events (paint, progress, clicks)
// run meanwhile.
void TForm1::WaitWhileBusy()
{
    if (!EmbeddedWB1->IsBusy())
        return;
    QEventLoop loop;
    connect(EmbeddedWB1, &TEmbeddedWB::BusyChanged, &loop, [&loop](bool busy) {
        if (!busy)
            loop.quit();
    });
    if (EmbeddedWB1->IsBusy())
        loop.exec();
}

void TForm1::FormClose()
{
    if (EmbeddedWB1->IsBusy())
        EmbeddedWB1->StopLoading();
}

void TForm1::EmbeddedWB1ProgressChange(TEmbeddedWB*, int progress, int progressMax)
{
    // Called from the event loop already: no repaint or event processing of
    // its own. -1 is the engine's word that the page has finished: the bar
    // is empty again, or the window would look busy for ever.
    if (progress < 0) {
        ProgressBar1->setValue(ProgressBar1->minimum());
        return;
    }
    ProgressBar1->setMaximum(std::max(0, progressMax));
    ProgressBar1->setValue(std::clamp(progress, 0, std::max(0, progressMax)));
}

void TForm1::BitBtn1Click() { close(); }

// Print pressed while the message loads prints once the load has ended.
void TForm1::BitBtn2Click()
{
    if (m_busy == TBusy::Loading) {
        m_printPending = true;
        return;
    }
    if (m_busy != TBusy::Idle)
        return; // a print is running
    if (!m_loadedOnce)
        FormActivate();
    m_busy = TBusy::Printing;
    Print();
    m_busy = TBusy::Idle;
    RunPending();
}

namespace {

QString Escaped(const QString& text) { return text.toHtmlEscaped(); }

} // namespace

void TForm1::Print()
{
    EmbeddedWB1->setCursor(Qt::WaitCursor);
    struct Restore {
        QWidget* w;
        ~Restore() { w->unsetCursor(); }
    } restore{EmbeddedWB1};
    WaitWhileBusy();
    if (m_closePending)
        return;
    // The block is built anew on every click. Every value is escaped: a
    // header is the sender's text, never markup for the print.
    const TShownHeader header(MailMessage20001);
    QStringList& block = EmbeddedWB1->PrintOptions.HTMLHeader;
    block.clear();
    block << QStringLiteral("<HR><font face=\"verdana,arial\" size=-1>");
    block << MessageStrings::Text(1, 307) + QStringLiteral(": ")
                 + DateText().toHtmlEscaped() + QStringLiteral("<BR>");
    if (!header.FromName().isEmpty())
        block << MessageStrings::Text(4, 33) + QStringLiteral(": ") + Escaped(header.FromName())
                     + QStringLiteral(" (") + Escaped(header.FromAddress()) + QStringLiteral(")<BR>");
    else
        block << MessageStrings::Text(4, 33) + QStringLiteral(": ") + Escaped(header.FromAddress())
                     + QStringLiteral("<BR>");
    block << MessageStrings::Text(4, 32) + QStringLiteral(": ") + Escaped(header.ToText()) + QStringLiteral("<BR>");
    block << MessageStrings::Text(3, 32) + QStringLiteral(": ") + Escaped(header.Value("Organization"))
                 + QStringLiteral("<BR>");
    block << MessageStrings::Text(4, 37) + QStringLiteral(": ") + Escaped(header.Subject()) + QStringLiteral("<BR>");
    for (const QString& line : SecurityLines(Security))
        block << line.toHtmlEscaped() + QStringLiteral("<BR>");
    block << QStringLiteral("<HR></font><P>");
    EmbeddedWB1->PrintDocument();
    const QString error = EmbeddedWB1->LastPrintError();
    if (!error.isEmpty() && !m_closePending && ShowNotices)
        ShowQuickMessage(MessageStrings::Text(1, 235), QStringLiteral("The message could not be printed: ") + error,
                         10000, false, true, 10, 0, this);
}

void TForm1::SetProgress(long long maximum, long long position)
{
    ProgressBar1->setMaximum(static_cast<int>(std::clamp<long long>(maximum, 0, INT_MAX)));
    ProgressBar1->setValue(static_cast<int>(std::clamp<long long>(position, 0, INT_MAX)));
    ProgressBar1->repaint();
    QCoreApplication::processEvents();
}

void TForm1::MailMessage20001Progress(TMailPart*, std::size_t total, std::size_t current)
{
    // The engine reports every line; the bar follows on a clock, at most
    // about 30 times a second, and always at the start and the end. The
    // clock itself is read only every 64 KiB.
    constexpr std::size_t kStride = 64 << 10;
    if (current != 0 && current != total) {
        if (current < m_progressNext)
            return;
        m_progressNext = current + kStride;
        if (m_progressClock.elapsed() < kProgressInterval)
            return;
    } else {
        m_progressNext = kStride;
    }
    m_progressClock.start();
    // Above INT_MAX the bar counts kilobytes.
    const int shift = total > static_cast<std::size_t>(INT_MAX) ? 10 : 0;
    SetProgress(static_cast<long long>(total >> shift), static_cast<long long>(current >> shift));
}

void TForm1::RemoteContentButtonClick()
{
    RemoteContentBar->hide();
    EmbeddedWB1->LoadRemoteContent();
}

void TForm1::PageEndedButtonClick()
{
    if (m_busy != TBusy::Idle)
        return; // a load or print runs: the bar stays for afterwards
    PageEndedBar->hide();
    m_pageLoading = true;
    EmbeddedWB1->ReloadPage();
    if (!EmbeddedWB1->IsBusy())
        PageFinished();
}

void TForm1::Errorhandler() { QApplication::beep(); }

void TForm1::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    const int dw = width() - kDesignWidth;
    for (QLineEdit* edit : {Edit2, Edit3, Edit4})
        edit->resize(std::max(120, 484 + dw), edit->height());
    kelColorButton1->move(std::max(250, 447 + dw), kelColorButton1->y());
    BitBtn1->move(std::max(125, 473 + dw), BitBtn1->y());
}
