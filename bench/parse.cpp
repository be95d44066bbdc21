// Load + normalise + decode every body and attachment, on the peers'
// generated messages (set CORVANTA_BENCH_MESSAGES to their folder, or they
// are generated into a temporary folder), and on synthetic messages of
// 2,000 and 10,000 parts to show that parsing grows linearly, as it does
// with thousands of empty parts and when parsing again; a big body
// flat and under 500 levels of nesting, which must cost about the same; and
// the heap a parsed message holds, per part and per input byte, against the
// budget below.
#include "Codecs.h"
#include "TMailMessage2000.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string MessagesFolder()
{
    if (const char* env = std::getenv("CORVANTA_BENCH_MESSAGES"))
        return env;
    static const std::string folder = [] {
        const fs::path dir = fs::temp_directory_path() / "corvanta-bench-messages";
        if (!fs::exists(dir / "manifest.json")) {
            const std::string cmd = "python3 \"" CORVANTA_GEN_MESSAGES "\" \"" + dir.string() + "\" >/dev/null";
            if (std::system(cmd.c_str()) != 0)
                return std::string();
        }
        return dir.string();
    }();
    return folder;
}

std::size_t LoadAndDecode(const std::string& file)
{
    TMailMessage2000 m;
    m.LoadFromFile(file);
    m.RebuildStructure(0);
    m.ScanParts();
    std::size_t bytes = 0;
    for (TMailPart* p : {m.TextPart, m.HtmlPart})
        if (p) {
            p->Decode();
            bytes += p->Decoded.size();
        }
    for (TMailPart* p : m.AttachList) {
        p->Decode();
        bytes += p->Decoded.size();
    }
    return bytes;
}

void GeneratedMessage(benchmark::State& state, const char* name)
{
    const std::string file = MessagesFolder() + "/" + name;
    if (!fs::exists(file)) {
        state.SkipWithError("no generated messages (python3 and the peers' generator are needed)");
        return;
    }
    const auto size = fs::file_size(file);
    for (auto _ : state)
        benchmark::DoNotOptimize(LoadAndDecode(file));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// A multipart/mixed message of n small base64 parts.
std::string ManyParts(int n)
{
    std::string text = "Subject: many\r\nContent-Type: multipart/mixed; boundary=\"b0b0\"\r\n\r\n";
    std::string encoded;
    Base64EncodeStream(encoded, std::string(600, 'x'));
    for (int i = 0; i < n; ++i)
        text += "--b0b0\r\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i)
                + ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + encoded + "\r\n";
    text += "--b0b0--\r\n";
    return text;
}

void PartsScaling(benchmark::State& state)
{
    const std::string text = ManyParts(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TMailMessage2000 m;
        m.ParseText(text.data(), text.size(), true); // the text is only read: no copy of it to time
        m.RebuildStructure(0);
        m.ScanParts();
        for (TMailPart* p : m.AttachList)
            p->Decode();
        benchmark::DoNotOptimize(m.AttachList.Count());
    }
    state.counters["parts/s"] =
        benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}

// n short parts, each followed by an empty one (two delimiters in a row),
// parsed twice into the same message: the empty parts and the first tree
// are freed as the parse goes. Both grow linearly.
void EmptyPartsReparse(benchmark::State& state)
{
    std::string text = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
    for (int i = 0; i < state.range(0); ++i)
        text += "--b\r\nContent-Type: text/plain\r\n\r\nhello\r\n--b\r\n\r\n";
    text += "--b--\r\n";
    for (auto _ : state) {
        TMailMessage2000 m;
        m.ParseText(text.data(), text.size(), true);
        m.ParseText(text.data(), text.size(), true);
        benchmark::DoNotOptimize(m.PartCount());
    }
    state.counters["parts/s"] =
        benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}

// n levels of multipart/mixed, each opened and closed, around one base64
// body of about size bytes; n = 0 gives the body flat.
std::string Nested(int levels, std::size_t size)
{
    std::string line(76, 'Q');
    line += "\r\n";
    std::string body;
    body.reserve(size + line.size());
    while (body.size() < size)
        body += line;
    std::string text = "Subject: nested\r\n";
    for (int i = 0; i < levels; ++i)
        text += "Content-Type: multipart/mixed; boundary=\"lvl" + std::to_string(i) + "\"\r\n\r\n--lvl"
                + std::to_string(i) + "\r\n";
    text += "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n" + body;
    for (int i = levels - 1; i >= 0; --i)
        text += "--lvl" + std::to_string(i) + "--\r\n";
    return text;
}

void NestedBody(benchmark::State& state)
{
    const std::string text = Nested(static_cast<int>(state.range(0)), 20u << 20);
    for (auto _ : state) {
        TMailMessage2000 m;
        std::string buffer = text;
        m.ParseText(buffer, true);
        benchmark::DoNotOptimize(m.PartCount());
    }
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(text.size()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Heap a parsed message holds, without the input text itself, against a
// budget per part and per input byte; and, for information, what it holds
// after rebuild and scan (as the viewer keeps it) and after serialising and
// decoding every attachment as well (as the command-line tool keeps it).
constexpr double kBudgetPerPart = 680;
constexpr double kBudgetPerByte = 1.05;

std::size_t HeapInUse()
{
    const auto info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// n tiny parts, each with the usual three header fields.
std::string TinyParts(int n)
{
    std::string text = "Subject: tiny\r\nContent-Type: multipart/mixed; boundary=\"----=_Part_12_3456.789\"\r\n\r\n";
    for (int i = 0; i < n; ++i)
        text += "------=_Part_12_3456.789\r\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i)
                + ".bin\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"f"
                + std::to_string(i) + ".bin\"\r\n\r\nQUJD\r\n";
    text += "------=_Part_12_3456.789--\r\n";
    return text;
}

void HeapPerPart(benchmark::State& state, bool tiny)
{
    const int n = static_cast<int>(state.range(0));
    const std::string text = tiny ? TinyParts(n) : Nested(0, static_cast<std::size_t>(n) << 20);
    double parsed = 0;
    double scanned = 0;
    double decoded = 0;
    std::size_t parts = 0;
    for (auto _ : state) {
        std::string buffer = text;
        const std::size_t before = HeapInUse();
        auto m = std::make_unique<TMailMessage2000>();
        m->ParseText(buffer, true);
        parsed = static_cast<double>(HeapInUse() - before);
        parts = m->PartCount() + 1;
        m->RebuildStructure(0);
        m->ScanParts();
        scanned = static_cast<double>(HeapInUse() - before);
        m->SerializeBody();
        for (TMailPart* p : m->AttachList)
            p->Decode();
        decoded = static_cast<double>(HeapInUse() - before);
        benchmark::DoNotOptimize(m->AttachList.Count());
    }
    const double budget = kBudgetPerPart * static_cast<double>(parts) + kBudgetPerByte * static_cast<double>(text.size());
    const double each = tiny ? static_cast<double>(parts) : static_cast<double>(text.size());
    state.counters["parts"] = static_cast<double>(parts);
    state.counters["input_MB"] = static_cast<double>(text.size()) / 1e6;
    state.counters["parsed_MB"] = parsed / 1e6;
    state.counters[tiny ? "parsed_B/part" : "parsed_B/inB"] = parsed / each;
    state.counters[tiny ? "scanned_B/part" : "scanned_B/inB"] = scanned / each;
    state.counters[tiny ? "decoded_B/part" : "decoded_B/inB"] = decoded / each;
    state.counters["of_budget%"] = 100.0 * parsed / budget;
    if (parsed > budget)
        state.SetLabel("OVER BUDGET");
}

} // namespace

BENCHMARK_CAPTURE(GeneratedMessage, small, "small.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, medium, "medium.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, large, "large.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, manyparts, "manyparts.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, uuencode, "uuencode.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, qpheavy, "qpheavy.eml")->Unit(benchmark::kMillisecond);
BENCHMARK(PartsScaling)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(EmptyPartsReparse)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(NestedBody)->Arg(0)->Arg(500)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(HeapPerPart, tiny_parts, true)->Arg(50000)->Arg(200000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(HeapPerPart, big_body_MB, false)->Arg(50)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
