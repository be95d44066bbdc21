// Time to first paint of a message: a bare QWebEngineView rendering the
// short HTML body the messages share (the baseline) against the viewer
// window from its construction until its page has finished loading and its
// four header fields are filled. For the plain-text body (shown by the text
// view: a bare engine given 20 MB of text runs out of memory instead of
// finishing) the table also gives the time to its first screen. Runs
// offscreen; prints the medians of several runs. --memory gives instead the
// peak memory of the viewer and of the page's renderer for each message,
// each in a process of its own.
//
//   first_paint [--runs N] [--json] [--text-mb N] [--memory]
#include "TForm1.h"
#include "TQtWebEngine.h"
#include "TextPageView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QWebEnginePage>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineView>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

const QByteArray kBody =
    "<html><head><title>Figures</title></head><body style=\"font-family:sans-serif\">"
    "<h2>Quarterly figures</h2><p>Dear team,</p><p>the figures for the quarter are attached. "
    "Revenue grew by <b>4.2%</b>, costs stayed flat.</p><ul><li>North: 1.2 M</li><li>South: 0.9 M</li>"
    "<li>West: 1.4 M</li></ul><p>Regards,<br>Ann</p></body></html>";

QByteArray Header(const char* type)
{
    return QByteArray("From: Ann Example <ann@example.org>\r\nTo: bob@example.org, carol@example.org\r\n"
                      "Subject: Quarterly figures\r\nDate: Mon, 12 Mar 2001 10:20:30 +0000\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: ")
           + type + "\r\n\r\n";
}

QByteArray SmallMessage() { return Header("text/html; charset=utf-8") + kBody + "\r\n"; }

// The short HTML body and an attachment of about attachmentBytes, base64 in
// 76-character lines.
QByteArray LargeMessage(qsizetype attachmentBytes)
{
    QByteArray m = Header("multipart/mixed; boundary=\"b1\"");
    m += "--b1\r\nContent-Type: text/html; charset=utf-8\r\n\r\n" + kBody + "\r\n";
    m += "--b1\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
         "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"data.bin\"\r\n\r\n";
    std::mt19937 random(7);
    QByteArray raw(attachmentBytes / 4 * 3, Qt::Uninitialized);
    for (char& c : raw)
        c = static_cast<char>(random());
    const QByteArray encoded = raw.toBase64();
    m.reserve(m.size() + encoded.size() * 78 / 76 + 64);
    for (qsizetype i = 0; i < encoded.size(); i += 76) {
        m.append(encoded.constData() + i, std::min<qsizetype>(76, encoded.size() - i));
        m += "\r\n";
    }
    m += "--b1--\r\n";
    return m;
}

// A plain-text body of about bodyBytes in 8bit UTF-8: paragraphs of
// 72-column lines, every fifth line quoted, a web address now and then.
QByteArray TextMessage(qsizetype bodyBytes)
{
    QByteArray m = Header("text/plain; charset=utf-8") ;
    m.chop(2);
    m += "Content-Transfer-Encoding: 8bit\r\n\r\n";
    m.reserve(m.size() + bodyBytes + 128);
    const QByteArray words[] = {"the ", "quarterly ", "figures ", "show ", "growth ", "in ", "every ", "region, ",
                                "r\xc3\xa9sum\xc3\xa9 ", "and ", "costs ", "stayed ", "flat; ", "see ",
                                "https://example.org/report/2001 ", "for ", "details. "};
    std::mt19937 random(11);
    qsizetype line = 0;
    QByteArray current;
    while (m.size() < Header("x").size() + bodyBytes) {
        if (line % 5 == 4)
            current = "> ";
        while (current.size() < 64)
            current += words[random() % std::size(words)];
        m += current.trimmed() + "\r\n";
        if (++line % 12 == 0)
            m += "\r\n";
        current.clear();
    }
    return m;
}

// Runs events until done() holds; false after timeoutMs.
template <typename Done>
bool WaitFor(Done done, int timeoutMs = 60000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double BaselineMs()
{
    QElapsedTimer clock;
    clock.start();
    bool finished = false;
    {
        QWebEngineView view;
        view.resize(589, 409);
        QObject::connect(&view, &QWebEngineView::loadFinished, [&] { finished = true; });
        view.show();
        view.setHtml(QString::fromUtf8(kBody));
        if (!WaitFor([&] { return finished; }))
            return -1;
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// Notes when the text view first paints text.
class FirstScreen : public QObject {
public:
    QElapsedTimer* clock = nullptr;
    double ms = -1;
    TTextPageView* view = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && ms < 0 && view && !view->document()->isEmpty())
            ms = static_cast<double>(clock->nsecsElapsed()) / 1e6;
        return QObject::eventFilter(watched, e);
    }
};

struct Times {
    double complete = -1;
    double firstScreen = -1; // of the text view; -1 when it showed nothing
};

// From construction until the page has finished loading and the fields are
// filled. Completion is watched from outside, so the same loop measures any
// version of the window.
Times ViewerMs(const QString& path)
{
    QElapsedTimer clock;
    clock.start();
    Times t;
    {
        TForm1 form(path);
        FirstScreen first;
        first.clock = &clock;
        if (auto* engine = dynamic_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine())) {
            first.view = engine->TextView();
            first.view->viewport()->installEventFilter(&first);
        }
        form.show();
        QTimer::singleShot(0, &form, &TForm1::FormActivate); // in case nothing activates it
        if (WaitFor([&] { return !form.Edit3->text().isEmpty() && !form.EmbeddedWB1->IsBusy(); }))
            t.complete = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        t.firstScreen = first.ms;
    }
    return t;
}

long PeakKilobytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// In a process of its own: loads path in the window, then prints the peak
// memory of this process and of the page's renderer in kilobytes.
int MeasureMemory(const QString& path)
{
    TForm1 form(path);
    form.show();
    QTimer::singleShot(0, &form, &TForm1::FormActivate);
    if (!WaitFor([&] { return !form.Edit3->text().isEmpty() && !form.EmbeddedWB1->IsBusy(); }))
        return 1;
    QElapsedTimer settle;
    settle.start();
    WaitFor([&] { return settle.elapsed() > 500; }); // the renderer draws what it was given
    auto* engine = dynamic_cast<TQtWebEngine*>(form.EmbeddedWB1->Engine());
    const qint64 renderer = engine ? engine->View()->page()->renderProcessPid() : 0;
    std::printf("%ld %ld\n", PeakKilobytes(QCoreApplication::applicationPid()),
                renderer > 0 ? PeakKilobytes(renderer) : -1L);
    return 0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const bool json = args.contains(QStringLiteral("--json"));
    int runs = 5;
    if (const int i = args.indexOf(QStringLiteral("--runs")); i > 0)
        runs = std::max(1, args.value(i + 1).toInt());

    if (const int i = args.indexOf(QStringLiteral("--measure-memory")); i > 0)
        return MeasureMemory(args.value(i + 1));
    const bool memory = args.contains(QStringLiteral("--memory"));

    QTemporaryDir dir;
    struct Message {
        const char* name;
        QByteArray data;
    };
    double textMb = 20;
    if (const int i = args.indexOf(QStringLiteral("--text-mb")); i > 0)
        textMb = std::max(0.01, args.value(i + 1).toDouble());
    const Message messages[] = {{"small-html", SmallMessage()},
                                {"html-20mb-attachment", LargeMessage(20 << 20)},
                                {"text-20mb", TextMessage(static_cast<qsizetype>(textMb * (1 << 20)))}};

    auto write = [&dir](const Message& m) {
        const QString path = QDir(dir.path()).filePath(QString::fromLatin1(m.name) + QStringLiteral(".eml"));
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(m.data) == m.data.size() ? path : QString();
    };
    if (memory) {
        std::printf("%-22s %12s %16s %18s\n", "message", "bytes", "viewer_peak_mb", "renderer_peak_mb");
        for (const Message& m : messages) {
            const QString path = write(m);
            if (path.isEmpty())
                return 1;
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure-memory"), path});
            child.waitForFinished(300000);
            const QList<QByteArray> kb = child.readAllStandardOutput().trimmed().split(' ');
            std::printf("%-22s %12lld %16.1f %18.1f\n", m.name, static_cast<long long>(m.data.size()),
                        kb.value(0).toDouble() / 1024, kb.value(1).toDouble() / 1024);
            std::fflush(stdout);
        }
        return 0;
    }

    // The first engine start in a process costs far more than any later one
    // (processes, GPU set-up); it is measured by neither side.
    BaselineMs();
    if (!json)
        std::printf("%-22s %12s %12s %12s %7s %16s\n", "message", "bytes", "baseline_ms", "viewer_ms", "ratio",
                    "first_screen_ms");
    for (const Message& m : messages) {
        const QString path = write(m);
        if (path.isEmpty())
            return 1;
        ViewerMs(path); // warm the file cache
        std::vector<double> baseline, viewer, firstScreen;
        for (int i = 0; i < runs; ++i) {
            baseline.push_back(BaselineMs());
            const Times t = ViewerMs(path);
            viewer.push_back(t.complete);
            firstScreen.push_back(t.firstScreen);
        }
        const double a = Median(baseline), b = Median(viewer), first = Median(firstScreen);
        if (json)
            std::printf("{\"message\": \"%s\", \"size\": %lld, \"baseline_ms\": %.1f, \"viewer_ms\": %.1f}\n", m.name,
                        static_cast<long long>(m.data.size()), a, b);
        else
            std::printf("%-22s %12lld %12.1f %12.1f %7.2f %16s\n", m.name, static_cast<long long>(m.data.size()), a, b,
                        a > 0 ? b / a : 0.0, first >= 0 ? qPrintable(QString::number(first, 'f', 1)) : "-");
        std::fflush(stdout);
    }
    return 0;
}
