// What the viewer does with text before it is shown: a text body to HTML
// (fixed and flowed, with links and quotes), hostile lines full of false
// link starts, and the source window's text and header fields of 2 MB. The
// bytes per second stay the same from 1 MB to 16 MB: the work is linear.
// And a page that asks for each of 2,000 or 8,000 images of its message:
// the time per image stays the same.
#include "MessageDocument.h"
#include "MessageSource.h"
#include "TMailMessage2000.h"
#include "TextToHtml.h"

#include <benchmark/benchmark.h>

#include <QString>

namespace {

QString MailText(qsizetype size, bool flowed)
{
    const QString soft = flowed ? QStringLiteral(" ") : QString();
    const QStringList lines = {
        QStringLiteral("Hello, the report is at https://intranet.example.org/reports/2026/q4.pdf and") + soft,
        QStringLiteral("the minutes are at http://wiki.example.org/Minutes_(December) as usual.") + soft,
        QStringLiteral("> On Monday someone wrote: is there a copy on ftp://files.example.net/pub/?") + soft,
        QStringLiteral(">> Write to mailto:team@example.org for access & <questions>."),
        QStringLiteral("Plain words without any address in them, just text to be escaped and shown."),
    };
    QString text;
    text.reserve(size + 200);
    for (int i = 0; text.size() < size; ++i)
        text += lines[i % lines.size()] + QStringLiteral("\r\n");
    return text;
}

void FixedText(benchmark::State& state)
{
    const QString text = MailText(state.range(0), false);
    for (auto _ : state)
        benchmark::DoNotOptimize(TextToHtml(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(FixedText)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

void FlowedText(benchmark::State& state)
{
    const QString text = MailText(state.range(0), true);
    for (auto _ : state)
        benchmark::DoNotOptimize(TextToHtml(text, {true, false}));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(FlowedText)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

// One line of false starts ("http://-http://-..." or "(mailto:a(mailto:a..."):
// each must cost no more than ordinary text.
void FalseStarts(benchmark::State& state)
{
    const QString unit = state.range(1) ? QStringLiteral("(mailto:a") : QStringLiteral("http://-");
    const QString text = unit.repeated(state.range(0) / unit.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(TextToHtml(text));
    state.SetBytesProcessed(state.iterations() * text.size() * 2);
}
BENCHMARK(FalseStarts)->Args({1 << 20, 0})->Args({16 << 20, 0})->Args({1 << 20, 1})->Args({16 << 20, 1})
    ->Unit(benchmark::kMillisecond);

void SourceTextAndHeaders(benchmark::State& state)
{
    QByteArray bytes = "From: a@example.org\r\nSubject: =?utf-8?Q?caf=C3=A9?=\r\nContent-Type: multipart/mixed; "
                       "boundary=\"b\"\r\n\r\n--b\r\n";
    while (bytes.size() < kSourceLimit)
        bytes += "VGhpcyBpcyBiYXNlNjQgdGV4dCBvZiBhbiBhdHRhY2htZW50LCBsaW5lIGFmdGVyIGxpbmUuIEZpbmUu\r\n";
    bytes += "Latin-1 line: caf\xe9\r\n"; // not UTF-8: line by line
    const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(SourceText(view));
        benchmark::DoNotOptimize(HeaderFields(view));
        benchmark::DoNotOptimize(DeclaredBoundaries(view));
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(SourceTextAndHeaders)->Unit(benchmark::kMillisecond);

void PageImages(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::string text = "Content-Type: multipart/related; boundary=r\r\n\r\n--r\r\nContent-Type: text/html\r\n\r\n<p>\r\n";
    for (int i = 0; i < n; ++i)
        text += "--r\r\nContent-Type: image/gif\r\nContent-ID: <i" + std::to_string(i)
                + "@x>\r\nContent-Location: http://x.example/img" + std::to_string(i) + ".gif\r\n\r\nGIF\r\n";
    text += "--r--\r\n";
    TMailMessage2000 m;
    m.ParseText(text, true);
    m.ScanParts();
    QStringList ids;
    QStringList locations;
    for (int i = 0; i < n; ++i) {
        ids << QStringLiteral("i%1@x").arg(i);
        locations << QStringLiteral("http://x.example/img%1.gif").arg(i);
    }
    for (auto _ : state) {
        TMessageDocument doc;
        doc.Take(QStringLiteral("/tmp/m.eml"), m);
        for (int i = 0; i < n; ++i) {
            benchmark::DoNotOptimize(doc.PartByContentId(ids[i]).found);
            benchmark::DoNotOptimize(doc.PartByLocation(locations[i]).found);
        }
    }
    state.counters["images/s"] =
        benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(PageImages)->Arg(2000)->Arg(8000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
