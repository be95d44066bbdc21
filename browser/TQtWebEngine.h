#pragma once
// The HTML engine on this platform: Qt WebEngine in a private profile. A
// path that names a message file is served through the program's own URL
// scheme (see TMessageDocument); its body's cid: and Content-Location
// references are answered from the message's parts. Scripts, plug-ins and
// frames are off; content from the network (pictures, style sheets, fonts,
// media) loads only when the user asks for it for the document shown; links
// open in the system browser, forms never submit.
#include "MessageDocument.h"
#include "TPrintEngine.h"
#include "TWebEngine.h"

#include <QHash>
#include <QWebEngineView>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>

class QStackedWidget;
class QWebEngineProfile;
class TTextPageView;
class QWebEngineView;
class TWebPage;
class TMessageSchemeHandler;
class TRequestFilter;

// Registers the program's URL schemes; must run before the application
// object exists (done at static initialisation by this library).
void RegisterBrowserSchemes();

class TQtWebEngine : public QObject, public TWebEngine {
    Q_OBJECT
public:
    TQtWebEngine();
    ~TQtWebEngine() override;

    QWidget* Widget() override;
    void Navigate2(const QString& url) override;
    void Navigate2Message(const QString& path) override;
    void ProvideMessage(const TMailMessage2000& scanned) override;
    void CancelMessage() override;
    bool Busy() const override { return m_busy; }
    void Stop() override;
    bool HasDocument() const override { return m_hasDocument; }
    long ExecCommand(bool browserGroup, int command, int option, const QVariant& in, QVariant* out) override;
    void UIActivate() override;
    void AmbientPropertyChange(int dispId) override { (void)dispId; }
    long TranslateAccelerator(const TKeyMessage& message) override;
    void SetUserAgentToken(const QString& token) override;
    void SetDownloadControl(unsigned flags) override;
    QString LastPrintError() const override { return m_printing.LastError; }
    void CancelPrint() override
    {
        m_printing.Cancel();
        m_textPrintCancelled = true;
    }
    void AllowRemoteContent() override;
    void Reload() override;

    [[nodiscard]] QWebEngineView* View() const { return m_view; }
    // The view for plain-text bodies too large for the page; it is the one
    // shown while TextShown().
    [[nodiscard]] TTextPageView* TextView() const { return m_textView; }
    [[nodiscard]] bool TextShown() const { return m_textShown; }
    // Requests the message's scheme served, by URL (tests count them).
    [[nodiscard]] const QHash<QString, int>& ServedRequests() const;
    [[nodiscard]] static bool NamesMessageFile(const QString& url);

    [[nodiscard]] TPrintEngine& Printing() { return m_printing; }
    // Opens a link the user clicked (http, https, ftp, mailto) outside the
    // viewer: the desktop's opener, started with nothing of this process.
    std::function<bool(const QUrl&)> OpenLink;
    // Whether the engine's page setup uses inches (set by the host).
    bool LocaleUsesInches = false;

private:
    void SetBusy(bool busy);
    // Shows the document the handler holds: in the page, or a large text
    // body in the text view (the page then gets an empty document).
    void ShowDocument();
    void ShowPage();
    bool PrintText(const QString& header, const QString& footer, const QString& htmlHeader);
    void ShowPartsAtWebLocations();
    void ShowContextMenu(const QPoint& position);

    QWebEngineProfile* m_profile = nullptr;
    TWebPage* m_page = nullptr;
    QPointer<QWebEngineView> m_view;
    QPointer<QStackedWidget> m_stack; // the page or the text view
    TTextPageView* m_textView = nullptr;
    bool m_textShown = false;
    bool m_textPrintCancelled = false;
    TMessageSchemeHandler* m_handler = nullptr;
    TRequestFilter* m_filter = nullptr;
    QString m_baseUserAgent;
    bool m_busy = false;
    bool m_hasDocument = false;
    // Why the page's renderer ended, until the page is loaded again.
    QString m_rendererEnded;
    TPrintEngine m_printing;
};
