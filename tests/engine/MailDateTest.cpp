#include "MailDate.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using testutil::ScopedTimeZone;

namespace {

TDateTime Utc(int y, int mo, int d, int h, int mi, int s) { return EncodeDateTime(y, mo, d, h, mi, s); }

::testing::AssertionResult Near(TDateTime a, TDateTime b)
{
    if (std::fabs(a - b) < 0.5 / 86400)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " vs " << b;
}

} // namespace

TEST(MailDate, ParsesFieldsByPositionInUtc)
{
    ScopedTimeZone tz("UTC");
    EXPECT_TRUE(Near(ParseMailDate("Mon, 12 Mar 2001 10:20:30 +0100"), Utc(2001, 3, 12, 9, 20, 30)));
    EXPECT_TRUE(Near(ParseMailDate("12 Mar 2001 10:20 GMT"), Utc(2001, 3, 12, 10, 20, 0)));
    EXPECT_TRUE(Near(ParseMailDate("Tue, 5 Jun 01 23:00:00 -0500"), Utc(2001, 6, 6, 4, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("5/6/2001 08:00:00"), Utc(2001, 6, 5, 8, 0, 0)));
    // Month names in any case, written out or cut short, are their months;
    // a name that is none stays January.
    EXPECT_TRUE(Near(ParseMailDate("12 March 2001 10:00 GMT"), Utc(2001, 3, 12, 10, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("12 feb 2001 10:00 GMT"), Utc(2001, 2, 12, 10, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("12 SEPT 2001 10:00 GMT"), Utc(2001, 9, 12, 10, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("12 Ma 2001 10:00 GMT"), Utc(2001, 1, 12, 10, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("12 Marz 2001 10:00 GMT"), Utc(2001, 1, 12, 10, 0, 0)));
    // A zone glued to the time still ends it.
    EXPECT_TRUE(Near(ParseMailDate("01 Jan 2001 00:01+0000"), Utc(2001, 1, 1, 0, 1, 0)));
    EXPECT_TRUE(Near(ParseMailDate("1 Jan 2001 10:20:30-0130"), Utc(2001, 1, 1, 11, 50, 30)));
    EXPECT_TRUE(Near(ParseMailDate("1 Jan 2001 00:00:00 UT"), Utc(2001, 1, 1, 0, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("Fri, 4 May 2001 14:05:44 -0400 (EDT)"), Utc(2001, 5, 4, 18, 5, 44)));
    EXPECT_TRUE(Near(ParseMailDate("1 Jan 2001 25:00:00 GMT"), Utc(2001, 1, 2, 1, 0, 0)));
}

TEST(MailDate, PunctuationAndBlankRunsAroundFields)
{
    ScopedTimeZone tz("UTC");
    // Month names followed by a comma or a full stop were read as January.
    EXPECT_TRUE(Near(ParseMailDate("12 Mar, 2001 10:20:30 +0000"), Utc(2001, 3, 12, 10, 20, 30)));
    EXPECT_TRUE(Near(ParseMailDate("Mon, 3 Sep, 2001 08:00:00 GMT"), Utc(2001, 9, 3, 8, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("Sun, 9 Dec. 2001 23:59:59 -0100"), Utc(2001, 12, 10, 0, 59, 59)));
    EXPECT_TRUE(Near(ParseMailDate("9 Sept. 2001 10:00 GMT"), Utc(2001, 9, 9, 10, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("12, Mar 2001 10:00 GMT"), Utc(2001, 3, 12, 10, 0, 0)));
    // No blank after the weekday's comma, runs of blanks, a TAB.
    EXPECT_TRUE(Near(ParseMailDate("Mon,12 Mar 2001 10:00 GMT"), Utc(2001, 3, 12, 10, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("Mon,  12  Mar   2001  10:00:05   +0100"), Utc(2001, 3, 12, 9, 0, 5)));
    EXPECT_TRUE(Near(ParseMailDate("12\tMar\t2001\t10:00 GMT"), Utc(2001, 3, 12, 10, 0, 0)));
}

TEST(MailDate, NamedAndShortZonesGiveTheirOffsets)
{
    ScopedTimeZone tz("UTC");
    const struct {
        const char* zone;
        int hours, minutes;
    } rows[] = {{"UT", 0, 0},    {"GMT", 0, 0},   {"gmt", 0, 0},  {"Z", 0, 0},     {"EST", -5, 0},
                {"edt", -4, 0},  {"Cst", -6, 0},  {"CDT", -5, 0}, {"MST", -7, 0},  {"MDT", -6, 0},
                {"PST", -8, 0},  {"PDT", -7, 0},  {"-600", -6, 0}, {"+530", 5, 30}, {"+0100", 1, 0},
                {"-0330", -3, -30}, {"+5", 5, 0}, {"CET", 0, 0},  {"A", 0, 0}};
    for (const auto& r : rows) {
        const TDateTime expected = Utc(2001, 3, 12, 10, 20, 0) - r.hours / 24.0 - r.minutes / 1440.0;
        EXPECT_TRUE(Near(ParseMailDate(std::string("12 Mar 2001 10:20:00 ") + r.zone), expected)) << r.zone;
    }
    // Anything but "+" or "-" in front of a five-character zone reads as "+".
    EXPECT_TRUE(Near(ParseMailDate("12 Mar 2001 10:20:00 20100"), Utc(2001, 3, 12, 9, 20, 0)));
    EXPECT_TRUE(Near(ParseMailDate("12 Mar 2001 10:20:00 x0100"), Utc(2001, 3, 12, 9, 20, 0)));
    EXPECT_TRUE(Near(ParseMailDate("Fri, 4 May 2001 14:05:44 EDT (comment)"), Utc(2001, 5, 4, 18, 5, 44)));
}

TEST(MailDate, NoDateAndInvalidDates)
{
    ScopedTimeZone tz("UTC");
    EXPECT_EQ(ParseMailDate(""), 0.0);
    EXPECT_EQ(ParseMailDate("   \t"), 0.0);
    EXPECT_EQ(ParseMailDate("12 0 2001"), 0.0);
    EXPECT_EQ(ParseMailDate("Mon,"), 0.0);
    EXPECT_EQ(ParseMailDate("Mon, 12"), 0.0);
    const TDateTime now = NowLocal();
    EXPECT_NEAR(ParseMailDate("31 Apr 2001 10:00 GMT"), now, 5.0 / 86400);
    EXPECT_NEAR(ParseMailDate("1 Jan 2001 10:00 +2500"), now, 5.0 / 86400);
    EXPECT_NEAR(ParseMailDate("garbage !! ###"), now, 5.0 / 86400);
    // An unreadable year counts as 0, which the century rule makes 2000.
    EXPECT_TRUE(Near(ParseMailDate("1 Jan 99999999999999999999 10:00"), Utc(2000, 1, 1, 10, 0, 0)));
}

TEST(MailDate, ConvertsWithTheOffsetInForceAtThatMoment)
{
    ScopedTimeZone tz("Europe/Berlin");
    // Summer (CEST, +2) and winter (CET, +1), whatever the season now.
    EXPECT_TRUE(Near(ParseMailDate("1 Jul 2021 12:00:00 +0000"), Utc(2021, 7, 1, 14, 0, 0)));
    EXPECT_TRUE(Near(ParseMailDate("1 Jan 2021 12:00:00 +0000"), Utc(2021, 1, 1, 13, 0, 0)));
    const double bias = LocalTimeBias();
    EXPECT_TRUE(std::fabs(bias - 1.0 / 24) < 1e-9 || std::fabs(bias - 2.0 / 24) < 1e-9);
}
