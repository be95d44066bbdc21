#include "MapiProps.h"

#include "Utf16.h"

std::uint32_t ReadLe32(std::string_view b, std::size_t at)
{
    if (at > b.size() || b.size() - at < 4)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t ReadLe16(std::string_view b, std::size_t at)
{
    if (at > b.size() || b.size() - at < 2)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint64_t ReadLe64(std::string_view b, std::size_t at)
{
    return ReadLe32(b, at) | (static_cast<std::uint64_t>(ReadLe32(b, at + 4)) << 32);
}

std::optional<std::int64_t> FileTimeToUnix(std::uint64_t fileTime)
{
    // 1601-01-01 to 1970-01-01 in seconds; 9999-12-31 as Unix seconds.
    constexpr std::int64_t kEpochDelta = 11644473600LL;
    constexpr std::int64_t kLast = 253402300799LL;
    if (fileTime == 0 || fileTime == 0xFFFFFFFFFFFFFFFFull)
        return std::nullopt;
    const auto seconds = static_cast<std::int64_t>(fileTime / 10000000ull) - kEpochDelta;
    if (seconds > kLast)
        return std::nullopt;
    return seconds;
}

std::optional<std::int64_t> IntegerOf(const TMapiValue& v)
{
    switch (v.type) {
    case kPtShort:
        return static_cast<std::int16_t>(ReadLe16(v.data, 0));
    case kPtLong:
    case kPtError:
        return static_cast<std::int32_t>(ReadLe32(v.data, 0));
    case kPtBoolean:
        return ReadLe16(v.data, 0) != 0 ? 1 : 0;
    case kPtInt64:
        return static_cast<std::int64_t>(ReadLe64(v.data, 0));
    default:
        return std::nullopt;
    }
}

const TMapiValue* TMapiProps::Find(std::uint16_t id) const
{
    const auto it = m_tagged.find(id);
    return it == m_tagged.end() ? nullptr : &it->second;
}

const TMapiValue* TMapiProps::FindNamed(std::string_view guid, std::uint32_t id) const
{
    const auto it = m_named.find(TNamedKey{std::string(guid), id, {}});
    return it == m_named.end() ? nullptr : &it->second;
}

std::string TMapiProps::ValueString(const TMapiValue& v) const
{
    std::string text;
    if (v.type == kPtUnicode)
        text = Utf16LeToUtf8(v.data);
    else if (v.type == kPtString8)
        text = CodePageToUtf8(CodePage, v.data);
    else
        return {};
    // Strings end at their terminating zero, which writers count or not.
    if (const std::size_t zero = text.find('\0'); zero != std::string::npos)
        text.erase(zero);
    return text;
}

std::string TMapiProps::String(std::uint16_t id) const
{
    const TMapiValue* v = Find(id);
    return v ? ValueString(*v) : std::string();
}

std::string TMapiProps::NamedString(std::string_view guid, std::uint32_t id) const
{
    const TMapiValue* v = FindNamed(guid, id);
    return v ? ValueString(*v) : std::string();
}

std::string TMapiProps::Binary(std::uint16_t id) const
{
    const TMapiValue* v = Find(id);
    return v && v->type == kPtBinary ? v->data : std::string();
}

std::string TMapiProps::TakeBinary(std::uint16_t id)
{
    const auto it = m_tagged.find(id);
    if (it == m_tagged.end() || it->second.type != kPtBinary)
        return {};
    std::string data = std::move(it->second.data);
    m_tagged.erase(it);
    return data;
}

std::optional<std::int64_t> TMapiProps::Integer(std::uint16_t id) const
{
    const TMapiValue* v = Find(id);
    return v ? IntegerOf(*v) : std::nullopt;
}

std::optional<std::int64_t> TMapiProps::NamedInteger(std::string_view guid, std::uint32_t id) const
{
    const TMapiValue* v = FindNamed(guid, id);
    return v ? IntegerOf(*v) : std::nullopt;
}

namespace {

std::optional<std::int64_t> TimeOf(const TMapiValue* v)
{
    if (!v || v->type != kPtSysTime || v->data.size() < 8)
        return std::nullopt;
    return FileTimeToUnix(ReadLe64(v->data, 0));
}

} // namespace

std::optional<std::int64_t> TMapiProps::Time(std::uint16_t id) const { return TimeOf(Find(id)); }

std::optional<std::int64_t> TMapiProps::NamedTime(std::string_view guid, std::uint32_t id) const
{
    return TimeOf(FindNamed(guid, id));
}
