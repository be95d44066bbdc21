// The browser host's logic over a fake engine: flags, callbacks and their
// defaults, command groups, keyboard forwarding, close requests, the
// user-agent token, DDE command texts and the print hand-over.
#include "DdeCommand.h"
#include "TEmbeddedWB.h"

#include <QtTest>

namespace {

struct FakeEngine : TWebEngine {
    QWidget widget;
    QStringList navigated;
    bool busy = false, document = false, activated = false, stopped = false;
    QList<int> ambient;
    QList<TKeyMessage> translated;
    long translateResult = 1;
    QString token = QStringLiteral("<unset>");
    unsigned downloadFlags = 0;
    struct Command {
        int command, option;
        QVariant in;
    };
    QList<Command> commands;
    std::optional<TScriptErrorInfo> scriptError;

    QWidget* Widget() override { return &widget; }
    void Navigate2(const QString& url) override
    {
        navigated << url;
        busy = true;
    }
    bool Busy() const override { return busy; }
    void Stop() override { stopped = true; }
    bool HasDocument() const override { return document; }
    long ExecCommand(bool, int command, int option, const QVariant& in, QVariant*) override
    {
        commands.append({command, option, in});
        return 0;
    }
    void UIActivate() override { activated = true; }
    void AmbientPropertyChange(int dispId) override { ambient << dispId; }
    long TranslateAccelerator(const TKeyMessage& m) override
    {
        translated << m;
        return translateResult;
    }
    QString* tokenSink = nullptr; // outlives the engine
    void SetUserAgentToken(const QString& t) override
    {
        token = t;
        if (tokenSink)
            *tokenSink = t;
    }
    void SetDownloadControl(unsigned flags) override { downloadFlags = flags; }
    std::optional<TScriptErrorInfo> ScriptErrorEvent() const override { return scriptError; }
};

struct Host {
    FakeEngine* engine = new FakeEngine;
    std::unique_ptr<TEmbeddedWB> wb{new TEmbeddedWB(nullptr, std::unique_ptr<TWebEngine>(engine))};
    // The engine's widget belongs to the host's layout; give it back first.
    ~Host() { engine->widget.setParent(nullptr); }
};

TKeyMessage Key(int vk, bool extended)
{
    TKeyMessage m;
    m.wParam = vk;
    m.lParam = extended ? (1L << 24) : 0;
    return m;
}

const TDownloadControlOptions kViewerOptions = {
    TDownloadControlOption::DLCTL_DLIMAGES,         TDownloadControlOption::DLCTL_VIDEOS,
    TDownloadControlOption::DLCTL_BGSOUNDS,         TDownloadControlOption::DLCTL_NO_SCRIPTS,
    TDownloadControlOption::DLCTL_NO_JAVA,          TDownloadControlOption::DLCTL_NO_RUNACTIVEXCTLS,
    TDownloadControlOption::DLCTL_NO_DLACTIVEXCTLS};

} // namespace

class BrowserHostTest : public QObject {
    Q_OBJECT
private slots:
    void flagsAndTheAmbientDownloadControl()
    {
        Host h;
        QCOMPARE(h.wb->DownloadControlFlags(), 0x70u); // the constructor's default set
        h.wb->SetDownloadOptions(kViewerOptions);
        QCOMPARE(h.wb->DownloadControlFlags(), 2032u);
        QCOMPARE(h.engine->downloadFlags, 2032u);
        QVERIFY(h.engine->ambient.count(DISPID_AMBIENT_DLCONTROL) >= 2);
        QVariantList params;
        QVariant result;
        QCOMPARE(h.wb->Invoke(DISPID_AMBIENT_DLCONTROL, QUuid(), 0, 2, params, &result), HResult::S_OK);
        QCOMPARE(result.toInt(), 2032);
        h.wb->SetDownloadOptions({});
        QCOMPARE(h.wb->Invoke(DISPID_AMBIENT_DLCONTROL, QUuid(), 0, 2, params, &result), HResult::S_OK);
        QCOMPARE(result.toInt(), 0);
        h.wb->SetDownloadOptions({TDownloadControlOption::DLCTL_OFFLINE, TDownloadControlOption::DLCTL_SILENT});
        QCOMPARE(h.wb->DownloadControlFlags(), 0xC0000000u);

        // A property put, or a get without a result, is passed on.
        int passedOn = 0;
        h.wb->OnInvoke = [&](int, const QUuid&, unsigned, unsigned, QVariantList&, QVariant*) {
            ++passedOn;
            return 7L;
        };
        QCOMPARE(h.wb->Invoke(DISPID_AMBIENT_DLCONTROL, QUuid(), 0, 4, params, &result), 7L);
        QCOMPARE(h.wb->Invoke(DISPID_AMBIENT_DLCONTROL, QUuid(), 0, 2, params, nullptr), 7L);
        QCOMPARE(passedOn, 2);

        h.wb->SetUserInterfaceOptions({TUserInterfaceOption::DIALOG, TUserInterfaceOption::ENABLE_INPLACE_NAVIGATION,
                                       TUserInterfaceOption::IME_ENABLE_RECONVERSION});
        QCOMPARE(h.wb->HostUIFlags(), 0x30001u);
    }

    void callbackDefaultsAndTheEventFirstRule()
    {
        Host h;
        void* out = reinterpret_cast<void*>(0x1);
        QCOMPARE(h.wb->ShowContextMenu(0, nullptr, nullptr, nullptr), HResult::S_FALSE);
        QCOMPARE(h.wb->ShowUI(0, nullptr, nullptr, nullptr, nullptr), HResult::S_FALSE);
        QCOMPARE(h.wb->HideUI(), HResult::S_FALSE);
        QCOMPARE(h.wb->UpdateUI(), HResult::S_FALSE);
        QCOMPARE(h.wb->EnableModeless(true), HResult::S_FALSE);
        QCOMPARE(h.wb->OnDocWindowActivate(true), HResult::S_FALSE);
        QCOMPARE(h.wb->OnFrameWindowActivate(true), HResult::S_FALSE);
        QCOMPARE(h.wb->ResizeBorder(nullptr, nullptr, true), HResult::S_FALSE);
        QCOMPARE(h.wb->TranslateAccelerator(TKeyMessage{}, nullptr, 0), HResult::S_FALSE);
        QString key = QStringLiteral("k");
        QCOMPARE(h.wb->GetOptionKeyPath(key, 0), HResult::S_FALSE);
        QCOMPARE(h.wb->GetOverrideKeyPath(key, 0), HResult::S_OK);
        QCOMPARE(key, QStringLiteral("k"));
        QCOMPARE(h.wb->GetDropTarget(nullptr, &out), HResult::S_OK);
        QCOMPARE(out, nullptr);
        out = reinterpret_cast<void*>(0x1);
        QCOMPARE(h.wb->GetExternal(&out), HResult::S_FALSE);
        QCOMPARE(out, nullptr);
        QString urlOut;
        QCOMPARE(h.wb->TranslateUrl(0, QStringLiteral("a"), urlOut), HResult::S_FALSE);
        out = reinterpret_cast<void*>(0x1);
        QCOMPARE(h.wb->FilterDataObject(nullptr, &out), HResult::S_FALSE);
        QCOMPARE(out, nullptr);
        long messageResult = 0;
        QCOMPARE(h.wb->ShowMessage(nullptr, {}, {}, 0, {}, 0, messageResult), HResult::S_FALSE);
        void* hit = nullptr;
        QCOMPARE(h.wb->ShowHelp(nullptr, {}, 0, 0, nullptr, hit), HResult::S_FALSE);
        h.wb->HelpFile = QStringLiteral("help.chm");
        QCOMPARE(h.wb->ShowHelp(nullptr, {}, 0, 0, nullptr, hit), HResult::S_OK);
        out = reinterpret_cast<void*>(0x1);
        QCOMPARE(h.wb->QueryService(QUuid(), QUuid(), &out), HResult::E_NOINTERFACE);
        QCOMPARE(out, nullptr);
        unsigned count = 9;
        QCOMPARE(h.wb->GetTypeInfoCount(count), HResult::E_NOTIMPL);
        QCOMPARE(count, 0u);
        QCOMPARE(h.wb->GetTypeInfo(0, 0, &out), HResult::E_NOTIMPL);
        QCOMPARE(h.wb->GetIDsOfNames(QUuid(), {}, 0, nullptr), HResult::E_NOTIMPL);
        QCOMPARE(h.wb->QueryStatus(), HResult::S_OK);

        // Events answer instead; the out-interface is cleared before them.
        h.wb->OnShowContextMenu = [](unsigned, void*, void*, void*) { return 0L; };
        QCOMPARE(h.wb->ShowContextMenu(0, nullptr, nullptr, nullptr), 0L);
        h.wb->OnQueryService = [](const QUuid&, const QUuid&, void** o) {
            return *o == nullptr ? 42L : 0L;
        };
        out = reinterpret_cast<void*>(0x1);
        QCOMPARE(h.wb->QueryService(QUuid(), QUuid(), &out), 42L);

        // Host information is filled before the event runs.
        h.wb->SetUserInterfaceOptions({TUserInterfaceOption::NO3DBORDER});
        TDocHostUIInfo seen;
        h.wb->OnGetHostInfo = [&](TDocHostUIInfo& info) {
            seen = info;
            return 5L;
        };
        TDocHostUIInfo info;
        QCOMPARE(h.wb->GetHostInfo(info), 5L);
        QCOMPARE(seen.cbSize, 20u);
        QCOMPARE(seen.dwFlags, 0x4u);
    }

    void execByCommandGroup()
    {
        Host h;
        QVariant out;
        QCOMPARE(h.wb->Exec(nullptr, 37, 0, {}, &out), HResult::OLECMDERR_E_UNKNOWNGROUP);
        int unloads = 0;
        h.wb->OnUnload = [&](TEmbeddedWB*) { ++unloads; };
        QCOMPARE(h.wb->Exec(&CGID_Explorer, 37, 0, {}, &out), HResult::OLECMDERR_E_NOTSUPPORTED);
        QCOMPARE(unloads, 1);

        QCOMPARE(h.wb->Exec(&CGID_DocHostCommandHandler, 2300, 0, {}, &out), HResult::OLECMDERR_E_NOTSUPPORTED);
        bool cancel = false;
        h.wb->OnRefresh = [&](TEmbeddedWB*, int cmd, bool& c) {
            QCOMPARE(c, false);
            c = cancel;
            QVERIFY(cmd == 2300 || cmd == 6041 || cmd == 6042);
        };
        QCOMPARE(h.wb->Exec(&CGID_DocHostCommandHandler, 6041, 0, {}, &out), HResult::OLECMDERR_E_NOTSUPPORTED);
        cancel = true;
        QCOMPARE(h.wb->Exec(&CGID_DocHostCommandHandler, 6042, 0, {}, &out), HResult::S_OK);

        // Script errors: no event object, then one the handler hides.
        QStringList got;
        bool hide = false;
        h.wb->OnScriptError = [&](TEmbeddedWB*, const QString& line, const QString& ch, const QString& code,
                                  const QString& message, const QString& url, bool& cont, bool& show) {
            QVERIFY(cont && show);
            got = {line, ch, code, message, url};
            cont = false;
            show = !hide;
        };
        QCOMPARE(h.wb->Exec(&CGID_DocHostCommandHandler, 40, 0, {}, &out), HResult::OLECMDERR_E_NOTSUPPORTED);
        QVERIFY(got.isEmpty());
        h.engine->scriptError = TScriptErrorInfo{"3", "80020101", "oops", "cid:x", "12"};
        QCOMPARE(h.wb->Exec(&CGID_DocHostCommandHandler, 40, 0, {}, &out), HResult::OLECMDERR_E_NOTSUPPORTED);
        QCOMPARE(got, (QStringList{"12", "3", "80020101", "oops", "cid:x"}));
        QCOMPARE(out, QVariant(false));
        hide = true;
        QCOMPARE(h.wb->Exec(&CGID_DocHostCommandHandler, 40, 0, {}, &out), HResult::S_OK);
    }

    void keyboardForwarding()
    {
        Host h;
        QCOMPARE(h.wb->ControlWindowProc(Key(8, false)), 0L);
        QCOMPARE(h.wb->ControlWindowProc(Key(13, false)), 0L);
        QCOMPARE(h.wb->ControlWindowProc(Key(37, true)), 0L);
        QCOMPARE(h.wb->ControlWindowProc(Key(39, true)), 0L);
        QVERIFY(h.engine->translated.isEmpty());
        // Keypad 4 and 6 (no extended bit) and other keys go through it.
        QCOMPARE(h.wb->ControlWindowProc(Key(37, false)), 0L);
        h.engine->translateResult = 0;
        QCOMPARE(h.wb->ControlWindowProc(Key(39, false)), 1L);
        QCOMPARE(h.wb->ControlWindowProc(Key('A', false)), 1L);
        QCOMPARE(h.engine->translated.size(), 3);
    }

    void closeRequestsAndNavigation()
    {
        Host h;
        QWidget window;
        h.wb->setParent(&window);
        window.show();
        h.wb->OnCloseQuery = [](TEmbeddedWB*, bool& canClose) { canClose = false; };
        QVERIFY(!h.wb->CloseRequested());
        QVERIFY(window.isVisible());
        h.wb->OnCloseQuery = nullptr;
        QVERIFY(h.wb->CloseRequested());
        QVERIFY(!window.isVisible());
        h.wb->setParent(nullptr);

        h.wb->UIActivateDocument(); // no document: nothing
        QVERIFY(!h.engine->activated);
        h.wb->ExecDocumentCommand(false, OLECMDID_PRINT, 2, {}, nullptr);
        QVERIFY(h.engine->commands.isEmpty());
        h.wb->NavigateUrl(QStringLiteral("/tmp/m.eml"));
        QVERIFY(h.wb->IsBusy());
        QCOMPARE(h.engine->navigated, QStringList{"/tmp/m.eml"});
        h.wb->StopLoading();
        QVERIFY(h.engine->stopped);
        h.engine->document = true;
        h.wb->UIActivateDocument();
        QVERIFY(h.engine->activated);
    }

    void userAgentTokenForTheComponentsLifetime()
    {
        QString engineToken = QStringLiteral("<unset>");
        {
            auto* engine = new FakeEngine;
            engine->tokenSink = &engineToken;
            TEmbeddedWB wb(nullptr, std::unique_ptr<TWebEngine>(engine));
            wb.SetUserAgent(QStringLiteral("Corvanta v.3.0.5 by TELMOSSA"));
            QCOMPARE(engineToken, QStringLiteral("Corvanta v.3.0.5 by TELMOSSA"));
            engine->widget.setParent(nullptr);
        }
        QCOMPARE(engineToken, QString()); // taken away again with the component
    }

    void ddeCommandTexts()
    {
        QCOMPARE(ParseDdeHtmlCommand(QStringLiteral("\"file:///x.html\",,-1,0,,,,")), QStringLiteral("file:///x.html"));
        QCOMPARE(ParseDdeHtmlCommand(QStringLiteral("plain")), QStringLiteral("plain"));
        TDdeFolderCommand c = ParseDdeFolderCommand(QStringLiteral("[ViewFolder(\"C:\\a, b\", -1234:567,3)]"));
        QCOMPARE(c.verb, QStringLiteral("ViewFolder"));
        QCOMPARE(c.path, QStringLiteral("C:\\a, b"));
        QCOMPARE(c.handle, -1234LL);
        QCOMPARE(c.process, 567LL);
        QCOMPARE(c.show, 3);
        c = ParseDdeFolderCommand(QStringLiteral("[ExploreFolder(\"\", 4242)]"));
        QCOMPARE(c.handle, 4242LL);
        QCOMPARE(c.process, 0LL);
        QCOMPARE(c.show, 1);
        c = ParseDdeFolderCommand(QStringLiteral("[FindFolder(\"\", -,)]")); // a lone sign reads as 0
        QCOMPARE(c.handle, 0LL);

        Host h;
        TEmbeddedWB::ShellDdeNames = {"IExplore", "WWW_OpenURL", "Folders", "AppProperties", "ViewFolder",
                                      "ExploreFolder", "FindFolder"};
        QVERIFY(!h.wb->DdeInitiate(QStringLiteral("IExplore"), QStringLiteral("WWW_OpenURL"), true)); // off
        h.wb->EnableDDE = true;
        QVERIFY(!h.wb->DdeInitiate(QStringLiteral("IExplore"), QStringLiteral("WWW_OpenURL"), false));
        QVERIFY(h.wb->DdeInitiate(QStringLiteral("IExplore"), QStringLiteral("WWW_OpenURL"), true));
        QVERIFY(TEmbeddedWB::DdeHtmlMode);
        QCOMPARE(h.wb->DdeExecute(QStringLiteral("\"/tmp/page.html\"")), 1);
        QVERIFY(h.wb->DdeInitiate(QStringLiteral("Folders"), QStringLiteral("AppProperties"), true));
        QCOMPARE(h.wb->DdeExecute(QStringLiteral("[ViewFolder(\"/tmp\",0,1)]")), 1);
        QCOMPARE(h.wb->DdeExecute(QStringLiteral("[Rename(\"/tmp\",0,1)]")), 0);
        QCOMPARE(h.engine->navigated, (QStringList{"/tmp/page.html", "/tmp"}));
        TEmbeddedWB::ShellDdeNames = {};
    }

    void printHandsTheHeaderBlockToTheEngine()
    {
        Host h;
        h.engine->document = true;
        h.wb->PrintOptions.Header = QStringLiteral("&w&bPage &p of &P");
        h.wb->PrintOptions.Footer = QStringLiteral("&u&b&d");
        h.wb->PrintDocument();
        QCOMPARE(h.engine->commands.size(), 2);
        QCOMPARE(h.engine->commands[0].command, OLECMDID_PAGESETUP);
        QCOMPARE(h.engine->commands[1].command, OLECMDID_PRINT);
        QCOMPARE(h.engine->commands[1].option, OLECMDEXECOPT_DONTPROMPTUSER);
        const QVariantList args = h.engine->commands[1].in.toList();
        QCOMPARE(args.value(0).toString(), QStringLiteral("&w&bPage &p of &P"));
        QCOMPARE(args.value(1).toString(), QStringLiteral("&u&b&d"));
        QCOMPARE(args.value(2).toByteArray(), QByteArray("<HTML></HTML>\r\n"));
        QCOMPARE(args.value(2).toByteArray().size(), 15);
    }

    void marginsInTheLocalesUnit()
    {
        Host h;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const bool inches = h.wb->LocaleUsesInches();
        QCOMPARE(h.wb->FormatMargin(19.05), inches ? QStringLiteral("0,75") : QStringLiteral("19,05"));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(h.wb->FormatMargin(19.05), inches ? QStringLiteral("0.75") : QStringLiteral("19.05"));
        QLocale::setDefault(QLocale::c());
    }

    void ownerActivationHookFillsAndRenames()
    {
        Host h;
        TEmbeddedWB::PageSetupPending = TEmbeddedWB::HidePageSetupDialog = false;
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Corvanta Quick e-Mail Viewer"));
        QStringList order;
        int shown = 0;
        h.wb->OnShowDialog = [&](TEmbeddedWB*, void*) {
            ++shown;
            order << (TEmbeddedWB::HidePageSetupDialog ? "hidden-flag-set" : "hidden-flag-clear");
        };
        TEmbeddedWB::TDialogWindow dialog;
        dialog.isSystemDialog = true;
        dialog.caption = QStringLiteral("Microsoft Internet Explorer Page Setup");
        dialog.handle = &dialog;
        QString setCaption;
        dialog.setCaption = [&](const QString& c) { setCaption = c; };
        dialog.moveOutOfSight = [&] { order << "moved"; };
        QString marginText;
        TPrintOrientationOption orientation{};
        dialog.fill = [&](const TPrintOptions& o, const QString (&m)[4]) {
            order << "filled";
            orientation = o.Orientation;
            marginText = m[0];
        };

        // Not replacing the caption leaves it alone; not pending fills nothing.
        h.wb->OwnerActivationHook(dialog);
        QVERIFY(setCaption.isEmpty());
        QCOMPARE(order, QStringList{"hidden-flag-clear"});

        h.wb->ReplaceCaption = true;
        h.wb->PrintOptions.Orientation = TPrintOrientationOption::poLandscape;
        h.wb->PrintOptions.Margins.Left = 19.05;
        TEmbeddedWB::PageSetupPending = true;
        TEmbeddedWB::HidePageSetupDialog = true;
        order.clear();
        h.wb->OwnerActivationHook(dialog);
        QCOMPARE(setCaption, QStringLiteral("Corvanta Quick e-Mail Viewer Page Setup"));
        QCOMPARE(order, (QStringList{"moved", "filled", "hidden-flag-clear"}));
        QCOMPARE(orientation, TPrintOrientationOption::poLandscape);
        QCOMPARE(marginText, h.wb->FormatMargin(19.05));
        QVERIFY(!TEmbeddedWB::PageSetupPending && !TEmbeddedWB::HidePageSetupDialog);

        // A window that is no dialog, while hiding is pending: no event.
        TEmbeddedWB::HidePageSetupDialog = true;
        TEmbeddedWB::TDialogWindow other;
        other.handle = &other;
        shown = 0;
        h.wb->OwnerActivationHook(other);
        QCOMPARE(shown, 0);
        TEmbeddedWB::HidePageSetupDialog = false;
    }
};

QTEST_MAIN(BrowserHostTest)
#include "BrowserHostTest.moc"
