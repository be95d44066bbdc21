// Every public corpus message loads, normalises, serialises and decodes
// without error or hang (the sanitizer build runs this too).
#include "TMailMessage2000.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(Corpus, EveryMessageLoadsRebuildsAndDecodes)
{
    const fs::path root = CORVANTA_CORPUS;
    if (!fs::is_directory(root))
        GTEST_SKIP() << "no corpus at " << root;
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || ext == ".jsonl" || ext == ".md")
            continue;
        SCOPED_TRACE(entry.path().string());
        TMailMessage2000 m;
        m.LoadFromFile(entry.path().string());
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
