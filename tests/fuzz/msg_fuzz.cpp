// Outlook .msg files: any bytes are read as the viewer reads a .msg (the
// compound file, the item's properties, its recipients, attachments and
// attached items, the RTF body), written as an Internet message and parsed.
// Besides crashes, leaks and hangs it checks that every attachment the item
// holds is in the parsed message, under a safe name, with its bytes.
#include "FuzzUtil.h"

#include "CompoundFile.h"
#include "EngineError.h"
#include "MsgFile.h"
#include "OutlookItem.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <vector>

namespace {

void Check(const TOutlookItem& item)
{
    std::string mime = OutlookItemToMime(item);
    TMailMessage2000 m;
    m.ParseText(mime, true);
    m.RebuildStructure(0);
    m.ScanParts();
    FUZZ_CHECK(m.AttachList.Count() == item.attachments.size(),
               "the item has " + std::to_string(item.attachments.size()) + " attachments, the message "
                   + std::to_string(m.AttachList.Count()));
    // The same bytes, as a multiset: each file's data, each note's text.
    std::vector<std::string> held, found;
    for (const TOutlookAttachment& a : item.attachments)
        if (!a.message)
            held.push_back(a.note.empty() ? a.data : a.note);
    for (TMailPart* p : m.AttachList) {
        const std::string name = p->GetFileName();
        FUZZ_CHECK(!name.empty() && name.size() <= 254 && name.find('/') == std::string::npos,
                   "unsafe attachment file name: " + fuzz::Shown(name));
        p->Decode();
        if (p->GetContentType() != "message/rfc822")
            found.push_back(p->Decoded);
    }
    std::sort(held.begin(), held.end());
    std::sort(found.begin(), found.end());
    FUZZ_CHECK(held == found, "an attachment's bytes changed on the way into the message");
    for (TMailPart* body : {m.TextPart, m.HtmlPart})
        if (body)
            body->Decode();
    (void)m.GetSubject();
    (void)m.GetFromAddress();
    m.ToList.Refresh();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The signature is given, so every input reaches the compound file.
    std::string bytes("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (size >= 8 && std::string_view(reinterpret_cast<const char*>(data), 8) == bytes)
        bytes.clear();
    bytes.append(reinterpret_cast<const char*>(data), size);
    TOutlookItem item;
    try {
        item = ReadMsgItem(bytes);
    } catch (const EMailError&) {
        return 0;
    }
    Check(item);
    return 0;
}
