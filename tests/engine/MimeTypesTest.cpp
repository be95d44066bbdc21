#include "MimeTypes.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <set>

TEST(MimeTypes, ContentTypeForFileByExtension)
{
    EXPECT_EQ(ContentTypeForFile("C:\\tmp\\report.PDF"), "application/pdf");
    EXPECT_EQ(ContentTypeForFile("/home/u/photo.jpg"), "image/jpeg");
    EXPECT_EQ(ContentTypeForFile("README"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForFile("archive.unknownext"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForFile("dir.v2\\file"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForFile("dir.v2/file"), "application/octet-stream");
    EXPECT_EQ(ContentTypeForFile(""), "application/octet-stream");
}

TEST(MimeTypes, ExtensionForContentTypeAndInjectedFile)
{
    EXPECT_EQ(ExtensionForContentType("text/plain"), ".txt");
    EXPECT_EQ(ExtensionForContentType("IMAGE/JPEG"), ".jpeg");
    EXPECT_EQ(ExtensionForContentType("x-none/none"), "");

    testutil::TempDir dir;
    const std::string original = MimeTypesPath();
    SetMimeTypesPath(dir.Write("types", "# comment\nfoo/bar  fb fbb # trailing\n\n"));
    EXPECT_EQ(ExtensionForContentType("foo/bar"), ".fb");
    EXPECT_EQ(ContentTypeForFile("x.FBB"), "foo/bar");
    EXPECT_EQ(ExtensionForContentType("text/plain"), "");
    SetMimeTypesPath(dir.File("missing"));
    EXPECT_EQ(ContentTypeForFile("a.pdf"), "application/octet-stream");
    SetMimeTypesPath(original);
    EXPECT_EQ(ContentTypeForFile("a.pdf"), "application/pdf");
}

TEST(MimeTypes, BoundariesAreFreshHexNumbers)
{
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string b = NewBoundary();
        ASSERT_EQ(b.size(), 16u);
        ASSERT_EQ(b.substr(0, 8), "boundary");
        for (char c : b.substr(8))
            ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << b;
        seen.insert(b);
    }
    EXPECT_GT(seen.size(), 95u);
}

TEST(MimeTypes, SafeFileNames)
{
    EXPECT_EQ(SafeFileName("a:b/c?.txt"), "a_b_c_.txt");
    EXPECT_EQ(SafeFileName("a\tb"), "a_b");
    EXPECT_EQ(SafeFileName(std::string(300, 'x')), std::string(254, 'x'));
    EXPECT_EQ(SafeFileName("  name.txt  "), "name.txt");
    EXPECT_EQ(SafeFileName("\\*\"<>|'"), "_______");
    EXPECT_EQ(SafeFileName("caf\xC3\xA9 d.txt"), "caf\xC3\xA9 d.txt");
    EXPECT_EQ(SafeFileName(""), "");
}

TEST(MimeTypes, LongSafeFileNamesKeepTheirExtensionAndWholeCharacters)
{
    EXPECT_EQ(SafeFileName(std::string(300, 'x') + ".pdf"), std::string(250, 'x') + ".pdf");
    // Three-byte characters: 250 bytes would end inside the 84th one.
    std::string euros;
    for (int i = 0; i < 100; ++i)
        euros += "\xE2\x82\xAC";
    const std::string cut = SafeFileName(euros + ".txt");
    EXPECT_EQ(cut, euros.substr(0, 249) + ".txt");
    // An extension too long to be one is cut like the rest of the name.
    EXPECT_EQ(SafeFileName("a." + std::string(300, 'y')), "a." + std::string(252, 'y'));
    // A cut that ends at a space leaves none behind.
    EXPECT_EQ(SafeFileName(std::string(251, 'x') + "   y" + std::string(50, 'z')), std::string(251, 'x'));
    EXPECT_EQ(SafeFileName(std::string(248, 'x') + "  y" + std::string(50, 'z') + ".pdf"), std::string(248, 'x') + ".pdf");
    // Bytes that are not UTF-8 are cut where the length says.
    EXPECT_EQ(SafeFileName(std::string(300, '\xA9') + ".doc"), std::string(250, '\xA9') + ".doc");
}
