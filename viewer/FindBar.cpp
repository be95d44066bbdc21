#include "FindBar.h"

#include "Look.h"
#include "TextPageView.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>

namespace {

QToolButton* Button(QWidget* parent, const QString& text, const QString& tip, QStyle::StandardPixmap icon)
{
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setIcon(parent->style()->standardIcon(icon));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

TFindBar::TFindBar(QWebEnginePage* page, QWidget* parent) : QFrame(parent), m_page(page)
{
    setObjectName(QStringLiteral("FindBar"));
    FillBackground(this, QColor(254, 252, 224));
    setFrameShape(QFrame::StyledPanel);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 4, 2);
    layout->setSpacing(4);

    auto* label = new QLabel(QStringLiteral("Find:"), this);
    label->setFont(SansFont(12, true));
    Edit = new QLineEdit(this);
    Edit->setObjectName(QStringLiteral("FindEdit"));
    Edit->setFont(SansFont(12, true));
    Edit->setClearButtonEnabled(true);
    Edit->setFixedWidth(240);
    Edit->installEventFilter(this);
    label->setBuddy(Edit);
    PreviousButton = Button(this, QStringLiteral("Previous"), QStringLiteral("Previous match (Shift+F3)"),
                            QStyle::SP_ArrowUp);
    NextButton = Button(this, QStringLiteral("Next"), QStringLiteral("Next match (F3)"), QStyle::SP_ArrowDown);
    Count = new QLabel(this);
    Count->setObjectName(QStringLiteral("FindCount"));
    Count->setFont(SansFont(12, true));
    CloseButton = Button(this, QStringLiteral("Close"), QStringLiteral("Close the find bar (Escape)"),
                         QStyle::SP_TitleBarCloseButton);

    layout->addWidget(label);
    layout->addWidget(Edit);
    layout->addWidget(PreviousButton);
    layout->addWidget(NextButton);
    layout->addSpacing(6);
    layout->addWidget(Count);
    layout->addStretch(1);
    layout->addWidget(CloseButton);

    // Typing searches from the top; the same text again goes on to the next.
    connect(Edit, &QLineEdit::textEdited, this, [this] { Find(false); });
    connect(Edit, &QLineEdit::returnPressed, this, &TFindBar::FindNext);
    connect(NextButton, &QToolButton::clicked, this, &TFindBar::FindNext);
    connect(PreviousButton, &QToolButton::clicked, this, &TFindBar::FindPrevious);
    connect(CloseButton, &QToolButton::clicked, this, &TFindBar::Close);
    if (m_page)
        connect(m_page, &QWebEnginePage::findTextFinished, this, [this](const QWebEngineFindTextResult& result) {
            if (!InTextView())
                ShowResult(result.numberOfMatches(), result.activeMatch());
        });
    hide();
}

void TFindBar::Open()
{
    show();
    Edit->setFocus(Qt::ShortcutFocusReason);
    Edit->selectAll();
}

void TFindBar::Close()
{
    if (!isVisible())
        return;
    hide();
    if (m_page)
        m_page->findText(QString()); // takes the highlights off
    if (m_textView)
        m_textView->ClearFind();
    m_matches = m_active = 0;
    emit Closed();
}

void TFindBar::FindNext() { Find(false); }

void TFindBar::FindPrevious() { Find(true); }

QString TFindBar::Text() const { return Edit->text(); }

void TFindBar::Find(bool backward)
{
    if (!isVisible())
        show();
    const QString text = Edit->text();
    if (text.isEmpty()) {
        Count->clear();
        Edit->setStyleSheet(QString());
        m_matches = m_active = 0;
        if (m_page)
            m_page->findText(QString());
        if (m_textView)
            m_textView->ClearFind();
        return;
    }
    if (InTextView()) {
        const TTextPageView::TFindResult result = m_textView->Find(text, backward);
        ShowResult(result.matches, result.active);
        return;
    }
    if (m_page)
        m_page->findText(text, backward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags());
}

void TFindBar::SetTextView(TTextPageView* view) { m_textView = view; }

bool TFindBar::InTextView() const { return m_textView && m_textView->isVisibleTo(m_textView->window()); }

void TFindBar::ShowResult(int matches, int active)
{
    if (Edit->text().isEmpty())
        return; // the answer to clearing the highlights
    m_matches = matches;
    m_active = active;
    if (m_matches == 0) {
        Count->setText(QStringLiteral("No matches"));
        Edit->setStyleSheet(QStringLiteral("QLineEdit{background:#ffd9d9}"));
    } else {
        Count->setText(QStringLiteral("%1 of %2 %3")
                           .arg(m_active)
                           .arg(m_matches)
                           .arg(m_matches == 1 ? QStringLiteral("match") : QStringLiteral("matches")));
        Edit->setStyleSheet(QString());
    }
    emit ResultChanged(m_matches, m_active);
}

bool TFindBar::eventFilter(QObject* watched, QEvent* e)
{
    // Shift+Return goes back, as in browsers' find bars.
    if (watched == Edit && e->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(e);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier)) {
            FindPrevious();
            return true;
        }
    }
    return QFrame::eventFilter(watched, e);
}
