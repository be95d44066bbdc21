#include "MsgFile.h"

#include "Codecs.h"
#include "CompoundFile.h"
#include "TextUtils.h"
#include "Utf16.h"

#include <algorithm>
#include <iterator>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::string_view kSubstg = "__substg1.0_";
constexpr std::string_view kRecip = "__recip_version1.0_#";
constexpr std::string_view kAttach = "__attach_version1.0_#";
constexpr std::string_view kProperties = "__properties_version1.0";
constexpr std::string_view kNameId = "__nameid_version1.0";
// Attached items nest no deeper than this; a file may claim any depth.
constexpr int kMaxDepth = 16;
// More than this many recipients or attachments is no real item: the rest
// is left out, and the reader told.
constexpr std::size_t kMaxRows = 10000;
// The stream in which an OLE package keeps the file it wraps.
constexpr std::string_view kOle10Native = "\x01Ole10Native";

// The properties with a stream of their own that the item is shown with,
// sorted.
constexpr std::uint16_t kReadIds[] = {
    kPrMessageClass, kPrSubject, kPrSentRepresentingName, kPrSentRepresentingEmail,
    kPrTransportHeaders, kPrSenderName, kPrSenderEmail, kPrDisplayBcc, kPrDisplayCc,
    kPrDisplayTo, kPrBody, kPrRtfCompressed, kPrHtml, kPrInternetMessageId, kPrInReplyTo, kPrDisplayName,
    kPrEmailAddress, kPrAttachDataBin, kPrAttachExtension, kPrAttachFilename, kPrAttachLongFilename,
    kPrAttachPathname, kPrAttachLongPathname, kPrAttachMimeTag, kPrAttachContentId,
    kPrAttachContentLocation, kPrSmtpAddress, kPrGivenName, kPrBusinessPhone, kPrHomePhone, kPrSurname,
    kPrCompanyName, kPrTitle, kPrDepartment, kPrMobilePhone, kPrCreatorName, kPrLastModifierName,
    kPrSenderSmtpAddress, kPrSentRepresentingSmtpAddress, kPrCreatorSmtpAddress, kPrLastModifierSmtpAddress,
};
static_assert(std::is_sorted(std::begin(kReadIds), std::end(kReadIds)));

// A content type from the file as one header line's value.
std::string OneLineType(std::string_view type)
{
    std::string out;
    for (char c : type)
        if (static_cast<unsigned char>(c) >= 32 && c != 127)
            out += c;
    return out;
}

bool ParseHex(std::string_view s, std::uint32_t& value)
{
    if (s.empty() || s.size() > 8)
        return false;
    value = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        value = value * 16 + static_cast<std::uint32_t>(d);
    }
    return true;
}

class TMsgReader {
public:
    explicit TMsgReader(std::string_view bytes) : m_file(bytes) { ReadNames(); }

    TOutlookItem ReadItem(std::uint32_t storage, std::size_t headerSize, int depth, int codePage)
    {
        TOutlookItem item;
        TMapiProps props;
        ReadProps(storage, headerSize, props);
        props.CodePage = ItemCodePage(props, codePage);
        ReadItemProperties(props, item);

        std::vector<std::pair<std::uint32_t, std::uint32_t>> recips, attachs;
        for (std::uint32_t c : m_file.Children(storage)) {
            if (!m_file.IsStorage(c))
                continue;
            const std::string& name = m_file.Name(c);
            std::uint32_t n = 0;
            if (name.starts_with(kRecip) && ParseHex(std::string_view(name).substr(kRecip.size()), n))
                recips.emplace_back(n, c);
            else if (name.starts_with(kAttach) && ParseHex(std::string_view(name).substr(kAttach.size()), n))
                attachs.emplace_back(n, c);
        }
        std::sort(recips.begin(), recips.end());
        std::sort(attachs.begin(), attachs.end());
        bool cut = false;
        for (const auto& [n, c] : recips) {
            if (item.recipients.size() >= kMaxRows) {
                cut = true;
                break;
            }
            TMapiProps rp;
            rp.CodePage = props.CodePage;
            ReadProps(c, 8, rp);
            if (TOutlookRecipient r; ReadRecipientProperties(rp, r))
                item.recipients.push_back(std::move(r));
        }
        for (const auto& [n, c] : attachs) {
            if (item.attachments.size() >= kMaxRows) {
                cut = true;
                break;
            }
            item.attachments.push_back(ReadAttachment(c, depth, props.CodePage));
        }
        if (cut)
            item.damage = "This item lists more recipients or attachments than can be shown; the first "
                          + std::to_string(kMaxRows) + " of each are here.";
        TakeSignedContent(item);
        SettleAttachmentNames(item);
        return item;
    }

    // Signed or encrypted mail keeps the message as sent in one attachment:
    // the whole signed MIME entity, or the PKCS #7 object. It becomes the
    // message's body again, so the parts show and a signature can be checked.
    static void TakeSignedContent(TOutlookItem& item)
    {
        if (!AsciiLowerCase(item.messageClass).starts_with("ipm.note.smime") || item.attachments.size() != 1)
            return;
        TOutlookAttachment& a = item.attachments[0];
        if (a.message || !a.note.empty() || a.data.empty())
            return;
        const std::string type = AsciiLowerCase(a.mimeType);
        if (type == "multipart/signed" && IStartsWith(a.data, "content-")) {
            item.mimeEntity = std::move(a.data);
        } else if (type.starts_with("application/pkcs7-mime") || type.starts_with("application/x-pkcs7-mime")) {
            std::string encoded;
            Base64EncodeStream(encoded, a.data);
            // The attachment's type says whether it is signed or encrypted
            // when it says anything; encrypted is the more common.
            const std::string smime =
                type.find("smime-type") != std::string::npos ? OneLineType(a.mimeType)
                                                             : std::string("application/pkcs7-mime; smime-type=enveloped-data");
            item.mimeEntity = "Content-Type: " + smime + "; name=\"smime.p7m\"\r\n"
                              "Content-Disposition: attachment; filename=\"smime.p7m\"\r\n"
                              "Content-Transfer-Encoding: base64\r\n\r\n"
                              + encoded;
        } else {
            return;
        }
        item.attachments.clear();
    }

    [[nodiscard]] bool Damaged() const { return m_file.Damaged(); }
    [[nodiscard]] const TCompoundFile& File() const { return m_file; }

private:
    // The named properties' keys, by their place in the file's table.
    void ReadNames()
    {
        const std::uint32_t names = m_file.Find(m_file.Root(), kNameId);
        if (names == TCompoundFile::kNone)
            return;
        auto stream = [&](const char* name) {
            const std::uint32_t e = m_file.Find(names, name);
            return e == TCompoundFile::kNone ? std::string() : m_file.Read(e);
        };
        const std::string guids = stream("__substg1.0_00020102");
        const std::string entries = stream("__substg1.0_00030102");
        const std::string strings = stream("__substg1.0_00040102");
        static constexpr std::string_view kPsMapi{"\x28\x03\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};
        static constexpr std::string_view kPsPublicStrings{
            "\x29\x03\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16};
        for (std::size_t at = 0; at + 8 <= entries.size(); at += 8) {
            const std::uint32_t idOrOffset = ReadLe32(entries, at);
            const std::uint32_t packed = ReadLe32(entries, at + 4);
            const bool isString = (packed & 1) != 0;
            const std::uint32_t guidIndex = (packed >> 1) & 0x7FFF;
            const std::uint32_t index = packed >> 16;
            if (index >= 0x7FFF)
                continue;
            TNamedKey key;
            if (guidIndex == 1)
                key.guid = std::string(kPsMapi);
            else if (guidIndex == 2)
                key.guid = std::string(kPsPublicStrings);
            else if (guidIndex >= 3 && (guidIndex - 3) * 16 + 16 <= guids.size())
                key.guid = guids.substr((guidIndex - 3) * 16, 16);
            else
                continue;
            if (isString) {
                const std::uint32_t length = ReadLe32(strings, idOrOffset);
                if (idOrOffset + 4ull + length > strings.size())
                    continue;
                key.name = Utf16LeToUtf8(std::string_view(strings).substr(idOrOffset + 4, length));
            } else {
                key.id = idOrOffset;
            }
            if (m_names.size() <= index)
                m_names.resize(index + 1);
            m_names[index] = std::move(key);
        }
    }

    // Whether anything reads the property: others are not read at all.
    [[nodiscard]] bool Wanted(std::uint16_t id) const
    {
        if (id >= 0x8000) {
            const std::size_t index = id - 0x8000u;
            if (index >= m_names.size())
                return false;
            const std::string& guid = m_names[index].guid;
            return guid == kPsetidAppointment || guid == kPsetidTask || guid == kPsetidAddress
                   || guid == kPsetidCommon;
        }
        return std::binary_search(std::begin(kReadIds), std::end(kReadIds), id);
    }

    void Put(TMapiProps& props, std::uint16_t id, TMapiValue value)
    {
        if (id >= 0x8000) {
            const std::size_t index = id - 0x8000u;
            if (index < m_names.size() && !m_names[index].guid.empty())
                props.SetNamed(m_names[index], std::move(value));
            return;
        }
        props.Set(id, std::move(value));
    }

    // Fixed-size values from the property stream, the others from streams
    // of their own; a stream the property stream does not list still counts.
    void ReadProps(std::uint32_t storage, std::size_t headerSize, TMapiProps& props)
    {
        const std::uint32_t ps = m_file.Find(storage, kProperties);
        if (ps != TCompoundFile::kNone) {
            const std::string table = m_file.Read(ps);
            for (std::size_t at = headerSize; at + 16 <= table.size(); at += 16) {
                const std::uint32_t tag = ReadLe32(table, at);
                const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
                switch (type) {
                case kPtShort:
                case kPtLong:
                case kPtFloat:
                case kPtDouble:
                case kPtCurrency:
                case kPtAppTime:
                case kPtError:
                case kPtBoolean:
                case kPtInt64:
                case kPtSysTime:
                    Put(props, static_cast<std::uint16_t>(tag >> 16), TMapiValue{type, table.substr(at + 8, 8)});
                    break;
                default:
                    break;
                }
            }
        }
        for (std::uint32_t c : m_file.Children(storage)) {
            if (!m_file.IsStream(c))
                continue;
            const std::string& name = m_file.Name(c);
            std::uint32_t tag = 0;
            if (!name.starts_with(kSubstg) || name.size() != kSubstg.size() + 8
                || !ParseHex(std::string_view(name).substr(kSubstg.size()), tag))
                continue;
            const auto type = static_cast<std::uint16_t>(tag & 0xFFFF);
            if (type != kPtString8 && type != kPtUnicode && type != kPtBinary && type != kPtClsid)
                continue;
            if (!Wanted(static_cast<std::uint16_t>(tag >> 16)))
                continue; // not shown: a file's pictures and renderings, search data, ...
            Put(props, static_cast<std::uint16_t>(tag >> 16), TMapiValue{type, m_file.Read(c)});
        }
    }

    TOutlookAttachment ReadAttachment(std::uint32_t storage, int depth, int codePage)
    {
        TMapiProps props;
        props.CodePage = codePage;
        ReadProps(storage, 8, props);
        TOutlookAttachment a;
        ReadAttachmentProperties(props, a);
        const std::int64_t method = props.Integer(kPrAttachMethod).value_or(1);
        const std::uint32_t object = m_file.Find(storage, "__substg1.0_3701000D");
        // An item's storage is an attached item even where the method is
        // missing or wrong, as Outlook reads it.
        const bool isItem = object != TCompoundFile::kNone && method != 6
                            && m_file.Find(object, kProperties) != TCompoundFile::kNone;
        if (isItem) {
            if (depth + 1 < kMaxDepth) {
                a.message = std::make_unique<TOutlookItem>(ReadItem(object, 24, depth + 1, codePage));
                // Named by what it is about, as the sender's list shows it.
                std::string shown = TrimBlanks(props.String(kPrDisplayName));
                if (shown.empty())
                    shown = a.message->subject;
                if (!shown.empty())
                    a.fileName = shown;
                if (a.fileName.empty())
                    a.fileName = "message";
                a.fileName = MessageFileName(a.fileName);
            } else {
                a.note = "This attached message is nested too deeply to be read.\r\n";
            }
            return a;
        }
        if (method == 6 && object != TCompoundFile::kNone) {
            ReadOleObject(object, a);
            return a;
        }
        if (method >= 2 && method <= 4) {
            a.note = LinkNote(props);
            return a;
        }
        a.data = props.TakeBinary(kPrAttachDataBin);
        if (a.fileName.empty())
            a.fileName = "attachment" + TrimBlanks(props.String(kPrAttachExtension));
        return a;
    }

    // A file packaged as an OLE object keeps its name and bytes in one
    // stream; other objects (a picture, a document part) are only listed.
    void ReadOleObject(std::uint32_t storage, TOutlookAttachment& a)
    {
        const std::uint32_t native = m_file.Find(storage, kOle10Native);
        if (native != TCompoundFile::kNone) {
            const std::string s = m_file.Read(native);
            // Size, a flag word, the label, the source path, then after
            // eight bytes the temporary path, the data's size and the data.
            std::size_t at = 6;
            auto zeroString = [&]() {
                const std::size_t end = s.find('\0', at);
                if (end == std::string::npos) {
                    at = s.size() + 1;
                    return std::string();
                }
                std::string r = s.substr(at, end - at);
                at = end + 1;
                return r;
            };
            const std::string label = zeroString();
            (void)zeroString();
            at += 8;
            (void)zeroString();
            if (at + 4 <= s.size()) {
                const std::uint32_t size = ReadLe32(s, at);
                if (size <= s.size() - at - 4) {
                    a.data = s.substr(at + 4, size);
                    if (!label.empty())
                        a.fileName = CodePageToUtf8(0, label);
                    if (a.fileName.empty())
                        a.fileName = "attachment";
                    return;
                }
            }
        }
        a.note = "This attachment is an object embedded in the message (such as a picture or a part of a "
                 "document); it holds no file that can be saved here.\r\n";
    }

    TCompoundFile m_file;
    std::vector<TNamedKey> m_names;
};

} // namespace

TOutlookItem ReadMsgItem(std::string_view bytes)
{
    TMsgReader reader(bytes);
    const TCompoundFile& file = reader.File();
    if (file.Find(file.Root(), kProperties) == TCompoundFile::kNone) {
        bool any = false;
        for (std::uint32_t c : file.Children(file.Root()))
            any |= file.Name(c).starts_with(kSubstg);
        if (!any)
            throw EOutlookError("compound file that holds no Outlook item");
    }
    TOutlookItem item = reader.ReadItem(file.Root(), 32, 0, 0);
    if (reader.Damaged() && item.damage.empty())
        item.damage = "Part of this file is damaged: what could be read is shown.";
    return item;
}
