#pragma once
// The embedded browser host: a widget that holds an HTML engine, tells it
// what it may download and run, answers its host callbacks (each through an
// optional event, with a fixed default), forwards keys, gates its close
// requests, adds a user-agent token for its lifetime and prints with a
// header block (see TPrintOptions).
#include "TPrintOptions.h"
#include "TWebEngine.h"

#include <QUuid>
#include <QWidget>

#include <functional>
#include <memory>
#include <set>

enum class TDownloadControlOption {
    DLCTL_DLIMAGES,
    DLCTL_VIDEOS,
    DLCTL_BGSOUNDS,
    DLCTL_NO_SCRIPTS,
    DLCTL_NO_JAVA,
    DLCTL_NO_RUNACTIVEXCTLS,
    DLCTL_NO_DLACTIVEXCTLS,
    DLCTL_DOWNLOADONLY,
    DLCTL_NO_FRAMEDOWNLOAD,
    DLCTL_RESYNCHRONIZE,
    DLCTL_PRAGMA_NO_CACHE,
    DLCTL_NO_BEHAVIORS,
    DLCTL_NO_METACHARSET,
    DLCTL_URL_ENCODING_DISABLE_UTF8,
    DLCTL_URL_ENCODING_ENABLE_UTF8,
    DLCTL_FORCEOFFLINE,
    DLCTL_NO_CLIENTPULL,
    DLCTL_SILENT,
    DLCTL_OFFLINE,
};
using TDownloadControlOptions = std::set<TDownloadControlOption>;

enum class TUserInterfaceOption {
    DIALOG,
    DISABLE_HELP_MENU,
    NO3DBORDER,
    SCROLL_NO,
    DISABLE_SCRIPT_INACTIVE,
    OPENNEWWIN,
    DISABLE_OFFSCREEN,
    FLAT_SCROLLBAR,
    DIV_BLOCKDEFAULT,
    ACTIVATE_CLIENTHIT_ONLY,
    OVERRIDEBEHAVIORFACTORY,
    CODEPAGELINKEDFONTS,
    URL_ENCODING_DISABLE_UTF8,
    URL_ENCODING_ENABLE_UTF8,
    ENABLE_FORMS_AUTOCOMPLETE,
    ENABLE_INPLACE_NAVIGATION,
    IME_ENABLE_RECONVERSION,
};
using TUserInterfaceOptions = std::set<TUserInterfaceOption>;

[[nodiscard]] unsigned DownloadControlFlag(TDownloadControlOption option);
[[nodiscard]] unsigned HostUIFlag(TUserInterfaceOption option);

// Result codes of the host callbacks.
namespace HResult {
constexpr long S_OK = 0;
constexpr long S_FALSE = 1;
constexpr long E_NOTIMPL = static_cast<long>(0x80004001);
constexpr long E_NOINTERFACE = static_cast<long>(0x80004002);
constexpr long DISP_E_MEMBERNOTFOUND = static_cast<long>(0x80020003);
constexpr long OLECMDERR_E_NOTSUPPORTED = static_cast<long>(0x80040100);
constexpr long OLECMDERR_E_UNKNOWNGROUP = static_cast<long>(0x80040104);
} // namespace HResult

constexpr int DISPID_AMBIENT_DLCONTROL = -5512;
constexpr int OLECMDID_PRINT = 6;
constexpr int OLECMDID_PAGESETUP = 8;
constexpr int OLECMDEXECOPT_DODEFAULT = 0;
constexpr int OLECMDEXECOPT_DONTPROMPTUSER = 2;
inline const QUuid CGID_Explorer{"{000214D0-0000-0000-C000-000000000046}"};
inline const QUuid CGID_DocHostCommandHandler{"{F38BC242-B950-11D1-8918-00C04FC2C836}"};

// The host-information structure the engine asks for.
struct TDocHostUIInfo {
    unsigned cbSize = 0;
    unsigned dwFlags = 0;
    unsigned dwDoubleClick = 0;
    const void* pchHostCss = nullptr;
    const void* pchHostNS = nullptr;
};

class TEmbeddedWB : public QWidget {
    Q_OBJECT
public:
    // engine: the HTML engine to host; none gives the Qt WebEngine one.
    explicit TEmbeddedWB(QWidget* owner = nullptr, std::unique_ptr<TWebEngine> engine = nullptr);
    ~TEmbeddedWB() override;

    // ---- properties --------------------------------------------------------
    [[nodiscard]] const TDownloadControlOptions& DownloadOptions() const { return m_downloadOptions; }
    void SetDownloadOptions(const TDownloadControlOptions& options);
    [[nodiscard]] const TUserInterfaceOptions& UserInterfaceOptions() const { return m_userInterfaceOptions; }
    void SetUserInterfaceOptions(const TUserInterfaceOptions& options);
    TPrintOptions PrintOptions;
    [[nodiscard]] QString UserAgent() const { return m_userAgent; }
    void SetUserAgent(const QString& token);
    bool ReplaceCaption = false;
    bool EnableDDE = false;
    [[nodiscard]] bool fpExceptions() const { return m_fpExceptions; }
    void SetfpExceptions(bool enabled);
    QString HelpFile;

    [[nodiscard]] unsigned DownloadControlFlags() const { return m_downloadControlFlags; }
    [[nodiscard]] unsigned HostUIFlags() const { return m_hostUIFlags; }
    [[nodiscard]] bool LocaleUsesInches() const { return m_localeUsesInches; }

    // ---- operations used by the rest of the program -------------------------
    void NavigateUrl(const QString& url);
    // NavigateUrl for a message file the caller parses anyway: the engine
    // starts while the caller parses, and takes the parsed message instead
    // of reading the file a second time (see TWebEngine).
    void NavigateMessage(const QString& path) { m_engine->Navigate2Message(path); }
    void ProvideMessage(const TMailMessage2000& scanned) { m_engine->ProvideMessage(scanned); }
    void CancelMessage() { m_engine->CancelMessage(); }
    [[nodiscard]] bool IsBusy() const;
    void StopLoading();
    void UIActivateDocument();
    void NavigatePidl(const QByteArray& itemList);
    void ExecDocumentCommand(bool browserGroup, int command, int option, const QVariant& in, QVariant* out);
    [[nodiscard]] TWebEngine* Engine() const { return m_engine.get(); }
    // Remote content (pictures, style sheets, fonts from the network) is
    // blocked for every document; this loads it for the current one.
    void LoadRemoteContent();
    // Loads the current document again, as after its renderer ended.
    void ReloadPage() { m_engine->Reload(); }

    // ---- printing (print options and page setup) ------------------------------
    void PrintDocument();
    void ShowPageSetup(bool apply);
    void PrintWithHeader();
    // What went wrong in the last print (empty when nothing did), and ending
    // a print that runs.
    [[nodiscard]] QString LastPrintError() const;
    void CancelPrint();
    [[nodiscard]] QString FormatMargin(double value) const;
    // The owner's activation hook: a dialog of this program becoming active.
    using TDialogWindow = TEngineDialog;
    void OwnerActivationHook(TDialogWindow& window);
    static bool PageSetupPending;
    static bool HidePageSetupDialog;

    // ---- the browser events the program uses --------------------------------
    std::function<void(TEmbeddedWB* sender, int progress, int progressMax)> OnProgressChange;
    std::function<void(TEmbeddedWB* sender, const QString& text)> OnTitleChange;
    std::function<void(TEmbeddedWB* sender, const QString& url)> OnDocumentComplete;
    std::function<void(TEmbeddedWB* sender)> OnRemoteContentBlocked;
    std::function<void(TEmbeddedWB* sender, const QString& why)> OnRenderProcessEnded;

    // ---- the component's own events ----------------------------------------
    std::function<void(TEmbeddedWB* sender, int cmdId, bool& cancel)> OnRefresh;
    std::function<void(TEmbeddedWB* sender, const QString& errorLine, const QString& errorCharacter,
                       const QString& errorCode, const QString& errorMessage, const QString& errorUrl,
                       bool& continueScript, bool& showDialog)>
        OnScriptError;
    std::function<void(TEmbeddedWB* sender)> OnUnload;
    std::function<void(TEmbeddedWB* sender, bool& canClose)> OnCloseQuery;
    std::function<void(TEmbeddedWB* sender, void* h)> OnShowDialog;
    std::function<long(unsigned dwID, void* ppt, void* pcmdtReserved, void* pdispReserved)> OnShowContextMenu;
    std::function<long(TDocHostUIInfo& info)> OnGetHostInfo;
    std::function<long(unsigned dwID, void* activeObject, void* commandTarget, void* frame, void* doc)> OnShowUI;
    std::function<long()> OnHideUI;
    std::function<long()> OnUpdateUI;
    std::function<long(bool enable)> OnEnableModeless;
    std::function<long(bool activate)> OnOnDocWindowActivate;
    std::function<long(bool activate)> OnOnFrameWindowActivate;
    std::function<long(void* prcBorder, void* uiWindow, bool frameWindow)> OnResizeBorder;
    std::function<long(const TKeyMessage& msg, const QUuid* group, unsigned cmdId)> OnTranslateAccelerator;
    std::function<long(QString& key, unsigned dw)> OnGetOptionKeyPath;
    std::function<long(QString& key, unsigned dw)> OnGetOverrideKeyPath;
    std::function<long(void* dropTarget, void** out)> OnGetDropTarget;
    std::function<long(void** out)> OnGetExternal;
    std::function<long(unsigned translate, const QString& urlIn, QString& urlOut)> OnTranslateUrl;
    std::function<long(void* dataObject, void** out)> OnFilterDataObject;
    std::function<long(void* hwnd, const QString& text, const QString& caption, unsigned type,
                       const QString& helpFile, unsigned helpContext, long& result)>
        OnShowMessage;
    std::function<long(void* hwnd, const QString& helpFile, unsigned command, unsigned data, void* mouse,
                       void*& objectHit)>
        OnShowHelp;
    std::function<long(unsigned& count)> OnGetTypeInfoCount;
    std::function<long(unsigned index, unsigned localeId, void** typeInfo)> OnGetTypeInfo;
    std::function<long(const QUuid& iid, const QStringList& names, unsigned localeId, int* dispIds)> OnGetIDsOfNames;
    std::function<long(int dispId, const QUuid& iid, unsigned localeId, unsigned flags, QVariantList& params,
                       QVariant* result)>
        OnInvoke;
    std::function<long(const QUuid& service, const QUuid& iid, void** out)> OnQueryService;

    // ---- host callbacks (the engine calls these) ------------------------------
    long ShowContextMenu(unsigned dwID, void* ppt, void* pcmdtReserved, void* pdispReserved);
    long GetHostInfo(TDocHostUIInfo& info);
    long ShowUI(unsigned dwID, void* activeObject, void* commandTarget, void* frame, void* doc);
    long HideUI();
    long UpdateUI();
    long EnableModeless(bool enable);
    long OnDocWindowActivate(bool activate);
    long OnFrameWindowActivate(bool activate);
    long ResizeBorder(void* prcBorder, void* uiWindow, bool frameWindow);
    long TranslateAccelerator(const TKeyMessage& msg, const QUuid* group, unsigned cmdId);
    long GetOptionKeyPath(QString& key, unsigned dw);
    long GetDropTarget(void* dropTarget, void** out);
    long GetExternal(void** out);
    long TranslateUrl(unsigned translate, const QString& urlIn, QString& urlOut);
    long FilterDataObject(void* dataObject, void** out);
    long GetOverrideKeyPath(QString& key, unsigned dw);
    long ShowMessage(void* hwnd, const QString& text, const QString& caption, unsigned type,
                     const QString& helpFile, unsigned helpContext, long& result);
    long ShowHelp(void* hwnd, const QString& helpFile, unsigned command, unsigned data, void* mouse,
                  void*& objectHit);
    long QueryService(const QUuid& service, const QUuid& iid, void** out);
    long GetTypeInfoCount(unsigned& count);
    long GetTypeInfo(unsigned index, unsigned localeId, void** typeInfo);
    long GetIDsOfNames(const QUuid& iid, const QStringList& names, unsigned localeId, int* dispIds);
    long Invoke(int dispId, const QUuid& iid, unsigned localeId, unsigned flags, QVariantList& params,
                QVariant* result);
    long QueryStatus();
    long Exec(const QUuid* group, unsigned cmdId, unsigned option, const QVariant& in, QVariant* out);

    // Keyboard forwarding: the result the host's window gives a key message
    // (1 when the engine consumed it).
    long ControlWindowProc(const TKeyMessage& msg);
    // A close request from the document; true when it was let through.
    bool CloseRequested();

    // The shell's DDE services (the transport is inert here): the names,
    // the process-wide flags, and the command execution.
    struct TShellDdeNames {
        QString htmlApplication, htmlTopic, folderApplication, folderTopic, openVerb, exploreVerb, findVerb;
    };
    static TShellDdeNames ShellDdeNames;
    static bool DdeHtmlMode;
    static bool DdeLaunching;
    // Whether an initiation with these names would be answered.
    bool DdeInitiate(const QString& application, const QString& topic, bool sameProcessAndThread);
    // Acts on an execute command; returns the acknowledgement status word.
    int DdeExecute(const QString& command);

signals:
    void BusyChanged(bool busy);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void Loaded();
    void RegisterUserAgentToken();
    void UnregisterUserAgentToken();

    std::unique_ptr<TWebEngine> m_engine;
    TDownloadControlOptions m_downloadOptions;
    TUserInterfaceOptions m_userInterfaceOptions;
    unsigned m_downloadControlFlags = 0;
    unsigned m_hostUIFlags = 0;
    QString m_userAgent;
    bool m_fpExceptions = true;
    bool m_localeUsesInches = false;
};
