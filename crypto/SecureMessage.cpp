#include "SecureMessage.h"

#include "CryptoEngine.h"
#include "SecureParts.h"
#include "TMailMessage2000.h"
#include "TextUtils.h"

#include <algorithm>
#include <vector>

namespace {

// Layers opened one inside the other (encrypted, then signed inside, ...).
// Real mail has two at most; a message that decrypts to itself stops here.
constexpr int kMaxLayers = 4;

bool IsSecureType(const std::string& type)
{
    return type == "multipart/signed" || type == "multipart/encrypted" || type == "application/pkcs7-mime"
           || type == "application/x-pkcs7-mime";
}

void AddSignatures(TMessageSecurity& security, const TCryptoResult& result, TSecureProtocol protocol, bool partial)
{
    if (result.signatures.empty()) {
        TSignature s;
        s.protocol = protocol;
        s.verdict = TSignatureVerdict::NotChecked;
        s.detail = result.error.empty() ? "no signature could be read" : result.error;
        s.partial = partial;
        security.signatures.push_back(std::move(s));
        return;
    }
    for (TSignature s : result.signatures) {
        s.protocol = protocol;
        s.partial = s.partial || partial;
        security.signatures.push_back(std::move(s));
    }
}

// The signer's address that is the From address, else the first one; and
// whether none is.
void CompareWithFrom(TSignature& s, const std::string& from)
{
    s.fromAddress = from;
    if (s.keyAddresses.empty())
        return;
    const std::string wanted = AsciiLowerCase(TrimBlanks(from));
    for (const std::string& a : s.keyAddresses)
        if (!wanted.empty() && AsciiLowerCase(TrimBlanks(a)) == wanted) {
            s.signerAddress = a;
            s.addressDiffers = false;
            return;
        }
    if (s.signerAddress.empty())
        s.signerAddress = s.keyAddresses.front();
    s.addressDiffers = true;
}

bool IsTextBody(const TMailPart& part)
{
    const std::string type = part.GetContentType();
    return (type.empty() || type == "text/plain")
           && AsciiLowerCase(TrimBlanks(part.GetLabelValue("Content-Disposition"))) != "attachment";
}

// Whether a text leaf holds inline signed text, read without decoding
// anything but base64 (the marker is plain ASCII in every other encoding).
bool MayHoldClearSigned(TMailPart& part)
{
    if (!part.SubPartList.Empty() || !IsTextBody(part))
        return false;
    if (AsciiLowerCase(TrimBlanks(part.GetLabelValue("Content-Transfer-Encoding"))) == "base64") {
        part.Decode();
        return HoldsClearSigned(part.Decoded);
    }
    return HoldsClearSigned(part.Body());
}

// Whether two part trees hold the same: the same types, in the same shape,
// with the same decoded leaves.
bool SameContent(TMailPart& a, TMailPart& b, int depth)
{
    if (depth > TMailPart::kMaxNesting || a.GetContentType() != b.GetContentType()
        || a.SubPartList.Count() != b.SubPartList.Count())
        return false;
    if (a.SubPartList.Empty()) {
        a.Decode();
        b.Decode();
        return a.Decoded == b.Decoded;
    }
    for (std::size_t i = 0; i < a.SubPartList.Count(); ++i)
        if (!SameContent(*a.SubPartList.Items(i), *b.SubPartList.Items(i), depth + 1))
            return false;
    return true;
}

bool Within(const TMailPart* part, const TMailPart* tree)
{
    for (; part; part = part->ParentPart)
        if (part == tree)
            return true;
    return false;
}

// Whether the message holds content outside what was checked (a footer, a
// part beside the signed one): a leaf with something in it that is neither
// inside checked nor one of the signatures.
bool HoldsMoreThan(TMailPart& message, const TMailPart* checked)
{
    std::vector<TMailPart*> stack{&message};
    while (!stack.empty()) {
        TMailPart* p = stack.back();
        stack.pop_back();
        if (Within(p, checked))
            continue;
        if (p->SubPartList.Empty()) {
            if (IsSignatureType(p->GetContentType()))
                continue;
            p->Decode();
            if (p->Decoded.find_first_not_of(" \t\r\n") != std::string::npos)
                return true;
            continue;
        }
        for (TMailPart* child : p->SubPartList)
            stack.push_back(child);
    }
    return false;
}

// The signed content of the message's multipart/signed as the engine read
// it (the one the window shows): on the path of first parts, as the stored
// text is searched, the part that is not the signature.
TMailPart* ShownSignedContent(TMailMessage2000& message)
{
    TMailPart* part = &message;
    for (int depth = 0; part && depth < 9; ++depth) {
        const std::string type = part->GetContentType();
        if (type == "multipart/signed") {
            for (TMailPart* child : part->SubPartList)
                if (!IsSignatureType(child->GetContentType()))
                    return child;
            return nullptr;
        }
        if (!type.starts_with("multipart/") || part->SubPartList.Empty())
            return nullptr;
        part = part->SubPartList.Items(0);
    }
    return nullptr;
}

// A detached signature holds for what is shown only when the engine reads
// the signed bytes as the very content it shows: a message that can be read
// two ways (two Content-Type fields, say) could otherwise show other text
// under a good verdict. And what is shown beside the signed content makes
// the verdict one for part of the message.
void CheckShownIsSigned(TMailMessage2000& message, std::string signedBytes, std::vector<TSignature>& verdicts)
{
    TMailPart* shown = ShownSignedContent(message);
    TMailMessage2000 read;
    read.ParseText(signedBytes, true);
    if (!shown || !SameContent(*shown, read, 0)) {
        for (TSignature& s : verdicts) {
            if (s.verdict == TSignatureVerdict::NotChecked)
                continue; // it says why already
            TSignature unchecked;
            unchecked.protocol = s.protocol;
            s = std::move(unchecked);
            s.verdict = TSignatureVerdict::NotChecked;
            s.detail = "the message can be read in more than one way, and what is shown may not be what was signed";
        }
        return;
    }
    const bool more = HoldsMoreThan(message, shown);
    for (TSignature& s : verdicts)
        s.partial = s.partial || more;
}

} // namespace

bool MayBeSecure(const TMailMessage2000& message)
{
    const TMailPart* part = &message;
    for (int depth = 0; part && depth < 9; ++depth) {
        const std::string type = part->GetContentType();
        if (IsSecureType(type))
            return true;
        if (!type.starts_with("multipart/") || part->SubPartList.Empty())
            return false;
        part = part->SubPartList.Items(0);
    }
    return false;
}

TMessageSecurity ReadSecurity(TMailMessage2000& message, std::string text, TCryptoEngine& engine)
{
    TMessageSecurity security;
    bool opened = false; // a layer's content took its place in the text
    std::string signedBytes; // of the detached signature checked, if any
    std::size_t signedFrom = 0;
    for (int layers = 0;; ++layers) {
        const TSecureLayer layer = FindSecureLayer(text);
        if (layer.kind == TLayerKind::None && layers == 0) {
            // The parsed message says signed or encrypted, the stored text
            // holds no such layer that can be read (a signed part without
            // its signature, say).
            TSignature s;
            s.verdict = TSignatureVerdict::NotChecked;
            s.detail = "its signed or encrypted part is incomplete";
            security.signatures.push_back(std::move(s));
            break;
        }
        if (layer.kind == TLayerKind::None)
            break;
        if (layers == kMaxLayers) {
            TSignature s;
            s.verdict = TSignatureVerdict::NotChecked;
            s.protocol = layer.protocol;
            s.detail = "it lies inside more than " + std::to_string(kMaxLayers)
                       + " signed or encrypted layers, which were not opened further";
            security.signatures.push_back(std::move(s));
            break;
        }
        if (layer.kind == TLayerKind::Signed) {
            signedFrom = security.signatures.size();
            AddSignatures(security, engine.VerifyDetached(layer.protocol, layer.signedBytes, layer.payload),
                          layer.protocol, layer.partial);
            signedBytes = layer.signedBytes;
            break;
        }
        TCryptoResult result;
        bool signedData = layer.kind == TLayerKind::SignedData;
        if (!signedData) {
            result = engine.Decrypt(layer.protocol, layer.payload);
            if (!result.decrypted && layer.guessed && !result.noKey) {
                // No smime-type: not enveloped after all, perhaps signed-data.
                TCryptoResult opaque = engine.VerifyOpaque(layer.protocol, layer.payload);
                if (!opaque.plain.empty() && !opaque.signatures.empty()) {
                    result = std::move(opaque);
                    signedData = true;
                }
            }
        } else {
            result = engine.VerifyOpaque(layer.protocol, layer.payload);
        }
        if (signedData) {
            AddSignatures(security, result, layer.protocol, layer.partial);
            if (result.plain.empty())
                break;
        } else {
            security.encryptionProtocol = layer.protocol;
            security.recipients = result.recipients;
            if (!result.decrypted) {
                security.encryption = result.noKey ? TEncryptionState::NoKey : TEncryptionState::Failed;
                security.encryptionDetail = result.error;
                break;
            }
            security.encryption = TEncryptionState::Decrypted;
            if (!result.signatures.empty())
                AddSignatures(security, result, layer.protocol, layer.partial);
        }
        text = SpliceContent(text, layer, CanonicalLineEnds(result.plain));
        opened = true;
    }
    // Parsed again only when content took a layer's place: a parse of the
    // text would lose what the file's load kept (binary parts' bytes).
    if (opened)
        message.ParseText(std::move(text), true);
    if (signedFrom < security.signatures.size() && !signedBytes.empty()) {
        std::vector<TSignature> verdicts(security.signatures.begin() + static_cast<std::ptrdiff_t>(signedFrom),
                                         security.signatures.end());
        CheckShownIsSigned(message, std::move(signedBytes), verdicts);
        std::copy(verdicts.begin(), verdicts.end(), security.signatures.begin() + static_cast<std::ptrdiff_t>(signedFrom));
    }
    const std::string from = message.GetFromAddress();
    for (TSignature& s : security.signatures)
        CompareWithFrom(s, from);
    return security;
}

void ReadInlineSignature(TMailMessage2000& message, TCryptoEngine& engine, TMessageSecurity& security)
{
    // A look over the leaves first: scanning the message is left to the
    // caller unless one may hold signed text.
    std::vector<TMailPart*> stack{&message};
    bool candidate = false;
    while (!stack.empty() && !candidate) {
        TMailPart* part = stack.back();
        stack.pop_back();
        candidate = MayHoldClearSigned(*part);
        for (TMailPart* child : part->SubPartList)
            stack.push_back(child);
    }
    if (!candidate)
        return;
    message.ScanParts();
    TMailPart* text = message.TextPart;
    if (!text)
        return;
    text->Decode();
    const TClearSigned clear = FindClearSigned(text->Decoded);
    if (!clear.found)
        return;
    const std::string_view whole = text->Decoded;
    // Text beside the armour, or other text the window shows (an HTML
    // alternative, a second part), is no part of what was signed.
    const std::vector<TMailPart*> shownParts = ShownTextParts(message);
    const bool outside = whole.substr(0, clear.begin).find_first_not_of(" \t\r\n") != std::string_view::npos
                         || whole.substr(clear.end).find_first_not_of(" \t\r\n") != std::string_view::npos
                         || (message.HtmlPart && message.HtmlPart != text)
                         || std::any_of(shownParts.begin(), shownParts.end(), [text](TMailPart* p) { return p != text; });
    const std::size_t first = security.signatures.size();
    if (clear.complete) {
        AddSignatures(security,
                      engine.VerifyOpaque(TSecureProtocol::OpenPGP, whole.substr(clear.begin, clear.end - clear.begin)),
                      TSecureProtocol::OpenPGP, outside);
    } else {
        TSignature s;
        s.verdict = TSignatureVerdict::NotChecked;
        s.detail = "its armour is cut short";
        s.partial = outside;
        security.signatures.push_back(std::move(s));
    }
    const std::string from = message.GetFromAddress();
    for (std::size_t i = first; i < security.signatures.size(); ++i)
        CompareWithFrom(security.signatures[i], from);
    // What the page shows: the text without the armour. The part's body is
    // that text, so the page, the tool and a rebuild all read the same.
    std::string shown(whole.substr(0, clear.begin));
    shown += clear.shown;
    shown.append(whole.substr(clear.end));
    text->SetLabelValue("Content-Transfer-Encoding", "8bit");
    text->SetBody(shown);
    text->Decoded = std::move(shown);
    text->IsDecoded = true;
}
