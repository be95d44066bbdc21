#include "TQuickMessage.h"

#include "Look.h"
#include "MessageStrings.h"

#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

TQuickMessage* QuickMessage = nullptr;

namespace {

const QColor kCream(254, 252, 224);
const QColor kInk(64, 0, 64);
const QColor kOrange(252, 168, 84);

QFont Font(double points, bool bold = false) { return SansFont(points, false, bold); }
void Fill(QWidget* w, const QColor& c) { FillBackground(w, c); }

QLabel* Text(QWidget* parent, const QString& text, double points, const QColor& color, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->setFont(Font(points, true));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    l->move(x, y);
    l->adjustSize();
    return l;
}

} // namespace

// ---- TAnimate ---------------------------------------------------------------

TAnimate::TAnimate(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(90);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % 16;
        update();
    });
}

void TAnimate::SetClip(int clip)
{
    m_clip = clip;
    update();
}

void TAnimate::SetActive(bool active)
{
    m_active = active;
    if (active)
        m_timer->start();
    else {
        m_timer->stop();
        m_frame = StopFrame;
    }
    update();
}

void TAnimate::paintEvent(QPaintEvent*)
{
    // A sheet travelling from a folder on the left to the right (copying),
    // a lens sweeping to and fro (finding), a sheet falling into a bin
    // (deleting, emptying).
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int w = width(), h = height();
    const double t = m_frame / 15.0;
    p.setPen(QPen(kInk, 1));
    switch (m_clip) {
    case 1: {
        p.setBrush(QColor(240, 200, 80));
        p.drawRect(QRectF(4, 3, 14, h - 6));
        p.drawRect(QRectF(w - 18, 3, 14, h - 6));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(18 + t * (w - 48), 2, 10, h - 4));
        break;
    }
    case 3:
    case 4: {
        p.setBrush(QColor(180, 180, 190));
        p.drawRect(QRectF(w - 22, 4, 14, h - 6));
        p.setBrush(Qt::white);
        const int count = m_clip == 4 ? 3 : 1;
        for (int i = 0; i < count; ++i)
            p.drawRect(QRectF(8 + (t + i * 0.3 - std::floor(t + i * 0.3)) * (w - 40), 2, 9, h - 4));
        break;
    }
    default: {
        const double x = 8 + (0.5 - 0.5 * std::cos(t * 2 * 3.14159265)) * (w - 30);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(x, 2, h - 6, h - 6));
        p.drawLine(QPointF(x + h - 7, h - 5), QPointF(x + h - 2, h - 1));
        break;
    }
    }
}

// ---- TQuickMessage --------------------------------------------------------

TQuickMessage::TQuickMessage(QWidget* parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(438, 300);
    Fill(this, kCream);
    setFont(Font(8));

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(false);
    connect(Timer1, &QTimer::timeout, this, &TQuickMessage::Timer1Timer);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Panel2 = new QFrame(this);
    Panel2->setFixedHeight(49);
    Fill(Panel2, kCream);
    Image1 = new QLabel(Panel2);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(40, 40));
    Image1->setGeometry(0, 0, 438, 49);
    Image1->hide();
    Label4 = Text(Panel2, QStringLiteral("Corvanta"), 16, QColor(128, 128, 128), 44, 4); // shadow
    Label5 = Text(Panel2, QStringLiteral("Corvanta"), 16, QColor(255, 255, 0), 43, 2);
    Label7 = Text(Panel2, QStringLiteral("e-Mail"), 12, QColor(128, 128, 128), 53, 26);
    Image5 = new QLabel(Panel2);
    Image5->setGeometry(4, 7, 32, 32);
    Image5->setPixmap(QApplication::windowIcon().pixmap(32, 32));
    Label1 = new QLabel(Panel2);
    Label1->setGeometry(158, 16, 265, 20);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setFont(Font(10, true));
    {
        QPalette p = Label1->palette();
        p.setColor(QPalette::WindowText, kInk);
        Label1->setPalette(p);
    }
    Label1->installEventFilter(this);
    Bevel1 = new QFrame(Panel2);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(0, 38, 438, 11);
    layout->addWidget(Panel2);

    Panel3 = new QFrame(this);
    Fill(Panel3, kCream);
    auto* inner = new QVBoxLayout(Panel3);
    inner->setContentsMargins(5, 5, 5, 5);
    inner->setSpacing(0);
    Memo1 = new QTextEdit(Panel3);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Fill(Memo1->viewport(), kCream);
    Fill(Memo1, kCream);
    Memo1->setFont(Font(10));
    Memo1->setTextColor(kInk);
    Memo1->viewport()->setCursor(Qt::PointingHandCursor);
    Memo1->viewport()->installEventFilter(this);
    Memo1->installEventFilter(this);
    inner->addWidget(Memo1, 1);
    Animate1 = new TAnimate(Panel3);
    Animate1->setFixedHeight(16);
    Animate1->hide();
    inner->addWidget(Animate1);
    layout->addWidget(Panel3, 1);

    Panel1 = new QFrame(this);
    Panel1->setFixedHeight(41);
    Fill(Panel1, kOrange);
    Button1 = new QPushButton(Panel1);
    Button1->setGeometry(342, 11, 76, 22);
    connect(Button1, &QPushButton::clicked, this, &TQuickMessage::Button1Click);
    Panel1->hide();
    layout->addWidget(Panel1);

    // The focus holder: it takes the keys so Enter and Escape close.
    Memo2 = new QTextEdit(this);
    Memo2->setGeometry(0, 175, 249, 29);
    Memo2->setReadOnly(true);
    Memo2->setFrameShape(QFrame::NoFrame);
    Memo2->setAlignment(Qt::AlignCenter);
    Memo2->setFixedSize(1, 1); // present for the keyboard, out of sight
    Memo2->installEventFilter(this);
    Memo2->viewport()->installEventFilter(this);

    FormCreate();
}

TQuickMessage::~TQuickMessage()
{
    if (QuickMessage == this)
        QuickMessage = nullptr;
}

void TQuickMessage::FormCreate() { Button1->setText(MessageStrings::Text(2, 10)); }

void TQuickMessage::FormShow()
{
    const bool logo = Label1->text().contains(QStringLiteral("Corvanta"));
    Image1->setVisible(logo);
    if (logo)
        CompactLayout = true;
    Label1->setVisible(!logo);
    if (CompactLayout) {
        Memo1->selectAll();
        Memo1->setAlignment(Qt::AlignCenter);
    }
    // The text is read from its first line (left at the end of the
    // selection, the view would show only the last lines).
    QTextCursor c = Memo1->textCursor();
    c.movePosition(QTextCursor::Start);
    Memo1->setTextCursor(c);
    Memo1->verticalScrollBar()->setValue(0);
    Memo2->setFocus();
    Timer1->start();
}

void TQuickMessage::FormHide()
{
    if (AutoClose)
        close();
}

void TQuickMessage::FormDeactivate()
{
    if (AutoClose)
        close();
}

void TQuickMessage::Timer1Timer()
{
    if (AutoClose)
        close();
}

void TQuickMessage::Memo1Click() { close(); }

void TQuickMessage::Memo1KeyUp(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
        close();
}

void TQuickMessage::Memo2KeyUp(int key) { Memo1KeyUp(key); }

void TQuickMessage::Button1Click() { close(); }

bool TQuickMessage::event(QEvent* e)
{
    if (e->type() == QEvent::WindowDeactivate)
        FormDeactivate();
    if (e->type() == QEvent::KeyPress) {
        // Escape would reject a modal dialog at key press; it closes at key
        // release, as the other keys do.
        const auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Escape || k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
            return true;
    }
    if (e->type() == QEvent::KeyRelease) {
        Memo1KeyUp(static_cast<QKeyEvent*>(e)->key());
        return true;
    }
    return QDialog::event(e);
}

bool TQuickMessage::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::MouseButtonRelease
        && (watched == Memo1->viewport() || watched == Memo2->viewport() || watched == Label1)) {
        Memo1Click();
        return true;
    }
    if (e->type() == QEvent::KeyPress) {
        const auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Escape || k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
            return true;
    }
    if (e->type() == QEvent::KeyRelease && (watched == Memo1 || watched == Memo2)) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        watched == Memo1 ? Memo1KeyUp(key) : Memo2KeyUp(key);
        return true;
    }
    return QDialog::eventFilter(watched, e);
}

void TQuickMessage::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    FormShow();
}

void TQuickMessage::hideEvent(QHideEvent* e)
{
    QDialog::hideEvent(e);
    FormHide();
}

void ShowQuickMessage(const QString& title, const QString& text, int interval, bool large, bool autoClose,
                      int textSize, int animation, QWidget* owner)
{
    auto* q = new TQuickMessage(owner);
    QuickMessage = q;
    try {
        q->Timer1->setInterval(std::max(0, interval));
        QFont titleFont = q->Label1->font();
        titleFont.setPointSize(11);
        q->Label1->setFont(titleFont);
        q->setWindowTitle(QStringLiteral("Corvanta v.3.0.5: ") + title);
        // A text longer than the window scrolls: without a scroll bar its
        // end could not be reached.
        q->Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        if (large) {
            q->resize(q->width() + 320, q->height() + 250);
            q->CompactLayout = false;
            q->Panel1->show();
            q->Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        } else {
            q->CompactLayout = true;
        }
        q->Label1->setText(title);
        QFont memoFont = q->Memo1->font();
        memoFont.setPointSize(std::max(1, textSize));
        q->Memo1->setFont(memoFont);
        q->Memo1->setPlainText(text);
        q->Memo1->setReadOnly(true);
        q->AutoClose = autoClose;
        q->Memo1->setToolTip(MessageStrings::Text(1, 103));
        q->Memo1->viewport()->setToolTip(MessageStrings::Text(1, 103));
        if (animation >= 1 && animation <= 4)
            q->Animate1->SetClip(animation);
        q->Animate1->SetActive(animation > 0);
        q->Animate1->setVisible(animation > 0);
    } catch (...) {
        // shown all the same
    }
    if (QWidget* main = owner ? owner->window() : QApplication::activeWindow(); main && main != q) {
        const QPoint c = main->geometry().center();
        q->move(c - QPoint(q->width() / 2, q->height() / 2));
    }
    if (autoClose) {
        // A closed modeless message only hides; it lives until the program ends.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, q, &QObject::deleteLater);
        q->show();
        return;
    }
    q->exec();
    delete q;
    if (QuickMessage == q)
        QuickMessage = nullptr;
}
