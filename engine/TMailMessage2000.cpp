#include "TMailMessage2000.h"

#include "EngineError.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "MimeTypes.h"

#include <algorithm>

namespace {

constexpr const char* kMailer = "Corvanta v.3.0 by https://corvanta.example/";

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

} // namespace

TMailMessage2000::TMailMessage2000() : TMailPart(this) {}

TMailMessage2000::~TMailMessage2000()
{
    // The tree first; the lists refer into it.
    m_parts.clear();
}

TMailPart* TMailMessage2000::CreatePart()
{
    std::unique_ptr<TMailPart> part(new TMailPart(this)); // the constructor is for the message only
    part->m_slot = m_parts.size();
    TMailPart* raw = part.get();
    m_parts.push_back(std::move(part));
    return raw;
}

void TMailMessage2000::ForgetPart(TMailPart* part)
{
    if (!AttachList.Empty())
        while (AttachList.Remove(part)) {
        }
    for (TMailPart** ref : {&TextPart, &HtmlPart, &MixedPart, &RelatedPart, &AlternativePart, &CurrentContainer})
        if (*ref == part)
            *ref = nullptr;
}

void TMailMessage2000::FreePart(TMailPart* part)
{
    auto owned = [this](const TMailPart* p) {
        return p && p != this && p->OwnerMessage == this && p->m_slot < m_parts.size()
               && m_parts[p->m_slot].get() == p;
    };
    if (!owned(part))
        return;
    part->Detach();
    // Collect the subtree without recursion: trees may be deep.
    part->m_doomed = true;
    std::vector<TMailPart*> doomed{part};
    for (std::size_t i = 0; i < doomed.size(); ++i)
        for (TMailPart* child : doomed[i]->SubPartList)
            if (owned(child) && !child->m_doomed) {
                child->m_doomed = true; // a part listed twice is freed once
                doomed.push_back(child);
            }
    for (TMailPart* p : doomed) {
        ForgetPart(p);
        const std::size_t slot = p->m_slot;
        if (slot + 1 != m_parts.size()) {
            std::swap(m_parts[slot], m_parts.back());
            m_parts[slot]->m_slot = slot;
        }
        m_parts.pop_back();
    }
}

// ---- accessors --------------------------------------------------------------

void TMailMessage2000::GetAddressParts(std::string_view field, std::string& name, std::string& address) const
{
    const std::string value = TrimBlanks(GetLabelValue(field));
    enum { Undecided, InName, InAddress } state = Undecided;
    bool inside = false;
    char closing = '"';
    std::string gathered;
    name.clear();
    address.clear();
    for (char c : value) {
        if ((!inside && (c == '"' || c == '(')) || (inside && c == closing)) {
            if (!inside) {
                closing = c == '"' ? '"' : ')';
                if (state == Undecided)
                    address = gathered;
                state = InName;
            } else {
                state = InAddress;
            }
            inside = !inside;
            continue;
        }
        if (!inside && c == '<') {
            if (state == Undecided)
                name = gathered;
            state = InAddress;
            continue;
        }
        if (!inside && c == '>') {
            state = InName;
            continue;
        }
        (state == InAddress ? address : state == InName ? name : gathered) += c;
    }
    if (state == Undecided)
        address = gathered;
    name = DecodeHeaderWords(TrimBlanks(name));
    address = TrimBlanks(address);
}

std::string TMailMessage2000::GetFromName() const
{
    std::string name, address;
    GetAddressParts("From", name, address);
    return name;
}

std::string TMailMessage2000::GetFromAddress() const
{
    std::string name, address;
    GetAddressParts("From", name, address);
    return address;
}

std::string TMailMessage2000::GetSubject() const { return DecodeHeaderWords(GetLabelValue("Subject")); }

TDateTime TMailMessage2000::GetDate() const
{
    const std::string value = TrimBlanks(GetLabelValue("Date"));
    return value.empty() ? 0.0 : ParseMailDate(value);
}

std::size_t TMailMessage2000::HeaderTextLength() const
{
    std::size_t n = 0;
    for (const auto& line : Header)
        n += line.size() + 2;
    return n;
}

// ---- scan and rebuild ---------------------------------------------------------

bool TMailMessage2000::TakeBody(TMailPart* part, const std::string& type)
{
    // A part its sender marked as an attachment is never the body: the
    // rebuild marks every attachment so, and a text file attached to a
    // message must still be listed when the message is read again.
    if (AsciiLowerCase(part->GetLabelValue("Content-Disposition")) == "attachment")
        return false;
    bool took = false;
    if (!TextPart && (type == "text/plain" || type == "text")) {
        part->Decode();
        if (!part->Decoded.empty()) {
            TextPart = part;
            TextLines.Assign(UpToZero(part->Decoded));
            took = true;
        }
    }
    if (!HtmlPart && type == "text/html") {
        part->Decode();
        if (!part->Decoded.empty()) {
            HtmlPart = part;
            HtmlLines.Assign(UpToZero(part->Decoded));
            took = true;
        }
    }
    return took;
}

void TMailMessage2000::ScanParts()
{
    if (!NeedsScan)
        return;
    AttachList.Clear();
    TextLines.clear();
    HtmlLines.clear();
    TextPart = HtmlPart = MixedPart = RelatedPart = AlternativePart = nullptr;
    NeedsScan = false;

    std::vector<TMailPart*> stack{this};
    while (!stack.empty()) {
        TMailPart* p = stack.back();
        stack.pop_back();
        for (std::size_t i = p->SubPartList.Count(); i-- > 0;)
            stack.push_back(p->SubPartList.Items(i));

        const std::string type = p->GetContentType();
        const bool leaf = p->SubPartList.Empty();
        // A multipart without parts (its boundary never came) holds its
        // text as its body: it is listed like any leaf, not lost as an
        // empty container.
        if (!MixedPart && type == "multipart/mixed" && !leaf)
            MixedPart = p;
        else if (!RelatedPart && type == "multipart/related" && !leaf)
            RelatedPart = p;
        else if (!AlternativePart && type == "multipart/alternative" && !leaf)
            AlternativePart = p;
        else if (p == this && leaf && (type.compare(0, 5, "text/") == 0 || type == "text") && TakeBody(p, type))
            ;
        else if (p == this && leaf && type.empty() && TakeBody(p, "text/plain"))
            ;
        else if (MixedPart && p->ParentPart == MixedPart && !AlternativePart && TakeBody(p, type))
            ;
        else if (RelatedPart && p->ParentPart == RelatedPart && TakeBody(p, type))
            ;
        else if (AlternativePart && p->ParentPart == AlternativePart && TakeBody(p, type))
            ;
        else if (leaf) {
            p->Embedded = RelatedPart && p->ParentPart == RelatedPart;
            AttachList.Add(p);
        }
    }
}

TMailPart* TMailMessage2000::NewContainer(TMailPart* parent, const char* type, const char* suffix)
{
    TMailPart* container = this;
    if (parent) {
        container = CreatePart();
        container->ParentPart = parent;
        container->ParentBoundary = parent->GetBoundary();
        parent->SubPartList.Add(container);
    }
    container->SetLabelValue("Content-Type", type);
    container->SetLabelParamValue("Content-Type", "boundary", Quoted(NewBoundary() + suffix));
    return container;
}

void TMailMessage2000::RebuildStructure(int mode)
{
    if (!NeedsRebuild && mode == 0)
        return;
    ScanParts();
    NeedsSerialize = true;
    NeedsRebuild = false;
    FileCounter = 0;

    int texts = mode == 2 ? 1 : 0;
    int attachments = mode == 3 ? 1 : 0;
    int embedded = mode == 4 ? 1 : 0;
    texts += (TextPart ? 1 : 0) + (HtmlPart ? 1 : 0);
    for (TMailPart* a : AttachList)
        (a->Embedded ? embedded : attachments) += 1;

    // The message's own body moves into a part of its own. Every path below
    // writes the message's Body anew, so the bytes move instead of being
    // copied.
    if (!Body.empty()) {
        TMailPart* x = CreatePart();
        x->Body = std::move(Body);
        Body.clear();
        // What the scan already decoded from these bytes comes along, so
        // they are not decoded twice.
        if (IsDecoded) {
            x->Decoded = std::move(Decoded);
            x->IsDecoded = true;
            Decoded.clear();
            IsDecoded = false;
        }
        for (const auto& line : Header)
            if (IStartsWith(line, "Content-"))
                x->Header.push_back(line);
        if (TextPart == this)
            TextPart = x;
        else if (HtmlPart == this)
            HtmlPart = x;
        else if (MixedPart == this)
            MixedPart = x;
        else if (RelatedPart == this)
            RelatedPart = x;
        else if (AlternativePart == this)
            AlternativePart = x;
        else if (!SubPartList.Empty())
            FreePart(x);
        else
            AttachList.Add(x);
    }
    AttachList.Remove(this);

    for (const char* field : {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition", "Content-ID",
                              "Content-Location", "Content-Length"})
        SetLabelValue(field, "");
    SetLabelValue("Mime-Version", "1.0");
    SetLabelValue("X-Mailer", kMailer);
    SetLabelValue("X-Corvanta-Attachment", "");

    TMailPart* mixed = nullptr;
    TMailPart* related = nullptr;
    TMailPart* alternative = nullptr;
    CurrentContainer = nullptr;
    if (attachments > 1 || (attachments > 0 && texts > 0) || (attachments > 0 && embedded > 0)) {
        mixed = NewContainer(nullptr, "multipart/mixed", "_mixed");
        CurrentContainer = mixed;
    }
    if (embedded > 0) {
        related = NewContainer(mixed, "multipart/related", "_related");
        CurrentContainer = related;
    }
    if (texts > 1) {
        alternative = NewContainer(CurrentContainer, "multipart/alternative", "_alternative");
        CurrentContainer = alternative;
    }

    DetachPartsToPlace();
    for (int which = 0; which < 2; ++which) {
        TMailPart* body = which == 0 ? TextPart : HtmlPart;
        const char* type = which == 0 ? "text/plain" : "text/html";
        if (!body || body == this)
            continue;
        body->Detach();
        if (CurrentContainer) {
            body->ParentPart = CurrentContainer;
            body->ParentBoundary = CurrentContainer->GetBoundary();
            body->SetLabelValue("Content-Type", type);
            body->SetLabelValue("Content-Disposition", "inline");
            body->Decode();
            body->Encode(TextEncoding);
            body->SetLabelValue("Content-Length", std::to_string(body->Body.size()));
            for (TMailPart* child : body->SubPartList)
                child->ParentPart = nullptr;
            body->SubPartList.Clear();
            CurrentContainer->SubPartList.Add(body);
        } else {
            SetLabelValue("Content-Type", type);
            SetLabelValue("Content-Disposition", "inline");
            body->Decode();
            Decoded = std::move(body->Decoded); // the part is freed below
            Body = std::move(body->Body);         // its storage takes the new encoding
            Encode(TextEncoding);
            IsDecoded = true; // Decoded already holds what Body encodes
            FreePart(body);
            (which == 0 ? TextPart : HtmlPart) = this;
        }
    }

    for (std::size_t i = 0; i < AttachList.Count(); ++i)
        PlaceAttachment(i, mixed, related);

    for (TMailPart** old : {&AlternativePart, &RelatedPart, &MixedPart})
        if (*old && *old != this)
            FreePart(*old); // also clears *old
    FreeHusks(mixed, related, alternative);

    MixedPart = mixed;
    RelatedPart = related;
    AlternativePart = alternative;
}

// Takes the bodies and attachments out of their old parents in one pass per
// parent. Taking them out one by one from the front of a long child list
// would make a rebuild quadratic in the number of parts.
void TMailMessage2000::DetachPartsToPlace()
{
    std::vector<TMailPart*> moving;
    for (TMailPart* p : {TextPart, HtmlPart})
        if (p && p != this)
            moving.push_back(p);
    for (TMailPart* p : AttachList)
        if (p != this)
            moving.push_back(p);
    std::vector<TMailPart*> parents;
    for (TMailPart* p : moving) {
        p->m_moving = true;
        if (p->ParentPart && !p->ParentPart->m_moving) {
            parents.push_back(p->ParentPart);
            p->ParentPart->m_moving = true;
        }
    }
    for (TMailPart* parent : parents)
        parent->m_moving = false;
    for (TMailPart* parent : parents)
        parent->SubPartList.RemoveIf([](const TMailPart* c) { return c->m_moving; });
    for (TMailPart* p : moving) {
        p->m_moving = false;
        p->ParentPart = nullptr;
    }
}

// Multiparts of other kinds (signed, report, ...) hang on under the message
// after the rebuild took every body and attachment out of them. Written out
// they would come back as empty parts, so they go.
void TMailMessage2000::FreeHusks(TMailPart* mixed, TMailPart* related, TMailPart* alternative)
{
    std::vector<TMailPart*> keep{mixed, related, alternative, TextPart, HtmlPart};
    for (TMailPart* p : AttachList)
        keep.push_back(p);
    for (TMailPart* p : keep)
        if (p)
            p->m_moving = true;
    std::vector<TMailPart*> husks;
    for (TMailPart* child : SubPartList)
        if (!child->m_moving)
            husks.push_back(child);
    for (TMailPart* p : keep)
        if (p)
            p->m_moving = false;
    for (TMailPart* p : husks)
        FreePart(p);
}

void TMailMessage2000::PlaceAttachment(std::size_t index, TMailPart* mixed, TMailPart* related)
{
    TMailPart* a = AttachList.Items(index);
    a->Detach();
    if (a->GetLabelValue("Content-Type").empty())
        a->SetLabelValue("Content-Type", "application/octet-stream");
    std::string name = a->GetFileName();
    if (name.empty()) {
        name = "file_" + std::to_string(FileCounter) + ExtensionForContentType(a->GetLabelValue("Content-Type"));
        ++FileCounter;
    }
    const std::string encoded = Quoted(EncodeHeaderWord(name, Charset));
    a->SetLabelValue("X-Corvanta-Attachment", encoded);
    auto appendTo = [a](TMailPart* container) {
        a->ParentPart = container;
        a->ParentBoundary = container->GetBoundary();
        container->SubPartList.Add(a);
    };
    if (a->Embedded && related) {
        a->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "yes");
        if (EmbedMethod == TEmbedMethod::emContentID) {
            if (!a->LabelExists("Content-ID"))
                a->SetLabelValue("Content-ID", "<" + name + ">");
        } else {
            a->SetLabelValue("Content-Location", ContentLocationBase + name);
        }
        a->SetLabelValue("Content-Disposition", "inline");
        appendTo(related);
        return;
    }
    a->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "no");
    if (!a->LabelParamExists("Content-Type", "name"))
        a->SetLabelParamValue("Content-Type", "name", encoded);
    if (!a->LabelParamExists("Content-Disposition", "filename"))
        a->SetLabelParamValue("Content-Disposition", "filename", encoded);
    if (mixed) {
        a->SetLabelValue("Content-Disposition", "attachment");
        appendTo(mixed);
        return;
    }
    // The attachment is the message's only content: the message becomes it.
    for (const char* prefix : {"Content-", "X-Corvanta-"})
        for (const auto& line : a->Header)
            if (IStartsWith(line, prefix))
                Header.push_back(line);
    if (!a->IsDecoded)
        a->Decode();
    Decoded = std::move(a->Decoded); // the part is freed below
    Encode(TEncodingType::etBase64);
    IsDecoded = true;
    AttachList.Delete(index);
    AttachList.Insert(index, this);
    FreePart(a);
}

// ---- building -----------------------------------------------------------------

void TMailMessage2000::AttachFile(const std::string& fileName, const std::string& contentType, bool embedded)
{
    const std::string data = ReadWholeFile(fileName);
    AttachStream(data, fileName, embedded, contentType);
}

void TMailMessage2000::AttachStream(const std::string& stream, const std::string& fileName, bool embedded,
                                    const std::string& contentType)
{
    RebuildStructure(embedded ? 4 : 3);
    TMailPart* container = embedded ? RelatedPart : MixedPart;
    TMailPart* part = this;
    if (container) {
        part = CreatePart();
        part->ParentPart = container;
        part->ParentBoundary = container->GetBoundary();
        container->SubPartList.Add(part);
    }
    const std::string baseName = BaseName(fileName);
    part->Decoded = stream;
    part->Encode(AttachEncoding);
    part->SetLabelValue("Content-Type", contentType.empty() ? ContentTypeForFile(baseName) : contentType);
    const std::string encoded = Quoted(EncodeHeaderWord(baseName, Charset));
    part->SetLabelValue("X-Corvanta-Attachment", encoded);
    part->SetLabelValue("Content-Length", std::to_string(part->Body.size()));
    part->Embedded = embedded;
    if (embedded) {
        part->SetLabelValue("Content-Disposition", "inline");
        part->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "yes");
        if (EmbedMethod == TEmbedMethod::emContentID)
            part->SetLabelValue("Content-ID", "<" + baseName + ">");
        else
            part->SetLabelValue("Content-Location", ContentLocationBase + baseName);
    } else {
        part->SetLabelValue("Content-Disposition", "attachment");
        part->SetLabelParamValue("Content-Type", "name", encoded);
        part->SetLabelParamValue("Content-Disposition", "filename", encoded);
        part->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "no");
    }
    AttachList.Add(part);
    NeedsSerialize = true;
}

void TMailMessage2000::RemoveAttachment(int index)
{
    RebuildStructure(0);
    if (index < 0 || static_cast<std::size_t>(index) >= AttachList.Count())
        throw EMailError(Name + ": Attachment index not found");
    TMailPart* a = AttachList.Items(static_cast<std::size_t>(index));
    if (a == this) {
        for (const char* field : {"Content-Type", "Content-Transfer-Encoding", "Content-Disposition",
                                  "Content-Length", "Content-ID", "Content-Location", "X-Corvanta-Attachment"})
            SetLabelValue(field, "");
        Body.clear();
        Decoded.clear();
        AttachList.Delete(static_cast<std::size_t>(index));
    } else {
        FreePart(a); // also takes it off AttachList
    }
    NeedsSerialize = true;
    RebuildStructure(1);
}

// ---- serialisation ------------------------------------------------------------

namespace {
constexpr std::string_view kPreamble = "This is a multipart message in mime format.\r\n";
}

void WriteParts(const TMailPart& part, const std::function<void(std::string_view)>& sink)
{
    for (const TMailPart* q : part.SubPartList) {
        sink("\r\n--");
        sink(q->ParentBoundary);
        sink("\r\n");
        for (const auto& line : q->Header) {
            if (line.empty())
                continue;
            sink(line);
            sink("\r\n");
        }
        sink("\r\n");
        if (q->SubPartList.Empty())
            sink(q->Body);
        else
            WriteParts(*q, sink);
    }
    if (!part.SubPartList.Empty()) {
        sink("\r\n--");
        sink(part.SubPartList.Items(0)->ParentBoundary);
        sink("--\r\n");
    }
}

void TMailMessage2000::SerializeBody()
{
    if (!NeedsSerialize)
        return;
    if (!SubPartList.Empty()) {
        std::size_t size = kPreamble.size();
        WriteParts(*this, [&size](std::string_view s) { size += s.size(); });
        Body.clear();
        Body.reserve(size);
        Body += kPreamble;
        WriteParts(*this, [this](std::string_view s) { Body.append(s); });
    }
    SetLabelValue("Content-Length", std::to_string(Body.size()));
    NeedsSerialize = false;
}

void TMailMessage2000::SaveToFile(const std::string& fileName, bool overwrite) const
{
    const bool multipart = !SubPartList.Empty();
    std::size_t bodySize = Body.size();
    if (multipart) {
        bodySize = kPreamble.size();
        WriteParts(*this, [&bodySize](std::string_view s) { bodySize += s.size(); });
    }
    WriteFileSafely(fileName, overwrite, [&](const std::function<void(std::string_view)>& sink) {
        bool lengthWritten = false;
        for (const auto& line : Header) {
            if (line.empty())
                continue;
            if (IStartsWith(line, "Content-Length:")) {
                if (lengthWritten)
                    continue;
                sink("Content-Length: " + std::to_string(bodySize) + "\r\n");
                lengthWritten = true;
                continue;
            }
            sink(line);
            sink("\r\n");
        }
        sink("\r\n");
        if (multipart) {
            sink(kPreamble);
            WriteParts(*this, sink);
        } else {
            sink(Body);
        }
    });
}
