// Reading Outlook .msg files into the message object, against parsing the
// same message stored as an .eml: each shared .msg sample (set
// CORVANTA_MSG_SAMPLES to their folder; the corpus beside the checkout is
// the default), and generated .msg files of 5, 10 and 20 MB with large
// attachments, to show the cost grows linearly with the file. For each: the
// best of several runs of both loads, their ratio, and the peak memory of a
// load in a process of its own, as a multiple of the file's size.
//
//   outlook_load [RUNS]
#include "MessageFile.h"
#include "MsgWriter.h"
#include "OutlookMessage.h"
#include "FileIO.h"
#include "TMailMessage2000.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What the window does with a file: load, normalise, scan, and the bodies
// and files decoded as they are shown and saved.
void ViewerLoad(const std::string& path)
{
    TMailMessage2000 m;
    LoadMessageFile(m, path);
    m.RebuildStructure(0);
    m.ScanParts();
    for (TMailPart* p : m.AttachList)
        p->Decode();
}

double BestSeconds(const std::string& path, int runs)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ViewerLoad(path);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// Peak resident memory of a process that does only the load, less that of
// one that does nothing, in bytes.
long PeakBytes(const std::string& path)
{
    auto peak = [](const std::string* file) -> long {
        const pid_t child = fork();
        if (child == 0) {
            if (file)
                ViewerLoad(*file);
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        return usage.ru_maxrss * 1024L;
    };
    return peak(&path) - peak(nullptr);
}

std::string Generated(const fs::path& dir, std::size_t megabytes)
{
    using namespace msgwriter;
    std::mt19937_64 random(megabytes);
    Props p;
    p.Unicode(0x001A, "IPM.Note");
    p.Unicode(0x0037, "Generated message with large attachments");
    p.Unicode(0x0C1A, "Bench Sender");
    p.Unicode(0x5D01, "bench@example.com");
    p.Time(0x0039, 1700000000);
    p.Unicode(0x1000, std::string(20000, 'x'));
    std::vector<Attachment> attachments(4);
    for (std::size_t i = 0; i < attachments.size(); ++i) {
        std::string data(megabytes * 1024 * 1024 / attachments.size(), '\0');
        for (std::size_t k = 0; k + 8 <= data.size(); k += 8) {
            const std::uint64_t r = random();
            std::memcpy(data.data() + k, &r, 8);
        }
        attachments[i].props.Long(0x3705, 1);
        attachments[i].props.Unicode(0x3707, "part" + std::to_string(i) + ".bin");
        attachments[i].props.Binary(0x3701, std::move(data));
    }
    const std::string file = WriteCompoundFile(Message(p, {{"Reader", "reader@example.com", 1}}, attachments), 12);
    const fs::path path = dir / ("generated-" + std::to_string(megabytes) + "mb.msg");
    std::ofstream(path, std::ios::binary) << file;
    return path.string();
}

// An HTML body of nothing but "=" beside an attachment: where each "="
// started a new read of the rest, 80 KB took 13 s.
std::string GeneratedEquals(const fs::path& dir, std::size_t kilobytes)
{
    using namespace msgwriter;
    Props p;
    p.Unicode(0x001A, "IPM.Note");
    p.Unicode(0x0037, "HTML of equals signs");
    p.Binary(0x1013, std::string(kilobytes * 1024, '='));
    std::vector<Attachment> attachments(1);
    attachments[0].props.Long(0x3705, 1);
    attachments[0].props.Unicode(0x3707, "a.png");
    attachments[0].props.Unicode(0x3712, "a.png");
    attachments[0].props.Binary(0x3701, "PNG");
    const std::string file = WriteCompoundFile(Message(p, {{"Reader", "reader@example.com", 1}}, attachments), 12);
    const fs::path path = dir / ("equals-" + std::to_string(kilobytes) + "kb.msg");
    std::ofstream(path, std::ios::binary) << file;
    return path.string();
}

void Row(const std::string& name, const std::string& msg, const fs::path& dir, int runs)
{
    // The same message as an .eml: what the reader makes of the .msg.
    const fs::path eml = dir / (fs::path(name).stem().string() + ".eml");
    std::ofstream(eml, std::ios::binary) << OutlookFileToMime(ReadWholeFile(msg));
    const double size = static_cast<double>(fs::file_size(msg));
    const double msgSeconds = BestSeconds(msg, runs);
    const double emlSeconds = BestSeconds(eml.string(), runs);
    std::printf("%-42s %8.1f KB %9.2f ms %9.2f ms %6.2f %8.1f MB/s %6.1fx\n", name.c_str(), size / 1024,
                msgSeconds * 1e3, emlSeconds * 1e3, msgSeconds / emlSeconds, size / msgSeconds / 1e6,
                static_cast<double>(PeakBytes(msg)) / size);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const char* env = std::getenv("CORVANTA_MSG_SAMPLES");
    const fs::path samples = env ? fs::path(env) : fs::path(CORVANTA_MSG_SAMPLES);
    const fs::path dir = fs::temp_directory_path() / ("corvanta-bench-msg-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::printf("%-42s %11s %12s %12s %6s %13s %7s\n", "file", "size", ".msg load", "as .eml", "ratio", "speed",
                "memory");
    std::vector<fs::path> files;
    if (fs::is_directory(samples))
        for (const auto& e : fs::directory_iterator(samples))
            if (e.path().extension() == ".msg")
                files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty())
        std::printf("(no .msg samples in %s)\n", samples.c_str());
    for (const fs::path& f : files)
        Row(f.filename().string(), f.string(), dir, runs);
    for (std::size_t mb : {5, 10, 20})
        Row("generated " + std::to_string(mb) + " MB, 4 attachments", Generated(dir, mb), dir, runs);
    for (std::size_t kb : {256, 1024})
        Row("HTML of " + std::to_string(kb) + " KB of \"=\"", GeneratedEquals(dir, kb), dir, runs);
    fs::remove_all(dir);
    std::printf("ratio: .msg load / .eml load of the same message; memory: peak resident bytes of a load per byte "
                "of the file\n");
    return 0;
}
