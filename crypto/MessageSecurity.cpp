#include "MessageSecurity.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

std::string LocalTimeText(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm))
        return {};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d %s %d %02d:%02d", tm.tm_mday, kMonths[tm.tm_mon % 12], tm.tm_year + 1900,
                  tm.tm_hour, tm.tm_min);
    return buf;
}

std::string Signer(const TSignature& s)
{
    std::string who = s.signerName;
    if (!s.signerAddress.empty())
        who += (who.empty() ? "<" : " <") + s.signerAddress + ">";
    return who;
}

} // namespace

const char* ProtocolName(TSecureProtocol protocol) { return protocol == TSecureProtocol::SMime ? "S/MIME" : "OpenPGP"; }

const char* VerdictName(TSignatureVerdict verdict)
{
    switch (verdict) {
    case TSignatureVerdict::Good: return "good";
    case TSignatureVerdict::GoodUntrusted: return "good-untrusted";
    case TSignatureVerdict::KeyMissing: return "key-missing";
    case TSignatureVerdict::KeyExpired: return "key-expired";
    case TSignatureVerdict::SignatureExpired: return "signature-expired";
    case TSignatureVerdict::KeyRevoked: return "key-revoked";
    case TSignatureVerdict::Bad: return "bad";
    case TSignatureVerdict::NotChecked: return "not-checked";
    }
    return "not-checked";
}

std::string VerdictWords(const TSignature& s)
{
    const bool smime = s.protocol == TSecureProtocol::SMime;
    const char* key = smime ? "certificate" : "key";
    std::string words;
    switch (s.verdict) {
    case TSignatureVerdict::Good:
        words = std::string("good signature: the message is unchanged and the signer's ") + key + " is trusted";
        break;
    case TSignatureVerdict::GoodUntrusted:
        words = std::string("good signature, but the signer's ") + key
                + (smime ? " is not trusted: nothing says it belongs to the signer"
                         : " is not certified: nothing says it belongs to the signer");
        break;
    case TSignatureVerdict::KeyMissing:
        words = std::string("not checked: the signer's ") + key + " is not here";
        if (!s.fingerprint.empty())
            words += " (" + s.fingerprint + ")";
        break;
    case TSignatureVerdict::KeyExpired:
        words = std::string("the signer's ") + key + " has expired: the signature cannot be relied on";
        break;
    case TSignatureVerdict::SignatureExpired: words = "the signature has expired: it cannot be relied on"; break;
    case TSignatureVerdict::KeyRevoked:
        words = std::string("the signer's ") + key + " was revoked: the signature cannot be relied on";
        break;
    case TSignatureVerdict::Bad: words = "BAD signature: the message was changed after it was signed"; break;
    case TSignatureVerdict::NotChecked: words = "the signature was not checked"; break;
    }
    if (!s.detail.empty() && s.verdict != TSignatureVerdict::Good && s.verdict != TSignatureVerdict::Bad)
        words += " (" + s.detail + ")";
    return words;
}

std::string SignatureSentence(const TSignature& s)
{
    std::string sentence = std::string(ProtocolName(s.protocol)) + " signature";
    const std::string who = Signer(s);
    if (!who.empty())
        sentence = "Signed by " + who;
    if (s.time > 0)
        sentence += " on " + LocalTimeText(s.time);
    sentence += ": " + VerdictWords(s) + ".";
    if (s.addressDiffers && !s.signerAddress.empty())
        sentence += " The signer's address " + s.signerAddress + " is not the From address"
                    + (s.fromAddress.empty() ? std::string() : " " + s.fromAddress) + ".";
    if (s.partial)
        sentence += " Only part of what is shown is signed.";
    return sentence;
}

std::string EncryptionSentence(const TMessageSecurity& security)
{
    const std::string protocol = ProtocolName(security.encryptionProtocol);
    std::string sentence;
    switch (security.encryption) {
    case TEncryptionState::None: return {};
    case TEncryptionState::Decrypted:
        sentence = "Encrypted (" + protocol + "): decrypted with your key; it is not stored decrypted.";
        break;
    case TEncryptionState::NoKey: {
        sentence = "Encrypted (" + protocol + ") to keys that are not here";
        std::string ids;
        for (const std::string& id : security.recipients)
            ids += (ids.empty() ? "" : ", ") + id;
        if (!ids.empty())
            sentence += ": " + ids;
        sentence += ". It cannot be shown.";
        break;
    }
    case TEncryptionState::Failed: sentence = "Encrypted (" + protocol + "), but it could not be decrypted"; break;
    }
    if (security.encryption != TEncryptionState::NoKey && !security.encryptionDetail.empty())
        sentence += (security.encryption == TEncryptionState::Failed ? ": " : " (")
                    + security.encryptionDetail
                    + (security.encryption == TEncryptionState::Failed ? "." : ").");
    else if (security.encryption == TEncryptionState::Failed)
        sentence += ".";
    return sentence;
}

bool IsWarning(TSignatureVerdict verdict)
{
    return verdict == TSignatureVerdict::Bad || verdict == TSignatureVerdict::KeyRevoked
           || verdict == TSignatureVerdict::KeyExpired || verdict == TSignatureVerdict::SignatureExpired;
}

const TSignature* DecidingSignature(const TMessageSecurity& security)
{
    // Bad outranks everything; then what was not checked, then the rest by
    // how little it can be relied on.
    auto rank = [](TSignatureVerdict v) {
        if (IsWarning(v))
            return 10 + static_cast<int>(v);
        if (v == TSignatureVerdict::NotChecked)
            return 9;
        return static_cast<int>(v);
    };
    const TSignature* worst = nullptr;
    for (const TSignature& s : security.signatures)
        if (!worst || rank(s.verdict) > rank(worst->verdict))
            worst = &s;
    return worst;
}

int VerifyExitStatus(const TMessageSecurity& security)
{
    const TSignature* s = DecidingSignature(security);
    if (!s)
        return 2;
    if (IsWarning(s->verdict))
        return 1;
    if (s->verdict == TSignatureVerdict::Good || s->verdict == TSignatureVerdict::GoodUntrusted)
        return 0;
    return 2;
}
