// Time to first paint of a message: a bare QWebEngineView rendering the
// message's HTML body (the baseline) against the viewer window from its
// construction until its page has finished loading and its four header
// fields are filled. Runs offscreen; prints the medians of several runs.
//
//   first_paint [--runs N] [--json]
#include "TForm1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
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

// From construction until the page has finished loading and the fields are
// filled. Completion is watched from outside, so the same loop measures any
// version of the window.
double ViewerMs(const QString& path)
{
    QElapsedTimer clock;
    clock.start();
    double ms = -1;
    {
        TForm1 form(path);
        form.show();
        QTimer::singleShot(0, &form, &TForm1::FormActivate); // in case nothing activates it
        if (WaitFor([&] { return !form.Edit3->text().isEmpty() && !form.EmbeddedWB1->IsBusy(); }))
            ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    }
    return ms;
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

    QTemporaryDir dir;
    struct Message {
        const char* name;
        QByteArray data;
    };
    const Message messages[] = {{"small-html", SmallMessage()}, {"html-20mb-attachment", LargeMessage(20 << 20)}};

    // The first engine start in a process costs far more than any later one
    // (processes, GPU set-up); it is measured by neither side.
    BaselineMs();
    if (!json)
        std::printf("%-22s %12s %12s %12s %7s\n", "message", "bytes", "baseline_ms", "viewer_ms", "ratio");
    for (const Message& m : messages) {
        const QString path = QDir(dir.path()).filePath(QString::fromLatin1(m.name) + QStringLiteral(".eml"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(m.data) != m.data.size())
            return 1;
        f.close();
        ViewerMs(path); // warm the file cache
        std::vector<double> baseline, viewer;
        for (int i = 0; i < runs; ++i) {
            baseline.push_back(BaselineMs());
            viewer.push_back(ViewerMs(path));
        }
        const double a = Median(baseline), b = Median(viewer);
        if (json)
            std::printf("{\"message\": \"%s\", \"size\": %lld, \"baseline_ms\": %.1f, \"viewer_ms\": %.1f}\n", m.name,
                        static_cast<long long>(m.data.size()), a, b);
        else
            std::printf("%-22s %12lld %12.1f %12.1f %7.2f\n", m.name, static_cast<long long>(m.data.size()), a, b,
                        a > 0 ? b / a : 0.0);
        std::fflush(stdout);
    }
    return 0;
}
