#include "TQtWebEngine.h"

#include "DetachedProgram.h"
#include "TextPageView.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPointer>
#include <QPrinter>
#include <QStackedWidget>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <unistd.h>

#include <utility>

namespace {

constexpr char kMessageScheme[] = "corvanta-msg";
constexpr char kCidScheme[] = "cid";
// The message's part at the web address in the query.
constexpr char kWebPartPath[] = "/corvanta-web-part";

} // namespace

void RegisterBrowserSchemes()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // The message page may load its parts (cid: is a local scheme of ours);
    // nothing on the network may load either.
    for (const char* name : {kMessageScheme, kCidScheme}) {
        QWebEngineUrlScheme scheme(name);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        QWebEngineUrlScheme::Flags flags = QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::LocalScheme;
        if (name == kMessageScheme)
            flags |= QWebEngineUrlScheme::LocalAccessAllowed;
        scheme.setFlags(flags);
        QWebEngineUrlScheme::registerScheme(scheme);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine's sandbox refuses to run as root; only then it is left out.
    if (geteuid() == 0) {
        QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
        if (!flags.contains("--no-sandbox"))
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", (flags + " --no-sandbox").trimmed());
    }
}

namespace {
const bool kSchemesRegistered = (RegisterBrowserSchemes(), true);
} // namespace

// Serves the message document and the parts it refers to. While the
// document waits for its parsed message, requests wait with it.
class TMessageSchemeHandler : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    TMessageDocument Document;
    QHash<QString, int> Served;
    bool Waiting = false;
    // The document is shown elsewhere (the text view): the page gets an
    // empty one.
    bool Blank = false;
    QList<QPointer<QWebEngineUrlRequestJob>> Held;

    void requestStarted(QWebEngineUrlRequestJob* job) override
    {
        if (Waiting) {
            Held << job;
            return;
        }
        Serve(job);
    }

    // Answers the held requests (or fails them, when the message never came).
    void Release(bool serve)
    {
        Waiting = false;
        const auto held = std::exchange(Held, {});
        for (const QPointer<QWebEngineUrlRequestJob>& job : held)
            if (job)
                serve ? Serve(job) : job->fail(QWebEngineUrlRequestJob::RequestAborted);
    }

private:
    void Serve(QWebEngineUrlRequestJob* job)
    {
        const QUrl url = job->requestUrl();
        TMessageDocument::Reply reply;
        if (url.scheme() == QLatin1String(kCidScheme))
            reply = Document.PartByContentId(url.path());
        else if (url.path() == Document.Path() && Blank)
            reply = {true, "text/html;charset=utf-8", "<!DOCTYPE html><html><body></body></html>"};
        else if (url.path() == Document.Path())
            reply = Document.Document();
        else if (url.path() == QLatin1String(kWebPartPath))
            reply = Document.PartByLocation(url.query(QUrl::FullyDecoded));
        else
            reply = Document.PartByLocation(url.toString(QUrl::FullyEncoded).mid(int(sizeof kMessageScheme)));
        if (!reply.found) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        ++Served[url.toString()];
        auto* buffer = new QBuffer(job);
        buffer->setData(reply.data);
        job->reply(reply.contentType, buffer);
    }
};

// Decides which requests may leave the message. Anything from the network
// tells the sender when and where the message was read: it is blocked until
// the user lets the document shown load it (AllowRemote, reset by every
// navigation); scripts, frames, objects, pings and the like never load.
class TRequestFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    unsigned Flags = 0;
    bool DocumentIsLocalFile = false;
    bool AllowRemote = false;
    bool ReportedBlocked = false;
    std::function<void()> OnBlocked;
    // Whether the message holds a part at this URL.
    std::function<bool(const QUrl&)> InMessage;

    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        const QString scheme = info.requestUrl().scheme();
        const auto type = info.resourceType();
        if (type == QWebEngineUrlRequestInfo::ResourceTypeMainFrame)
            return;
        if (scheme == QLatin1String(kMessageScheme) || scheme == QLatin1String(kCidScheme)
            || scheme == QLatin1String("data")) {
            return;
        }
        if (scheme == QLatin1String("file")) {
            // Nothing in a message reaches the disk; an HTML file navigated
            // to directly may show its own pictures and styles.
            const bool allowed = DocumentIsLocalFile
                                 && (type == QWebEngineUrlRequestInfo::ResourceTypeImage
                                     || type == QWebEngineUrlRequestInfo::ResourceTypeStylesheet
                                     || type == QWebEngineUrlRequestInfo::ResourceTypeFontResource);
            if (!allowed)
                info.block(true);
            return;
        }
        // A part the message carries under this very URL (a web page sent
        // whole) comes from the message once the page is loaded (the engine
        // follows no redirect to it): nothing goes to the network, and there
        // is nothing remote to ask the user about.
        if (InMessage && info.firstPartyUrl().scheme() == QLatin1String(kMessageScheme)
            && InMessage(info.requestUrl())) {
            info.block(true);
            return;
        }
        bool wanted = false; // what a reader would see, if remote content were allowed
        bool allowed = false;
        switch (type) {
        case QWebEngineUrlRequestInfo::ResourceTypeImage:
        case QWebEngineUrlRequestInfo::ResourceTypeFavicon:
            wanted = type == QWebEngineUrlRequestInfo::ResourceTypeImage;
            allowed = Flags & 0x10; // images
            break;
        case QWebEngineUrlRequestInfo::ResourceTypeMedia:
            wanted = true;
            allowed = Flags & (0x20 | 0x40); // videos, background sounds
            break;
        case QWebEngineUrlRequestInfo::ResourceTypeStylesheet:
        case QWebEngineUrlRequestInfo::ResourceTypeFontResource:
            wanted = allowed = true;
            break;
        default:
            allowed = false; // scripts, frames, objects, XHR, prefetch, pings, ...
        }
        if (Flags & 0x10000000) // forced offline
            allowed = false;
        if (allowed && !AllowRemote) {
            allowed = false;
            if (wanted && !ReportedBlocked && OnBlocked) {
                ReportedBlocked = true;
                QMetaObject::invokeMethod(this, OnBlocked, Qt::QueuedConnection);
            }
        }
        if (!allowed)
            info.block(true);
    }
};

// Keeps navigation inside the viewer to what the program asked for.
class TWebPage : public QWebEnginePage {
public:
    TWebPage(QWebEngineProfile* profile, QObject* parent, const std::function<bool(const QUrl&)>& openLink)
        : QWebEnginePage(profile, parent), m_openLink(openLink)
    {
    }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override
    {
        if (type == NavigationTypeLinkClicked) {
            // Links open in the system browser, never in the viewer, and
            // never as local files or programs.
            const QString scheme = url.scheme();
            if (scheme == QLatin1String("http") || scheme == QLatin1String("https")
                || scheme == QLatin1String("mailto") || scheme == QLatin1String("ftp"))
                if (m_openLink)
                    m_openLink(url);
            return false;
        }
        if (type == NavigationTypeFormSubmitted)
            return false;
        if (!isMainFrame)
            return false;
        return type == NavigationTypeTyped || type == NavigationTypeReload;
    }

    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }

private:
    const std::function<bool(const QUrl&)>& m_openLink;
};

TQtWebEngine::TQtWebEngine()
{
    LocaleUsesInches = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    m_profile = new QWebEngineProfile(this); // off the record: nothing kept on disk
    m_baseUserAgent = m_profile->httpUserAgent();
    m_handler = new TMessageSchemeHandler(this);
    m_profile->installUrlSchemeHandler(kMessageScheme, m_handler);
    m_profile->installUrlSchemeHandler(kCidScheme, m_handler);
    m_filter = new TRequestFilter(this);
    m_profile->setUrlRequestInterceptor(m_filter);

    OpenLink = OpenWithDesktop;
    m_stack = new QStackedWidget();
    m_view = new QWebEngineView();
    m_page = new TWebPage(m_profile, m_view, OpenLink);
    m_view->setPage(m_page);
    m_textView = new TTextPageView();
    m_textView->OpenLink = [this](const QUrl& url) { return OpenLink && OpenLink(url); };
    m_stack->addWidget(m_view);
    m_stack->addWidget(m_textView);
    QObject::connect(m_textView, &TTextPageView::Progress, this, [this](qint64 fed, qint64 total) {
        if (ProgressChange && total > 0)
            ProgressChange(static_cast<int>(fed * 100 / total), 100);
    });
    QObject::connect(m_textView, &TTextPageView::Finished, this, [this] {
        if (!m_textShown)
            return;
        m_hasDocument = true;
        if (DocumentComplete)
            DocumentComplete(QUrl::fromLocalFile(m_handler->Document.Path()).toString());
        if (ProgressChange)
            ProgressChange(-1, 100);
        SetBusy(false);
    });
    QWebEngineSettings* s = m_page->settings();
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    // Remote requests reach the request filter, which blocks them unless the
    // user asked for them.
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(m_view, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        if (!ContextMenuRequest || ContextMenuRequest() == 1 /* S_FALSE */)
            ShowContextMenu(position);
    });
    m_filter->InMessage = [this](const QUrl& url) {
        return m_handler->Document.HoldsLocation(url.toString(QUrl::FullyEncoded));
    };
    m_filter->OnBlocked = [this] {
        if (RemoteContentBlocked)
            RemoteContentBlocked();
    };

    QObject::connect(m_page, &QWebEnginePage::loadProgress, this, [this](int p) {
        if (ProgressChange && !m_textShown) // the text view reports its own
            ProgressChange(p, 100);
    });
    QObject::connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (m_textShown)
            return; // the empty page behind the text view: the view says when it is done
        if (ok && m_page->url().scheme() == QLatin1String(kMessageScheme))
            ShowPartsAtWebLocations();
        m_hasDocument = m_hasDocument || ok;
        if (ok && DocumentComplete)
            DocumentComplete(m_page->url().toString());
        if (ProgressChange)
            ProgressChange(-1, 100); // finished, as the engine's progress events say it
        SetBusy(false);
    });
    QObject::connect(m_page, &QWebEnginePage::loadStarted, this, [this] { m_rendererEnded.clear(); });
    QObject::connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
                     [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                         if (status == QWebEnginePage::NormalTerminationStatus || m_textShown)
                             return; // nothing of the text view's went with it
                         m_rendererEnded =
                             status == QWebEnginePage::CrashedTerminationStatus ? QStringLiteral("crashed")
                             : status == QWebEnginePage::KilledTerminationStatus
                                 ? QStringLiteral("was killed (as when memory runs out)")
                                 : QStringLiteral("ended with status %1").arg(exitCode);
                         m_rendererEnded = QStringLiteral("the page stopped: its renderer ") + m_rendererEnded;
                         // A print waiting for the page would wait for ever.
                         m_printing.Cancel(m_rendererEnded);
                         if (RenderProcessEnded)
                             RenderProcessEnded(m_rendererEnded);
                         SetBusy(false);
                     });
    QObject::connect(m_page, &QWebEnginePage::titleChanged, this, [this](const QString& t) {
        if (TitleChange)
            TitleChange(t);
    });
    QObject::connect(m_page, &QWebEnginePage::windowCloseRequested, this, [this] {
        if (CloseRequest)
            CloseRequest();
    });
}

// Pictures, backgrounds and style sheets the message holds under a web
// address are taken from the message instead, by the program (page scripts
// never run, and neither would anything it left for later, such as a
// handler for a style sheet's arrival). So a style sheet is put into the
// page as text, with the addresses in it read against its own; what it
// names from the message is then asked for from the message like the rest.
void TQtWebEngine::ShowPartsAtWebLocations()
{
    const QStringList web = m_handler->Document.WebLocations();
    if (web.isEmpty())
        return;
    QVariantMap sheets;
    const QHash<QString, QString> texts = m_handler->Document.WebStyleSheets();
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        sheets.insert(it.key(), it.value());
    static const QString script = QStringLiteral(R"js((function(l, sheets) {
  var s = new Set(l);
  function m(u) { return '%1:%2?' + encodeURIComponent(u); }
  function fix(css, base) {
    return css.replace(/url\(\s*(['"]?)(.*?)\1\s*\)/g, function(a, q, u) {
      var abs;
      try { abs = new URL(u, base).href; } catch (e) { return a; }
      return 'url("' + (s.has(abs) ? m(abs) : abs).replace(/["\\]/g, '\\$&') + '")';
    });
  }
  for (var k of document.querySelectorAll('link[rel~=stylesheet i]:not([rel~=alternate i])')) {
    if (!Object.prototype.hasOwnProperty.call(sheets, k.href)) continue;
    var st = document.createElement('style');
    st.media = k.media;
    st.textContent = fix(sheets[k.href], k.href);
    k.replaceWith(st);
  }
  for (var i of document.images) if (s.has(i.src)) i.src = m(i.src);
  for (var e of document.querySelectorAll('*')) {
    var b = getComputedStyle(e).backgroundImage;
    if (b.indexOf('url(') < 0) continue;
    var c = false;
    var n = b.replace(/url\("((?:[^"\\]|\\.)*)"\)/g, function(a, u) {
      if (!s.has(u)) return a;
      c = true;
      return 'url("' + m(u) + '")';
    });
    if (c) e.style.setProperty('background-image', n, 'important');
  }
})(%3, %4))js");
    const auto json = [](const QVariant& v) {
        return QString::fromUtf8(QJsonDocument::fromVariant(v).toJson(QJsonDocument::Compact));
    };
    // One pass over the placeholders: a style sheet's text may hold "%1".
    m_page->runJavaScript(script.arg(QLatin1String(kMessageScheme), QLatin1String(kWebPartPath), json(web), json(sheets)),
                          QWebEngineScript::ApplicationWorld);
}

TQtWebEngine::~TQtWebEngine()
{
    // The view (and the page it holds) goes before the profile it uses.
    if (m_view) {
        m_view->setPage(nullptr);
        delete m_page;
        delete m_view;
    }
    if (m_stack && !m_stack->parent())
        delete m_stack;
}

QWidget* TQtWebEngine::Widget() { return m_stack; }

void TQtWebEngine::ShowDocument()
{
    std::optional<TPlainText> text = m_handler->Document.LargePlainText();
    if (!text) {
        ShowPage();
        return;
    }
    m_textShown = true;
    m_handler->Blank = true;
    // The page asks nothing of the message while the view shows it: the
    // copy of the body goes at once.
    m_handler->Document.Take(m_handler->Document.Path(), TMailMessage2000());
    m_stack->setCurrentWidget(m_textView);
    m_textView->SetText(std::move(text->text), text->format);
}

void TQtWebEngine::ShowPage()
{
    m_textShown = false;
    m_handler->Blank = false;
    m_textView->Clear();
    m_stack->setCurrentWidget(m_view);
}

bool TQtWebEngine::NamesMessageFile(const QString& url)
{
    const QUrl u(url);
    if (!u.scheme().isEmpty() && u.scheme().size() > 1 && u.scheme() != QLatin1String("file"))
        return false; // a web address
    const QString path = u.scheme() == QLatin1String("file") ? u.toLocalFile() : url;
    const QString suffix = QFileInfo(path).suffix().toLower();
    return !(suffix == QLatin1String("html") || suffix == QLatin1String("htm") || suffix == QLatin1String("xhtml")
             || suffix == QLatin1String("shtml"));
}

const QHash<QString, int>& TQtWebEngine::ServedRequests() const { return m_handler->Served; }

void TQtWebEngine::SetBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (BusyChange)
        BusyChange(busy);
}

void TQtWebEngine::Navigate2Message(const QString& path)
{
    if (!NamesMessageFile(path)) {
        Navigate2(path);
        return;
    }
    m_handler->Release(false);
    ShowPage();
    m_handler->Waiting = true;
    m_handler->Served.clear();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    m_handler->Document.Take(absolute, TMailMessage2000());
    m_filter->DocumentIsLocalFile = false;
    m_filter->AllowRemote = false;
    m_filter->ReportedBlocked = false;
    QUrl target;
    target.setScheme(QString::fromLatin1(kMessageScheme));
    target.setPath(absolute);
    SetBusy(true);
    m_page->load(target);
}

void TQtWebEngine::ProvideMessage(const TMailMessage2000& scanned)
{
    if (!m_handler->Waiting)
        return;
    m_handler->Document.Take(m_handler->Document.Path(), scanned);
    ShowDocument();
    m_handler->Release(true);
}

void TQtWebEngine::CancelMessage()
{
    if (!m_handler->Waiting)
        return;
    m_handler->Release(false);
    Stop();
}

void TQtWebEngine::Navigate2(const QString& url)
{
    m_handler->Release(false);
    QUrl target;
    if (NamesMessageFile(url)) {
        const QUrl u(url);
        const QString path =
            QFileInfo(u.scheme() == QLatin1String("file") ? u.toLocalFile() : url).absoluteFilePath();
        m_handler->Document.Load(path);
        m_handler->Served.clear();
        target.setScheme(QString::fromLatin1(kMessageScheme));
        target.setPath(path);
        m_filter->DocumentIsLocalFile = false;
        SetBusy(true);
        ShowDocument();
    } else {
        ShowPage();
        target = QUrl::fromUserInput(url, QDir::currentPath(), QUrl::AssumeLocalFile);
        m_filter->DocumentIsLocalFile = target.isLocalFile();
    }
    m_filter->AllowRemote = false;
    m_filter->ReportedBlocked = false;
    SetBusy(true);
    m_page->load(target);
}

void TQtWebEngine::Reload()
{
    if (m_textShown || (!m_hasDocument && m_rendererEnded.isEmpty()))
        return;
    SetBusy(true);
    m_page->triggerAction(QWebEnginePage::Reload);
}

void TQtWebEngine::AllowRemoteContent()
{
    if (m_textShown || (!m_hasDocument && !m_busy))
        return; // plain text holds nothing remote
    m_filter->AllowRemote = true;
    SetBusy(true);
    m_page->triggerAction(QWebEnginePage::ReloadAndBypassCache);
}

// The engine's own menu, without what would navigate the viewer away from
// the message: copy, copy link address (on a link), select all.
void TQtWebEngine::ShowContextMenu(const QPoint& position)
{
    auto* menu = new QMenu(m_view);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setObjectName(QStringLiteral("PageContextMenu"));
    menu->addAction(m_page->action(QWebEnginePage::Copy));
    const QWebEngineContextMenuRequest* request = m_view->lastContextMenuRequest();
    if (request && request->linkUrl().isValid())
        menu->addAction(m_page->action(QWebEnginePage::CopyLinkToClipboard));
    menu->addSeparator();
    menu->addAction(m_page->action(QWebEnginePage::SelectAll));
    menu->popup(m_view->mapToGlobal(position));
}

void TQtWebEngine::Stop()
{
    m_textView->StopFeeding();
    m_handler->Release(false);
    m_page->triggerAction(QWebEnginePage::Stop);
    SetBusy(false);
}

long TQtWebEngine::ExecCommand(bool browserGroup, int command, int option, const QVariant& in, QVariant* out)
{
    (void)browserGroup;
    (void)option;
    (void)out;
    constexpr long kNotSupported = static_cast<long>(0x80040100);
    if (command == 8) { // page setup
        // The page setup opens as a dialog of the program; the host's hook
        // fills and confirms it when a print asked for that, and then the
        // user never sees it.
        bool filled = false;
        TEngineDialog dialog;
        dialog.isSystemDialog = true;
        dialog.caption = QStringLiteral("Page Setup");
        dialog.handle = &dialog;
        dialog.fill = [&](const TPrintOptions& options, const QString (&margins)[4]) {
            m_printing.ApplyPageSetup(options, margins, LocaleUsesInches);
            filled = true;
        };
        if (DialogActivated)
            DialogActivated(dialog);
        if (!filled) {
            QPrinter printer;
            printer.setPageLayout(m_printing.Layout);
            QPageSetupDialog visible(&printer, m_view);
            if (visible.exec() == QDialog::Accepted)
                m_printing.Layout = printer.pageLayout();
        }
        return 0;
    }
    if (command == 6) { // print, without a dialog
        if (!m_rendererEnded.isEmpty()) {
            m_printing.LastError = m_rendererEnded;
            return kNotSupported;
        }
        const QVariantList args = in.toList();
        if (m_textShown)
            return PrintText(args.value(0).toString(), args.value(1).toString(),
                             QString::fromUtf8(args.value(2).toByteArray()))
                       ? 0
                       : kNotSupported;
        return m_printing.Print(m_page, args.value(0).toString(), args.value(1).toString(), args.value(2).toByteArray(),
                                m_handler->Document.Path())
                   ? 0
                   : kNotSupported;
    }
    return kNotSupported;
}

// Thousands of pages take a while: the window keeps painting, the bar shows
// how far the print got, and closing the window ends it.
bool TQtWebEngine::PrintText(const QString& header, const QString& footer, const QString& htmlHeader)
{
    m_textView->FinishFeeding();
    m_textPrintCancelled = false;
    QElapsedTimer clock;
    clock.start();
    const QByteArray pdf = m_textView->ToPdf(m_printing.Layout, htmlHeader, [&](int percent) {
        if (clock.elapsed() >= 50) {
            if (ProgressChange)
                ProgressChange(percent, 100);
            QCoreApplication::processEvents();
            clock.restart();
        }
        return !m_textPrintCancelled;
    });
    if (ProgressChange)
        ProgressChange(-1, 100);
    if (m_textPrintCancelled || pdf.isEmpty()) {
        m_printing.LastError = QStringLiteral("the print was cancelled");
        return false;
    }
    return m_printing.PrintPdf(pdf, header, footer, m_handler->Document.Path());
}

void TQtWebEngine::UIActivate() { m_stack->currentWidget()->setFocus(Qt::OtherFocusReason); }

long TQtWebEngine::TranslateAccelerator(const TKeyMessage& message)
{
    (void)message;
    return 1; // S_FALSE: the engine handles its keys in its own dispatch
}

void TQtWebEngine::SetUserAgentToken(const QString& token)
{
    m_profile->setHttpUserAgent(token.isEmpty() ? m_baseUserAgent : m_baseUserAgent + QLatin1Char(' ') + token);
}

void TQtWebEngine::SetDownloadControl(unsigned flags)
{
    m_filter->Flags = flags;
    QWebEngineSettings* s = m_page->settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, !(flags & 0x80));
    s->setAttribute(QWebEngineSettings::AutoLoadImages, flags & 0x10);
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, !(flags & 0x40));
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false); // never, whatever the flags
}
