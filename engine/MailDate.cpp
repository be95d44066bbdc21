#include "MailDate.h"

#include "TextUtils.h"

#include <array>
#include <cmath>
#include <string>

namespace {

constexpr double kUnixEpochDays = 25569.0; // 1970-01-01 as a day count

long long DaysFromCivil(long long y, long long m, long long d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468; // days since 1970-01-01
}

// A decimal integer with an optional sign, or fallback when the text is
// empty, not a number or out of range.
long long ToIntDef(std::string_view s, long long fallback)
{
    if (s.empty())
        return fallback;
    std::size_t i = 0;
    bool neg = false;
    if (s[0] == '+' || s[0] == '-') {
        neg = s[0] == '-';
        i = 1;
    }
    if (i == s.size())
        return fallback;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return fallback;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483647LL)
            return fallback;
    }
    return neg ? -v : v;
}

// Offset of local time from UTC at a given moment, in seconds.
bool LocalOffsetAt(double unixSeconds, long& offset)
{
    if (!(unixSeconds > -6.0e10 && unixSeconds < 2.5e11))
        return false;
    const std::time_t t = static_cast<std::time_t>(std::floor(unixSeconds));
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return false;
    offset = tm.tm_gmtoff;
    return true;
}

bool AllDigits(std::string_view s)
{
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return !s.empty();
}

// The zone of a date: "+hhmm" and "-hhmm", the shorter "-600" form, and
// the named zones of RFC 5322 4.3 in any case. Any other name, like the
// military letters but "Z", means UTC.
void ReadZone(std::string_view zone, long long& sign, long long& hours, long long& minutes)
{
    struct Named {
        std::string_view name;
        int hours;
    };
    static constexpr Named kNamed[] = {{"UT", 0},   {"GMT", 0},  {"Z", 0},   {"EST", -5}, {"EDT", -4}, {"CST", -6},
                                       {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (const Named& n : kNamed) {
        if (IEquals(zone, n.name)) {
            sign = n.hours < 0 ? -1 : 1;
            hours = n.hours < 0 ? -n.hours : n.hours;
            return;
        }
    }
    if (zone.size() >= 2 && zone.size() <= 5 && (zone[0] == '+' || zone[0] == '-') && AllDigits(zone.substr(1))) {
        sign = zone[0] == '-' ? -1 : 1;
        const std::string_view digits = zone.substr(1);
        // Two digits or fewer are hours; the last two of more are minutes.
        const std::size_t hourDigits = digits.size() <= 2 ? digits.size() : digits.size() - 2;
        hours = ToIntDef(digits.substr(0, hourDigits), 0);
        minutes = ToIntDef(digits.substr(hourDigits), 0);
        return;
    }
    if (zone.size() == 5) {
        // Anything but "+" or "-" in front reads as "+".
        sign = 1;
        hours = ToIntDef(zone.substr(1, 2), 0);
        minutes = ToIntDef(zone.substr(3, 2), 0);
    }
}

} // namespace

bool IsValidCalendarDate(long long year, long long month, long long day)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    long long dim = kDays[static_cast<std::size_t>(month - 1)];
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        dim = 29;
    return day <= dim;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second)
{
    return static_cast<double>(DaysFromCivil(year, month, day)) + kUnixEpochDays + hour / 24.0 + minute / 1440.0
           + second / 86400.0;
}

TDateTime UnixSecondsToDateTime(long long seconds) { return seconds / 86400.0 + kUnixEpochDays; }

long long DateTimeToUnixSeconds(TDateTime utcDays)
{
    return static_cast<long long>(std::llround((utcDays - kUnixEpochDays) * 86400.0));
}

double LocalTimeBias()
{
    long offset = 0;
    if (!LocalOffsetAt(static_cast<double>(std::time(nullptr)), offset))
        return 0.0;
    return offset / 86400.0;
}

TDateTime NowLocal()
{
    const std::time_t now = std::time(nullptr);
    long offset = 0;
    LocalOffsetAt(static_cast<double>(now), offset);
    return UnixSecondsToDateTime(static_cast<long long>(now) + offset);
}

TMailDateParts ParseMailDateUtc(std::string_view text)
{
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32)
        --e;
    text = text.substr(b, e - b);
    if (text.empty())
        return {TMailDateKind::None, 0.0};

    std::array<std::string, 8> field;
    int counter = (text[0] >= '0' && text[0] <= '9') ? 1 : 0;
    char previous = '\0';
    for (char c : text) {
        const char before = previous;
        previous = c;
        const bool blank = c == ' ' || c == '\t';
        if (blank && (before == ' ' || before == '\t' || (counter == 1 && field[1].empty()))) {
            // A run of blanks is one separator, and so is the blank after a
            // weekday's comma: "12  Mar" and "Mon,  12 Mar" name March.
            continue;
        }
        if (c == ',' && counter == 0) {
            counter = 1; // "Mon,12 Mar 2001": the weekday ends at its comma
            continue;
        }
        if (blank || c == '/' || c == ':') {
            ++counter;
            if (counter == 6 && blank)
                counter = 7; // no seconds: straight to the zone
        } else if ((c == '+' || c == '-') && (counter == 5 || counter == 6)
                   && !field[static_cast<std::size_t>(counter)].empty()) {
            // "00:01+0000": a zone written straight after the time would
            // otherwise spoil the minutes or seconds it is glued to.
            counter = 7;
            field[7] += c;
        } else if (counter >= 1 && counter <= 7) {
            field[static_cast<std::size_t>(counter)] += c;
        }
    }

    // "12 Mar, 2001", "Sep,", "Dec.": punctuation after a day, a month name
    // or a year belongs to none of them.
    for (std::size_t k : {1, 2, 3})
        while (!field[k].empty() && (field[k].back() == ',' || field[k].back() == '.'))
            field[k].pop_back();
    const long long day = ToIntDef(field[1], 0);
    long long year = ToIntDef(field[3], 0);
    const long long hour = ToIntDef(field[4], 0);
    const long long minute = ToIntDef(field[5], 0);
    const long long second = ToIntDef(field[6], 0);

    long long month = 0;
    const std::string& mf = field[2];
    if (mf.empty()) {
        month = 0; // nothing after the day: no date
    } else if (mf[0] >= '0' && mf[0] <= '9') {
        month = ToIntDef(mf, 0);
    } else {
        // Senders also write "feb", "MAR", "March" or "Sept": each is its
        // month, not January. A name that is none of them still counts as 1.
        static constexpr std::string_view kNames[] = {"january", "february", "march",     "april",
                                                      "may",     "june",     "july",      "august",
                                                      "september", "october", "november", "december"};
        month = 1;
        const std::string name = AsciiLowerCase(mf);
        for (std::size_t k = 0; k < std::size(kNames); ++k)
            if (name.size() >= 3 && kNames[k].starts_with(name)) {
                month = static_cast<long long>(k + 1);
                break;
            }
    }
    if (year >= 0 && year < 100)
        year += year < 50 ? 2000 : 1900;
    if (month == 0 || year == 0)
        return {TMailDateKind::None, 0.0};

    long long zoneSign = 1, zoneHours = 0, zoneMinutes = 0;
    ReadZone(TrimBlanks(field[7]), zoneSign, zoneHours, zoneMinutes);
    if (zoneHours < 0 || zoneHours >= 24 || zoneMinutes < 0 || zoneMinutes >= 60)
        return {TMailDateKind::Invalid, 0.0};
    if (!IsValidCalendarDate(year, month, day))
        return {TMailDateKind::Invalid, 0.0};

    const double zoneOffset = static_cast<double>(zoneSign) * (zoneHours / 24.0 + zoneMinutes / 1440.0);
    const double senders = static_cast<double>(DaysFromCivil(year, month, day)) + kUnixEpochDays + hour / 24.0
                           + minute / 1440.0 + second / 86400.0;
    return {TMailDateKind::Valid, senders - zoneOffset};
}

TDateTime ParseMailDate(std::string_view text)
{
    const TMailDateParts parts = ParseMailDateUtc(text);
    if (parts.kind == TMailDateKind::None)
        return 0.0;
    if (parts.kind == TMailDateKind::Invalid)
        return NowLocal();
    // The local offset in force at that moment, not now: a summer date read
    // in winter must not come out an hour off.
    long offset = 0;
    if (!LocalOffsetAt((parts.utc - kUnixEpochDays) * 86400.0, offset))
        return LocalTimeBias() + parts.utc;
    return parts.utc + offset / 86400.0;
}
