// Transfer codecs over 8 MB, beside a memcpy of the same size, so each
// codec's speed reads as a ratio to the copy.
#include "Codecs.h"
#include "TMailMessage2000.h"
#include "TextUtils.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>

namespace {

constexpr std::size_t kSize = 8u << 20;

const std::string& Binary()
{
    static const std::string data = [] {
        std::string s(kSize, '\0');
        std::mt19937 rng(1);
        for (char& c : s)
            c = static_cast<char>(rng());
        return s;
    }();
    return data;
}

// Mostly ASCII text with some 8-bit letters, as quoted-printable mail is.
const std::string& Text()
{
    static const std::string data = [] {
        std::string s;
        s.reserve(kSize);
        std::mt19937 rng(2);
        std::size_t col = 0;
        while (s.size() < kSize) {
            const unsigned r = rng() % 100;
            if (col > 60 && r < 20) {
                s += "\r\n";
                col = 0;
                continue;
            }
            s += r < 15 ? ' ' : r < 18 ? static_cast<char>(0xE0 + r) : r < 19 ? '=' : static_cast<char>('a' + r % 26);
            ++col;
        }
        s.resize(kSize);
        return s;
    }();
    return data;
}

// UTF-8 text in scripts other than Latin, with Latin words between: about
// 55 % of its bytes are above 127, so most of its encoded form is escapes.
const std::string& ForeignText()
{
    static const std::string data = [] {
        static constexpr const char* kPieces[] = {"\xCE\xBA\xCE\xB1\xCE\xBB\xCE\xB7", "\xD1\x81\xD0\xBF\xD0\xB0",
                                                  "\xE6\x9D\xB1\xE4\xBA\xAC", "\xF0\x9F\x9A\x80",
                                                  "Gr\xC3\xBC\xC3\x9F" "e", "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7",
                                                  "report", "the", "update", "and"};
        std::string s;
        s.reserve(kSize + 64);
        std::mt19937 rng(3);
        std::size_t col = 0;
        while (s.size() < kSize) {
            s += kPieces[rng() % std::size(kPieces)];
            s += ' ';
            col += 8;
            if (col > 400 && rng() % 8 == 0) {
                s += "\r\n";
                col = 0;
            }
        }
        s.resize(kSize);
        return s;
    }();
    return data;
}

void SetRate(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["MB/s"] = benchmark::Counter(static_cast<double>(bytes) / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

void Memcpy(benchmark::State& state)
{
    const std::string& src = Binary();
    std::string dst(src.size(), '\0');
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    SetRate(state, kSize);
}

// A part's base64 body decoded: laid out as the encoder writes it (decoded
// in its own storage) or in 72-column lines (decoded into a new string).
void Base64DecodeThroughPart(benchmark::State& state, bool encoderLayout)
{
    TMailMessage2000 m;
    TMailPart* part = m.CreatePart();
    part->Header = {"Content-Transfer-Encoding: base64"};
    std::string body;
    Base64EncodeStream(body, Binary());
    if (!encoderLayout) {
        std::string flat;
        for (char c : body)
            if (c != '\r' && c != '\n')
                flat += c;
        body.clear();
        for (std::size_t i = 0; i < flat.size(); i += 72)
            body += flat.substr(i, 72) + "\r\n";
    }
    for (auto _ : state) {
        state.PauseTiming();
        part->SetBody(body);
        part->IsDecoded = false;
        state.ResumeTiming();
        part->Decode();
        benchmark::DoNotOptimize(part->Decoded.data());
    }
    if (part->Decoded != Binary())
        state.SkipWithError("decoded bytes differ");
    SetRate(state, kSize); // decoded bytes
}

void Base64Encode(benchmark::State& state)
{
    std::string out;
    for (auto _ : state) {
        Base64EncodeStream(out, Binary());
        benchmark::DoNotOptimize(out.data());
    }
    SetRate(state, kSize);
}

void QuotedPrintableDecode(benchmark::State& state)
{
    const std::string encoded = QPEncodeText(Text(), false);
    for (auto _ : state) {
        std::string out = QPDecodeText(encoded);
        benchmark::DoNotOptimize(out.data());
    }
    SetRate(state, encoded.size()); // encoded bytes read
}

void QuotedPrintableDecodeEscapeDense(benchmark::State& state)
{
    const std::string encoded = QPEncodeText(ForeignText(), false);
    for (auto _ : state) {
        std::string out = QPDecodeText(encoded);
        benchmark::DoNotOptimize(out.data());
    }
    SetRate(state, encoded.size()); // encoded bytes read
}

void QuotedPrintableEncode(benchmark::State& state)
{
    for (auto _ : state) {
        std::string out = QPEncodeText(Text(), false);
        benchmark::DoNotOptimize(out.data());
    }
    SetRate(state, kSize);
}

// A decoded body split into lines, as the message does for its text and
// HTML bodies.
void LineListAssign(benchmark::State& state)
{
    TLineList lines;
    for (auto _ : state) {
        lines.Assign(Text());
        benchmark::DoNotOptimize(lines.size());
    }
    SetRate(state, kSize);
}

void UudecodeStream(benchmark::State& state)
{
    // 45-byte rows as "M" + 60 characters, as uuencode writes them.
    static constexpr char kAlphabet[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    const std::string& src = Binary();
    std::string encoded;
    encoded.reserve(kSize / 45 * 63 + 64);
    for (std::size_t i = 0; i + 45 <= src.size(); i += 45) {
        encoded += 'M';
        for (std::size_t j = 0; j < 45; j += 3) {
            const auto* b = reinterpret_cast<const unsigned char*>(src.data() + i + j);
            encoded += kAlphabet[b[0] >> 2];
            encoded += kAlphabet[((b[0] & 3) << 4) | (b[1] >> 4)];
            encoded += kAlphabet[((b[1] & 15) << 2) | (b[2] >> 6)];
            encoded += kAlphabet[b[2] & 63];
        }
        encoded += "\r\n";
    }
    std::string out;
    for (auto _ : state) {
        UUDecodeToStream(encoded, out);
        benchmark::DoNotOptimize(out.data());
    }
    SetRate(state, out.size());
}

} // namespace

BENCHMARK(Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Base64DecodeThroughPart, encoder_layout, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Base64DecodeThroughPart, other_layout, false)->Unit(benchmark::kMillisecond);
BENCHMARK(Base64Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(QuotedPrintableDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(QuotedPrintableDecodeEscapeDense)->Unit(benchmark::kMillisecond);
BENCHMARK(QuotedPrintableEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(LineListAssign)->Unit(benchmark::kMillisecond);
BENCHMARK(UudecodeStream)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
