// decode_all FILE: loads a message as the viewer does (load, normalise,
// scan), decodes every body and attachment, and prints
// "<bytes_decoded> <checksum>" (the sum of the leaves' CRC-32, mod 2^32) so
// that it can be timed beside other MIME engines. With BENCH_PARTS=1 it
// lists each leaf on standard error.
#include "TMailMessage2000.h"

#include <malloc.h>
#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    // Large buffers come from the heap and stay there when freed, so that
    // the decoded bodies reuse the pages the file was read into instead of
    // faulting in fresh ones (the viewer and corvanta-eml do the same).
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 64 << 20);
    if (argc != 2) {
        std::fprintf(stderr, "usage: decode_all FILE\n");
        return 2;
    }
    try {
        TMailMessage2000 m;
        m.LoadFromFile(argv[1]);
        m.RebuildStructure(0);
        m.ScanParts();
        std::vector<TMailPart*> leaves;
        for (TMailPart* p : {m.TextPart, m.HtmlPart})
            if (p)
                leaves.push_back(p);
        for (TMailPart* p : m.AttachList)
            leaves.push_back(p);
        const bool list = std::getenv("BENCH_PARTS") && std::getenv("BENCH_PARTS")[0] == '1';
        std::uint64_t bytes = 0;
        std::uint32_t checksum = 0;
        std::size_t index = 0;
        for (TMailPart* p : leaves) {
            p->Decode();
            const std::string& d = p->Decoded;
            const auto crc = static_cast<std::uint32_t>(
                d.empty() ? 0 : crc32(0L, reinterpret_cast<const Bytef*>(d.data()), static_cast<uInt>(d.size())));
            bytes += d.size();
            checksum += crc;
            if (list)
                std::fprintf(stderr, "leaf%zu\t%zu\t%08x\t%s\n", index, d.size(), crc, p->GetContentType().c_str());
            ++index;
            p->ForgetDecoded(); // as every program in the comparison does
        }
        std::printf("%" PRIu64 " %08x\n", bytes, checksum);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "decode_all: %s\n", e.what());
        return 1;
    }
}
