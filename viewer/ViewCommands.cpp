#include "ViewCommands.h"

#include "FindBar.h"
#include "SourceWindow.h"
#include "TAttachmentsform.h"
#include "TForm1.h"
#include "TQtWebEngine.h"
#include "TextPageView.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <algorithm>
#include <cmath>

namespace {

// The steps browsers use, within the engine's range.
constexpr double kZoomSteps[] = {0.25, 0.33, 0.5, 0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                 1.25, 1.5,  1.75, 2.0, 2.5,  3.0, 4.0, 5.0};
constexpr double kMinZoom = 0.25;
constexpr double kMaxZoom = 5.0;
const QString kZoomKey = QStringLiteral("Defaults/Zoom");

} // namespace

TViewCommands::TViewCommands(TForm1* form) : QObject(form), m_form(form)
{
    TTextPageView* textView = nullptr;
    if (auto* engine = dynamic_cast<TQtWebEngine*>(form->EmbeddedWB1->Engine()); engine && engine->View()) {
        m_page = engine->View()->page();
        textView = engine->TextView();
    }
    m_textView = textView;

    FindBar = new TFindBar(m_page, form);
    FindBar->SetTextView(textView);
    form->AddPageBar(FindBar);
    connect(FindBar, &TFindBar::Closed, form, [form] { form->EmbeddedWB1->UIActivateDocument(); });
    // The page moves when the bar comes or goes; the link that was under the
    // mouse is no longer there.
    connect(FindBar, &TFindBar::Closed, this, [this] { LinkStatus->hide(); });

    LinkStatus = new QLabel(form->EmbeddedWB1);
    LinkStatus->setObjectName(QStringLiteral("LinkStatus"));
    LinkStatus->setStyleSheet(QStringLiteral("QLabel{background:#fefce0;color:#202020;border:1px solid #b0a890;"
                                             "border-left:0;border-bottom:0;padding:1px 6px}"));
    LinkStatus->setAttribute(Qt::WA_TransparentForMouseEvents);
    LinkStatus->hide();
    form->EmbeddedWB1->installEventFilter(this);
    form->installEventFilter(this);

    if (m_page) {
        connect(m_page, &QWebEnginePage::linkHovered, this, &TViewCommands::ShowLink);
        // A reload (each activation) finds again what the bar shows.
        connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
            if (ok && FindBar->isVisible() && !FindBar->Text().isEmpty())
                FindBar->FindNext();
        });
    }
    if (textView) {
        connect(textView, &TTextPageView::LinkHovered, this, &TViewCommands::ShowLink);
        connect(textView, &TTextPageView::Finished, this, [this] {
            if (FindBar->isVisible() && !FindBar->Text().isEmpty())
                FindBar->FindNext();
        });
        connect(textView, &TTextPageView::ZoomStepRequested, this,
                [this](int direction) { direction > 0 ? ZoomIn() : ZoomOut(); });
    }
    SetZoom(SavedZoom());

    auto key = [this, form](const QKeySequence& sequence, void (TViewCommands::*command)()) {
        auto* shortcut = new QShortcut(sequence, form);
        connect(shortcut, &QShortcut::activated, this, command);
    };
    key(QKeySequence::Find, &TViewCommands::Find);
    key(QKeySequence(Qt::Key_F3), &TViewCommands::FindNext);
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), &TViewCommands::FindPrevious);
    key(QKeySequence(Qt::CTRL | Qt::Key_Plus), &TViewCommands::ZoomIn);
    key(QKeySequence(Qt::CTRL | Qt::Key_Equal), &TViewCommands::ZoomIn); // the plus key without Shift
    key(QKeySequence(Qt::CTRL | Qt::Key_Minus), &TViewCommands::ZoomOut);
    key(QKeySequence(Qt::CTRL | Qt::Key_0), &TViewCommands::ZoomReset);
    key(QKeySequence(Qt::CTRL | Qt::Key_U), &TViewCommands::ShowSource);
    key(QKeySequence(Qt::CTRL | Qt::Key_P), &TViewCommands::Print);
    key(QKeySequence(Qt::CTRL | Qt::Key_W), &TViewCommands::CloseWindow);
    key(QKeySequence(Qt::Key_Escape), &TViewCommands::Escape);

    ExecSource = [](TSourceWindow& window) { window.exec(); };
}

QWebEnginePage* TViewCommands::Page() const { return m_page; }

void TViewCommands::Find()
{
    LinkStatus->hide();
    FindBar->Open();
}

void TViewCommands::FindNext()
{
    if (FindBar->Text().isEmpty())
        FindBar->Open();
    else
        FindBar->FindNext();
}

void TViewCommands::FindPrevious()
{
    if (FindBar->Text().isEmpty())
        FindBar->Open();
    else
        FindBar->FindPrevious();
}

void TViewCommands::Escape()
{
    if (FindBar->isVisible())
        FindBar->Close();
    else
        CloseWindow();
}

void TViewCommands::CloseWindow() { m_form->close(); }

// The same path as the Print button.
void TViewCommands::Print() { m_form->BitBtn2->click(); }

void TViewCommands::ShowSource()
{
    TSourceWindow window(m_form->MessagePath(), m_form);
    ExecSource(window);
}

double TViewCommands::ZoomStep(double factor, int direction)
{
    if (direction > 0) {
        for (double step : kZoomSteps)
            if (step > factor + 0.001)
                return step;
        return kMaxZoom;
    }
    for (auto it = std::rbegin(kZoomSteps); it != std::rend(kZoomSteps); ++it)
        if (*it < factor - 0.001)
            return *it;
    return kMinZoom;
}

double TViewCommands::SavedZoom()
{
    QSettings settings(TAttachmentsform::SettingsFileName(), QSettings::IniFormat);
    bool ok = false;
    const double factor = settings.value(kZoomKey).toDouble(&ok);
    if (!ok || !std::isfinite(factor) || factor <= 0)
        return 1.0;
    return std::clamp(factor, kMinZoom, kMaxZoom);
}

// The page's factor: Ctrl+wheel zooms in the engine itself.
double TViewCommands::Zoom() const
{
    if (m_textView && m_textView->isVisibleTo(m_form))
        return m_textView->Zoom();
    return m_page ? m_page->zoomFactor() : m_zoom;
}

void TViewCommands::SetZoom(double factor)
{
    m_zoom = std::clamp(factor, kMinZoom, kMaxZoom);
    if (m_page)
        m_page->setZoomFactor(m_zoom);
    if (m_textView)
        m_textView->SetZoom(m_zoom);
}

void TViewCommands::ZoomIn()
{
    SetZoom(ZoomStep(Zoom(), 1));
    RememberZoom();
}

void TViewCommands::ZoomOut()
{
    SetZoom(ZoomStep(Zoom(), -1));
    RememberZoom();
}

void TViewCommands::ZoomReset()
{
    SetZoom(1.0);
    RememberZoom();
}

// Written only when it changed, so that a viewer that was never zoomed
// leaves corvanta.ini as it found it.
void TViewCommands::RememberZoom()
{
    const double factor = std::round(Zoom() * 100.0) / 100.0;
    if (std::abs(factor - SavedZoom()) < 0.005)
        return;
    QSettings settings(TAttachmentsform::SettingsFileName(), QSettings::IniFormat);
    settings.setValue(kZoomKey, factor);
    settings.sync();
}

void TViewCommands::ShowLink(const QString& url)
{
    if (url.isEmpty()) {
        LinkStatus->hide();
        return;
    }
    // The start of an address (its scheme and host) is what tells where a
    // link goes, so a long one loses its end.
    const int room = std::max(60, m_form->EmbeddedWB1->width() - 40);
    LinkStatus->setText(LinkStatus->fontMetrics().elidedText(url, Qt::ElideRight, room));
    LinkStatus->setToolTip(url);
    LinkStatus->adjustSize();
    PlaceLinkStatus();
    LinkStatus->show();
    LinkStatus->raise();
}

void TViewCommands::PlaceLinkStatus()
{
    LinkStatus->move(0, m_form->EmbeddedWB1->height() - LinkStatus->height());
}

bool TViewCommands::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == m_form->EmbeddedWB1 && e->type() == QEvent::Resize && LinkStatus->isVisible())
        PlaceLinkStatus();
    if (watched == m_form && e->type() == QEvent::Close)
        RememberZoom(); // Ctrl+wheel zooms in the engine itself
    return QObject::eventFilter(watched, e);
}
