#include "OutlookItem.h"

#include "Codecs.h"
#include "MimeTypes.h"
#include "Rtf.h"
#include "TextUtils.h"
#include "Utf16.h"

#include <algorithm>
#include <bit>
#include <ctime>
#include <functional>
#include <optional>
#include <unordered_set>

namespace {

bool IsBlankUtf8(std::string_view s)
{
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0')
            return false;
    return true;
}

} // namespace

std::string UsableAddress(std::string address)
{
    // An Exchange directory name ("/O=ORG/OU=.../CN=...") is no address a
    // reader can write to.
    if (address.starts_with('/'))
        address.clear();
    return address;
}

namespace {

// The SMTP address of a sender, from the properties that may hold it; none
// for an Exchange directory name.
std::string SmtpAddress(const TMapiProps& p, std::uint16_t smtp, std::uint16_t email)
{
    std::string s = TrimBlanks(p.String(smtp));
    if (s.find('@') != std::string::npos)
        return s;
    std::string e = TrimBlanks(p.String(email));
    if (e.empty())
        return s;
    if (e.starts_with("SMTP:") || e.starts_with("smtp:"))
        e.erase(0, 5);
    return UsableAddress(e);
}

// Whoever last saved or made the item, when the sender is that person: an
// Exchange server often keeps the sender's SMTP address only there.
std::string AuthorAddress(const TMapiProps& p, const std::string& name)
{
    if (name.empty())
        return {};
    for (const auto& [nameId, addressId] : {std::pair{kPrLastModifierName, kPrLastModifierSmtpAddress},
                                             std::pair{kPrCreatorName, kPrCreatorSmtpAddress}})
        if (IEquals(TrimBlanks(p.String(nameId)), name))
            if (std::string a = TrimBlanks(p.String(addressId)); a.find('@') != std::string::npos)
                return a;
    return {};
}

std::string LocalTimeText(std::int64_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!::localtime_r(&t, &tm))
        return {};
    char buf[64];
    const std::size_t n = std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M", &tm);
    return std::string(buf, n);
}

void AddField(TOutlookItem& item, const char* label, std::string value)
{
    value = TrimBlanks(value);
    if (!value.empty())
        item.fields.emplace_back(label, std::move(value));
}

void AddTimeField(TOutlookItem& item, const char* label, std::optional<std::int64_t> t)
{
    if (t)
        AddField(item, label, LocalTimeText(*t));
}

double DoubleOf(const TMapiValue* v)
{
    if (!v || v->type != kPtDouble || v->data.size() < 8)
        return -1;
    return std::bit_cast<double>(ReadLe64(v->data, 0));
}

void ReadClassFields(const TMapiProps& p, TOutlookItem& item)
{
    const std::string cls = AsciiLowerCase(item.messageClass);
    if (cls.starts_with("ipm.appointment") || cls.starts_with("ipm.schedule.meeting")) {
        AddField(item, "Item", cls.starts_with("ipm.appointment") ? "Appointment" : "Meeting");
        AddField(item, "Location", p.NamedString(kPsetidAppointment, 0x8208));
        auto start = p.NamedTime(kPsetidAppointment, 0x820D);
        auto end = p.NamedTime(kPsetidAppointment, 0x820E);
        AddTimeField(item, "Start", start ? start : p.NamedTime(kPsetidCommon, 0x8516));
        AddTimeField(item, "End", end ? end : p.NamedTime(kPsetidCommon, 0x8517));
        AddField(item, "Attendees", p.String(kPrDisplayTo));
    } else if (cls.starts_with("ipm.contact") || cls.starts_with("ipm.distlist")) {
        AddField(item, "Item", cls.starts_with("ipm.contact") ? "Contact" : "Contact group");
        AddField(item, "Name", p.String(kPrDisplayName));
        AddField(item, "Company", p.String(kPrCompanyName));
        AddField(item, "Job title", p.String(kPrTitle));
        AddField(item, "Department", p.String(kPrDepartment));
        AddField(item, "E-mail", p.NamedString(kPsetidAddress, 0x8083));
        AddField(item, "E-mail 2", p.NamedString(kPsetidAddress, 0x8093));
        AddField(item, "Business phone", p.String(kPrBusinessPhone));
        AddField(item, "Home phone", p.String(kPrHomePhone));
        AddField(item, "Mobile phone", p.String(kPrMobilePhone));
        AddField(item, "Business address", p.NamedString(kPsetidAddress, 0x801B));
        AddField(item, "Home address", p.NamedString(kPsetidAddress, 0x801A));
    } else if (cls.starts_with("ipm.task")) {
        AddField(item, "Item", "Task");
        AddTimeField(item, "Start", p.NamedTime(kPsetidTask, 0x8104));
        AddTimeField(item, "Due", p.NamedTime(kPsetidTask, 0x8105));
        static const char* const kStatus[] = {"Not started", "In progress", "Completed", "Waiting on someone else",
                                              "Deferred"};
        if (const auto s = p.NamedInteger(kPsetidTask, 0x8101); s && *s >= 0 && *s < 5)
            AddField(item, "Status", kStatus[*s]);
        if (const double done = DoubleOf(p.FindNamed(kPsetidTask, 0x8102)); done >= 0 && done <= 1)
            AddField(item, "Complete", std::to_string(static_cast<int>(done * 100 + 0.5)) + " %");
    } else if (cls.starts_with("ipm.stickynote")) {
        AddField(item, "Item", "Note");
    } else if (cls.starts_with("ipm.activity")) {
        AddField(item, "Item", "Journal entry");
    }
}

} // namespace

void ReadItemProperties(const TMapiProps& p, TOutlookItem& item)
{
    item.messageClass = p.String(kPrMessageClass);
    item.transportHeaders = p.String(kPrTransportHeaders);
    item.subject = p.String(kPrSubject);
    const std::string repName = TrimBlanks(p.String(kPrSentRepresentingName));
    std::string repAddress = SmtpAddress(p, kPrSentRepresentingSmtpAddress, kPrSentRepresentingEmail);
    const std::string sndName = TrimBlanks(p.String(kPrSenderName));
    std::string sndAddress = SmtpAddress(p, kPrSenderSmtpAddress, kPrSenderEmail);
    if (sndAddress.empty())
        sndAddress = AuthorAddress(p, sndName);
    if (repAddress.empty())
        repAddress = AuthorAddress(p, repName);
    if (!repName.empty() || !repAddress.empty()) {
        item.fromName = repName;
        item.fromAddress = repAddress;
        if (!sndAddress.empty() && !IEquals(sndAddress, repAddress)) {
            item.senderName = sndName;
            item.senderAddress = sndAddress;
        }
    } else {
        item.fromName = sndName;
        item.fromAddress = sndAddress;
    }
    item.date = p.Time(kPrClientSubmitTime);
    if (!item.date)
        item.date = p.Time(kPrDeliveryTime);
    item.displayTo = p.String(kPrDisplayTo);
    item.displayCc = p.String(kPrDisplayCc);
    item.messageId = TrimBlanks(p.String(kPrInternetMessageId));
    item.inReplyTo = TrimBlanks(p.String(kPrInReplyTo));
    if (const auto imp = p.Integer(kPrImportance); imp && *imp >= 0 && *imp <= 2)
        item.importance = static_cast<int>(*imp);

    // The body as the sender wrote it: HTML, else the HTML inside the RTF
    // body, else the text, else what the RTF reads as.
    if (const TMapiValue* h = p.Find(kPrHtml)) {
        if (h->type == kPtBinary) {
            int cp = static_cast<int>(p.Integer(kPrInternetCpid).value_or(0));
            if (cp <= 0)
                cp = IsUtf8(h->data) ? 65001 : p.CodePage;
            item.html = CodePageToUtf8(cp, h->data);
        } else {
            item.html = p.ValueString(*h);
        }
        if (IsBlankUtf8(item.html))
            item.html.clear();
    }
    // The RTF is made whole only when its HTML or its text is needed.
    const TMapiValue* rtf = p.Find(kPrRtfCompressed);
    if (rtf && rtf->type != kPtBinary)
        rtf = nullptr;
    std::optional<std::string> whole; // decompressed once, when first needed
    auto rtfText = [&]() -> const std::string& {
        if (!whole)
            whole = DecompressRtf(rtf->data);
        return *whole;
    };
    if (item.html.empty() && rtf && RtfHasHtml(DecompressRtf(rtf->data, 1024))) {
        item.html = RtfToHtml(rtfText());
        if (IsBlankUtf8(item.html))
            item.html.clear();
    }
    item.text = CanonicalLineEnds(p.String(kPrBody));
    if (IsBlankUtf8(item.text))
        item.text.clear();
    if (item.text.empty() && item.html.empty() && rtf)
        item.text = RtfToText(rtfText());
    if (item.subject.empty() && AsciiLowerCase(item.messageClass).starts_with("ipm.contact"))
        item.subject = p.String(kPrDisplayName);
    ReadClassFields(p, item);
}

void ReadAttachmentProperties(const TMapiProps& p, TOutlookAttachment& a)
{
    a.fileName = TrimBlanks(p.String(kPrAttachLongFilename));
    if (a.fileName.empty())
        a.fileName = TrimBlanks(p.String(kPrAttachFilename));
    if (a.fileName.empty())
        a.fileName = TrimBlanks(p.String(kPrDisplayName));
    a.mimeType = AsciiLowerCase(TrimBlanks(p.String(kPrAttachMimeTag)));
    a.contentId = TrimBlanks(p.String(kPrAttachContentId));
    if (a.contentId.size() >= 2 && a.contentId.front() == '<' && a.contentId.back() == '>')
        a.contentId = a.contentId.substr(1, a.contentId.size() - 2);
    a.contentLocation = TrimBlanks(p.String(kPrAttachContentLocation));
    a.hidden = p.Integer(kPrAttachmentHidden).value_or(0) != 0 || (p.Integer(kPrAttachFlags).value_or(0) & 4) != 0;
}

void SettleAttachmentNames(TOutlookItem& item)
{
    for (TOutlookAttachment& a : item.attachments) {
        std::string name;
        for (char c : a.fileName)
            if (static_cast<unsigned char>(c) >= 32 && c != 127)
                name += c;
        a.fileName = TrimBlanks(name);
        if (a.fileName.empty() || a.fileName == ".eml")
            a.fileName = a.message ? "message.eml" : "attachment";
    }
}

std::string MessageFileName(std::string name)
{
    const auto endsWith = [&](std::string_view ext) {
        return name.size() > ext.size() && IEquals(std::string_view(name).substr(name.size() - ext.size()), ext);
    };
    if (endsWith(".msg"))
        name.erase(name.size() - 4);
    if (!endsWith(".eml"))
        name += ".eml";
    return name;
}

bool ReadRecipientProperties(const TMapiProps& p, TOutlookRecipient& r)
{
    r.name = TrimBlanks(p.String(kPrDisplayName));
    r.address = TrimBlanks(p.String(kPrSmtpAddress));
    if (r.address.find('@') == std::string::npos)
        r.address = UsableAddress(TrimBlanks(p.String(kPrEmailAddress)));
    r.type = static_cast<int>(p.Integer(kPrRecipientType).value_or(1) & 0x0F);
    if (r.type < 1 || r.type > 3)
        r.type = 1;
    return !r.name.empty() || !r.address.empty();
}

int ItemCodePage(const TMapiProps& p, int inherited)
{
    for (std::uint16_t id : {kPrMessageCodepage, kPrInternetCpid})
        if (const auto cp = p.Integer(id); cp && *cp > 0 && *cp < 65536)
            return static_cast<int>(*cp);
    return inherited;
}

std::string LinkNote(const TMapiProps& p)
{
    std::string path = p.String(kPrAttachLongPathname);
    if (path.empty())
        path = p.String(kPrAttachPathname);
    std::string note = "This attachment is a link to a file that is not in the message";
    note += path.empty() ? std::string(".\r\n") : ":\r\n\r\n" + path + "\r\n";
    return note;
}

std::string MailDateText(std::int64_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm))
        return {};
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[tm.tm_wday % 7], tm.tm_mday,
                  kMonths[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

namespace {

bool NeedsEncoding(std::string_view s, bool inQuotes)
{
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c >= 127 || (inQuotes && (c == '"' || c == '\\')))
            return true;
    }
    return s.find("=?") != std::string_view::npos;
}

// UTF-8 text as encoded words of at most 75 characters, cut between whole
// characters.
std::string EncodedWords(std::string_view utf8)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < utf8.size()) {
        std::size_t end = std::min(utf8.size(), pos + 45);
        while (end < utf8.size() && end > pos + 1 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            --end;
        std::string b64;
        Base64EncodeStream(b64, utf8.substr(pos, end - pos));
        while (!b64.empty() && (b64.back() == '\n' || b64.back() == '\r'))
            b64.pop_back();
        if (!out.empty())
            out += ' ';
        out += "=?utf-8?B?" + b64 + "?=";
        pos = end;
    }
    return out;
}

// Header text: one line, control characters made spaces.
std::string OneLine(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    return TrimBlanks(out);
}

std::string HeaderText(std::string_view utf8)
{
    const std::string s = OneLine(utf8);
    return NeedsEncoding(s, false) ? EncodedWords(s) : s;
}

std::string QuotedParam(std::string_view utf8)
{
    const std::string s = OneLine(utf8);
    return "\"" + (NeedsEncoding(s, true) ? EncodedWords(s) : s) + "\"";
}

std::string Mailbox(std::string_view name, std::string_view address)
{
    const std::string n = OneLine(name);
    std::string a = OneLine(address);
    for (char& c : a)
        if (c == '<' || c == '>' || c == ',' || c == ';' || c == '"')
            c = ' ';
    a = TrimBlanks(a);
    for (char& c : a)
        if (c == ' ')
            c = '_';
    if (n.empty() || n == a)
        return a.empty() ? std::string() : "<" + a + ">";
    // A name without an address keeps an empty one, or the name would be
    // read as the address.
    const std::string shown = NeedsEncoding(n, true) ? EncodedWords(n) : "\"" + n + "\"";
    return shown + " <" + a + ">";
}

std::string MailboxList(const TOutlookItem& item, int type)
{
    std::string list;
    for (const TOutlookRecipient& r : item.recipients) {
        if (r.type != type)
            continue;
        const std::string box = Mailbox(r.name, r.address);
        if (box.empty())
            continue;
        if (!list.empty())
            list += ",\r\n ";
        list += box;
    }
    if (list.empty()) {
        // Names alone, as the item shows them, when it lists no recipients.
        const std::string& shown = type == 1 ? item.displayTo : type == 2 ? item.displayCc : std::string();
        std::size_t pos = 0;
        while (pos <= shown.size() && !shown.empty()) {
            std::size_t end = shown.find(';', pos);
            if (end == std::string::npos)
                end = shown.size();
            const std::string name = TrimBlanks(shown.substr(pos, end - pos));
            if (!name.empty()) {
                if (!list.empty())
                    list += ",\r\n ";
                list += Mailbox(name, "");
            }
            pos = end + 1;
        }
    }
    return list;
}

// Which fields the received header fills (with something after the colon,
// on the field's first line or a folded one).
struct THeaderFields {
    bool from = false, to = false, cc = false, bcc = false, subject = false, date = false;
};

// The received header's fields that still hold: the ones describing the
// original MIME structure go, since the parts are written anew.
std::string TransportFields(std::string_view headers, THeaderFields& has)
{
    const std::string text = CanonicalLineEnds(headers);
    std::string out;
    std::string name; // of the field being read; empty: one left out
    auto mark = [&has](const std::string& field, std::string_view value) {
        if (TrimBlanks(value).empty())
            return;
        has.from |= field == "from";
        has.to |= field == "to";
        has.cc |= field == "cc";
        has.bcc |= field == "bcc";
        has.date |= field == "date";
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = std::string_view(text).substr(pos, end - pos);
        pos = end + 2;
        if (line.empty()) {
            if (!out.empty())
                break; // the header ends here
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') {
            if (!name.empty()) {
                out.append(line).append("\r\n");
                mark(name, line);
            }
            continue;
        }
        const std::size_t colon = line.find(':');
        name.clear();
        if (colon == std::string_view::npos || colon == 0)
            continue;
        std::string field = AsciiLowerCase(TrimBlanks(line.substr(0, colon)));
        if (field.starts_with("content-") || field == "mime-version")
            continue;
        name = std::move(field);
        has.subject |= name == "subject";
        mark(name, line.substr(colon + 1));
        out.append(line).append("\r\n");
    }
    return out;
}

// A part written straight into the message being made: large files are
// copied once, as their base64 lines.
using TPartWriter = std::function<void(std::string&)>;

struct TWriter {
    int depth = 0;
    int counter = 0;

    std::string Boundary() { return "=_corvanta_" + std::to_string(depth) + "_" + std::to_string(counter++) + "_="; }

    TPartWriter Multipart(const char* type, std::vector<TPartWriter> parts)
    {
        if (parts.size() == 1)
            return std::move(parts[0]);
        return [type, b = Boundary(), parts = std::move(parts)](std::string& out) {
            out += std::string("Content-Type: ") + type + "; boundary=\"" + b + "\"\r\n\r\n";
            for (const TPartWriter& p : parts) {
                out += "--" + b + "\r\n";
                p(out);
                out += "\r\n";
            }
            out += "--" + b + "--\r\n";
        };
    }
};

void AppendBase64(std::string_view data, std::string& out)
{
    // A whole number of 57-byte lines at a time, through one scratch buffer.
    constexpr std::size_t kPiece = 57 * 4096;
    out.reserve(out.size() + Base64EncodedSize(data.size()));
    std::string piece;
    for (std::size_t at = 0; at < data.size(); at += kPiece) {
        Base64EncodeStream(piece, data.substr(at, kPiece));
        out += piece;
    }
}

// Quoted-printable text ending where the text ends: the encoder ends its
// last line, which would add a line break to a text without one.
void AppendQuotedPrintable(std::string_view text, std::string& out)
{
    QPEncodeBodyAppend(text, out);
    if (!text.ends_with("\r\n") && out.ends_with("\r\n") && !out.ends_with("=\r\n"))
        out.resize(out.size() - 2);
}

void AppendTextLeaf(const char* type, std::string_view utf8, std::string& out)
{
    out += std::string("Content-Type: ") + type
           + "; charset=\"utf-8\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
    AppendQuotedPrintable(utf8, out);
}

TPartWriter TextLeaf(const char* type, std::string utf8)
{
    return [type, text = std::move(utf8)](std::string& out) { AppendTextLeaf(type, text, out); };
}

std::string EscapedHtml(std::string_view s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\r': break;
        case '\n': out += "<br>"; break;
        default: out += c;
        }
    }
    return out;
}

// What stands above the body: the item's fields, and a note of damage.
std::string PreambleText(const TOutlookItem& item)
{
    std::string out;
    if (!item.damage.empty())
        out += "[" + item.damage + "]\r\n\r\n";
    for (const auto& [label, value] : item.fields)
        out += label + ": " + CanonicalLineEnds(value) + "\r\n";
    if (!item.fields.empty())
        out += "\r\n";
    return out;
}

std::string PreambleHtml(const TOutlookItem& item)
{
    std::string out;
    if (!item.damage.empty())
        out += "<p><b>" + EscapedHtml(item.damage) + "</b></p>\r\n";
    if (!item.fields.empty()) {
        out += "<table>\r\n";
        for (const auto& [label, value] : item.fields)
            out += "<tr><th align=\"left\" valign=\"top\">" + EscapedHtml(label) + ":</th><td>" + EscapedHtml(value)
                   + "</td></tr>\r\n";
        out += "</table><hr>\r\n";
    }
    return out;
}

std::string HtmlWithPreamble(const TOutlookItem& item)
{
    const std::string pre = PreambleHtml(item);
    if (pre.empty())
        return item.html;
    // After the body's opening tag, or at the start when it has none.
    const std::string lower = AsciiLowerCase(item.html.substr(0, std::min<std::size_t>(item.html.size(), 1 << 16)));
    std::size_t at = lower.find("<body");
    if (at != std::string::npos)
        at = lower.find('>', at);
    if (at == std::string::npos)
        return pre + item.html;
    std::string html = item.html;
    html.insert(at + 1, pre);
    return html;
}

std::string AttachmentName(const TOutlookAttachment& a)
{
    if (!a.note.empty())
        return (a.fileName.empty() ? std::string("attachment") : a.fileName) + " (not in the message).txt";
    return a.fileName;
}

void AppendAttachment(const TOutlookAttachment& a, int depth, bool inlined, const std::string& location, std::string& out);

// The attribute values of an HTML text (what follows "=", quoted or not),
// read once, so that each attachment is looked up and the work stays linear
// in the HTML and the number of attachments.
std::unordered_set<std::string_view> AttributeValues(std::string_view html)
{
    std::unordered_set<std::string_view> values;
    // Each search goes on after the value just read: from every "=" of a
    // run of them (or inside a quote never closed) the rest of the text
    // would be read again.
    for (std::size_t at = html.find('='); at != std::string_view::npos;) {
        std::size_t start = at + 1;
        std::size_t end;
        if (start < html.size() && (html[start] == '"' || html[start] == '\'')) {
            end = html.find(html[start], start + 1);
            ++start;
        } else {
            end = html.find_first_of(" \t\r\n>", start);
        }
        if (end == std::string_view::npos)
            end = html.size();
        if (end > start)
            values.insert(html.substr(start, end - start));
        at = html.find('=', std::max(at + 1, end));
    }
    return values;
}
// Room for the whole message at once: the files' base64 and the bodies.
std::size_t SizeEstimate(const TOutlookItem& item)
{
    std::size_t n = item.transportHeaders.size() + 3 * (item.text.size() + item.html.size()) / 2 + 4096;
    for (const TOutlookAttachment& a : item.attachments)
        n += Base64EncodedSize(a.data.size()) + a.note.size() * 2 + 1024 + (a.message ? SizeEstimate(*a.message) : 0);
    return n + item.mimeEntity.size() + item.mimeEntity.size() / 32;
}

void AppendItem(const TOutlookItem& item, int depth, std::string& out)
{
    TWriter w;
    w.depth = depth;
    THeaderFields has;
    if (!item.transportHeaders.empty())
        out += TransportFields(item.transportHeaders, has);
    if (!has.date && item.date)
        out += "Date: " + MailDateText(*item.date) + "\r\n";
    if (!has.from) {
        if (const std::string from = Mailbox(item.fromName, item.fromAddress); !from.empty())
            out += "From: " + from + "\r\n";
        if (const std::string sender = Mailbox(item.senderName, item.senderAddress); !sender.empty())
            out += "Sender: " + sender + "\r\n";
    }
    // Recipients the header does not name come from the recipient table.
    if (!has.to && !has.cc) {
        if (const std::string to = MailboxList(item, 1); !to.empty())
            out += "To: " + to + "\r\n";
        if (const std::string cc = MailboxList(item, 2); !cc.empty())
            out += "Cc: " + cc + "\r\n";
        if (const std::string bcc = MailboxList(item, 3); !bcc.empty() && !has.bcc)
            out += "Bcc: " + bcc + "\r\n";
    }
    if (!has.subject)
        out += "Subject: " + HeaderText(item.subject) + "\r\n";
    if (item.transportHeaders.empty()) {
        if (!item.messageId.empty())
            out += "Message-ID: " + OneLine(item.messageId) + "\r\n";
        if (!item.inReplyTo.empty())
            out += "In-Reply-To: " + OneLine(item.inReplyTo) + "\r\n";
        if (item.importance != 1)
            out += std::string("Importance: ") + (item.importance == 0 ? "low" : "high") + "\r\n";
    }
    out += "MIME-Version: 1.0\r\n";
    if (!item.mimeEntity.empty()) {
        // Byte for byte as signed; only lone line ends are made CR LF.
        out += CanonicalLineEnds(item.mimeEntity);
        return;
    }

    std::vector<TPartWriter> bodies;
    const std::string pre = PreambleText(item);
    if (!item.text.empty() || item.html.empty())
        bodies.push_back(TextLeaf("text/plain", pre + item.text));
    if (!item.html.empty())
        bodies.push_back(TextLeaf("text/html", HtmlWithPreamble(item)));
    TPartWriter body = w.Multipart("multipart/alternative", std::move(bodies));

    // Pictures the HTML shows go with it; everything else is a file.
    std::vector<TPartWriter> related{std::move(body)};
    std::vector<TPartWriter> mixed;
    const auto values = item.attachments.empty() ? std::unordered_set<std::string_view>() : AttributeValues(item.html);
    for (const TOutlookAttachment& a : item.attachments) {
        bool inlined = false;
        std::string location = a.contentLocation;
        if (!item.html.empty() && !a.message && a.note.empty()) {
            // Outlook's HTML names its pictures by content id, or by the
            // file's own name, which the page finds as a location.
            const bool byId = !a.contentId.empty() && values.contains("cid:" + a.contentId);
            const bool byName = !a.fileName.empty() && location.empty() && values.contains(a.fileName);
            if (byName)
                location = a.fileName;
            inlined = byId || byName || (a.hidden && !a.contentId.empty());
        }
        (inlined ? related : mixed).push_back([&a, depth, inlined, location](std::string& to) {
            AppendAttachment(a, depth, inlined, location, to);
        });
    }
    body = w.Multipart("multipart/related", std::move(related));
    mixed.insert(mixed.begin(), std::move(body));
    w.Multipart("multipart/mixed", std::move(mixed))(out);
}

void AppendAttachment(const TOutlookAttachment& a, int depth, bool inlined, const std::string& location, std::string& out)
{
    const std::string name = AttachmentName(a);
    if (a.message) {
        out += "Content-Type: message/rfc822; name=" + QuotedParam(name) + "\r\n"
              + "Content-Disposition: attachment; filename=" + QuotedParam(name) + "\r\n\r\n";
        AppendItem(*a.message, depth + 1, out);
        return;
    }
    if (!a.note.empty()) {
        out += "Content-Type: text/plain; charset=\"utf-8\"; name=" + QuotedParam(name) + "\r\n"
              + "Content-Disposition: attachment; filename=" + QuotedParam(name) + "\r\n"
              + "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
        AppendQuotedPrintable(a.note, out);
        return;
    }
    std::string type = a.mimeType;
    if (type.find('/') == std::string::npos || NeedsEncoding(type, true) || type.find(';') != std::string::npos)
        type = name.empty() ? std::string("application/octet-stream") : ContentTypeForFile(name);
    if (type.empty())
        type = "application/octet-stream";
    out += "Content-Type: " + type;
    if (!name.empty())
        out += "; name=" + QuotedParam(name);
    out += "\r\nContent-Disposition: ";
    out += inlined ? "inline" : "attachment";
    if (!name.empty())
        out += "; filename=" + QuotedParam(name);
    out += "\r\n";
    if (!a.contentId.empty())
        out += "Content-ID: <" + OneLine(a.contentId) + ">\r\n";
    if (!location.empty() && !NeedsEncoding(location, true))
        out += "Content-Location: " + OneLine(location) + "\r\n";
    out += "Content-Transfer-Encoding: base64\r\n\r\n";
    AppendBase64(a.data, out);
}

} // namespace

bool HasBody(const TOutlookItem& item) { return !item.text.empty() || !item.html.empty(); }

std::string OutlookItemToMime(const TOutlookItem& item)
{
    std::string out;
    out.reserve(SizeEstimate(item));
    AppendItem(item, 0, out);
    return out;
}

std::string OutlookAttachmentToMime(const TOutlookAttachment& attachment)
{
    std::string out;
    AppendAttachment(attachment, 1, false, attachment.contentLocation, out);
    return out;
}

std::string OutlookBodyToMime(const TOutlookItem& item)
{
    std::string out;
    if (!item.html.empty())
        AppendTextLeaf("text/html", HtmlWithPreamble(item), out);
    else
        AppendTextLeaf("text/plain", PreambleText(item) + item.text, out);
    return out;
}
