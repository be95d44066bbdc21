#pragma once
// What the browser host needs of an HTML engine: the operations the host
// component uses, and the events the engine raises. The Qt WebEngine
// implementation is TQtWebEngine; tests use a fake.
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

class QWidget;
class TMailMessage2000;

// A key message as the host's window sees it (Windows message numbers kept:
// they are what the keyboard-forwarding rules speak of).
struct TKeyMessage {
    enum Kind { KeyDown = 0x100, KeyUp = 0x101, Char = 0x102, DeadChar = 0x103 };
    int message = KeyDown;
    int wParam = 0;  // virtual key code or character
    long lParam = 0; // key data; bit 24 marks an extended key
    unsigned time = 0;
};

// The properties of a script error event object, as the host reads them.
struct TScriptErrorInfo {
    QString errorCharacter, errorCode, errorMessage, errorUrl, errorLine;
};

class TPrintOptions;

// A dialog of the engine's becoming active in the program (the page setup):
// what the host's activation hook may look at and do with it.
struct TEngineDialog {
    bool isSystemDialog = false; // the engine's page-setup dialog
    QString caption;
    std::function<void(const QString&)> setCaption;
    std::function<void()> setIcon;
    std::function<void()> moveOutOfSight;
    // Fills the dialog (margins as its texts: left, top, right, bottom) and
    // confirms it.
    std::function<void(const TPrintOptions&, const QString (&margins)[4])> fill;
    void* handle = nullptr;
};

class TWebEngine {
public:
    virtual ~TWebEngine() = default;

    [[nodiscard]] virtual QWidget* Widget() = 0;
    virtual void Navigate2(const QString& url) = 0;
    // Navigates to a message file whose content the caller parses itself:
    // the page starts at once and waits for ProvideMessage (the message
    // parsed and scanned) or, when the caller cannot read it, CancelMessage.
    virtual void Navigate2Message(const QString& path) { Navigate2(path); }
    virtual void ProvideMessage(const TMailMessage2000& scanned) { (void)scanned; }
    virtual void CancelMessage() { Stop(); }
    [[nodiscard]] virtual bool Busy() const = 0;
    virtual void Stop() = 0;
    [[nodiscard]] virtual bool HasDocument() const = 0;
    // IOleCommandTarget::Exec on the document; group true is the browser
    // command group. Returns the engine's result code.
    virtual long ExecCommand(bool browserGroup, int command, int option, const QVariant& in, QVariant* out) = 0;
    virtual void UIActivate() = 0;
    virtual void AmbientPropertyChange(int dispId) = 0;
    // 0 (S_OK) when the engine consumed the key.
    virtual long TranslateAccelerator(const TKeyMessage& message) = 0;
    // The token added to the engine's user-agent string (empty: none).
    virtual void SetUserAgentToken(const QString& token) { (void)token; }
    // Download control as flags (what may be loaded and run).
    virtual void SetDownloadControl(unsigned flags) { (void)flags; }
    // Printing: the error of the last print (empty when it succeeded), and
    // ending a print that is running.
    [[nodiscard]] virtual QString LastPrintError() const { return {}; }
    virtual void CancelPrint() {}
    // Loads the remote content of the current document, which is blocked
    // until then (for the current document only).
    virtual void AllowRemoteContent() {}
    // Loads the current document again (after its renderer ended).
    virtual void Reload() {}
    // The current script error event object, if any.
    [[nodiscard]] virtual std::optional<TScriptErrorInfo> ScriptErrorEvent() const { return std::nullopt; }

    // Engine events, set by the host.
    std::function<void(int progress, int progressMax)> ProgressChange;
    std::function<void(bool busy)> BusyChange;
    std::function<void()> CloseRequest;
    std::function<void(const QString& title)> TitleChange;
    std::function<void(const QString& url)> DocumentComplete;
    std::function<void(TEngineDialog& dialog)> DialogActivated;
    // The page asked for content from the network and did not get it.
    std::function<void()> RemoteContentBlocked;
    // The process that drew the page ended before its time (it crashed, or
    // was killed, as when memory runs out): the page shows nothing until it
    // is loaded again. why says so for people ("the page stopped: its
    // renderer crashed").
    std::function<void(const QString& why)> RenderProcessEnded;
    // The user asked for a context menu; the host's answer (S_FALSE: the
    // engine shows its own).
    std::function<long()> ContextMenuRequest;
};
