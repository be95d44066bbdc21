// Every public corpus message loads, normalises, serialises and decodes
// without error or hang (the sanitizer build runs this too).
#include "TMailMessage2000.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The corpus's message files (its oracle and notes left out), sorted.
std::vector<fs::path> CorpusFiles()
{
    std::vector<fs::path> files;
    const fs::path root = CORVANTA_CORPUS;
    if (!fs::is_directory(root))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && ext != ".jsonl" && ext != ".md")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

// Without the corpus the test is skipped, visibly; where the corpus must be
// there (CI sets CORVANTA_REQUIRE_CORPUS), its absence is a failure.
#define SKIP_WITHOUT_CORPUS(files)                                                                                 \
    if ((files).empty()) {                                                                                         \
        if (std::getenv("CORVANTA_REQUIRE_CORPUS"))                                                                \
            FAIL() << "no corpus at " << CORVANTA_CORPUS;                                                          \
        GTEST_SKIP() << "no corpus at " << CORVANTA_CORPUS;                                                        \
    }

TEST(Corpus, EveryMessageLoadsRebuildsAndDecodes)
{
    const std::vector<fs::path> corpus = CorpusFiles();
    SKIP_WITHOUT_CORPUS(corpus);
    int files = 0;
    for (const fs::path& file : corpus) {
        SCOPED_TRACE(file.string());
        TMailMessage2000 m;
        m.LoadFromFile(file.string());
        m.RebuildStructure(0);
        m.ScanParts();
        m.SerializeBody();
        for (TMailPart* a : m.AttachList)
            a->Decode();
        if (m.TextPart)
            m.TextPart->Decode();
        if (m.HtmlPart)
            m.HtmlPart->Decode();
        (void)m.GetSubject();
        (void)m.GetDate();
        (void)m.ToList.GetAddressesText();
        ++files;
    }
    EXPECT_GE(files, 400);
}

namespace {

struct Leaves {
    std::string text, html;
    std::vector<std::tuple<std::string, bool, std::string>> attachments; // name, embedded, bytes
};

Leaves Collect(TMailMessage2000& m)
{
    Leaves l;
    for (auto [part, out] : {std::pair{m.TextPart, &l.text}, std::pair{m.HtmlPart, &l.html}})
        if (part) {
            part->Decode();
            *out = part->Decoded;
        }
    for (TMailPart* a : m.AttachList) {
        a->Decode();
        // A message whose only content is empty has no attachment once it
        // is rebuilt: nothing is lost with it.
        if (a == &m && a->Decoded.empty())
            continue;
        l.attachments.emplace_back(a->GetFileName(), a->Embedded, a->Decoded);
    }
    // Embedded files come before attachments in the rebuilt tree: the same
    // attachments, maybe in another order.
    std::sort(l.attachments.begin(), l.attachments.end());
    return l;
}

} // namespace

// Every corpus message, parsed, normalised, serialised, written and read
// again, keeps its bodies and its attachments' bytes, names and flags.
TEST(Corpus, EveryMessageSurvivesARoundTrip)
{
    const std::vector<fs::path> corpus = CorpusFiles();
    SKIP_WITHOUT_CORPUS(corpus);
    const fs::path out = fs::temp_directory_path() / ("corvanta-roundtrip-" + std::to_string(::getpid()) + ".eml");
    int files = 0;
    for (const fs::path& file : corpus) {
        SCOPED_TRACE(file.string());
        TMailMessage2000 first;
        first.LoadFromFile(file.string());
        first.RebuildStructure(0);
        first.ScanParts();
        first.SerializeBody();
        const Leaves before = Collect(first);
        fs::remove(out);
        first.SaveToFile(out.string(), false);
        TMailMessage2000 second;
        second.LoadFromFile(out.string());
        second.RebuildStructure(0);
        second.ScanParts();
        const Leaves after = Collect(second);
        EXPECT_EQ(after.text, before.text);
        EXPECT_EQ(after.html, before.html);
        EXPECT_EQ(after.attachments, before.attachments);
        ++files;
    }
    fs::remove(out);
    EXPECT_GE(files, 400);
}
