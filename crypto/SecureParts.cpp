#include "SecureParts.h"

#include "Codecs.h"
#include "HeaderLine.h"
#include "TextUtils.h"

#include <algorithm>
#include <vector>

namespace {

// Multiparts are followed this many levels down to the signed or encrypted
// one; real mail has it at the top or one level down.
constexpr int kMaxDepth = 8;

constexpr std::string_view kCrLf = "\r\n";

struct TRange {
    std::size_t start = 0;
    std::size_t end = 0;
};

// The fields of one part that decide what it is.
struct TPartHeader {
    std::size_t headerEnd = 0; // after the header's last line break
    std::size_t bodyStart = 0; // after the empty line
    std::string type;          // lower case
    std::string contentTypeLine;
    std::string encoding; // lower case
};

// What a CMS message holds, read from the content type that opens it
// (RFC 5652 ContentInfo: a SEQUENCE whose first element is that OID). Many
// mailers leave smime-type out; guessing enveloped-data for signed-data,
// or the other way round, showed the signature's own bytes as the body.
enum class TCmsContent { Unknown, SignedData, EnvelopedData };

TCmsContent CmsContentOf(std::string_view der)
{
    if (der.size() < 2 || static_cast<unsigned char>(der[0]) != 0x30)
        return TCmsContent::Unknown;
    std::size_t pos = 2;
    const unsigned char length = static_cast<unsigned char>(der[1]);
    if (length > 0x80)
        pos += length & 0x7F; // long form; 0x80 alone is the indefinite form
    const std::string_view oid = der.substr(std::min(pos, der.size()));
    constexpr std::string_view kPkcs7 = "\x06\x09\x2A\x86\x48\x86\xF7\x0D\x01\x07";
    constexpr std::string_view kAuthEnveloped = "\x06\x0B\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x01\x17";
    if (oid.starts_with(kAuthEnveloped))
        return TCmsContent::EnvelopedData;
    if (oid.size() <= kPkcs7.size() || !oid.starts_with(kPkcs7))
        return TCmsContent::Unknown;
    switch (oid[kPkcs7.size()]) {
    case 0x02: return TCmsContent::SignedData;
    case 0x03: return TCmsContent::EnvelopedData;
    default: return TCmsContent::Unknown;
    }
}

// The end of the line that starts at pos (before its CR LF), and the start
// of the next.
std::size_t LineEnd(std::string_view text, std::size_t pos, std::size_t end, std::size_t& next)
{
    const std::size_t lf = text.substr(0, end).find('\n', pos);
    if (lf == std::string_view::npos) {
        next = end;
        return end;
    }
    next = lf + 1;
    return lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
}

TPartHeader ReadHeader(std::string_view text, std::size_t start, std::size_t end)
{
    TPartHeader h;
    std::string field; // the field being unfolded
    // The first of a field counts, as it does for the engine: read another
    // way, a second Content-Type would make what is checked other than
    // what is shown.
    bool typeSeen = false, encodingSeen = false;
    auto finish = [&]() {
        if (!typeSeen && IStartsWith(field, "content-type:")) {
            typeSeen = true;
            h.contentTypeLine = WithParamSeparators(field);
            h.type = AsciiLowerCase(TrimBlanks(GetHeaderMainValue(h.contentTypeLine)));
        } else if (!encodingSeen && IStartsWith(field, "content-transfer-encoding:")) {
            encodingSeen = true;
            h.encoding = AsciiLowerCase(TrimBlanks(GetHeaderMainValue(field)));
        }
        field.clear();
    };
    std::size_t pos = start;
    while (pos < end) {
        std::size_t next = 0;
        const std::size_t lineEnd = LineEnd(text, pos, end, next);
        const std::string_view line = text.substr(pos, lineEnd - pos);
        if (line.empty()) {
            h.headerEnd = pos;
            h.bodyStart = next;
            finish();
            return h;
        }
        if (IsBlank(line[0])) {
            // Only the two fields read here are kept whole.
            if (field.size() < 65536)
                field.append(line);
        } else {
            finish();
            if (IStartsWith(line, "content-"))
                field.assign(line);
        }
        pos = next;
    }
    finish();
    h.headerEnd = h.bodyStart = end;
    return h;
}

// Whether the line is the delimiter of the boundary (RFC 2046 5.1.1: "--",
// the boundary, then "--" for the last, then blanks); close tells which.
bool IsDelimiter(std::string_view line, std::string_view boundary, bool& close)
{
    if (line.size() < boundary.size() + 2 || line[0] != '-' || line[1] != '-'
        || line.substr(2, boundary.size()) != boundary)
        return false;
    std::string_view rest = line.substr(2 + boundary.size());
    close = rest.starts_with("--");
    if (close)
        rest.remove_prefix(2);
    return TrimBlanksView(rest).empty();
}

// Up to limit parts of a multipart body, each from the line after its
// delimiter to the CR LF before the next delimiter (that CR LF belongs to
// the delimiter). A last part without a closing delimiter runs to the end.
std::vector<TRange> Children(std::string_view text, std::size_t start, std::size_t end, std::string_view boundary,
                             std::size_t limit)
{
    std::vector<TRange> parts;
    if (boundary.empty())
        return parts;
    bool open = false;
    std::size_t partStart = 0;
    std::size_t pos = start;
    while (pos < end) {
        std::size_t next = 0;
        const std::size_t lineEnd = LineEnd(text, pos, end, next);
        bool close = false;
        if (IsDelimiter(text.substr(pos, lineEnd - pos), boundary, close)) {
            if (open) {
                const std::size_t partEnd = pos >= partStart + 2 && text.substr(pos - 2, 2) == kCrLf ? pos - 2 : pos;
                parts.push_back({partStart, std::max(partStart, partEnd)});
                if (parts.size() >= limit)
                    return parts;
            }
            if (close)
                return parts;
            open = true;
            partStart = next;
        }
        pos = next;
    }
    if (open)
        parts.push_back({partStart, end});
    return parts;
}

std::string Decoded(std::string_view body, const std::string& encoding)
{
    std::string out;
    if (encoding == "base64")
        Base64DecodeAppend(body, out);
    else if (encoding == "quoted-printable")
        QPDecodeAppend(body, out);
    else
        out.assign(body);
    return out;
}

bool IsPkcs7Signature(const std::string& type)
{
    return type == "application/pkcs7-signature" || type == "application/x-pkcs7-signature";
}

bool IsPkcs7Mime(const std::string& type) { return type == "application/pkcs7-mime" || type == "application/x-pkcs7-mime"; }

TSecureLayer Find(std::string_view text, TRange range, int depth, bool partial)
{
    TSecureLayer layer;
    const TPartHeader h = ReadHeader(text, range.start, range.end);
    layer.partStart = range.start;
    layer.partEnd = range.end;
    layer.top = depth == 0;
    layer.partial = partial;
    if (h.type == "multipart/signed" || h.type == "multipart/encrypted") {
        const std::vector<TRange> parts = Children(text, h.bodyStart, range.end, GetHeaderParam(h.contentTypeLine, "boundary"), 2);
        if (parts.size() < 2)
            return layer;
        const std::string protocol = AsciiLowerCase(TrimBlanks(GetHeaderParam(h.contentTypeLine, "protocol")));
        // The signature is the part of a signature's type, wherever it
        // stands (some mailers put it first), as the engine shows the other.
        std::size_t content = 0;
        if (h.type == "multipart/signed") {
            const TPartHeader first = ReadHeader(text, parts[0].start, parts[0].end);
            if (IsSignatureType(first.type) || (!protocol.empty() && first.type == protocol))
                content = 1;
        }
        const TRange sig = parts[1 - content];
        const TPartHeader second = ReadHeader(text, sig.start, sig.end);
        layer.payload = Decoded(text.substr(second.bodyStart, sig.end - second.bodyStart), second.encoding);
        if (h.type == "multipart/signed") {
            layer.kind = TLayerKind::Signed;
            layer.protocol = IsPkcs7Signature(protocol) || IsPkcs7Signature(second.type) ? TSecureProtocol::SMime
                                                                                           : TSecureProtocol::OpenPGP;
            layer.signedBytes = text.substr(parts[content].start, parts[content].end - parts[content].start);
        } else {
            layer.kind = TLayerKind::Encrypted;
            layer.protocol = TSecureProtocol::OpenPGP;
        }
        return layer;
    }
    if (IsPkcs7Mime(h.type)) {
        const std::string smimeType = AsciiLowerCase(TrimBlanks(GetHeaderParam(h.contentTypeLine, "smime-type")));
        if (smimeType == "certs-only")
            return layer;
        layer.protocol = TSecureProtocol::SMime;
        layer.kind = smimeType == "signed-data" ? TLayerKind::SignedData : TLayerKind::Encrypted;
        layer.payload = Decoded(text.substr(h.bodyStart, range.end - h.bodyStart), h.encoding);
        // The data itself says what it is, over a missing or wrong label.
        const TCmsContent content = CmsContentOf(layer.payload);
        if (content != TCmsContent::Unknown)
            layer.kind = content == TCmsContent::SignedData ? TLayerKind::SignedData : TLayerKind::Encrypted;
        layer.guessed = smimeType.empty() && content == TCmsContent::Unknown;
        return layer;
    }
    if (h.type.starts_with("multipart/") && depth < kMaxDepth) {
        const std::vector<TRange> parts = Children(text, h.bodyStart, range.end, GetHeaderParam(h.contentTypeLine, "boundary"), 2);
        if (!parts.empty())
            return Find(text, parts[0], depth + 1, partial || parts.size() > 1);
    }
    return layer;
}

// The header lines of a header block, each with its continuation lines.
std::vector<std::string_view> HeaderFields(std::string_view header)
{
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t next = 0;
        LineEnd(header, pos, header.size(), next);
        if (IsBlank(header[pos]) && !fields.empty())
            fields.back() = header.substr(fields.back().data() - header.data(), next - (fields.back().data() - header.data()));
        else
            fields.push_back(header.substr(pos, next - pos));
        pos = next;
    }
    return fields;
}

std::string FieldName(std::string_view field)
{
    const std::size_t colon = field.find(':');
    return AsciiLowerCase(TrimBlanks(field.substr(0, colon == std::string_view::npos ? 0 : colon)));
}

// Whether the text starts with a header field ("Name: value"): decrypted
// content that does not is a plain text.
bool StartsWithField(std::string_view text)
{
    if (text.starts_with(kCrLf))
        return true; // an empty header
    for (std::size_t i = 0; i < text.size() && i < 1000; ++i) {
        const char c = text[i];
        if (c == ':')
            return i > 0;
        if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127)
            return false;
    }
    return false;
}

bool IsArmourLine(std::string_view line, std::string_view armour)
{
    return line.starts_with(armour) && TrimBlanksView(line.substr(armour.size())).empty();
}

} // namespace

bool IsSignatureType(std::string_view contentType)
{
    const std::string type = AsciiLowerCase(TrimBlanks(contentType));
    return type == "application/pgp-signature" || IsPkcs7Signature(type);
}

TSecureLayer FindSecureLayer(std::string_view text) { return Find(text, {0, text.size()}, 0, false); }

std::string SpliceContent(std::string_view text, const TSecureLayer& layer, std::string_view content)
{
    std::string entity;
    if (!StartsWithField(content)) {
        entity = "Content-Type: text/plain\r\n\r\n";
        entity.append(content);
    } else {
        entity.assign(content);
    }
    if (!layer.top) {
        std::string out(text.substr(0, layer.partStart));
        out += entity;
        out.append(text.substr(std::min(layer.partEnd, text.size())));
        return out;
    }
    const TPartHeader outer = ReadHeader(text, 0, text.size());
    const TPartHeader inner = ReadHeader(entity, 0, entity.size());
    const std::vector<std::string_view> innerFields = HeaderFields(std::string_view(entity).substr(0, inner.headerEnd));
    std::vector<std::string> innerNames;
    for (std::string_view f : innerFields)
        innerNames.push_back(FieldName(f));
    std::string out;
    for (std::string_view f : HeaderFields(text.substr(0, outer.headerEnd))) {
        const std::string name = FieldName(f);
        if (name.starts_with("content-") || std::find(innerNames.begin(), innerNames.end(), name) != innerNames.end())
            continue;
        out.append(f);
    }
    if (!out.empty() && !out.ends_with('\n'))
        out += kCrLf;
    out.append(entity);
    return out;
}

bool HoldsClearSigned(std::string_view text) { return text.find("-----BEGIN PGP SIGNED MESSAGE-----") != std::string_view::npos; }

TClearSigned FindClearSigned(std::string_view text)
{
    TClearSigned found;
    enum class TStage { Before, ArmourHeader, Text, Signature } stage = TStage::Before;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t next = 0;
        const std::size_t lineEnd = LineEnd(text, pos, text.size(), next);
        const std::string_view line = text.substr(pos, lineEnd - pos);
        const std::string_view withBreak = text.substr(pos, next - pos);
        switch (stage) {
        case TStage::Before:
            if (IsArmourLine(line, "-----BEGIN PGP SIGNED MESSAGE-----")) {
                found.found = true;
                found.begin = pos;
                stage = TStage::ArmourHeader;
            }
            break;
        case TStage::ArmourHeader:
            if (TrimBlanksView(line).empty())
                stage = TStage::Text;
            break;
        case TStage::Text:
            if (IsArmourLine(line, "-----BEGIN PGP SIGNATURE-----")) {
                stage = TStage::Signature;
                break;
            }
            // RFC 4880 7.1: a line that starts with a dash was escaped with "- ".
            found.shown.append(withBreak.starts_with("- ") ? withBreak.substr(2) : withBreak);
            break;
        case TStage::Signature:
            if (IsArmourLine(line, "-----END PGP SIGNATURE-----")) {
                found.complete = true;
                found.end = next;
                return found;
            }
            break;
        }
        pos = next;
    }
    found.end = text.size();
    return found;
}
