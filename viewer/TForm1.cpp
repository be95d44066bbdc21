#include "TForm1.h"

#include "EngineText.h"
#include "Look.h"
#include "MessageStrings.h"
#include "TAttachmentsform.h"
#include "TApplication.h"
#include "ViewCommands.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

namespace {

// Design size of the client area; controls anchored right follow the width.
constexpr int kDesignWidth = 589;
constexpr int kDesignHeight = 409;

const QColor kOrange(253, 172, 83);
const QColor kCream(254, 252, 224);
const QColor kSilver(192, 192, 192);
const QColor kHotBlue(0, 128, 255);

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
    setWindowIcon(EnvelopeIcon());
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
    connect(kelColorButton1, &TkelColorButton::onclick, this, &TForm1::kelColorButton1click);
    layout->addWidget(Panel2);

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
    layout->addWidget(EmbeddedWB1, 1);

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
}

void TForm1::FormCreate()
{
    TApplication::SetExceptionHandler(&TForm1::Errorhandler);
    Label1->setText(MessageStrings::Text(4, 34));
    Label2->setText(MessageStrings::Text(4, 33));
    Label3->setText(MessageStrings::Text(4, 32));
    Label4->setText(MessageStrings::Text(4, 37));
    kelColorButton1->SetCaption(MessageStrings::Text(4, 23));
    BitBtn1->setText(MessageStrings::Text(1, 363));
    BitBtn2->setText(MessageStrings::Text(1, 235));
    EmbeddedWB1->SetUserAgent(QStringLiteral("Corvanta v.3.0.5 by TELMOSSA"));
}

bool TForm1::event(QEvent* e)
{
    const bool result = QWidget::event(e);
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    return result;
}

void TForm1::FormActivate()
{
    // Pumping events while loading can activate the window again; the load
    // already running covers that activation.
    if (m_activating)
        return;
    m_activating = true;
    repaint();
    try {
        MailMessage20001.LoadFromFile(m_messagePath.toStdString());
        MailMessage20001.RebuildStructure(0);
        MailMessage20001.ScanParts();
        MailMessage20001.SerializeBody();
        EmbeddedWB1->NavigateUrl(m_messagePath);
        WaitWhileBusy();
    } catch (...) {
        // A file that cannot be read shows whatever the message held before.
    }

    Edit1->setText(DateTimeToStr(MailMessage20001.GetDate()));
    Edit2->setText(FromEngineBytes(MailMessage20001.GetFromName()) + QStringLiteral(" (")
                   + FromEngineBytes(MailMessage20001.GetFromAddress()) + QLatin1Char(')'));
    Edit3->setText(FromEngineBytes(MailMessage20001.GetSubject()));
    Edit4->setText(FromEngineBytes(MailMessage20001.ToList.GetAddressesText()));
    for (QLineEdit* e : {Edit1, Edit2, Edit3, Edit4})
        e->setCursorPosition(0);

    const auto& list = MailMessage20001.AttachList;
    const bool any = std::any_of(list.begin(), list.end(), [](const TMailPart* p) { return !p->Embedded; });
    SetAttachmentsButton(any);
    EmbeddedWB1->UIActivateDocument();
    m_activating = false;
}

// Orange and live with something to list; flat grey without hot tracking
// otherwise.
void TForm1::SetAttachmentsButton(bool enabled)
{
    kelColorButton1->setEnabled(enabled);
    if (enabled) {
        kelColorButton1->SetColor(kOrange);
    } else {
        kelColorButton1->SetColor(kSilver);
        kelColorButton1->SetHotColor(kSilver);
        kelColorButton1->SetHotFontColor(kSilver);
    }
}

void TForm1::kelColorButton1click()
{
    Attachmentsform = new TAttachmentsform(this);
    struct Free {
        ~Free()
        {
            delete Attachmentsform;
            Attachmentsform = nullptr;
        }
    } free;
    Attachmentsform->ViewOnly = true;
    Attachmentsform->MailMessage = &MailMessage20001;
    Attachmentsform->exec();
}

void TForm1::closeEvent(QCloseEvent* e)
{
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
    SetProgress(progressMax, progress);
}

void TForm1::BitBtn1Click() { close(); }

void TForm1::BitBtn2Click()
{
    EmbeddedWB1->setCursor(Qt::WaitCursor);
    struct Restore {
        QWidget* w;
        ~Restore() { w->unsetCursor(); }
    } restore{EmbeddedWB1};
    WaitWhileBusy();
    // The block is built anew on every click; values go in as they are, so
    // the print engine reads them as HTML.
    QStringList& block = EmbeddedWB1->PrintOptions.HTMLHeader;
    block.clear();
    block << QStringLiteral("<HR><font face=\"verdana,arial\" size=-1>");
    block << MessageStrings::Text(1, 307) + QStringLiteral(": ") + DateTimeToStr(MailMessage20001.GetDate())
                 + QStringLiteral("<BR>");
    if (!MailMessage20001.GetFromName().empty())
        block << MessageStrings::Text(4, 33) + QStringLiteral(": ") + FromEngineBytes(MailMessage20001.GetFromName())
                     + QStringLiteral(" (") + FromEngineBytes(MailMessage20001.GetFromAddress())
                     + QStringLiteral(")<BR>");
    else
        block << MessageStrings::Text(4, 33) + QStringLiteral(": ")
                     + FromEngineBytes(MailMessage20001.GetFromAddress()) + QStringLiteral("<BR>");
    block << MessageStrings::Text(4, 32) + QStringLiteral(": ")
                 + FromEngineBytes(MailMessage20001.ToList.GetAddressesText()) + QStringLiteral("<BR>");
    block << MessageStrings::Text(3, 32) + QStringLiteral(": ")
                 + FromEngineBytes(MailMessage20001.GetLabelValue("Organization")) + QStringLiteral("<BR>");
    block << MessageStrings::Text(4, 37) + QStringLiteral(": ") + FromEngineBytes(MailMessage20001.GetSubject())
                 + QStringLiteral("<BR>");
    block << QStringLiteral("<HR></font><P>");
    EmbeddedWB1->PrintDocument();
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
    // The engine reports every line; repainting and pumping events that
    // often would cost more than the parse, so the bar moves in steps of a
    // thousandth (and always at the start and the end).
    const int permille = total ? static_cast<int>(current * 1000 / total) : 1000;
    if (current != 0 && current != total && permille == m_lastPermille)
        return;
    m_lastPermille = permille;
    SetProgress(static_cast<long long>(total), static_cast<long long>(current));
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
