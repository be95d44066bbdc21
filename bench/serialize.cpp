// Serialising a message with a 40 MB attachment: into the message's Body
// (as the viewer does after each load) and streamed straight to a file.
// Rebuilding messages whose containers the rebuild empties and frees: the
// time must grow with the number of parts, not with its square (the last
// lines print the time per part and the growth for 4x the parts).
#include "TMailMessage2000.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
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
        benchmark::DoNotOptimize(m.Body().data());
    }
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void SaveToFileStreaming(benchmark::State& state)
{
    TMailMessage2000& m = Message();
    m.SetBody({}); // the file is written from the parts, not from the body
    const std::size_t size = EncodedSize(m);
    const auto file = std::filesystem::temp_directory_path() / "corvanta-bench-serialize.eml";
    for (auto _ : state)
        m.SaveToFile(file.string(), true);
    std::filesystem::remove(file);
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(size) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// A mixed message of n multipart/alternative parts (or, with nested, chains
// of 16 alternatives inside each other) that each hold one image: the
// rebuild moves every image into the new mixed part and frees the emptied
// alternatives.
std::string EmptiedContainers(int n, bool nested)
{
    std::string text = "Subject: husks\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
                       "--m\r\nContent-Type: text/plain\r\n\r\nbody\r\n";
    const int depth = nested ? 16 : 1;
    for (int i = 0; i < n / depth; ++i) {
        text += "--m\r\n";
        for (int d = 0; d < depth; ++d)
            text += "Content-Type: multipart/alternative; boundary=\"a" + std::to_string(d) + "\"\r\n\r\n--a"
                    + std::to_string(d) + "\r\n";
        text += "Content-Type: image/gif; name=\"g" + std::to_string(i) + ".gif\"\r\n\r\nGIF\r\n";
        for (int d = depth; d-- > 0;)
            text += "--a" + std::to_string(d) + "--\r\n";
    }
    return text + "--m--\r\n";
}

std::map<std::pair<bool, long>, double>& PerPart()
{
    static std::map<std::pair<bool, long>, double> seconds;
    return seconds;
}

void RebuildEmptiedContainers(benchmark::State& state, bool nested)
{
    const int n = static_cast<int>(state.range(0));
    const std::string text = EmptiedContainers(n, nested);
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::optional<TMailMessage2000> m;
        m.emplace();
        std::string copy = text;
        m->ParseText(copy, true);
        state.ResumeTiming();
        // Processor time: the machine may be shared, and the growth is what
        // is measured.
        const std::clock_t start = std::clock();
        m->RebuildStructure(0);
        total += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    PerPart()[{nested, n}] = total / static_cast<double>(state.iterations()) / n;
    state.counters["cpu_us/part"] = total / static_cast<double>(state.iterations()) / n * 1e6;
}

} // namespace

BENCHMARK(SerializeIntoBody)->Unit(benchmark::kMillisecond);
BENCHMARK(SaveToFileStreaming)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RebuildEmptiedContainers, siblings, false)
    ->Arg(20000)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(RebuildEmptiedContainers, nested, true)
    ->Arg(20000)->Arg(80000)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Growth of the rebuild time for 4x the parts (at most 5x is linear
    // enough; a quadratic rebuild gives about 16x).
    for (bool nested : {false, true}) {
        const auto& t = PerPart();
        const auto small = t.find({nested, 20000}), large = t.find({nested, 80000});
        if (small != t.end() && large != t.end())
            std::printf("rebuild %s: 20000 -> 80000 parts takes %.1fx the processor time\n", nested ? "nested" : "siblings",
                        large->second * 80000 / (small->second * 20000));
    }
    return 0;
}
