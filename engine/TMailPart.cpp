#include "TMailPart.h"

#include "Codecs.h"
#include "EngineError.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "MimeTypes.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <cstring>

// ---- TMailPartList ---------------------------------------------------------

int TMailPartList::IndexOf(const TMailPart* part) const
{
    const auto it = std::find(m_items.begin(), m_items.end(), part);
    return it == m_items.end() ? -1 : static_cast<int>(it - m_items.begin());
}

void TMailPartList::Insert(std::size_t index, TMailPart* part)
{
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(std::min(index, m_items.size())), part);
}

void TMailPartList::Delete(std::size_t index)
{
    if (index < m_items.size())
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(index));
}

bool TMailPartList::Remove(const TMailPart* part)
{
    // Parts are usually removed from the end (children freed in reverse).
    for (std::size_t i = m_items.size(); i-- > 0;) {
        if (m_items[i] == part) {
            m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    }
    return false;
}

// ---- TMailPart -------------------------------------------------------------

TMailPart::TMailPart(TMailMessage2000* owner) : OwnerMessage(owner) {}

TMailPart::~TMailPart() = default;

int TMailPart::FindLabel(std::string_view label) const
{
    std::string prefix(label);
    prefix += ':';
    return FindHeaderLine(&Header, prefix, 0);
}

namespace {

// Quotes of either kind around a value longer than two characters go.
std::string StripLabelQuotes(std::string v)
{
    auto isQuote = [](char c) { return c == '"' || c == '\''; };
    if (v.size() > 2 && isQuote(v.front()) && isQuote(v.back()))
        return v.substr(1, v.size() - 2);
    return v;
}

} // namespace

std::string TMailPart::GetLabelValue(std::string_view label) const
{
    const int i = FindLabel(label);
    if (i < 0)
        return {};
    return StripLabelQuotes(TrimBlanks(HeaderMainValueView(Header[static_cast<std::size_t>(i)])));
}

std::string TMailPart::GetLabelParamValue(std::string_view label, std::string_view param) const
{
    const int i = FindLabel(label);
    if (i < 0)
        return {};
    const std::string& line = Header[static_cast<std::size_t>(i)];
    // The RFC 2231 form carries the real name where mailers also write a
    // plain fallback beside it.
    std::string extended;
    if (GetHeaderParamExtended(line, param, extended) && !TrimBlanksView(extended).empty())
        return StripLabelQuotes(TrimBlanks(extended));
    return StripLabelQuotes(TrimBlanks(GetHeaderParam(line, param)));
}

void TMailPart::SetLabelValue(std::string_view label, std::string_view value)
{
    int i = FindLabel(label);
    if (value.empty()) {
        if (i >= 0)
            Header.erase(Header.begin() + i);
        return;
    }
    if (i < 0) {
        Header.push_back(std::string(label) + ": ");
        i = static_cast<int>(Header.size()) - 1;
    }
    auto& line = Header[static_cast<std::size_t>(i)];
    line = SetHeaderMainValue(line, value);
}

void TMailPart::SetLabelParamValue(std::string_view label, std::string_view param, std::string_view value)
{
    int i = FindLabel(label);
    if (i < 0) {
        Header.push_back(std::string(label) + ": ");
        i = static_cast<int>(Header.size()) - 1;
    }
    auto& line = Header[static_cast<std::size_t>(i)];
    line = SetHeaderParam(line, param, value);
}

bool TMailPart::LabelExists(std::string_view label) const { return FindLabel(label) >= 0; }

bool TMailPart::LabelParamExists(std::string_view label, std::string_view param) const
{
    const int i = FindLabel(label);
    return i >= 0 && !TrimBlanks(GetHeaderParam(Header[static_cast<std::size_t>(i)], param)).empty();
}

std::string TMailPart::GetContentType() const { return AsciiLowerCase(GetLabelValue("Content-Type")); }

std::string TMailPart::GetBoundary() const { return GetLabelParamValue("Content-Type", "boundary"); }

std::string TMailPart::GetFileName() const
{
    auto source = [this]() -> std::string {
        if (LabelExists("X-Corvanta-Attachment"))
            return GetLabelValue("X-Corvanta-Attachment");
        if (std::string n = GetLabelParamValue("Content-Type", "name"); !n.empty())
            return n;
        if (std::string n = GetLabelParamValue("Content-Disposition", "filename"); !n.empty())
            return n;
        if (LabelExists("Content-ID"))
            return GetLabelValue("Content-ID");
        if (LabelExists("Content-Location"))
            return GetLabelValue("Content-Location");
        if (LabelExists("Content-Type")) {
            const std::string type = GetLabelValue("Content-Type");
            return type + ExtensionForContentType(type);
        }
        return "unknown";
    };
    std::string name = source();
    name = DecodeHeaderWords(name);
    if (name.find('.') == std::string::npos && LabelExists("Content-Type"))
        name += ExtensionForContentType(GetLabelValue("Content-Type"));
    return SafeFileName(name);
}

void TMailPart::Detach()
{
    if (!ParentPart || this == OwnerMessage)
        return;
    if (ParentPart->SubPartList.Remove(this))
        ParentPart = nullptr;
}

namespace {

// Every line break becomes CR LF, whatever it was before; the text ends at
// its first zero byte. A last line without a break gets none: adding one
// would change the content of the message's last part. Text that is
// already clean is used as it is.
void NormaliseLineEnds(std::string& text)
{
    text.resize(UpToZero(text).size());
    // Most files already end every line in CR LF: find the first line break
    // that is not a CR LF pair before copying anything.
    std::size_t first = text.size();
    for (std::size_t i = 0; (i = text.find('\n', i)) != std::string::npos; ++i)
        if (i == 0 || text[i - 1] != '\r') {
            first = i;
            break;
        }
    for (std::size_t i = 0; (i = text.find('\r', i)) != std::string::npos && i < first; ++i)
        if (i + 1 >= text.size() || text[i + 1] != '\n') {
            first = i;
            break;
        }
    if (first == text.size())
        return;
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    out.append(text, 0, first);
    std::size_t i = first;
    while (i < text.size()) {
        std::size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n')
            ++j;
        out.append(text, i, j - i);
        if (j < text.size())
            out += "\r\n"; // a last line without a break stays without one
        if (j < text.size() && text[j] == '\r' && j + 1 < text.size() && text[j + 1] == '\n')
            j += 2;
        else if (j < text.size())
            ++j;
        i = j;
    }
    text.swap(out);
}

} // namespace

void TMailPart::LoadFromFile(const std::string& fileName)
{
    std::string text = ReadWholeFile(fileName);
    NormaliseLineEnds(text);
    // The text is ours to give: a single body takes it over.
    ParseRange(text.data(), UpToZero(text).size(), true, 0, &text);
}

void TMailPart::ParseText(std::string& data, bool hasHeader)
{
    ParseRange(data.data(), UpToZero(data).size(), hasHeader, 0);
}

void TMailPart::ParseText(char* data, std::size_t length, bool hasHeader)
{
    length = UpToZero(std::string_view(data, length)).size();
    ParseRange(data, length, hasHeader, 0);
}

void TMailPart::ReportProgress(std::size_t total, std::size_t current)
{
    if (this == OwnerMessage && OwnerMessage->OnProgress)
        OwnerMessage->OnProgress(this, total, current);
}

// data[length] must be readable: it is the terminating zero of the caller's
// text, or the zero a parent wrote over the CR before a delimiter line.
// One parse's walk over its text, line by line in place: the current line,
// and the progress the root reports for every line it reads.
struct TMailPart::LineCursor {
    TMailPart& part;
    char* data;
    std::size_t length;
    long long start = -1;
    bool done = false;
    char* line = nullptr;
    std::size_t lineLength = 0;

    void Next()
    {
        NextBufferLine(data, length, start, done, line, lineLength);
        if (!done)
            part.ReportProgress(length, static_cast<std::size_t>(start) + 1);
    }
    [[nodiscard]] std::string_view Line() const { return {line, lineLength}; }
    [[nodiscard]] std::size_t Offset() const { return static_cast<std::size_t>(start); }
};

// owner, when given, is the string that holds data and that the caller
// gives up: a body that runs to the end of the text is then taken from it
// instead of copied.
void TMailPart::ParseRange(char* data, std::size_t length, bool hasHeader, int depth, std::string* owner)
{
    if (!OwnerMessage)
        throw EMailError(Name + ": TMailPart must be owned by a TMailMessage2000");
    TMailMessage2000* const msg = OwnerMessage;
    if (this == msg) {
        // Every derived reference is about to dangle; a scan rebuilds them.
        msg->AttachList.Clear();
        msg->TextPart = msg->HtmlPart = msg->MixedPart = msg->RelatedPart = msg->AlternativePart = nullptr;
        msg->CurrentContainer = nullptr;
    }
    while (!SubPartList.Empty())
        msg->FreePart(SubPartList.Items(SubPartList.Count() - 1));
    Header.clear();
    Body.clear();
    Decoded.clear();
    IsDecoded = false;
    Embedded = false;
    m_delimited = false;
    msg->NeedsSerialize = msg->NeedsRebuild = msg->NeedsScan = true;

    ReportProgress(length, 0);
    LineCursor cursor{*this, data, length};

    bool bodyStartsAtCurrentLine = false;
    if (hasHeader) {
        for (;;) {
            cursor.Next();
            if (cursor.done || cursor.lineLength == 0)
                break;
            const std::string_view l = cursor.Line();
            // A line that is no field at all (no colon, no fold) means the
            // blank line before the body is missing: the body starts here
            // instead of being swallowed into the header.
            if (l[0] != '\t' && l[0] != ' ' && l.find(':') == std::string_view::npos && !Header.empty()) {
                bodyStartsAtCurrentLine = true;
                break;
            }
            if ((l[0] == '\t' || l[0] == ' ') && !Header.empty()) {
                std::string& prev = Header.back();
                prev += ' ';
                std::string_view rest = l.substr(1);
                while (!rest.empty() && IsBlank(rest.front()))
                    rest.remove_prefix(1);
                prev += rest;
            } else {
                Header.emplace_back(l);
            }
        }
        for (auto& h : Header)
            h = CanonicalHeaderLine(h);
    }

    const std::string type = GetContentType();
    const bool multipart = type.compare(0, 10, "multipart/") == 0;
    std::string delimiter, closing;
    bool scanning = false;
    if (multipart && depth < kMaxNesting) {
        delimiter = "--" + GetBoundary();
        closing = delimiter + "--";
        scanning = true;
    } else if (!LabelExists("Content-Type")) {
        delimiter = "begin 6";
        closing = "end";
        scanning = true;
    }

    if (!bodyStartsAtCurrentLine)
        cursor.Next();
    long long bodyStart = -1;
    bool stopped = false;
    while (!cursor.done) {
        const std::string_view l = cursor.Line();
        bool atDelimiter = false;
        if (scanning && (StartsWith(l, "--") || StartsWith(l, "be")))
            atDelimiter = StartsWith(l, delimiter);
        if (scanning && atDelimiter) {
            stopped = true;
            break;
        }
        if (bodyStart < 0)
            bodyStart = cursor.start;
        cursor.Next();
    }
    if (bodyStart >= 0 && !stopped && owner && owner->data() == data) {
        owner->resize(length);
        owner->erase(0, static_cast<std::size_t>(bodyStart));
        Body = std::move(*owner);
        owner->clear();
    } else if (bodyStart >= 0) {
        const std::size_t end = stopped ? cursor.Offset() : length;
        Body.assign(data + bodyStart, end - static_cast<std::size_t>(bodyStart));
    }

    if (stopped && multipart)
        ParseMultipartChildren(cursor, depth, delimiter, closing);
    else if (stopped)
        ParseUuencodeChildren(cursor, depth);

    // Leave the buffer as it came: put back a CR still replaced by a zero.
    if (!cursor.done) {
        const std::size_t end = cursor.Offset() + cursor.lineLength;
        if (end < length && data[end] == '\0')
            data[end] = '\r';
    }
    ReportProgress(length, length);
}

void TMailPart::ParseMultipartChildren(LineCursor& cursor, int depth, const std::string& delimiter,
                                       const std::string& closing)
{
    char* const data = cursor.data;
    const std::size_t length = cursor.length;
    TMailMessage2000* const msg = OwnerMessage;
    const std::string boundary = GetBoundary();
    auto addChild = [&](std::size_t from, std::size_t to) {
        // The child sees a text that ends just before the CR LF that
        // precedes the delimiter line.
        const char saved = data[to];
        data[to] = '\0';
        TMailPart* child = msg->CreatePart();
        child->ParentPart = this;
        try {
            child->ParseRange(data + from, to - from, true, depth + 1);
        } catch (...) {
            data[to] = saved;
            msg->FreePart(child);
            throw;
        }
        data[to] = saved;
        child->ParentBoundary = boundary;
        SubPartList.Add(child);
    };
    bool atClosing = StartsWith(cursor.Line(), closing);
    bool atDelimiter = !atClosing;
    m_delimited = atDelimiter;
    long long childStart = -1;
    bool closed = false;
    while (!cursor.done) {
        if (atDelimiter || atClosing) {
            if (childStart >= 0 && cursor.start >= 2) {
                const std::size_t childEnd = cursor.Offset() - 2;
                if (childEnd > static_cast<std::size_t>(childStart))
                    addChild(static_cast<std::size_t>(childStart), childEnd);
            }
            if (atClosing) {
                closed = true;
                break; // the epilogue is ignored
            }
            atDelimiter = false;
            childStart = -1;
        } else if (childStart < 0) {
            childStart = cursor.start;
        }
        cursor.Next();
        if (cursor.done)
            break;
        const std::string_view l = cursor.Line();
        atDelimiter = atClosing = false;
        if (StartsWith(l, "--")) {
            atClosing = StartsWith(l, closing);
            if (!atClosing)
                atDelimiter = StartsWith(l, delimiter);
        }
    }
    // A message cut short before its closing delimiter keeps its last part
    // instead of losing it (often the attachment).
    if (!closed && childStart >= 0 && static_cast<std::size_t>(childStart) < length)
        addChild(static_cast<std::size_t>(childStart), length);
}

void TMailPart::ParseUuencodeChildren(LineCursor& cursor, int depth)
{
    TMailMessage2000* const msg = OwnerMessage;
    char* const data = cursor.data;
    std::string newBoundary;
    std::string fileName;
    long long childStart = -1;
    bool inBlock = true;
    bool atBegin = true;
    bool atEnd = false;
    while (!cursor.done) {
        const std::string_view l = cursor.Line();
        if (atBegin) {
            if (newBoundary.empty()) {
                // The text before the first file becomes the first part.
                newBoundary = NewBoundary();
                std::string text = QPEncodeText(UpToZero(Body), false);
                TMailPart* child = msg->CreatePart();
                child->ParentPart = this;
                child->ParseRange(text.data(), text.size(), false, depth + 1);
                child->ParentBoundary = newBoundary;
                child->SetLabelValue("Content-Type", "text/plain");
                child->SetLabelParamValue("Content-Type", "charset", "\"" + msg->Charset + "\"");
                child->SetLabelValue("Content-Transfer-Encoding", "quoted-printable");
                SubPartList.Add(child);
                SetLabelValue("Content-Type", "multipart/mixed");
                SetLabelParamValue("Content-Type", "boundary", "\"" + newBoundary + "\"");
            }
            fileName = TrimBlanks(l.size() > 10 ? l.substr(10, 999) : std::string_view());
            childStart = -1;
        } else if (atEnd) {
            TMailPart* child = msg->CreatePart();
            child->ParentPart = this;
            if (childStart >= 0 && cursor.Offset() >= 2 && cursor.Offset() - 2 > static_cast<std::size_t>(childStart))
                UUDecodeToStream(
                    std::string_view(data + childStart, cursor.Offset() - 2 - static_cast<std::size_t>(childStart)),
                    child->Decoded);
            child->EncodeBase64();
            child->IsDecoded = true; // Decoded is what Body now encodes
            child->ParentBoundary = newBoundary;
            child->SetLabelValue("Content-Type", ContentTypeForFile(fileName));
            child->SetLabelValue("Content-Transfer-Encoding", "base64");
            child->SetLabelValue("Content-Disposition", "attachment");
            const std::string quoted = "\"" + EncodeHeaderWord(fileName, msg->Charset) + "\"";
            child->SetLabelParamValue("Content-Type", "name", quoted);
            child->SetLabelParamValue("Content-Disposition", "filename", quoted);
            child->SetLabelValue("X-Corvanta-Attachment", quoted);
            child->SetLabelParamValue("X-Corvanta-Attachment", "embedded", "no");
            SubPartList.Add(child);
            childStart = -1;
        } else if (childStart < 0) {
            childStart = cursor.start;
        }
        cursor.Next();
        if (cursor.done)
            break;
        const std::string_view n = cursor.Line();
        atBegin = atEnd = false;
        if (StartsWith(n, "be")) {
            atBegin = StartsWith(n, "begin 6");
            inBlock = true;
        }
        if (!atBegin && inBlock && StartsWith(n, "end")) {
            atEnd = true;
            inBlock = false;
        }
    }
}

bool TMailPart::Decode()
{
    if (IsDecoded)
        return true;
    IsDecoded = true;
    if (Body.empty())
        return true;
    Decoded.clear();
    const std::string cte = AsciiLowerCase(GetLabelValue("Content-Transfer-Encoding"));
    if (cte == "quoted-printable") {
        QPDecodeAppend(Body, Decoded);
    } else if (cte == "base64") {
        // The whole body in one pass: a group may be split over two lines,
        // and blanks or junk between the characters are skipped.
        Base64DecodeAppend(Body, Decoded);
    } else if (cte == "uucode" || cte == "x-uuencode" || cte == "uuencode" || cte == "x-uue") {
        // Lines keep their trailing spaces: older encoders end full lines
        // with them, and each stands for a zero value. Leading blanks go
        // (a line that starts with one carries no bytes anyway).
        const std::string_view body(Body);
        unsigned char buf[45];
        std::size_t pos = 0;
        while (pos < body.size()) {
            const std::size_t e = body.find("\r\n", pos);
            const std::size_t lineEnd = e == std::string_view::npos ? body.size() : e;
            std::string_view line = body.substr(pos, lineEnd - pos);
            while (!line.empty() && IsBlank(line.front()))
                line.remove_prefix(1);
            if (const std::size_t n = UUDecodeLine(line, buf))
                Decoded.append(reinterpret_cast<const char*>(buf), n);
            pos = e == std::string_view::npos ? body.size() : e + 2;
        }
        EncodeBase64();
    } else {
        Decoded = Body;
    }
    return true;
}

void TMailPart::Encode(TEncodingType encoding)
{
    switch (encoding) {
    case TEncodingType::etBase64:
        EncodeBase64();
        break;
    case TEncodingType::etQuotedPrintable:
        EncodeQuotedPrintable();
        break;
    case TEncodingType::etNoEncoding:
        Body = Decoded;
        SetLabelValue("Content-Transfer-Encoding", "");
        break;
    }
}

void TMailPart::EncodeQuotedPrintable()
{
    Body.clear();
    SetLabelValue("Content-Transfer-Encoding", "quoted-printable");
    if (Decoded.empty())
        return;
    QPEncodeBodyAppend(Decoded, Body); // Body is empty; its old storage is reused
    // The encoder ends every text with a line break; a text that had none
    // ends with a soft break instead, so decoding gives the same bytes back.
    const bool hadBreak = Decoded.size() >= 2 && Decoded.compare(Decoded.size() - 2, 2, "\r\n") == 0;
    if (!hadBreak && Body.size() >= 2)
        Body.insert(Body.size() - 2, "=");
}

void TMailPart::EncodeBase64()
{
    Base64EncodeStream(Body, Decoded);
    SetLabelValue("Content-Transfer-Encoding", "base64");
}
