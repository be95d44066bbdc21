// Serialising a message with a 40 MB attachment: into the message's Body
// (as the viewer does after each load) and streamed straight to a file.
#include "TMailMessage2000.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

namespace {

constexpr std::size_t kAttachment = 40u << 20;

TMailMessage2000& Message()
{
    static TMailMessage2000 m;
    static bool built = false;
    if (!built) {
        std::string data(kAttachment, '\0');
        std::mt19937 rng(3);
        for (char& c : data)
            c = static_cast<char>(rng());
        std::string text = "Subject: big\r\nContent-Type: text/plain\r\n\r\nSee the attachment.\r\n";
        m.ParseText(text, true);
        m.RebuildStructure(0);
        m.AttachStream(data, "big.bin", false, "");
        built = true;
    }
    return m;
}

std::size_t EncodedSize(TMailMessage2000& m)
{
    std::size_t n = 0;
    WriteParts(m, [&n](std::string_view s) { n += s.size(); });
    return n;
}

void SerializeIntoBody(benchmark::State& state)
{
    TMailMessage2000& m = Message();
    const std::size_t size = EncodedSize(m);
    for (auto _ : state) {
        m.NeedsSerialize = true;
        m.SerializeBody();
        benchmark::DoNotOptimize(m.Body.data());
    }
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void SaveToFileStreaming(benchmark::State& state)
{
    TMailMessage2000& m = Message();
    m.Body.clear();
    m.Body.shrink_to_fit(); // the file is written from the parts, not from Body
    const std::size_t size = EncodedSize(m);
    const auto file = std::filesystem::temp_directory_path() / "corvanta-bench-serialize.eml";
    for (auto _ : state)
        m.SaveToFile(file.string(), true);
    std::filesystem::remove(file);
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(SerializeIntoBody)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveToFileStreaming)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
