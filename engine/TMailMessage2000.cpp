#include "TMailMessage2000.h"

#include "EngineError.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "MimeTypes.h"

#include <algorithm>

namespace {

constexpr const char* kMailer = "Corvanta v.3.0 by https://corvanta.example/";

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

bool IsUtf8NonAscii(std::string_view s)
{
    bool nonAscii = false;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        unsigned min = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            n = 1;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 2;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 3;
            min = 0x10000;
        } else {
            return false;
        }
        if (i + n >= s.size())
            return false;
        unsigned cp = c & (0x3F >> n);
        for (std::size_t k = 1; k <= n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        nonAscii = true;
        i += n + 1;
    }
    return nonAscii;
}

// A file name as the engine writes it into a header: quoted, one encoded
// word when anything in it needs escaping (control characters included), and
// labelled utf-8 when its bytes are UTF-8, as names from the file system and
// most decoded names are; other bytes carry the message's charset.
std::string NameWord(std::string_view name, const std::string& charset)
{
    return Quoted(EncodeHeaderWord(name, IsUtf8NonAscii(name) ? std::string("utf-8") : charset));
}

// A file name inside a URL or a message id: control characters (a CR or LF
// would end the header line) are percent-escaped.
std::string UrlName(std::string_view name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 32 || c == 127) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// A header line that is a field. A line without a colon (a first line that
// was no field, "Content-X") is kept as it was read, but never written: in a
// saved message it would end the header and take the fields after it into
// the body.
bool IsField(std::string_view line) { return line.find(':') != std::string_view::npos; }

// Every header line and delimiter the engine writes stays one line: a CR,
// LF or NUL left in a value (from a caller, or kept from a hostile message)
// is written as a space instead of starting a field of its own.
void SinkLine(std::string_view line, const std::function<void(std::string_view)>& sink)
{
    constexpr std::string_view kBreaking("\r\n\0", 3);
    if (line.find_first_of(kBreaking) == std::string_view::npos) {
        sink(line);
        return;
    }
    std::string copy(line);
    for (char& c : copy)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    sink(copy);
}

} // namespace

TMailMessage2000::TMailMessage2000() : TMailPart(this) {}

TMailMessage2000::~TMailMessage2000()
{
    // The tree first; the lists refer into it. Newest part first: its
    // memory lies next to the heap's free top, and giving it back in that
    // order spares the allocator much of its sorting and merging (a fifth
    // of the time to free a message of 10,000 parts). The parts a few
    // places ahead are asked into the cache meanwhile: in a large message
    // they are cold, and each free would wait for its memory in turn.
    for (std::size_t i = m_parts.size(); i-- > 0;) {
        if (i >= 8)
            __builtin_prefetch(m_parts[i - 8].get());
        if (i >= 4) {
            const TMailPart& q = *m_parts[i - 4];
            __builtin_prefetch(q.Header.data());
            // The allocator keeps its own words just before the bytes.
            __builtin_prefetch(q.Decoded.data() - 16);
            __builtin_prefetch(q.m_body.data() - 16);
            __builtin_prefetch(q.ParentBoundary.data() - 16);
        }
        if (i >= 2)
            for (const std::string& line : m_parts[i - 2]->Header)
                __builtin_prefetch(line.data() - 16);
        m_parts.pop_back();
    }
}

TMailPart* TMailMessage2000::CreatePart()
{
    std::unique_ptr<TMailPart> part(new TMailPart(this)); // the constructor is for the message only
    part->m_slot = m_parts.size();
    TMailPart* raw = part.get();
    m_parts.push_back(std::move(part));
    return raw;
}

void TMailMessage2000::FreePart(TMailPart* part) { FreeParts({part}); }

// Frees parts and their subtrees in one pass over each list they may be on,
// however many they are: a rebuild frees thousands of emptied containers at
// once, and one pass per part over the attachment list or a long child list
// would make it quadratic.
void TMailMessage2000::FreeParts(const std::vector<TMailPart*>& parts)
{
    auto owned = [this](const TMailPart* p) {
        return p && p != this && p->OwnerMessage == this && p->m_slot < m_parts.size()
               && m_parts[p->m_slot].get() == p;
    };
    std::vector<TMailPart*> doomed;
    for (TMailPart* p : parts)
        if (owned(p) && !p->m_doomed) {
            p->m_doomed = true;
            doomed.push_back(p);
        }
    if (doomed.empty())
        return;
    // Off their parents' child lists, one pass per parent.
    std::vector<TMailPart*> parents;
    for (TMailPart* p : doomed)
        if (p->ParentPart && !p->ParentPart->m_doomed)
            parents.push_back(p->ParentPart);
    std::sort(parents.begin(), parents.end());
    parents.erase(std::unique(parents.begin(), parents.end()), parents.end());
    for (TMailPart* parent : parents)
        parent->SubPartList.RemoveIf([](const TMailPart* c) { return c->m_doomed; });
    // The subtrees, without recursion: trees may be deep.
    for (std::size_t i = 0; i < doomed.size(); ++i)
        for (TMailPart* child : doomed[i]->SubPartList)
            if (owned(child) && !child->m_doomed) {
                child->m_doomed = true; // a part listed twice is freed once
                doomed.push_back(child);
            }
    AttachList.RemoveIf([](const TMailPart* a) { return a->m_doomed; });
    for (TMailPart** ref : {&TextPart, &HtmlPart, &MixedPart, &RelatedPart, &AlternativePart, &CurrentContainer})
        if (*ref && (*ref)->m_doomed)
            *ref = nullptr;
    for (TMailPart* p : doomed) {
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
    std::size_t nameAtClose = std::string::npos; // the name's length when "<...>" closed
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
            // A second "<" after a closed address starts another mailbox
            // whose separating comma is missing: only the first sender is
            // named, without the next one's name.
            if (nameAtClose != std::string::npos && address.find('@') != std::string::npos) {
                name.resize(nameAtClose);
                break;
            }
            if (state == Undecided)
                name = gathered;
            state = InAddress;
            continue;
        }
        if (!inside && c == '>') {
            state = InName;
            nameAtClose = name.size();
            continue;
        }
        // A comma after a complete address ends the first mailbox: only the
        // first sender is named. One before any "@" belongs to an unquoted
        // name ("Doe, John <j@x>").
        if (!inside && c == ',' && (state == Undecided ? gathered : address).find('@') != std::string::npos)
            break;
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

std::string TMailMessage2000::GetSubject() const
{
    // The whole field: a subject is free text, so a ";" or quotes in it are
    // the sender's words, not a parameter or quoting.
    const int i = FindLabel("Subject");
    if (i < 0)
        return {};
    const std::string& line = Header[static_cast<std::size_t>(i)];
    const std::size_t colon = line.find(':');
    return DecodeHeaderWords(std::string_view(line).substr(colon == std::string::npos ? line.size() : colon + 1));
}

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

namespace {

// RFC 2045 5.2: a part without a Content-Type, or with one that names no
// type/subtype, is plain text; inside a digest a part without one is a
// message (RFC 2046 5.1.5). So is a multipart without a boundary, whose
// text the parser kept whole.
std::string EffectiveType(const TMailPart& p, bool inDigest)
{
    const std::string type = p.GetContentType();
    if (type.empty() && inDigest && !p.LabelExists("Content-Type"))
        return "message/rfc822";
    if (!IsMediaType(type)) {
        // "text/html charset": the type is still there to be read.
        const std::string first = type.substr(0, type.find_first_of(" \t("));
        return IsMediaType(first) ? first : "text/plain";
    }
    if (type.starts_with("multipart/") && p.SubPartList.Empty() && p.GetBoundary().empty())
        return "text/plain";
    return type;
}

bool IsBlankText(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}

// A file name parameter in any of its forms (plain, RFC 2231 extended or
// continued). The field is named with its colon, and its line is found
// once for all four forms: this is asked of every leaf of a message.
bool HasNameParam(const TMailPart& p, std::string_view fieldColon, std::string_view param)
{
    const int i = FindHeaderLine(&p.Header, fieldColon, 0);
    if (i < 0)
        return false;
    const std::string& line = p.Header[static_cast<std::size_t>(i)];
    const std::string p0(param);
    for (const std::string& name : {p0, p0 + "*", p0 + "*0", p0 + "*0*"})
        if (HeaderParamPresent(line, name))
            return true;
    return false;
}

// A part that names itself a file is one, empty or not.
bool IsNamedFile(const TMailPart& p)
{
    return p.LabelExists("X-Corvanta-Attachment") || HasNameParam(p, "Content-Type:", "name")
           || HasNameParam(p, "Content-Disposition:", "filename");
}

// A field's value from the header block at the start of a message text
// (folds joined), or empty.
std::string FieldOfText(std::string_view text, std::string_view field)
{
    std::string value;
    bool in = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        if (IsBlank(line.front())) {
            if (in)
                value += " " + std::string(TrimBlanksView(line));
            continue;
        }
        if (in)
            break;
        if (line.size() > field.size() && line[field.size()] == ':' && IStartsWith(line, field)) {
            in = true;
            value = TrimBlanksView(line.substr(field.size() + 1));
        }
    }
    return value;
}

// Which child of a multipart/signed is the signed content: the first one
// that is not its signature (of the type its "protocol" names, or a
// signature type), so the signature may come first (RFC 1847 says second).
std::size_t SignedContentIndex(const TMailPart& p)
{
    const std::string protocol = AsciiLowerCase(TrimBlanks(p.GetLabelParamValue("Content-Type", "protocol")));
    for (std::size_t i = 0; i < p.SubPartList.Count(); ++i) {
        const std::string t = p.SubPartList.Items(i)->GetContentType();
        const bool signature = (!protocol.empty() && t == protocol) || t == "application/pgp-signature"
                               || t == "application/pkcs7-signature" || t == "application/x-pkcs7-signature";
        if (!signature)
            return i;
    }
    return 0;
}

} // namespace

bool TMailMessage2000::TakeBody(TMailPart* part, const std::string& type)
{
    // A part its sender marked as an attachment is never the body, nor one
    // the engine itself placed as an attachment: a text file attached or
    // embedded must still be listed when the saved message is read again.
    if (AsciiLowerCase(part->GetLabelValue("Content-Disposition")) == "attachment"
        || part->LabelExists("X-Corvanta-Attachment"))
        return false;
    bool took = false;
    // Blank text shows nothing: it is no body, and a later text may be.
    if (!TextPart && (type == "text/plain" || type == "text")) {
        part->Decode();
        if (!IsBlankText(part->Decoded)) {
            TextPart = part;
            TextLines.Assign(UpToZero(part->Decoded));
            took = true;
        }
    }
    if (!HtmlPart && type == "text/html") {
        part->Decode();
        if (!IsBlankText(part->Decoded)) {
            HtmlPart = part;
            HtmlLines.Assign(UpToZero(part->Decoded));
            took = true;
        }
    }
    return took;
}

// Empty or blank leaves without a file name carry nothing a user could
// save: a delimiter followed by a blank line, the rest after an unclosed
// last delimiter, a multipart without parts. Listing them would show
// attachments that are not there.
bool TMailMessage2000::IsPhantom(TMailPart* p)
{
    if (IsNamedFile(*p))
        return false;
    if (p->IsDecoded)
        return IsBlankText(p->Decoded);
    const std::string& body = p->Body();
    if (IsBlankText(body))
        return true;
    // A multipart whose delimiter came but whose parts were all empty is an
    // empty container: its text is the preamble. One whose delimiter never
    // came holds what the sender wrote, and is listed.
    if (p->m_delimited)
        return true;
    // Decoding is needed; for a large body the first lines nearly always
    // tell, and only a body that starts blank is decoded whole.
    constexpr std::size_t kProbe = 4096;
    if (body.size() > 4 * kProbe) {
        const std::size_t cut = body.rfind('\n', kProbe);
        if (cut != std::string::npos) {
            TMailPart probe; // not part of the message
            probe.Header = p->Header;
            probe.SetBody(body.substr(0, cut + 1));
            probe.Decode();
            if (!IsBlankText(probe.Decoded))
                return false;
        }
    }
    p->Decode();
    return IsBlankText(p->Decoded);
}

// A message in a digest without a Content-Type: labelled as the message it
// is, and named after its subject. When its sender left out the empty line
// after the delimiter, the message's header was read as the part's: it goes
// back in front of the message's body.
void TMailMessage2000::LabelDigestMessage(TMailPart* p)
{
    const bool ownHeader = std::any_of(p->Header.begin(), p->Header.end(),
                                       [](const std::string& l) { return !IStartsWith(l, "Content-"); });
    if (ownHeader) {
        std::string text;
        for (const auto& line : p->Header)
            text += line + "\r\n";
        text += "\r\n";
        text += p->Body();
        p->SetBody(std::move(text));
        p->Header.erase(std::remove_if(p->Header.begin(), p->Header.end(),
                                       [](const std::string& l) { return !IStartsWith(l, "Content-"); }),
                        p->Header.end());
        p->Decoded.clear();
        p->IsDecoded = false;
    }
    p->SetLabelValue("Content-Type", "message/rfc822");
    const std::string subject = DecodeHeaderWords(FieldOfText(p->Body(), "Subject"));
    if (!TrimBlanks(subject).empty())
        p->SetLabelParamValue("Content-Type", "name", NameWord(TrimBlanks(subject) + ".eml", Charset));
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

    // Pre-order, with what the part's place means: whether a body may stand
    // there (not in a signature, a report's machine-readable parts or the
    // returned message), and whether its parent is a digest. In a body place
    // the first text of each kind in document order is the body, wherever
    // it hangs: in a mixed part after an alternative that held none of its
    // kind, or after a nested mixed part, as much as in the alternative.
    struct Visit {
        TMailPart* part;
        bool bodyPlace;
        bool inDigest;
    };
    std::vector<Visit> stack{{this, true, false}};
    while (!stack.empty()) {
        const Visit v = stack.back();
        TMailPart* p = v.part;
        stack.pop_back();

        if (!p->SubPartList.Empty()) {
            const std::string type = p->GetContentType();
            // The first part of a signed message is its content, of a report
            // the text for the reader; what follows is for machines.
            const bool firstOnly = type == "multipart/signed" || type == "multipart/report";
            const bool related = type == "multipart/related";
            const bool alternative = type == "multipart/alternative";
            if (v.bodyPlace) {
                if (related) {
                    if (!RelatedPart)
                        RelatedPart = p;
                } else if (alternative) {
                    if (!AlternativePart)
                        AlternativePart = p;
                } else if (!firstOnly && !MixedPart) {
                    MixedPart = p; // every other kind is read as mixed
                }
            }
            // The signed content is whichever part is not the signature:
            // some mailers put the signature first.
            const std::size_t content = type == "multipart/signed" ? SignedContentIndex(*p) : 0;
            for (std::size_t i = p->SubPartList.Count(); i-- > 0;)
                stack.push_back({p->SubPartList.Items(i), v.bodyPlace && (!firstOnly || i == content),
                                 type == "multipart/digest"});
            continue;
        }

        if (v.inDigest && !p->LabelExists("Content-Type"))
            LabelDigestMessage(p);
        const std::string type = EffectiveType(*p, v.inDigest);
        bool took = false;
        if (v.bodyPlace)
            took = (p != this || type.starts_with("text/")) && TakeBody(p, type);
        if (!took && !IsPhantom(p)) {
            p->Embedded = RelatedPart && p->ParentPart == RelatedPart;
            AttachList.Add(p);
        }
    }
}

namespace {

// A text part shown where it stands: not a file (no name, no "attachment"),
// and not blank.
bool IsInlineText(TMailPart& p)
{
    const std::string type = EffectiveType(p, false);
    if (type != "text/plain" && type != "text/html")
        return false;
    if (AsciiLowerCase(p.GetLabelValue("Content-Disposition")) == "attachment" || IsNamedFile(p))
        return false;
    p.Decode();
    return !IsBlankText(p.Decoded);
}

bool Holds(const TMailPart* tree, const TMailPart* part)
{
    for (const TMailPart* p = part; p; p = p->ParentPart)
        if (p == tree)
            return true;
    return false;
}

void CollectShown(const TMailMessage2000& m, TMailPart* p, std::vector<TMailPart*>& out, int depth)
{
    if (depth > TMailPart::kMaxNesting)
        return;
    if (p->SubPartList.Empty()) {
        if (p == m.TextPart || p == m.HtmlPart || IsInlineText(*p))
            out.push_back(p);
        return;
    }
    const std::string type = p->GetContentType();
    const TMailPartList& kids = p->SubPartList;
    if (type == "multipart/alternative") {
        for (TMailPart* body : {m.HtmlPart, m.TextPart})
            for (TMailPart* kid : kids)
                if (body && Holds(kid, body)) {
                    CollectShown(m, kid, out, depth + 1);
                    return;
                }
        for (std::size_t i = kids.Count(); i-- > 0;) {
            const std::size_t before = out.size();
            CollectShown(m, kids.Items(i), out, depth + 1);
            if (out.size() > before)
                return;
        }
        return;
    }
    if (type == "multipart/signed") {
        CollectShown(m, kids.Items(SignedContentIndex(*p)), out, depth + 1);
        return;
    }
    if (type == "multipart/related" || type == "multipart/report") {
        CollectShown(m, kids.Items(0), out, depth + 1);
        return;
    }
    if (type == "multipart/digest" || type == "multipart/encrypted")
        return;
    for (TMailPart* kid : kids)
        CollectShown(m, kid, out, depth + 1);
}

} // namespace

std::vector<TMailPart*> ShownTextParts(const TMailMessage2000& message)
{
    TMailPart* body = message.HtmlPart ? message.HtmlPart : message.TextPart;
    if (!body)
        return {};
    std::vector<TMailPart*> shown;
    CollectShown(message, const_cast<TMailMessage2000*>(&message), shown, 0);
    // A body found where this walk does not look is shown alone, as ever.
    if (std::find(shown.begin(), shown.end(), body) == shown.end())
        return {body};
    return shown;
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
    // copied. An empty file that is the whole message moves too: it is
    // still a file.
    const bool listed = AttachList.IndexOf(this) >= 0;
    if (!BodyEmpty() || listed) {
        TMailPart* x = CreatePart();
        MoveBodyTo(*x);
        // What the scan already decoded from these bytes comes along, so
        // they are not decoded twice.
        if (IsDecoded) {
            x->Decoded = std::move(Decoded);
            x->IsDecoded = true;
            Decoded.clear();
            IsDecoded = false;
        }
        // The engine's own name field too: a file that is the whole
        // message would lose the name it was saved under.
        for (const auto& line : Header)
            if (IsField(line) && (IStartsWith(line, "Content-") || IStartsWith(line, "X-Corvanta-Attachment:")))
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
        else if (listed)
            AttachList.Add(x);
        else
            FreePart(x); // a preamble, or blank text that is no body
    }
    ClearBody(); // nothing of the old body stays to be made
    AttachList.Remove(this);

    // Every occurrence goes, not only the first: a second Content-Type left
    // behind would stand first in the saved message and re-type its body.
    std::erase_if(Header, [](const std::string& line) {
        for (std::string_view field : {"Content-Type:", "Content-Transfer-Encoding:", "Content-Disposition:",
                                       "Content-ID:", "Content-Location:", "Content-Length:",
                                       "X-Corvanta-Attachment:"})
            if (IStartsWith(line, field))
                return true;
        return false;
    });
    SetLabelValue("Mime-Version", "1.0");
    SetLabelValue("X-Mailer", kMailer);

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
            // Encoded when something reads it: showing the message never does.
            body->Decode();
            body->EncodeLater(TextEncoding, true);
            for (TMailPart* child : body->SubPartList)
                child->ParentPart = nullptr;
            body->SubPartList.Clear();
            CurrentContainer->SubPartList.Add(body);
        } else {
            // The body's parameters stay: without its charset a non-ASCII
            // body could not be read.
            const int field = body->FindLabel("Content-Type");
            if (field >= 0)
                Header.push_back(SetHeaderMainValue(body->Header[static_cast<std::size_t>(field)], type));
            else
                SetLabelValue("Content-Type", type);
            SetLabelValue("Content-Disposition", "inline");
            body->Decode();
            Decoded = std::move(body->Decoded); // the part is freed below
            IsDecoded = true;
            EncodeLater(TextEncoding, false);
            FreePart(body);
            (which == 0 ? TextPart : HtmlPart) = this;
        }
    }

    // The boundaries are read once: thousands of attachments share them.
    const Placing toMixed{mixed, mixed ? mixed->GetBoundary() : std::string()};
    const Placing toRelated{related, related ? related->GetBoundary() : std::string()};
    for (std::size_t i = 0; i < AttachList.Count(); ++i)
        PlaceAttachment(i, toMixed, toRelated);

    FreeParts({AlternativePart, RelatedPart, MixedPart}); // clears them too
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
    FreeParts(husks);
}

void TMailMessage2000::PlaceAttachment(std::size_t index, const Placing& mixed, const Placing& related)
{
    TMailPart* a = AttachList.Items(index);
    a->Detach();
    if (a->GetLabelValue("Content-Type").empty())
        a->SetLabelValue("Content-Type", EffectiveType(*a, false));
    std::string name = a->GetFileName();
    if (name.empty()) {
        name = "file_" + std::to_string(FileCounter) + ExtensionForContentType(a->GetLabelValue("Content-Type"));
        ++FileCounter;
    }
    const std::string encoded = NameWord(name, Charset);
    a->SetLabelValue("X-Corvanta-Attachment", encoded);
    auto appendTo = [a](const Placing& container) {
        a->ParentPart = container.part;
        a->ParentBoundary = container.boundary;
        container.part->SubPartList.Add(a);
    };
    if (a->Embedded && related.part) {
        a->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "yes");
        if (EmbedMethod == TEmbedMethod::emContentID) {
            if (!a->LabelExists("Content-ID"))
                a->SetLabelValue("Content-ID", "<" + UrlName(name) + ">");
        } else {
            a->SetLabelValue("Content-Location", ContentLocationBase + UrlName(name));
        }
        a->SetLabelValue("Content-Disposition", "inline");
        appendTo(related);
        return;
    }
    a->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "no");
    // A name the sender gave, in any form, is left alone: a copy written
    // beside an RFC 2231 name ("filename*=koi8-r''...") would carry its
    // bytes under the message's charset, and be read before it.
    if (!HasNameParam(*a, "Content-Type:", "name") && !HasNameParam(*a, "Content-Disposition:", "filename")) {
        a->SetLabelParamValue("Content-Type", "name", encoded);
        a->SetLabelParamValue("Content-Disposition", "filename", encoded);
    }
    // Also when the file is the whole message: without it the field would
    // read "Content-Disposition: ; filename=...", and the file would come
    // back as the body.
    a->SetLabelValue("Content-Disposition", "attachment");
    if (mixed.part) {
        appendTo(mixed);
        return;
    }
    // The attachment is the message's only content: the message becomes it.
    for (const char* prefix : {"Content-", "X-Corvanta-"})
        for (const auto& line : a->Header)
            if (IsField(line) && IStartsWith(line, prefix))
                Header.push_back(line);
    if (!a->IsDecoded)
        a->Decode();
    Decoded = std::move(a->Decoded); // the part is freed below
    IsDecoded = true;
    EncodeLater(TEncodingType::etBase64, false);
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
    // The name is written as it will be read, safe for a file system: a
    // "\" in a name here would be taken for a folder's by a reader. A name
    // of blanks, "." or ".." names no file: the part is named after its
    // type, as a part without a name is.
    std::string shownName = SafeFileName(baseName);
    if (shownName.empty() || shownName == "." || shownName == "..")
        shownName = part->GetFileName();
    const std::string encoded = NameWord(shownName, Charset);
    part->SetLabelValue("X-Corvanta-Attachment", encoded);
    part->SetLabelValue("Content-Length", std::to_string(part->Body().size()));
    part->Embedded = embedded;
    if (embedded) {
        part->SetLabelValue("Content-Disposition", "inline");
        part->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "yes");
        if (EmbedMethod == TEmbedMethod::emContentID)
            part->SetLabelValue("Content-ID", "<" + UrlName(shownName) + ">");
        else
            part->SetLabelValue("Content-Location", ContentLocationBase + UrlName(shownName));
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
        ClearBody();
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
        SinkLine(q->ParentBoundary, sink);
        sink("\r\n");
        for (const auto& line : q->Header) {
            if (!IsField(line))
                continue;
            SinkLine(line, sink);
            sink("\r\n");
        }
        sink("\r\n");
        if (q->SubPartList.Empty())
            sink(q->Body());
        else
            WriteParts(*q, sink);
    }
    if (!part.SubPartList.Empty()) {
        sink("\r\n--");
        SinkLine(part.SubPartList.Items(0)->ParentBoundary, sink);
        sink("--\r\n");
    }
}

namespace {

// What WriteParts writes, counted without making the bodies.
std::size_t PartsSize(const TMailPart& part)
{
    std::size_t size = 0;
    for (const TMailPart* q : part.SubPartList) {
        size += 4 + q->ParentBoundary.size() + 2;
        for (const auto& line : q->Header)
            if (IsField(line))
                size += line.size() + 2;
        size += 2 + (q->SubPartList.Empty() ? q->BodySize() : PartsSize(*q));
    }
    if (!part.SubPartList.Empty())
        size += 4 + part.SubPartList.Items(0)->ParentBoundary.size() + 4;
    return size;
}

} // namespace

std::size_t SerializedSize(const TMailPart& part) { return kPreamble.size() + PartsSize(part); }

void SerializeParts(const TMailPart& part, std::string& body)
{
    body.clear();
    body.reserve(SerializedSize(part));
    body += kPreamble;
    WriteParts(part, [&body](std::string_view s) { body.append(s); });
}

// The joined body is only needed by whoever reads it: a viewer that shows
// the message never does, and SaveToFile streams the parts instead.
void TMailMessage2000::SerializeBody()
{
    if (!NeedsSerialize)
        return;
    if (!SubPartList.Empty())
        SerializeLater();
    else
        SetLength();
    NeedsSerialize = false;
}

void TMailMessage2000::SaveToFile(const std::string& fileName, bool overwrite) const
{
    const bool multipart = !SubPartList.Empty();
    std::size_t bodySize = multipart ? 0 : Body().size();
    if (multipart) {
        bodySize = kPreamble.size();
        WriteParts(*this, [&bodySize](std::string_view s) { bodySize += s.size(); });
    }
    WriteFileSafely(fileName, overwrite, [&](const std::function<void(std::string_view)>& sink) {
        bool lengthWritten = false;
        for (const auto& line : Header) {
            if (!IsField(line))
                continue;
            if (IStartsWith(line, "Content-Length:")) {
                if (lengthWritten)
                    continue;
                sink("Content-Length: " + std::to_string(bodySize) + "\r\n");
                lengthWritten = true;
                continue;
            }
            SinkLine(line, sink);
            sink("\r\n");
        }
        sink("\r\n");
        if (multipart) {
            sink(kPreamble);
            WriteParts(*this, sink);
        } else {
            sink(Body());
        }
    });
}
