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

TEST(Recipients, SemicolonSeparatesOutsideGroupsAndEmptyFieldsGiveNothing)
{
    TMailMessage2000 m;
    // As Outlook users write lists: the second recipient was lost.
    Parse(m, "To: a@x; b@y\n\n");
    EXPECT_EQ(m.ToList.GetAddressesText(), "a@x,b@y");
    Parse(m, "To:\n\n");
    EXPECT_EQ(m.ToList.GetAddressesText(), "");
    EXPECT_TRUE(m.ToList.Addresses.empty());
}

TEST(Recipients, GroupsListTheirMembers)
{
    TMailMessage2000 m;
    Parse(m, "To: Team: a@x.org, Bee <b@y.org>;\nCc: undisclosed-recipients:;\nBcc: mailto:c@z.org\n\n");
    m.ToList.Refresh();
    EXPECT_EQ(m.ToList.Addresses, (TStringList{"a@x.org", "b@y.org"}));
    EXPECT_EQ(m.ToList.Names, (TStringList{"", "Bee"}));
    EXPECT_EQ(m.CcList.GetAddressesText(), "undisclosed-recipients:"); // an empty group shows its name
    EXPECT_EQ(m.BccList.GetAddressesText(), "c@z.org");
    // A colon in an address or a quoted name starts no group.
    Parse(m, "To: \"Re: you\" <r@x>, u@[IPv6:::1]\n\n");
    m.ToList.Refresh();
    EXPECT_EQ(m.ToList.Addresses, (TStringList{"r@x", "u@[IPv6:::1]"}));
    EXPECT_EQ(m.ToList.Names, (TStringList{"Re: you", ""}));
}

TEST(Recipients, EveryMailboxInAndAfterEveryGroup)
{
    TMailMessage2000 m;
    auto to = [&m](const std::string& value) {
        Parse(m, "To: " + value + "\n\n");
        m.ToList.Refresh();
        return m.ToList.Addresses.ToStringList();
    };
    // The ";" that closes a group ended the whole field: Carol, and a
    // second group, were lost.
    EXPECT_EQ(to("Team: a@x, b@y;, Carol <c@z>"), (TStringList{"a@x", "b@y", "c@z"}));
    EXPECT_EQ(to("Team: a@x, b@y; Carol <c@z>"), (TStringList{"a@x", "b@y", "c@z"}));
    EXPECT_EQ(to("G1: a@x;, G2: b@y, \"B; two\" <b2@y>;"), (TStringList{"a@x", "b@y", "b2@y"}));
    EXPECT_EQ(to("Empty:;, d@e, Other: ;"), (TStringList{"Empty:", "d@e", "Other:"}));
    // RFC 5322 A.1.3: a comment before the group's colon, comments inside
    // the addresses and a source route.
    EXPECT_EQ(to("A Group(Some people) :Chris Jones <c@(Chris's host.)public.example>, joe@example.org, "
                 "John <jdoe@one.test> (my dear friend); (the end of the group)"),
              (TStringList{"c@public.example", "joe@example.org", "jdoe@one.test"}));
    EXPECT_EQ(m.ToList.Names.ToStringList(), (TStringList{"Chris Jones", "", "John"}));
    EXPECT_EQ(to("(Empty list)(start)Undisclosed recipients  :(nobody(that I know))  ;"),
              (TStringList{"Undisclosed recipients:"}));
    EXPECT_EQ(to("Mary Smith <@machine.tld:mary@example.net>, , jdoe@test   . example"),
              (TStringList{"mary@example.net", "jdoe@test.example"}));
    // Two mailboxes without a comma between them are two recipients.
    EXPECT_EQ(to("A <a@x> \"B b\" <b@y>"), (TStringList{"a@x", "b@y"}));
    EXPECT_EQ(m.ToList.Names.ToStringList(), (TStringList{"A", "B b"}));
}

TEST(Recipients, StrayAndDoubledCommasMakeNoEntries)
{
    TMailMessage2000 m;
    Parse(m, "To: , a@x,, ,b@y (B),\nTo: ,\nTo: \"\" <c@z>,  ,\n\n");
    m.ToList.Refresh();
    EXPECT_EQ(m.ToList.Addresses, (TStringList{"a@x", "b@y", "c@z"}));
    EXPECT_EQ(m.ToList.Names, (TStringList{"", "B", ""}));
}

TEST(Recipients, ManyFieldsAreReadInOneWalk)
{
    // Each field used to be searched for from the top of the header.
    std::string text = "From: f@x\n";
    for (int i = 0; i < 20000; ++i)
        text += "To: u" + std::to_string(i) + "@x\nX-Other: y\n";
    TMailMessage2000 m;
    Parse(m, text + "\n");
    m.ToList.Refresh();
    ASSERT_EQ(m.ToList.Addresses.size(), 20000u);
    EXPECT_EQ(m.ToList.Addresses[19999], "u19999@x");
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
    EXPECT_EQ(CommaText(TStringList{}), "");
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

TEST(Sender, SeveralMailboxesGiveTheFirst)
{
    EXPECT_EQ(From("a@x, b@y"), (Split{"", "a@x"}));
    EXPECT_EQ(From("\"A\" <a@x>, B <b@y>"), (Split{"A", "a@x"}));
    EXPECT_EQ(From("a@x (A), b@y (B)"), (Split{"A", "a@x"}));
    EXPECT_EQ(From("<a@x>,<b@y>"), (Split{"", "a@x"}));
    // A comma before any address belongs to an unquoted name.
    EXPECT_EQ(From("Doe, John <j@x>"), (Split{"Doe, John", "j@x"}));
    EXPECT_EQ(From("\"Doe, John\" <j@x>, k@y"), (Split{"Doe, John", "j@x"}));
    // Without the comma, the second mailbox's address was glued to the first.
    EXPECT_EQ(From("Bob Dunite <bob@extern> Bobby Dunite <bobby@extern>"), (Split{"Bob Dunite", "bob@extern"}));
    EXPECT_EQ(From("<a@x> <b@y>"), (Split{"", "a@x"}));
}

TEST(Subject, IsTheWholeFieldDecoded)
{
    TMailMessage2000 m;
    Parse(m, "Subject: Lunch; Friday at noon?\n\n");
    EXPECT_EQ(m.GetSubject(), "Lunch; Friday at noon?");
    Parse(m, "Subject: \"Quoted\" words; and =?utf-8?q?caf=c3=a9?= \"too\"\n\n");
    EXPECT_EQ(m.GetSubject(), "\"Quoted\" words; and caf\xC3\xA9 \"too\"");
    Parse(m, "Subject: =?iso-8859-1?Q?Re:_budget;_final?=\n\n");
    EXPECT_EQ(m.GetSubject(), "Re: budget; final");
    Parse(m, "Subject:\n\n");
    EXPECT_EQ(m.GetSubject(), "");
    Parse(m, "X: y\n\n");
    EXPECT_EQ(m.GetSubject(), "");
}
