#include "TMailMessage2000.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using testutil::Parse;

namespace {

struct Split {
    std::string name, address;
    bool operator==(const Split&) const = default;
};

Split From(std::string_view value)
{
    TMailMessage2000 m;
    Parse(m, "From: " + std::string(value) + "\n\n");
    return {m.GetFromName(), m.GetFromAddress()};
}

} // namespace

TEST(Recipients, ParsesNamesAndAddressesInAllThreeForms)
{
    TMailMessage2000 m;
    Parse(m, "To: \"Doe, John\" <john@x.org>, Jane <jane@y.org>, bob@z.org (Bob B), plain@w.org\n"
             "To: =?iso-8859-1?Q?Andr=E9?= <andre@v.org>\nCc: c@c\n\n");
    m.ToList.Refresh();
    EXPECT_EQ(m.ToList.Names, (TStringList{"Doe, John", "Jane", "Bob B", "", "Andr\xE9"}));
    EXPECT_EQ(m.ToList.Addresses, (TStringList{"john@x.org", "jane@y.org", "bob@z.org", "plain@w.org", "andre@v.org"}));
    EXPECT_EQ(m.ToList.GetAddressesText(), "john@x.org,jane@y.org,bob@z.org,plain@w.org,andre@v.org");
    EXPECT_EQ(m.CcList.GetAddressesText(), "c@c");
    EXPECT_EQ(m.BccList.GetAddressesText(), "");
}

TEST(Recipients, SemicolonEndsTheValueAndEmptyFieldsGiveNothing)
{
    TMailMessage2000 m;
    Parse(m, "To: a@x; b@y\n\n");
    EXPECT_EQ(m.ToList.GetAddressesText(), "a@x");
    Parse(m, "To:\n\n");
    EXPECT_EQ(m.ToList.GetAddressesText(), "");
    EXPECT_TRUE(m.ToList.Addresses.empty());
}

TEST(Recipients, CacheFollowsTheHeaderLength)
{
    TMailMessage2000 m;
    Parse(m, "To: a@x\n\n");
    EXPECT_EQ(m.ToList.GetAddressesText(), "a@x");
    m.Header[0] = "To: b@x"; // same length: the cached lists stay
    EXPECT_EQ(m.ToList.GetAddressesText(), "a@x");
    m.Header[0] = "To: bb@x";
    EXPECT_EQ(m.ToList.GetAddressesText(), "bb@x");
}

TEST(Recipients, CommaTextQuotesWhereNeeded)
{
    EXPECT_EQ(CommaText({"a b", "c\"d", "e,f", "g"}), "\"a b\",\"c\"\"d\",\"e,f\",g");
    EXPECT_EQ(CommaText({""}), "\"\"");
    EXPECT_EQ(CommaText({}), "");
}

TEST(Sender, SplitsNameAndAddress)
{
    EXPECT_EQ(From("\"John Doe\" <j@x.org>"), (Split{"John Doe", "j@x.org"}));
    EXPECT_EQ(From("John Doe <j@x.org>"), (Split{"John Doe", "j@x.org"}));
    EXPECT_EQ(From("j@x.org (John Doe)"), (Split{"John Doe", "j@x.org"}));
    EXPECT_EQ(From("<j@x.org>"), (Split{"", "j@x.org"}));
    EXPECT_EQ(From("j@x.org"), (Split{"", "j@x.org"}));
    EXPECT_EQ(From("=?iso-8859-1?Q?Andr=E9?= <a@x>"), (Split{"Andr\xE9", "a@x"}));
    EXPECT_EQ(From("<>"), (Split{"", ""}));
    EXPECT_EQ(From("\"\""), (Split{"", ""}));
    EXPECT_EQ(From("\"\"\"\""), (Split{"", ""}));
    EXPECT_EQ(From("\"unclosed <x@y>"), (Split{"unclosed <x@y>", ""}));
    EXPECT_EQ(From(""), (Split{"", ""}));
}
