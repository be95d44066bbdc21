// Whole messages: any bytes are loaded as the viewer loads a file, then
// normalised, scanned, saved and read back, every part decoded and every
// accessor called. Besides crashes, leaks and hangs it checks what the
// engine promises for any input: header lines hold no raw line break (a
// zero byte is data, as it was in the file), the part tree hangs together,
// and a saved message reads back as the same message: the same decoded
// bytes, every attachment under the same name, and the same header text
// (subject, sender, recipients, date); saved once more, it stays so.
#include "FuzzUtil.h"

#include "EngineError.h"
#include "HeaderLine.h"
#include "MailDate.h"
#include "MimeTypes.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <tuple>
#include <vector>

#include <unistd.h>

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

// What a reader sees of a message: its header text, its bodies and every
// attachment with its name, all decoded. Whether a text is a body or an
// attachment may change when the normalised message is read again (a lone
// text/plain attachment becomes the message itself, and so its text
// body; an empty file that is the whole message is no attachment at all),
// so the contents are compared as one sorted list, and the names of the
// attachments that stay attachments.
struct Seen {
    std::vector<std::string> header;
    std::vector<std::string> contents;
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
    bool operator==(const Seen&) const = default;
};

Seen What(TMailMessage2000& m)
{
    Seen s;
    std::string name, address;
    m.GetAddressParts("From", name, address);
    s.header = {m.GetSubject(), name, address, TrimBlanks(m.GetLabelValue("Date"))};
    const TMailDateParts date = ParseMailDateUtc(TrimBlanks(m.GetLabelValue("Date")));
    s.header.push_back(std::to_string(static_cast<int>(date.kind)) + " " + std::to_string(date.utc));
    for (TMailRecipients* list : {&m.ToList, &m.CcList, &m.BccList}) {
        list->Refresh();
        for (std::size_t i = 0; i < list->Addresses.size(); ++i)
            s.header.push_back(list->FieldName + " " + std::string(list->Names[i]) + " <"
                               + std::string(list->Addresses[i]) + ">");
    }
    s.contents = Leaves(m);
    for (TMailPart* a : m.AttachList) {
        a->Decode();
        if (!a->Decoded.empty())
            s.files.emplace_back(a->GetFileName(), a->Decoded);
    }
    std::sort(s.files.begin(), s.files.end());
    return s;
}

std::string Describe(const Seen& s)
{
    std::string out = "header:";
    for (const std::string& h : s.header)
        out += " [" + fuzz::Shown(h, 80) + "]";
    out += "\nfiles:";
    for (const auto& [name, bytes] : s.files)
        out += " [" + fuzz::Shown(name, 80) + " = " + fuzz::Shown(bytes, 40) + "]";
    out += "\ncontents:";
    for (const std::string& c : s.contents)
        out += " [" + fuzz::Shown(c, 40) + "]";
    return out;
}


// Saves the message as the engine saves a file and loads it again.
void SaveAndLoad(TMailMessage2000& m, TMailMessage2000& again)
{
    m.SerializeBody();
    const std::string path = fuzz::PrivateFolder() + "/m.eml";
    m.SaveToFile(path, true);
    again.LoadFromFile(path);
    ::unlink(path.c_str());
    again.RebuildStructure(0);
    again.ScanParts();
    again.SerializeBody();
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
    // Saved and read again, the same message; saved once more, the same.
    const Seen first = What(m);
    TMailMessage2000 again;
    SaveAndLoad(m, again);
    const Seen second = What(again);
    FUZZ_CHECK(first.header == second.header && first.contents == second.contents,
               "saving changed what a reader sees:\n" + Describe(first) + "\ninto\n" + Describe(second));
    // An attachment may become the body it is (above), under no other name.
    std::vector<std::pair<std::string, std::string>> gone;
    std::set_difference(first.files.begin(), first.files.end(), second.files.begin(), second.files.end(),
                        std::back_inserter(gone));
    const TMailPart* bodies[] = {again.TextPart, again.HtmlPart};
    const bool onlyBecameBodies =
        first.files.size() == second.files.size() + gone.size()
        && std::all_of(gone.begin(), gone.end(), [&bodies](const auto& file) {
               return std::any_of(std::begin(bodies), std::end(bodies),
                                  [&file](const TMailPart* body) { return body && body->Decoded == file.second; });
           });
    FUZZ_CHECK(onlyBecameBodies, "saving changed the attachments:\n" + Describe(first) + "\ninto\n" + Describe(second));
    TMailMessage2000 third;
    SaveAndLoad(again, third);
    FUZZ_CHECK(What(third) == second, "saving again changed what a reader sees:\n" + Describe(second) + "\ninto\n"
                                          + Describe(What(third)));

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
