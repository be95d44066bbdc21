// The shared .msg and TNEF samples: every one reads whole, and what a reader
// of each sees agrees with what the file holds (the files a TNEF stream
// packs are those its own unpacker lists; what msgconvert makes of each .msg
// is compared in tests/tools).
#include "CompoundFile.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "MessageFile.h"
#include "OutlookMessage.h"
#include "TMailMessage2000.h"
#include "Tnef.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Samples(const char* folder, const char* extension)
{
    std::vector<fs::path> files;
    const fs::path dir = fs::path(CORVANTA_CORPUS) / folder;
    if (fs::is_directory(dir))
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().extension() == extension)
                files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

#define SKIP_WITHOUT_SAMPLES(files)                                                                                \
    if ((files).empty()) {                                                                                         \
        if (std::getenv("CORVANTA_REQUIRE_CORPUS"))                                                                \
            FAIL() << "no samples in " << CORVANTA_CORPUS;                                                         \
        GTEST_SKIP() << "no samples in " << CORVANTA_CORPUS;                                                       \
    }

TEST(OutlookCorpus, EveryMsgReadsWholeWithItsAttachments)
{
    const auto files = Samples("msg", ".msg");
    SKIP_WITHOUT_SAMPLES(files);
    // Subject and sender as Outlook shows them (the subject as its header
    // gives it: in its own charset).
    const std::map<std::string, std::pair<std::string, std::string>> known = {
        {"EmailWithAttachments.msg", {"This is the subject", "peterpan@neverland.com"}},
        {"EmailWithSpecialCharsInSubject_2.msg", {"Un sujet tr\xe8s bien d\xe9""fini", "Julie.Clarebots@qbere.com"}},
        {"HtmlSampleEmail.msg", {"HtmlSampleEmail", "Chris.Wilson@leeds.gov.uk"}},
        {"RtfWithShortRussianString.msg", {"", ""}},
        {"sender_not_found_from_exchange.msg", {"TR: CHANTIER ST CHEF", "dsi@arcencielrecyclage.fr"}},
    };
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string bytes = ReadWholeFile(file.string());
        const TCompoundFile cfb(bytes);
        EXPECT_FALSE(cfb.Damaged());
        std::size_t attachments = 0;
        for (std::uint32_t c : cfb.Children(cfb.Root()))
            attachments += cfb.Name(c).starts_with("__attach_version1.0_#") ? 1 : 0;

        TMailMessage2000 m;
        LoadMessageFile(m, file.string());
        m.RebuildStructure(0);
        m.ScanParts();
        EXPECT_EQ(m.AttachList.Count(), attachments);
        ASSERT_TRUE(m.TextPart || m.HtmlPart);
        for (TMailPart* body : {m.TextPart, m.HtmlPart})
            if (body) {
                body->Decode();
                EXPECT_EQ(body->Decoded.find("damaged"), std::string::npos);
            }
        for (TMailPart* a : m.AttachList) {
            a->Decode();
            EXPECT_FALSE(a->Decoded.empty()) << a->GetFileName();
        }
        if (const auto it = known.find(file.filename().string()); it != known.end()) {
            TMailMessage2000 header;
            for (const std::string& line : m.Header)
                header.Header.push_back(DecodeHeaderWords(line));
            EXPECT_EQ(header.GetSubject(), it->second.first);
            EXPECT_EQ(m.GetFromAddress(), it->second.second);
        }
    }
}

TEST(OutlookCorpus, TnefStreamsHoldTheFilesTheirUnpackerLists)
{
    const auto files = Samples("tnef", ".tnef");
    SKIP_WITHOUT_SAMPLES(files);
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream list(fs::path(file).replace_extension(".list"));
        std::vector<std::string> expected;
        for (std::string line; std::getline(list, line);)
            if (!line.empty())
                expected.push_back(line);
        const TOutlookItem item = ReadTnefItem(ReadWholeFile(file.string()));
        std::vector<std::string> names;
        for (const TOutlookAttachment& a : item.attachments) {
            names.push_back(a.fileName);
            EXPECT_FALSE(a.data.empty()) << a.fileName;
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, expected);
        EXPECT_TRUE(item.damage.empty());
        EXPECT_TRUE(HasBody(item) || !item.attachments.empty());
    }
}
