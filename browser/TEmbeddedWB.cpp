#include "TEmbeddedWB.h"

#include "DdeCommand.h"
#include "TQtWebEngine.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QGuiApplication>
#include <QVBoxLayout>

#include <cfenv>

namespace {

constexpr unsigned kDownloadFlags[] = {0x10,   0x20,   0x40,    0x80,    0x100,   0x200,      0x400,
                                       0x800,  0x1000, 0x2000,  0x4000,  0x8000,  0x10000,    0x20000,
                                       0x40000, 0x10000000, 0x20000000, 0x40000000, 0x80000000u};
constexpr unsigned kHostUIFlags[] = {0x1,   0x2,   0x4,   0x8,    0x10,   0x20,    0x40,   0x80,   0x100,
                                     0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x10000, 0x20000};

// The floating-point environment at start-up, restored when exceptions are
// switched back on.
const std::fenv_t& SavedFloatingPointEnvironment()
{
    static const std::fenv_t saved = [] {
        std::fenv_t env;
        std::fegetenv(&env);
        return env;
    }();
    return saved;
}
const bool kFenvSaved = (SavedFloatingPointEnvironment(), true);

constexpr int VK_BACK = 8, VK_RETURN = 13, VK_LEFT = 37, VK_RIGHT = 39;

} // namespace

unsigned DownloadControlFlag(TDownloadControlOption option) { return kDownloadFlags[static_cast<int>(option)]; }
unsigned HostUIFlag(TUserInterfaceOption option) { return kHostUIFlags[static_cast<int>(option)]; }

bool TEmbeddedWB::PageSetupPending = false;
bool TEmbeddedWB::HidePageSetupDialog = false;
TEmbeddedWB::TShellDdeNames TEmbeddedWB::ShellDdeNames;
bool TEmbeddedWB::DdeHtmlMode = false;
bool TEmbeddedWB::DdeLaunching = false;

TEmbeddedWB::TEmbeddedWB(QWidget* owner, std::unique_ptr<TWebEngine> engine)
    : QWidget(owner), m_engine(engine ? std::move(engine) : std::make_unique<TQtWebEngine>())
{
    (void)kFenvSaved;
    m_fpExceptions = true; // marked only; the control word is left alone
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (QWidget* view = m_engine->Widget()) {
        layout->addWidget(view);
        view->installEventFilter(this);
        if (view->focusProxy())
            view->focusProxy()->installEventFilter(this);
    }
    // No shell DDE names on this platform: they stay empty, as a failed
    // registry read leaves them.
    m_localeUsesInches = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    SetDownloadOptions({TDownloadControlOption::DLCTL_DLIMAGES, TDownloadControlOption::DLCTL_VIDEOS,
                        TDownloadControlOption::DLCTL_BGSOUNDS});
    SetUserInterfaceOptions({});
    EnableDDE = false;

    m_engine->ProgressChange = [this](int progress, int max) {
        if (OnProgressChange)
            OnProgressChange(this, progress, max);
    };
    m_engine->BusyChange = [this](bool busy) { emit BusyChanged(busy); };
    m_engine->CloseRequest = [this] { CloseRequested(); };
    m_engine->TitleChange = [this](const QString& t) {
        if (OnTitleChange)
            OnTitleChange(this, t);
    };
    m_engine->DialogActivated = [this](TEngineDialog& dialog) { OwnerActivationHook(dialog); };
    m_engine->DocumentComplete = [this](const QString& url) {
        if (OnDocumentComplete)
            OnDocumentComplete(this, url);
    };
    m_engine->RemoteContentBlocked = [this] {
        if (OnRemoteContentBlocked)
            OnRemoteContentBlocked(this);
    };
    m_engine->RenderProcessEnded = [this](const QString& why) {
        if (OnRenderProcessEnded)
            OnRenderProcessEnded(this, why);
    };
    m_engine->ContextMenuRequest = [this] { return ShowContextMenu(0, nullptr, nullptr, nullptr); };
    Loaded();
}

TEmbeddedWB::~TEmbeddedWB()
{
    UnregisterUserAgentToken();
    // The engine's widget belongs to the layout; the engine object goes with
    // the unique_ptr after it.
    if (QWidget* view = m_engine->Widget())
        view->removeEventFilter(this);
}

void TEmbeddedWB::Loaded()
{
    SetDownloadOptions(m_downloadOptions);
    SetUserInterfaceOptions(m_userInterfaceOptions);
    RegisterUserAgentToken();
}

void TEmbeddedWB::SetDownloadOptions(const TDownloadControlOptions& options)
{
    m_downloadOptions = options;
    m_downloadControlFlags = 0;
    for (TDownloadControlOption o : options)
        m_downloadControlFlags += DownloadControlFlag(o);
    m_engine->SetDownloadControl(m_downloadControlFlags);
    m_engine->AmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
}

void TEmbeddedWB::SetUserInterfaceOptions(const TUserInterfaceOptions& options)
{
    m_userInterfaceOptions = options;
    m_hostUIFlags = 0;
    for (TUserInterfaceOption o : options)
        m_hostUIFlags += HostUIFlag(o);
    m_engine->AmbientPropertyChange(DISPID_AMBIENT_DLCONTROL);
}

// The token is the engine's for the component's lifetime. One set after
// loading replaces the registered one at once, and the one named at
// destruction is the one removed.
void TEmbeddedWB::SetUserAgent(const QString& token)
{
    m_userAgent = token;
    RegisterUserAgentToken();
}

void TEmbeddedWB::RegisterUserAgentToken() { m_engine->SetUserAgentToken(m_userAgent); }

void TEmbeddedWB::UnregisterUserAgentToken() { m_engine->SetUserAgentToken(QString()); }

void TEmbeddedWB::SetfpExceptions(bool enabled)
{
    m_fpExceptions = enabled;
    if (enabled) {
        std::fesetenv(&SavedFloatingPointEnvironment());
    } else {
        std::feclearexcept(FE_ALL_EXCEPT);
#if defined(__GLIBC__)
        fedisableexcept(FE_ALL_EXCEPT); // every exception masked
#endif
    }
}

// ---- operations ---------------------------------------------------------------

void TEmbeddedWB::NavigateUrl(const QString& url) { m_engine->Navigate2(url); }

bool TEmbeddedWB::IsBusy() const { return m_engine->Busy(); }

void TEmbeddedWB::StopLoading() { m_engine->Stop(); }

void TEmbeddedWB::LoadRemoteContent() { m_engine->AllowRemoteContent(); }

void TEmbeddedWB::UIActivateDocument()
{
    if (m_engine->HasDocument())
        m_engine->UIActivate();
}

void TEmbeddedWB::NavigatePidl(const QByteArray& itemList)
{
    // Shell item lists mean nothing to this engine; a list that is a path
    // (as the folder service hands over) is navigated to.
    if (!itemList.isEmpty())
        m_engine->Navigate2(QString::fromLocal8Bit(itemList));
}

void TEmbeddedWB::ExecDocumentCommand(bool browserGroup, int command, int option, const QVariant& in, QVariant* out)
{
    if (!m_engine->HasDocument())
        return;
    try {
        m_engine->ExecCommand(browserGroup, command, option, in, out);
    } catch (...) {
        // a failing command ends silently
    }
}

// ---- host callbacks --------------------------------------------------------------

long TEmbeddedWB::ShowContextMenu(unsigned dwID, void* ppt, void* pcmdtReserved, void* pdispReserved)
{
    return OnShowContextMenu ? OnShowContextMenu(dwID, ppt, pcmdtReserved, pdispReserved) : HResult::S_FALSE;
}

long TEmbeddedWB::GetHostInfo(TDocHostUIInfo& info)
{
    // Filled before the event runs, so the flags hold whatever it answers.
    info.cbSize = 20;
    info.dwFlags = m_hostUIFlags;
    info.dwDoubleClick = 0;
    return OnGetHostInfo ? OnGetHostInfo(info) : HResult::S_OK;
}

long TEmbeddedWB::ShowUI(unsigned dwID, void* activeObject, void* commandTarget, void* frame, void* doc)
{
    return OnShowUI ? OnShowUI(dwID, activeObject, commandTarget, frame, doc) : HResult::S_FALSE;
}

long TEmbeddedWB::HideUI() { return OnHideUI ? OnHideUI() : HResult::S_FALSE; }
long TEmbeddedWB::UpdateUI() { return OnUpdateUI ? OnUpdateUI() : HResult::S_FALSE; }
long TEmbeddedWB::EnableModeless(bool enable) { return OnEnableModeless ? OnEnableModeless(enable) : HResult::S_FALSE; }

long TEmbeddedWB::OnDocWindowActivate(bool activate)
{
    return OnOnDocWindowActivate ? OnOnDocWindowActivate(activate) : HResult::S_FALSE;
}

long TEmbeddedWB::OnFrameWindowActivate(bool activate)
{
    return OnOnFrameWindowActivate ? OnOnFrameWindowActivate(activate) : HResult::S_FALSE;
}

long TEmbeddedWB::ResizeBorder(void* prcBorder, void* uiWindow, bool frameWindow)
{
    return OnResizeBorder ? OnResizeBorder(prcBorder, uiWindow, frameWindow) : HResult::S_FALSE;
}

long TEmbeddedWB::TranslateAccelerator(const TKeyMessage& msg, const QUuid* group, unsigned cmdId)
{
    return OnTranslateAccelerator ? OnTranslateAccelerator(msg, group, cmdId) : HResult::S_FALSE;
}

long TEmbeddedWB::GetOptionKeyPath(QString& key, unsigned dw)
{
    return OnGetOptionKeyPath ? OnGetOptionKeyPath(key, dw) : HResult::S_FALSE;
}

long TEmbeddedWB::GetDropTarget(void* dropTarget, void** out)
{
    if (out)
        *out = nullptr;
    return OnGetDropTarget ? OnGetDropTarget(dropTarget, out) : HResult::S_OK;
}

long TEmbeddedWB::GetExternal(void** out)
{
    if (out)
        *out = nullptr;
    return OnGetExternal ? OnGetExternal(out) : HResult::S_FALSE;
}

long TEmbeddedWB::TranslateUrl(unsigned translate, const QString& urlIn, QString& urlOut)
{
    return OnTranslateUrl ? OnTranslateUrl(translate, urlIn, urlOut) : HResult::S_FALSE;
}

long TEmbeddedWB::FilterDataObject(void* dataObject, void** out)
{
    if (out)
        *out = nullptr;
    return OnFilterDataObject ? OnFilterDataObject(dataObject, out) : HResult::S_FALSE;
}

long TEmbeddedWB::GetOverrideKeyPath(QString& key, unsigned dw)
{
    return OnGetOverrideKeyPath ? OnGetOverrideKeyPath(key, dw) : HResult::S_OK;
}

long TEmbeddedWB::ShowMessage(void* hwnd, const QString& text, const QString& caption, unsigned type,
                              const QString& helpFile, unsigned helpContext, long& result)
{
    return OnShowMessage ? OnShowMessage(hwnd, text, caption, type, helpFile, helpContext, result)
                         : HResult::S_FALSE;
}

long TEmbeddedWB::ShowHelp(void* hwnd, const QString& helpFile, unsigned command, unsigned data, void* mouse,
                           void*& objectHit)
{
    if (OnShowHelp)
        return OnShowHelp(hwnd, helpFile, command, data, mouse, objectHit);
    // The help viewer of the other platform is not here: a help file of
    // the component's own still keeps the engine's help away.
    return HelpFile.isEmpty() ? HResult::S_FALSE : HResult::S_OK;
}

long TEmbeddedWB::QueryService(const QUuid& service, const QUuid& iid, void** out)
{
    if (out)
        *out = nullptr;
    return OnQueryService ? OnQueryService(service, iid, out) : HResult::E_NOINTERFACE;
}

long TEmbeddedWB::GetTypeInfoCount(unsigned& count)
{
    if (OnGetTypeInfoCount)
        return OnGetTypeInfoCount(count);
    count = 0;
    return HResult::E_NOTIMPL;
}

long TEmbeddedWB::GetTypeInfo(unsigned index, unsigned localeId, void** typeInfo)
{
    if (OnGetTypeInfo)
        return OnGetTypeInfo(index, localeId, typeInfo);
    if (typeInfo)
        *typeInfo = nullptr;
    return HResult::E_NOTIMPL;
}

long TEmbeddedWB::GetIDsOfNames(const QUuid& iid, const QStringList& names, unsigned localeId, int* dispIds)
{
    return OnGetIDsOfNames ? OnGetIDsOfNames(iid, names, localeId, dispIds) : HResult::E_NOTIMPL;
}

long TEmbeddedWB::Invoke(int dispId, const QUuid& iid, unsigned localeId, unsigned flags, QVariantList& params,
                         QVariant* result)
{
    constexpr unsigned DISPATCH_PROPERTYGET = 2;
    if ((flags & DISPATCH_PROPERTYGET) && result && dispId == DISPID_AMBIENT_DLCONTROL) {
        *result = static_cast<int>(m_downloadControlFlags);
        return HResult::S_OK;
    }
    if (OnInvoke)
        return OnInvoke(dispId, iid, localeId, flags, params, result);
    return HResult::DISP_E_MEMBERNOTFOUND; // no other ambient property here
}

long TEmbeddedWB::QueryStatus() { return HResult::S_OK; }

long TEmbeddedWB::Exec(const QUuid* group, unsigned cmdId, unsigned option, const QVariant& in, QVariant* out)
{
    (void)option;
    (void)in;
    if (!group)
        return HResult::OLECMDERR_E_UNKNOWNGROUP;
    long answer = HResult::OLECMDERR_E_NOTSUPPORTED;
    if (*group == CGID_Explorer && cmdId == 37) {
        if (OnUnload)
            OnUnload(this);
    } else if (*group == CGID_DocHostCommandHandler && (cmdId == 2300 || cmdId == 6041 || cmdId == 6042)
               && OnRefresh) {
        bool cancel = false;
        OnRefresh(this, static_cast<int>(cmdId), cancel);
        if (cancel)
            answer = HResult::S_OK;
    } else if (*group == CGID_DocHostCommandHandler && cmdId == 40 && OnScriptError) {
        const std::optional<TScriptErrorInfo> info = m_engine->ScriptErrorEvent();
        if (!info)
            return answer;
        bool continueScript = true, showDialog = true;
        OnScriptError(this, info->errorLine, info->errorCharacter, info->errorCode, info->errorMessage,
                      info->errorUrl, continueScript, showDialog);
        if (out)
            *out = continueScript;
        if (!showDialog)
            answer = HResult::S_OK;
    }
    return answer;
}

long TEmbeddedWB::ControlWindowProc(const TKeyMessage& msg)
{
    const bool extended = (msg.lParam >> 24) & 1;
    if (msg.wParam == VK_BACK || msg.wParam == VK_RETURN
        || ((msg.wParam == VK_LEFT || msg.wParam == VK_RIGHT) && extended))
        return 0; // goes to the engine by ordinary dispatch
    return m_engine->TranslateAccelerator(msg) == HResult::S_OK ? 1 : 0;
}

bool TEmbeddedWB::CloseRequested()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (canClose && window() != this)
        window()->close();
    return canClose;
}

bool TEmbeddedWB::eventFilter(QObject* watched, QEvent* e)
{
    if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
        const auto* k = static_cast<QKeyEvent*>(e);
        TKeyMessage msg;
        msg.message = e->type() == QEvent::KeyPress ? TKeyMessage::KeyDown : TKeyMessage::KeyUp;
        msg.wParam = static_cast<int>(k->nativeVirtualKey());
        switch (k->key()) {
        case Qt::Key_Backspace:
            msg.wParam = VK_BACK;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            msg.wParam = VK_RETURN;
            break;
        case Qt::Key_Left:
            msg.wParam = VK_LEFT;
            break;
        case Qt::Key_Right:
            msg.wParam = VK_RIGHT;
            break;
        default:
            break;
        }
        if (!(k->modifiers() & Qt::KeypadModifier))
            msg.lParam |= 1L << 24;
        if (ControlWindowProc(msg) == 1)
            return true; // consumed as an accelerator
    }
    return QWidget::eventFilter(watched, e);
}

// ---- shell DDE ---------------------------------------------------------------------

bool TEmbeddedWB::DdeInitiate(const QString& application, const QString& topic, bool sameProcessAndThread)
{
    if (!EnableDDE || DdeLaunching || !sameProcessAndThread)
        return false;
    DdeHtmlMode = application == ShellDdeNames.htmlApplication;
    const QString& wantApp = DdeHtmlMode ? ShellDdeNames.htmlApplication : ShellDdeNames.folderApplication;
    const QString& wantTopic = DdeHtmlMode ? ShellDdeNames.htmlTopic : ShellDdeNames.folderTopic;
    return application == wantApp && topic == wantTopic;
}

int TEmbeddedWB::DdeExecute(const QString& command)
{
    if (DdeHtmlMode) {
        NavigateUrl(ParseDdeHtmlCommand(command));
        return 1;
    }
    const TDdeFolderCommand c = ParseDdeFolderCommand(command);
    if (!c.verb.isEmpty() && c.verb == ShellDdeNames.openVerb) {
        if (!c.path.isEmpty())
            NavigateUrl(c.path);
        else
            NavigatePidl(QByteArray());
        return 1;
    }
    // Exploring and finding need the other platform's shell.
    return 0;
}

// ---- print options and page setup -----------------------------------------------

QString TEmbeddedWB::FormatMargin(double value) const
{
    double v = value;
    if (PrintOptions.MarginsInInches != m_localeUsesInches)
        v = m_localeUsesInches ? value / 25.4 : value * 25.4;
    return QLocale().toString(v, 'g', 15);
}

void TEmbeddedWB::PrintDocument()
{
    HidePageSetupDialog = true;
    ShowPageSetup(true);
    PrintWithHeader();
}

void TEmbeddedWB::ShowPageSetup(bool apply)
{
    if (apply)
        PageSetupPending = true;
    ExecDocumentCommand(false, OLECMDID_PAGESETUP, OLECMDEXECOPT_DODEFAULT, QVariant(), nullptr);
    // With no document the command did not run: nothing is left pending for
    // whatever dialog comes next.
    if (!m_engine->HasDocument())
        PageSetupPending = HidePageSetupDialog = false;
}

void TEmbeddedWB::PrintWithHeader()
{
    QByteArray stream;
    for (const QString& line : PrintOptions.HTMLHeader) {
        stream += line.toUtf8();
        stream += "\r\n";
    }
    const QVariantList args{PrintOptions.Header, PrintOptions.Footer, stream};
    ExecDocumentCommand(false, OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER, args, nullptr);
}

QString TEmbeddedWB::LastPrintError() const { return m_engine->LastPrintError(); }

void TEmbeddedWB::CancelPrint() { m_engine->CancelPrint(); }

void TEmbeddedWB::OwnerActivationHook(TDialogWindow& window)
{
    if (window.isSystemDialog) {
        if (ReplaceCaption) {
            if (window.setIcon)
                window.setIcon();
            QString caption = window.caption;
            const int ms = caption.indexOf(QStringLiteral("Microsoft "));
            if (ms >= 0)
                caption.remove(ms, 10);
            const int ie = caption.indexOf(QStringLiteral("Internet Explorer"));
            if (ie >= 0)
                caption.replace(ie, 17, QGuiApplication::applicationDisplayName());
            window.caption = caption;
            if (window.setCaption)
                window.setCaption(caption);
        }
        if (PageSetupPending) {
            PageSetupPending = false;
            if (HidePageSetupDialog) {
                if (window.moveOutOfSight)
                    window.moveOutOfSight();
                HidePageSetupDialog = false;
            }
            const QString margins[4] = {FormatMargin(PrintOptions.Margins.Left), FormatMargin(PrintOptions.Margins.Top),
                                        FormatMargin(PrintOptions.Margins.Right),
                                        FormatMargin(PrintOptions.Margins.Bottom)};
            if (window.fill)
                window.fill(PrintOptions, margins);
        }
    }
    if (!HidePageSetupDialog && window.handle && OnShowDialog)
        OnShowDialog(this, window.handle);
}
