// Load + normalise + decode every body and attachment, on the peers'
// generated messages (set CORVANTA_BENCH_MESSAGES to their folder, or they
// are generated into a temporary folder), and on synthetic messages of
// 2,000 and 10,000 parts to show that parsing grows linearly.
#include "Codecs.h"
#include "TMailMessage2000.h"

#include <benchmark/benchmark.h>

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
        std::string buffer = text;
        TMailMessage2000 m;
        m.ParseText(buffer, true);
        m.RebuildStructure(0);
        m.ScanParts();
        for (TMailPart* p : m.AttachList)
            p->Decode();
        benchmark::DoNotOptimize(m.AttachList.Count());
    }
    state.counters["parts/s"] =
        benchmark::Counter(static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK_CAPTURE(GeneratedMessage, small, "small.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, medium, "medium.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, large, "large.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, manyparts, "manyparts.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, uuencode, "uuencode.eml")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(GeneratedMessage, qpheavy, "qpheavy.eml")->Unit(benchmark::kMillisecond);
BENCHMARK(PartsScaling)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
