#include "OutlookMessage.h"

#include "Codecs.h"
#include "CompoundFile.h"
#include "HeaderLine.h"
#include "MsgFile.h"
#include "TMailMessage2000.h"
#include "Tnef.h"

#include <vector>

namespace {

// A message holding more than this many TNEF streams has the first ones
// unpacked: enough for any real mail, and a bound on the work.
constexpr std::size_t kMaxStreams = 64;

bool IsTnefPart(const TMailPart& part)
{
    const std::string type = part.GetContentType();
    if (type == "application/ms-tnef" || type == "application/vnd.ms-tnef")
        return true;
    // Often sent as application/octet-stream; the name and the content say.
    return IEquals(part.GetFileName(), "winmail.dat");
}

std::string Base64Part(const std::string& headerLines, std::string_view data)
{
    std::string encoded;
    Base64EncodeStream(encoded, data);
    return headerLines + "Content-Transfer-Encoding: base64\r\n\r\n" + encoded;
}

} // namespace

bool IsOutlookFile(std::string_view head) { return TCompoundFile::HasSignature(head) || IsTnef(head); }

bool IsOutlookMessage(std::string_view bytes)
{
    if (IsTnef(bytes))
        return true;
    if (!TCompoundFile::HasSignature(bytes))
        return false;
    try {
        const TCompoundFile file(bytes);
        for (std::uint32_t c : file.Children(file.Root()))
            if (file.Name(c) == "__properties_version1.0" || file.Name(c).starts_with("__substg1.0_"))
                return true;
    } catch (const EMailError&) {
    }
    return false;
}

std::string OutlookFileToMime(std::string_view bytes)
{
    if (IsTnef(bytes))
        return OutlookItemToMime(ReadTnefItem(bytes));
    return OutlookItemToMime(ReadMsgItem(bytes));
}

std::size_t UnpackTnefAttachments(TMailMessage2000& message)
{
    std::vector<TMailPart*> streams;
    std::vector<TMailPart*> stack{&message};
    while (!stack.empty() && streams.size() < kMaxStreams) {
        TMailPart* p = stack.back();
        stack.pop_back();
        if (!p->SubPartList.Empty()) {
            for (std::size_t i = p->SubPartList.Count(); i-- > 0;)
                stack.push_back(p->SubPartList.Items(i));
        } else if (IsTnefPart(*p)) {
            streams.push_back(p);
        }
    }
    if (streams.empty())
        return 0;

    message.ScanParts();
    bool needsBody = !message.TextPart && !message.HtmlPart;
    std::size_t added = 0;
    for (TMailPart* p : streams) {
        p->Decode();
        TOutlookItem item;
        try {
            if (IsTnef(p->Decoded))
                item = ReadTnefItem(p->Decoded);
        } catch (const EMailError&) {
        }
        // The stream's bytes stay in its body: the decoded copy is not kept
        // for every winmail.dat that gave nothing.
        if (item.attachments.empty() && !(needsBody && HasBody(item))) {
            p->ForgetDecoded();
            continue;
        }
        std::vector<std::string> parts;
        std::size_t bodyAt = 0;
        if (needsBody && HasBody(item)) {
            parts.push_back(OutlookBodyToMime(item));
            bodyAt = 1;
            needsBody = false;
        }
        for (const TOutlookAttachment& a : item.attachments)
            parts.push_back(OutlookAttachmentToMime(a));
        added += item.attachments.size();

        if (p == &message) {
            // The whole message is the stream: it becomes a mixed message
            // of the body, the files and the stream itself, under its own
            // header.
            std::string text;
            for (const std::string& line : message.Header)
                if (!IStartsWith(line, "Content-") && !IStartsWith(line, "MIME-Version"))
                    text += line + "\r\n";
            const std::string boundary = "=_corvanta_tnef_=";
            text += "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
            parts.push_back(Base64Part("Content-Type: application/ms-tnef; name=\"winmail.dat\"\r\n"
                                       "Content-Disposition: attachment; filename=\"winmail.dat\"\r\n",
                                       p->Decoded));
            for (const std::string& part : parts)
                text += "--" + boundary + "\r\n" + part + "\r\n";
            text += "--" + boundary + "--\r\n";
            message.ParseText(text, true);
            return added;
        }
        TMailPart* parent = p->ParentPart;
        int at = parent ? parent->SubPartList.IndexOf(p) : -1;
        if (at < 0) {
            p->ForgetDecoded();
            continue;
        }
        for (std::size_t i = 0; i < parts.size(); ++i) {
            TMailPart* q = message.CreatePart();
            q->ParseText(parts[i], true);
            q->ParentPart = parent;
            q->ParentBoundary = p->ParentBoundary;
            // The body before the stream, the files after it.
            const std::size_t place = i < bodyAt ? static_cast<std::size_t>(at++) : static_cast<std::size_t>(at) + 1 + i - bodyAt;
            parent->SubPartList.Insert(place, q);
        }
        p->ForgetDecoded();
    }
    message.NeedsScan = message.NeedsRebuild = message.NeedsSerialize = true;
    return added;
}
