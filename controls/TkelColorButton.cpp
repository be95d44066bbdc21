#include "TkelColorButton.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>

TkelColorButton::TkelColorButton(QWidget* parent) : QWidget(parent)
{
    resize(24, 24);
    setAttribute(Qt::WA_Hover, false);
    setMouseTracking(false);
}

TkelColorButton::~TkelColorButton() = default;

void TkelColorButton::SetGroupIndex(int value)
{
    if (value == m_groupIndex)
        return;
    m_groupIndex = value;
    NotifyGroup();
}

void TkelColorButton::SetAlignment(TAlignment value)
{
    if (value == m_alignment)
        return;
    m_alignment = value;
    update();
}

void TkelColorButton::SetBackBitmap(const QPixmap& value)
{
    m_backBitmap = value; // a copy of its own
    update();
}

void TkelColorButton::SetCaption(const QString& value)
{
    if (value == m_caption)
        return;
    m_caption = value;
    RegisterAccelerator();
    update();
}

void TkelColorButton::SetWordWrap(bool value)
{
    if (value == m_wordWrap)
        return;
    m_wordWrap = value;
    update();
}

void TkelColorButton::SetDown(bool value)
{
    if (value != m_down) {
        m_down = value;
        update();
    }
    if (value)
        NotifyGroup();
}

void TkelColorButton::SetFlat(bool value)
{
    if (value == m_flat)
        return;
    m_flat = value;
    update();
}

void TkelColorButton::SetMarginHorizontal(int value)
{
    if (value == m_marginHorizontal)
        return;
    m_marginHorizontal = value;
    update();
}

void TkelColorButton::SetMarginVertical(int value)
{
    if (value == m_marginVertical)
        return;
    m_marginVertical = value;
    update();
}

void TkelColorButton::SetColor(const QColor& value)
{
    if (value == m_color)
        return;
    m_color = value;
    update();
}

// Tells the other buttons of the group under the same parent that this one
// is down; each of them that is down too goes up.
void TkelColorButton::NotifyGroup()
{
    if (m_groupIndex == 0 || !parentWidget())
        return;
    for (auto* sibling : parentWidget()->findChildren<TkelColorButton*>(Qt::FindDirectChildrenOnly))
        sibling->ButtonPressed(m_groupIndex, this);
}

void TkelColorButton::ButtonPressed(int groupIndex, TkelColorButton* sender)
{
    if (groupIndex == m_groupIndex && sender != this && sender->m_down && m_down) {
        m_down = false;
        update();
    }
}

void TkelColorButton::Click()
{
    m_pressed = false;
    if (m_groupIndex == 0)
        m_down = false;
    else
        m_down = m_allowAllUp ? !m_down : true;
    repaint();
    emit onclick();
}

void TkelColorButton::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    repaint();
}

void TkelColorButton::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_pressed)
        return;
    // A release outside the button raises no click, and ends the pressed
    // look all the same.
    if (rect().contains(e->position().toPoint())) {
        Click();
    } else {
        m_pressed = false;
        repaint();
    }
}

void TkelColorButton::keyPressEvent(QKeyEvent* e)
{
    if (!e->isAutoRepeat()
        && (e->key() == Qt::Key_Space || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        Click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void TkelColorButton::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    update();
}

void TkelColorButton::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    update();
}

void TkelColorButton::enterEvent(QEnterEvent* e)
{
    QWidget::enterEvent(e);
    m_hot = true;
    repaint();
}

void TkelColorButton::leaveEvent(QEvent* e)
{
    QWidget::leaveEvent(e);
    m_hot = false;
    repaint();
}

void TkelColorButton::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        update();
}

void TkelColorButton::RegisterAccelerator()
{
    if (m_shortcutId) {
        releaseShortcut(m_shortcutId);
        m_shortcutId = 0;
    }
    const QKeySequence key = QKeySequence::mnemonic(m_caption);
    if (!key.isEmpty())
        m_shortcutId = grabShortcut(key);
}

bool TkelColorButton::event(QEvent* e)
{
    if (e->type() == QEvent::Shortcut && static_cast<QShortcutEvent*>(e)->shortcutId() == m_shortcutId) {
        if (isEnabled() && isVisible() && parentWidget() && parentWidget()->isVisible())
            Click();
        return true;
    }
    return QWidget::event(e);
}

void TkelColorButton::paintEvent(QPaintEvent*)
{
    const bool useBitmap = !m_backBitmap.isNull() && m_backBitmap.width() > 0 && m_backBitmap.height() > 0;
    const QFontMetrics fm(font());
    constexpr int kSingleLine = Qt::TextSingleLine | Qt::TextShowMnemonic;

    // Grow to fit the caption; never shrink.
    if (!m_wordWrap) {
        const QSize text = fm.size(kSingleLine, m_caption);
        const int needW = text.width() + 2 * m_marginHorizontal;
        const int needH = text.height() + 2 * m_marginVertical;
        if (needW > width() || needH > height())
            resize(std::max(width(), needW), std::max(height(), needH));
    } else {
        constexpr int kWrapped = Qt::TextWordWrap | Qt::TextShowMnemonic;
        // A word that cannot be broken widens the button, as a single line
        // does; laid out centred in less, it would be cut on both sides.
        const int widest = fm.boundingRect(QRect(0, 0, 1, 1 << 20), kWrapped, m_caption).width();
        if (widest + 2 * m_marginHorizontal > width())
            resize(widest + 2 * m_marginHorizontal, height());
        const QRect layout(m_marginHorizontal, m_marginVertical, width() - 2 * m_marginHorizontal,
                           height() - m_marginVertical);
        const QRect used = fm.boundingRect(layout, kWrapped, m_caption);
        // The text rectangle keeps both margins, and the caption is drawn
        // clipped to it: with less room the last line loses its descenders.
        const int needH = used.height() + 2 * m_marginVertical + 1;
        if (needH > height())
            resize(width(), needH);
    }

    const QRect full(0, 0, width(), height());
    QRect text = m_wordWrap ? QRect(QPoint(m_marginHorizontal, m_marginVertical),
                                    QPoint(width() - m_marginHorizontal - 1, height() - m_marginVertical - 1))
                            : QRect(QPoint(m_marginHorizontal, 0), QPoint(width() - m_marginHorizontal - 1, height() - 1));
    if (m_pressed || m_down)
        text.translate(1, 1);
    const int right = width() - 1, bottom = height() - 1;

    enum class Frame { None, Raised, Sunken };
    QColor background, caption;
    Frame frame;
    bool notify = false;
    // A disabled button keeps its enabled colours: the caption is not greyed.
    const QColor fontColor = palette().color(QPalette::Active, QPalette::WindowText);
    if (m_pressed || m_down) {
        background = m_downColor;
        frame = Frame::Sunken;
        caption = m_downFontColor;
        notify = true;
    } else if (m_hot && m_hotTrack) {
        background = m_hotColor;
        frame = Frame::Raised;
        caption = m_hotFontColor;
    } else if (!m_hot && m_flat) {
        background = m_color;
        frame = Frame::None;
        caption = fontColor;
    } else {
        background = m_color;
        frame = Frame::Raised;
        caption = fontColor;
    }

    QPainter p(this);
    if (useBitmap) {
        const int bw = m_backBitmap.width(), bh = m_backBitmap.height();
        for (int row = 0; row < height() / bh + 1; ++row)
            for (int col = 0; col < width() / bw + 1; ++col)
                p.drawPixmap(col * bw, row * bh, m_backBitmap);
    } else {
        p.fillRect(full, background);
    }
    if (frame != Frame::None) {
        const QColor white(255, 255, 255), grey(128, 128, 128);
        const QColor first = frame == Frame::Raised ? white : grey;
        const QColor second = frame == Frame::Raised ? grey : white;
        p.setPen(first);
        p.drawLine(right, 0, 0, 0);
        p.drawLine(0, 0, 0, bottom);
        p.setPen(second);
        p.drawLine(0, bottom, right, bottom);
        p.drawLine(right, bottom, right, 0);
    }
    int align = m_alignment == TAlignment::taLeftJustify    ? Qt::AlignLeft
                : m_alignment == TAlignment::taRightJustify ? Qt::AlignRight
                                                            : Qt::AlignHCenter;
    p.setPen(caption);
    p.setFont(font());
    if (m_wordWrap)
        p.drawText(text, align | Qt::AlignTop | Qt::TextWordWrap | Qt::TextShowMnemonic, m_caption);
    else
        p.drawText(text, align | Qt::AlignVCenter | kSingleLine, m_caption);
    if (hasFocus()) {
        // Reached by Tab: a dotted line inside the edge.
        QPen pen(caption, 1, Qt::DotLine);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRect(full.adjusted(2, 2, -3, -3));
    }
    p.end();
    if (notify)
        NotifyGroup();
}
