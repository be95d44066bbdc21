#pragma once
// The properties of one Outlook item, attachment or recipient, as the .msg
// file and the TNEF stream both carry them: by property id, or for named
// properties by property set and number.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

// Property types.
enum : std::uint16_t {
    kPtShort = 0x0002,
    kPtLong = 0x0003,
    kPtFloat = 0x0004,
    kPtDouble = 0x0005,
    kPtCurrency = 0x0006,
    kPtAppTime = 0x0007,
    kPtError = 0x000A,
    kPtBoolean = 0x000B,
    kPtObject = 0x000D,
    kPtInt64 = 0x0014,
    kPtString8 = 0x001E,
    kPtUnicode = 0x001F,
    kPtSysTime = 0x0040,
    kPtClsid = 0x0048,
    kPtBinary = 0x0102,
    kPtMultiple = 0x1000,
};

// Property ids.
enum : std::uint16_t {
    kPrImportance = 0x0017,
    kPrMessageClass = 0x001A,
    kPrSubject = 0x0037,
    kPrClientSubmitTime = 0x0039,
    kPrSentRepresentingName = 0x0042,
    kPrSentRepresentingAddrType = 0x0064,
    kPrSentRepresentingEmail = 0x0065,
    kPrTransportHeaders = 0x007D,
    kPrSenderName = 0x0C1A,
    kPrSenderAddrType = 0x0C1E,
    kPrSenderEmail = 0x0C1F,
    kPrRecipientType = 0x0C15,
    kPrDisplayBcc = 0x0E02,
    kPrDisplayCc = 0x0E03,
    kPrDisplayTo = 0x0E04,
    kPrDeliveryTime = 0x0E06,
    kPrBody = 0x1000,
    kPrRtfCompressed = 0x1009,
    kPrHtml = 0x1013,
    kPrInternetMessageId = 0x1035,
    kPrInReplyTo = 0x1042,
    kPrDisplayName = 0x3001,
    kPrAddrType = 0x3002,
    kPrEmailAddress = 0x3003,
    kPrCreationTime = 0x3007,
    kPrLastModificationTime = 0x3008,
    kPrSmtpAddress = 0x39FE,
    kPrGivenName = 0x3A06,
    kPrBusinessPhone = 0x3A08,
    kPrHomePhone = 0x3A09,
    kPrSurname = 0x3A11,
    kPrCompanyName = 0x3A16,
    kPrTitle = 0x3A17,
    kPrDepartment = 0x3A18,
    kPrMobilePhone = 0x3A1C,
    kPrAttachDataBin = 0x3701,
    kPrAttachExtension = 0x3703,
    kPrAttachFilename = 0x3704,
    kPrAttachMethod = 0x3705,
    kPrAttachLongFilename = 0x3707,
    kPrAttachPathname = 0x3708,
    kPrAttachLongPathname = 0x370D,
    kPrAttachMimeTag = 0x370E,
    kPrAttachContentId = 0x3712,
    kPrAttachContentLocation = 0x3713,
    kPrAttachFlags = 0x3714,
    kPrInternetCpid = 0x3FDE,
    kPrCreatorName = 0x3FF8,
    kPrLastModifierName = 0x3FFA,
    kPrMessageCodepage = 0x3FFD,
    kPrSenderSmtpAddress = 0x5D01,
    kPrSentRepresentingSmtpAddress = 0x5D02,
    kPrCreatorSmtpAddress = 0x5D0A,
    kPrLastModifierSmtpAddress = 0x5D0B,
    kPrAttachmentHidden = 0x7FFE,
};

struct TMapiValue {
    std::uint16_t type = 0;
    std::string data; // fixed types little-endian as stored; strings and binaries as stored
};

// A named property's key: its property set (16 bytes as stored) and its
// number, or its name (UTF-8) when it has one.
struct TNamedKey {
    std::string guid;
    std::uint32_t id = 0;
    std::string name;
    auto operator<=>(const TNamedKey&) const = default;
};

// Property sets of the named properties that are read.
inline constexpr std::string_view kPsetidAppointment{"\x02\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};
inline constexpr std::string_view kPsetidTask{"\x03\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};
inline constexpr std::string_view kPsetidAddress{"\x04\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};
inline constexpr std::string_view kPsetidCommon{"\x08\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};

class TMapiProps {
public:
    // 8-bit strings are read in this code page (0: Windows-1252).
    int CodePage = 0;

    void Set(std::uint16_t id, TMapiValue value) { m_tagged[id] = std::move(value); }
    void SetNamed(TNamedKey key, TMapiValue value) { m_named[std::move(key)] = std::move(value); }
    [[nodiscard]] const TMapiValue* Find(std::uint16_t id) const;
    [[nodiscard]] const TMapiValue* FindNamed(std::string_view guid, std::uint32_t id) const;
    [[nodiscard]] bool Has(std::uint16_t id) const { return Find(id) != nullptr; }
    [[nodiscard]] std::size_t Size() const { return m_tagged.size() + m_named.size(); }

    // A string property as UTF-8 (empty when absent or not a string); a
    // zero that ends it is dropped.
    [[nodiscard]] std::string String(std::uint16_t id) const;
    [[nodiscard]] std::string NamedString(std::string_view guid, std::uint32_t id) const;
    [[nodiscard]] std::string Binary(std::uint16_t id) const;
    // The same, moved out of the set (for a file's bytes, read once).
    [[nodiscard]] std::string TakeBinary(std::uint16_t id);
    [[nodiscard]] std::optional<std::int64_t> Integer(std::uint16_t id) const;
    [[nodiscard]] std::optional<std::int64_t> NamedInteger(std::string_view guid, std::uint32_t id) const;
    // A time as Unix seconds (UTC).
    [[nodiscard]] std::optional<std::int64_t> Time(std::uint16_t id) const;
    [[nodiscard]] std::optional<std::int64_t> NamedTime(std::string_view guid, std::uint32_t id) const;

    [[nodiscard]] std::string ValueString(const TMapiValue& v) const;

private:
    std::unordered_map<std::uint16_t, TMapiValue> m_tagged;
    std::map<TNamedKey, TMapiValue> m_named;
};

[[nodiscard]] std::optional<std::int64_t> IntegerOf(const TMapiValue& v);
// A FILETIME (100 ns since 1601) as Unix seconds; nothing for zero or a
// time outside years 1601 to 9999.
[[nodiscard]] std::optional<std::int64_t> FileTimeToUnix(std::uint64_t fileTime);
[[nodiscard]] std::uint32_t ReadLe32(std::string_view bytes, std::size_t at);
[[nodiscard]] std::uint16_t ReadLe16(std::string_view bytes, std::size_t at);
[[nodiscard]] std::uint64_t ReadLe64(std::string_view bytes, std::size_t at);
