// Program entry: string table, application object, the viewer window.
#include "CommandLine.h"
#include "MessageStrings.h"
#include "TApplication.h"
#include "TForm1.h"
#include "TPrintEngine.h"
#include "TQtWebEngine.h"
#include "TQuickMessage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <unistd.h>

namespace {

// corvanta-viewer --write-language-file N PATH: block N's current image, so
// translators can start from the built-in texts.
int WriteLanguageFile(const QStringList& args)
{
    bool ok = false;
    const int block = args.value(2).toInt(&ok);
    if (!ok || block < 0 || block >= MessageStrings::kBlocks || args.size() < 4) {
        std::fprintf(stderr, "usage: corvanta-viewer --write-language-file N PATH (N from 0 to 4)\n");
        return 2;
    }
    QFile out(args.at(3));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || out.write(MessageStrings::BlockImage(block)) != MessageStrings::BlockSize(block)) {
        std::fprintf(stderr, "corvanta-viewer: cannot write %s\n", qPrintable(args.at(3)));
        return 1;
    }
    return 0;
}

// corvanta-viewer --print-to OUT.pdf FILE.eml: loads the message as the
// window does and prints it through the same path into OUT.pdf, without
// showing a window.
int PrintTo(const QStringList& args)
{
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: corvanta-viewer --print-to OUT.pdf FILE.eml\n");
        return 2;
    }
    const QString out = QFileInfo(args.at(2)).absoluteFilePath();
    if (QFileInfo::exists(out)) {
        std::fprintf(stderr, "corvanta-viewer: %s exists\n", qPrintable(out));
        return 1;
    }
    TPrintEngine::SetOutputFile(out);
    TForm1 form(args.at(3));
    form.ShowNotices = false;
    form.FormActivate();
    if (!form.LoadError().isEmpty()) {
        std::fprintf(stderr, "corvanta-viewer: cannot read %s: %s\n", qPrintable(args.at(3)),
                     qPrintable(form.LoadError()));
        return 1;
    }
    form.BitBtn2Click();
    auto* engine = static_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine());
    if (!QFileInfo::exists(out)) {
        const QString error = engine->Printing().LastError;
        std::fprintf(stderr, "corvanta-viewer: %s\n",
                     qPrintable(error.isEmpty() ? QStringLiteral("the message could not be printed") : error));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Large buffers (message files, bodies) come from the heap and stay there
    // when freed, so later bodies reuse pages instead of faulting in new ones.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 64 << 20);
    if (const int status = AnswerHelpOrVersion(argc, argv); status >= 0)
        return status;
    // The modes without a window work without a display too (a script, a
    // print server): without one Qt would abort.
    const bool windowless = argc > 1
                            && (std::strcmp(argv[1], "--print-to") == 0
                                || std::strcmp(argv[1], "--write-language-file") == 0);
    if (windowless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    // No display name: Qt would append it to every window title.
    TApplication::setApplicationName(QStringLiteral("corvanta"));

    const QStringList args = QCoreApplication::arguments();
    const bool commandLineMode =
        args.value(1) == QLatin1String("--write-language-file") || args.value(1) == QLatin1String("--print-to");
    bool sideFileError = false;
    const QString exeFolder = QCoreApplication::applicationDirPath();
    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    MessageStrings::Initialize(exeFolder, fallback, [&](const QString& message) {
        sideFileError = true;
        // Without a window nobody could answer a message box.
        if (commandLineMode) {
            std::fprintf(stderr, "corvanta-viewer: %s\n", qPrintable(message));
            return;
        }
        QApplication::beep();
        QMessageBox::critical(nullptr, QStringLiteral("Corvanta Quick e-Mail Viewer"), message);
    });
    if (commandLineMode && sideFileError)
        return 1;

    if (args.value(1) == QLatin1String("--write-language-file"))
        return WriteLanguageFile(args);

    if (args.value(1) == QLatin1String("--print-to"))
        return PrintTo(args);

    TPrintEngine::SetSavedInsteadNotice([](const QString& path) {
        ShowQuickMessage(QStringLiteral("Print"), QStringLiteral("No printer is set up. The message was saved as\n") + path,
                         8000, false, true, 10, 0, QApplication::activeWindow());
    });
    auto* form = new TForm1(args.value(1));
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    return app.exec();
}
