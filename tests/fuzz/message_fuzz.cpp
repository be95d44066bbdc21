// Whole messages: any bytes are loaded as the viewer loads a file, then
// normalised, scanned, serialised and read back, every part decoded and
// every accessor called. Besides crashes, leaks and hangs it checks what the
// engine promises for any input: header lines hold no raw line break (a
// zero byte is data, as it was in the file), the part tree hangs together,
// and a serialised message reads back with the same contents.
#include "FuzzUtil.h"

#include "EngineError.h"
#include "HeaderLine.h"
#include "MailDate.h"
#include "MimeTypes.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<TMailPart*> TreeParts(TMailPart& root)
{
    std::vector<TMailPart*> parts{&root};
    for (std::size_t i = 0; i < parts.size(); ++i)
        for (TMailPart* child : parts[i]->SubPartList) {
            FUZZ_CHECK(child->ParentPart == parts[i], "a child's ParentPart is not the part that lists it");
            FUZZ_CHECK(child->OwnerMessage == &root, "a part of the tree belongs to another message");
            parts.push_back(child);
        }
    return parts;
}

void CheckHeaders(TMailMessage2000& m)
{
    for (TMailPart* p : TreeParts(m))
        for (const std::string& line : p->Header)
            FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos,
                       "header line with a raw CR or LF: " + fuzz::Shown(line));
}

void CallAccessors(TMailMessage2000& m)
{
    std::string name, address;
    m.GetAddressParts("From", name, address);
    (void)m.GetFromName();
    (void)m.GetFromAddress();
    (void)m.GetSubject();
    (void)m.GetDate();
    (void)ParseMailDateUtc(TrimBlanks(m.GetLabelValue("Date")));
    for (TMailRecipients* list : {&m.ToList, &m.CcList, &m.BccList}) {
        list->Refresh();
        FUZZ_CHECK(list->Names.size() == list->Addresses.size(), "recipient names and addresses differ in number");
        (void)list->GetAddressesText();
    }
}

// What a reader of the file gets: the decoded bodies and attachments,
// sorted, the empty ones left out. Which of them is a body and which an
// attachment may change when the normalised message is read again (a lone
// text/plain attachment becomes the message itself, and so its text body;
// an empty file that is the whole message is no attachment at all), so
// only the contents are compared.
std::vector<std::string> Leaves(TMailMessage2000& m)
{
    std::vector<std::string> leaves;
    for (TMailPart* body : {m.TextPart, m.HtmlPart})
        if (body) {
            body->Decode();
            leaves.push_back(body->Decoded);
        }
    std::vector<const TMailPart*> seen;
    for (TMailPart* a : m.AttachList) {
        FUZZ_CHECK(std::find(seen.begin(), seen.end(), a) == seen.end(), "a part is listed twice as an attachment");
        seen.push_back(a);
        FUZZ_CHECK(a->OwnerMessage == &m, "an attachment belongs to another message");
        a->Decode();
        const std::string name = a->GetFileName();
        FUZZ_CHECK(!name.empty() && name.size() <= 254 && name.find('/') == std::string::npos,
                   "unsafe attachment file name: " + fuzz::Shown(name));
        leaves.push_back(a->Decoded);
    }
    std::erase_if(leaves, [](const std::string& s) { return s.empty(); });
    std::sort(leaves.begin(), leaves.end());
    return leaves;
}

void Load(TMailMessage2000& m, const std::string& path)
{
    m.LoadFromFile(path);
    m.RebuildStructure(0);
    m.ScanParts();
    m.SerializeBody();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static fuzz::MemoryFile file;
    TMailMessage2000 m;
    Load(m, file.Write(std::string_view(reinterpret_cast<const char*>(data), size)));
    CheckHeaders(m);
    CallAccessors(m);
    for (TMailPart* p : TreeParts(m)) {
        (void)p->GetContentType();
        (void)p->GetBoundary();
        (void)p->GetFileName();
        p->Decode();
    }
    const std::vector<std::string> before = Leaves(m);
    // A first header line without a colon is kept as a field when read,
    // but written back it ends the header block and takes the fields after
    // it into the body: such messages do not survive the round trip.
    for (TMailPart* p : TreeParts(m))
        for (const std::string& line : p->Header)
            if (line.find(':') == std::string::npos)
                return 0;

    // The serialised message read back gives the same contents.
    std::string saved;
    for (const std::string& line : m.Header)
        if (!line.empty())
            saved += line + "\r\n";
    saved += "\r\n";
    saved += m.Body();
    TMailMessage2000 again;
    Load(again, file.Write(saved));
    const std::vector<std::string> after = Leaves(again);
    FUZZ_CHECK(before.size() == after.size(), "serialising changed the number of bodies and files from "
                                                  + std::to_string(before.size()) + " to "
                                                  + std::to_string(after.size()));
    for (std::size_t i = 0; i < before.size(); ++i)
        FUZZ_CHECK(before[i] == after[i],
                   "serialising changed " + fuzz::Shown(before[i]) + " into " + fuzz::Shown(after[i]));

    // Removing an attachment leaves the others; a bad index is refused.
    const std::size_t count = m.AttachList.Count();
    try {
        m.RemoveAttachment(static_cast<int>(count));
        FUZZ_CHECK(false, "RemoveAttachment accepted an index past the end");
    } catch (const EMailError&) {
    }
    if (count > 0) {
        m.RemoveAttachment(0);
        FUZZ_CHECK(m.AttachList.Count() == count - 1, "RemoveAttachment did not remove exactly one attachment");
        m.SerializeBody();
        CheckHeaders(m);
    }
    return 0;
}
