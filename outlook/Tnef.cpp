#include "Tnef.h"

#include "MailDate.h"
#include "OutlookError.h"
#include "TextUtils.h"
#include "Utf16.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxAttachments = 10000;

// Attribute ids (without their type word).
enum : std::uint16_t {
    attFrom = 0x8000,
    attSubject = 0x8004,
    attDateSent = 0x8005,
    attDateRecd = 0x8006,
    attMessageClass = 0x8008,
    attBody = 0x800C,
    attAttachData = 0x800F,
    attAttachTitle = 0x8010,
    attAttachRenddata = 0x9002,
    attMsgProps = 0x9003,
    attRecipTable = 0x9004,
    attAttachment = 0x9005,
    attOemCodepage = 0x9007,
};

// IID_IMessage: the object of an attachment that is an attached item.
constexpr std::string_view kIidMessage{"\x07\x03\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};

std::size_t FixedSize(std::uint16_t type)
{
    switch (type) {
    case kPtShort:
    case kPtLong:
    case kPtFloat:
    case kPtError:
    case kPtBoolean:
        return 4;
    case kPtDouble:
    case kPtCurrency:
    case kPtAppTime:
    case kPtInt64:
    case kPtSysTime:
        return 8;
    case kPtClsid:
        return 16;
    default:
        return 0;
    }
}

bool IsVariable(std::uint16_t type)
{
    return type == kPtString8 || type == kPtUnicode || type == kPtBinary || type == kPtObject;
}

class TCursor {
public:
    explicit TCursor(std::string_view data) : m_data(data) {}
    [[nodiscard]] bool Has(std::size_t n) const { return m_data.size() - m_pos >= n; }
    [[nodiscard]] std::size_t Left() const { return m_data.size() - m_pos; }
    std::uint32_t U32()
    {
        const std::uint32_t v = ReadLe32(m_data, m_pos);
        m_pos = std::min(m_data.size(), m_pos + 4);
        return v;
    }
    std::uint16_t U16()
    {
        const std::uint16_t v = ReadLe16(m_data, m_pos);
        m_pos = std::min(m_data.size(), m_pos + 2);
        return v;
    }
    std::string_view Take(std::size_t n)
    {
        n = std::min(n, Left());
        const std::string_view v = m_data.substr(m_pos, n);
        m_pos += n;
        return v;
    }
    void Skip(std::size_t n) { m_pos += std::min(n, Left()); }

private:
    std::string_view m_data;
    std::size_t m_pos = 0;
};

// A MAPI property list as TNEF writes it: a count, then each property's
// tag, its name when it is a named one, and its values (a count first for
// strings, binaries, objects and multiple values; every value padded to four
// bytes). False when the list runs past its data.
bool ReadPropList(TCursor& in, TMapiProps& props)
{
    const std::uint32_t count = in.U32();
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!in.Has(4))
            return false;
        const std::uint16_t type = in.U16();
        const std::uint16_t id = in.U16();
        TNamedKey key;
        const bool named = id >= 0x8000;
        if (named) {
            if (!in.Has(20))
                return false;
            key.guid = std::string(in.Take(16));
            if (in.U32() == 0) {
                key.id = in.U32();
            } else {
                const std::uint32_t length = in.U32();
                if (!in.Has(length))
                    return false;
                key.name = Utf16LeToUtf8(in.Take(length));
                in.Skip((4 - length % 4) % 4);
            }
        }
        const bool multiple = (type & kPtMultiple) != 0;
        const auto base = static_cast<std::uint16_t>(type & ~kPtMultiple);
        const bool variable = IsVariable(base);
        const std::size_t fixed = FixedSize(base);
        if (!variable && fixed == 0)
            return false; // a type whose size nobody knows: nothing after it can be read
        const std::uint32_t values = multiple || variable ? in.U32() : 1;
        TMapiValue first;
        first.type = base;
        for (std::uint32_t v = 0; v < values; ++v) {
            std::string_view data;
            if (variable) {
                if (!in.Has(4))
                    return false;
                const std::uint32_t length = in.U32();
                if (!in.Has(length))
                    return false;
                data = in.Take(length);
                in.Skip((4 - length % 4) % 4);
            } else {
                if (!in.Has(fixed))
                    return false;
                data = in.Take(fixed);
            }
            if (v == 0)
                first.data = std::string(data);
        }
        if (multiple || values == 0)
            continue; // lists of values are not shown
        if (named)
            props.SetNamed(std::move(key), std::move(first));
        else
            props.Set(id, std::move(first));
    }
    return true;
}

struct TTnefAttachment {
    TMapiProps props;
    std::string title; // the short name, in the OEM code page
    std::string data;
    bool hasData = false;
};

// A date as TNEF writes it: year, month, day, hour, minute, second, in UTC.
std::optional<std::int64_t> DateOf(std::string_view d)
{
    if (d.size() < 12)
        return std::nullopt;
    const int year = ReadLe16(d, 0), month = ReadLe16(d, 2), day = ReadLe16(d, 4);
    const int hour = ReadLe16(d, 6), minute = ReadLe16(d, 8), second = ReadLe16(d, 10);
    if (year < 1601 || year > 9999 || !IsValidCalendarDate(year, month, day) || hour > 23 || minute > 59
        || second > 60)
        return std::nullopt;
    return DateTimeToUnixSeconds(EncodeDateTime(year, month, day, hour, minute, second));
}

std::string ZeroEnded(std::string_view s)
{
    const std::size_t zero = s.find('\0');
    return std::string(zero == std::string_view::npos ? s : s.substr(0, zero));
}

TOutlookItem ReadTnef(std::string_view bytes, int depth);

void FinishAttachment(TTnefAttachment& t, int codePage, int depth, TOutlookItem& item)
{
    t.props.CodePage = codePage;
    TOutlookAttachment a;
    ReadAttachmentProperties(t.props, a);
    if (a.fileName.empty())
        a.fileName = TrimBlanks(CodePageToUtf8(codePage, ZeroEnded(t.title)));
    const std::int64_t method = t.props.Integer(kPrAttachMethod).value_or(1);
    const TMapiValue* object = t.props.Find(kPrAttachDataBin);
    if (object && object->type == kPtObject && object->data.size() >= 16) {
        const std::string_view iid = std::string_view(object->data).substr(0, 16);
        const std::string_view inner = std::string_view(object->data).substr(16);
        if (iid == kIidMessage && IsTnef(inner) && depth + 1 < kMaxDepth) {
            a.message = std::make_unique<TOutlookItem>(ReadTnef(inner, depth + 1));
            if (a.fileName.empty())
                a.fileName = a.message->subject;
            a.fileName = MessageFileName(a.fileName.empty() ? std::string("message") : a.fileName);
        } else if (!t.hasData) {
            a.note = "This attachment is an object embedded in the message (such as a picture or a part of "
                     "a document); it holds no file that can be saved here.\r\n";
        }
    }
    if (!a.message && a.note.empty()) {
        if (method >= 2 && method <= 4 && !t.hasData)
            a.note = LinkNote(t.props);
        else if (t.hasData)
            a.data = std::move(t.data);
        else if (object && object->type == kPtBinary)
            a.data = object->data;
    }
    if (a.fileName.empty())
        a.fileName = "attachment" + TrimBlanks(t.props.String(kPrAttachExtension));
    item.attachments.push_back(std::move(a));
}

TOutlookItem ReadTnef(std::string_view bytes, int depth)
{
    if (!IsTnef(bytes))
        throw EOutlookError("not a TNEF stream (no 78 9F 3E 22 signature)");
    TCursor in(bytes.substr(6)); // the signature and the legacy key
    TMapiProps props;
    std::vector<TMapiProps> recipients; // read once the code page is known
    std::vector<TTnefAttachment> attachments;
    std::string subject8, body8, from8, class8;
    std::optional<std::int64_t> sent, received;
    int oemCodePage = 0;
    bool damaged = false;
    bool cut = false;
    while (in.Left() > 0) {
        if (!in.Has(9)) {
            damaged = true;
            break;
        }
        const auto level = static_cast<unsigned char>(in.Take(1)[0]);
        const std::uint32_t attribute = in.U32();
        const std::uint32_t length = in.U32();
        if (!in.Has(length)) {
            damaged = true;
            break;
        }
        const std::string_view data = in.Take(length);
        // The checksum, which readers do not hold against the data; its
        // absence says the stream was cut.
        damaged |= !in.Has(2);
        in.Skip(2);
        const auto id = static_cast<std::uint16_t>(attribute & 0xFFFF);
        if (level == 2) {
            if (id == attAttachRenddata || attachments.empty()) {
                if (attachments.size() >= kMaxAttachments)
                    cut = true;
                else
                    attachments.emplace_back();
            }
            if (cut)
                continue; // the parts of attachments past the limit
            TTnefAttachment& a = attachments.back();
            if (id == attAttachTitle) {
                a.title = std::string(data);
            } else if (id == attAttachData) {
                a.data = std::string(data);
                a.hasData = true;
            } else if (id == attAttachment) {
                TCursor list(data);
                damaged |= !ReadPropList(list, a.props);
            }
            continue;
        }
        switch (id) {
        case attOemCodepage:
            oemCodePage = static_cast<int>(ReadLe32(data, 0));
            break;
        case attMessageClass:
            class8 = ZeroEnded(data);
            break;
        case attSubject:
            subject8 = ZeroEnded(data);
            break;
        case attBody:
            body8 = ZeroEnded(data);
            break;
        case attFrom: {
            // A triple: its id, sizes, then the name and the address.
            const std::uint16_t nameLength = ReadLe16(data, 4);
            const std::uint16_t addressLength = ReadLe16(data, 6);
            if (8u + nameLength + addressLength <= data.size())
                from8 = ZeroEnded(data.substr(8, nameLength)) + '\n'
                        + ZeroEnded(data.substr(8 + nameLength, addressLength));
            break;
        }
        case attDateSent:
            sent = DateOf(data);
            break;
        case attDateRecd:
            received = DateOf(data);
            break;
        case attMsgProps: {
            TCursor list(data);
            damaged |= !ReadPropList(list, props);
            break;
        }
        case attRecipTable: {
            TCursor rows(data);
            const std::uint32_t count = rows.U32();
            for (std::uint32_t r = 0; r < count && rows.Left() > 0 && recipients.size() < kMaxAttachments; ++r) {
                recipients.emplace_back();
                if (!ReadPropList(rows, recipients.back())) {
                    damaged = true;
                    break;
                }
            }
            break;
        }
        default:
            break;
        }
    }

    const int codePage = ItemCodePage(props, oemCodePage);
    props.CodePage = codePage;
    // The older attributes stand in for properties the stream lacks.
    if (!props.Has(kPrSubject) && !subject8.empty())
        props.Set(kPrSubject, TMapiValue{kPtString8, subject8});
    if (!props.Has(kPrBody) && !body8.empty())
        props.Set(kPrBody, TMapiValue{kPtString8, body8});
    if (!props.Has(kPrMessageClass) && !class8.empty())
        props.Set(kPrMessageClass, TMapiValue{kPtString8, class8});
    TOutlookItem item;
    ReadItemProperties(props, item);
    if (item.fromName.empty() && item.fromAddress.empty() && !from8.empty()) {
        const std::size_t nl = from8.find('\n');
        item.fromName = TrimBlanks(CodePageToUtf8(codePage, from8.substr(0, nl)));
        item.fromAddress = TrimBlanks(CodePageToUtf8(codePage, from8.substr(nl + 1)));
        if (item.fromAddress.starts_with("SMTP:") || item.fromAddress.starts_with("smtp:"))
            item.fromAddress.erase(0, 5);
    }
    if (!item.date)
        item.date = sent ? sent : received;
    for (TMapiProps& rp : recipients) {
        rp.CodePage = codePage;
        if (TOutlookRecipient r; ReadRecipientProperties(rp, r))
            item.recipients.push_back(std::move(r));
    }
    for (TTnefAttachment& a : attachments)
        FinishAttachment(a, codePage, depth, item);
    SettleAttachmentNames(item);
    if (cut)
        item.damage = "This item lists more attachments than can be shown; the first "
                      + std::to_string(kMaxAttachments) + " are here.";
    else if (damaged)
        item.damage = "Part of this winmail.dat is damaged: what could be read is shown.";
    return item;
}

} // namespace

bool IsTnef(std::string_view bytes) { return bytes.size() >= 6 && ReadLe32(bytes, 0) == kSignature; }

TOutlookItem ReadTnefItem(std::string_view bytes) { return ReadTnef(bytes, 0); }
