#pragma once
// What a stored message's signatures and encryption came to: one small
// value that the window's bar, the print header and corvanta-eml all read,
// and the sentences they show it in. Plain C++: no Qt, no GnuPG here.
#include <cstdint>
#include <string>
#include <vector>

enum class TSecureProtocol { OpenPGP, SMime };

// Best first: the order is how much a reader may rely on the signature.
enum class TSignatureVerdict {
    Good,             // unchanged, and the key or certificate is trusted
    GoodUntrusted,    // unchanged, but nothing says the key is the signer's
    KeyMissing,       // the key or certificate is not here: not checked
    KeyExpired,       // made with a key or certificate that has expired
    SignatureExpired, // the signature itself has expired
    KeyRevoked,       // the key or certificate was revoked
    Bad,              // the message was changed after it was signed
    NotChecked,       // nothing could check it (no GnuPG, malformed data)
};

struct TSignature {
    TSignatureVerdict verdict = TSignatureVerdict::NotChecked;
    TSecureProtocol protocol = TSecureProtocol::OpenPGP;
    std::string signerName;    // UTF-8, from the key or certificate
    std::string signerAddress; // the key's address that matches From, else its first
    std::string fingerprint;   // or key id, as the signature names it
    std::vector<std::string> keyAddresses; // every address of the key or certificate
    std::int64_t time = 0;     // when it was made (seconds since 1970), 0 unknown
    std::string detail;        // why it was not checked, or GnuPG's own words
    bool addressDiffers = false; // no address of the key is the From address
    std::string fromAddress;
    bool partial = false;        // text outside the signed part is shown too
};

enum class TEncryptionState { None, Decrypted, NoKey, Failed };

struct TMessageSecurity {
    std::vector<TSignature> signatures;
    TEncryptionState encryption = TEncryptionState::None;
    TSecureProtocol encryptionProtocol = TSecureProtocol::OpenPGP;
    std::vector<std::string> recipients; // key ids the message is encrypted to
    std::string encryptionDetail;

    [[nodiscard]] bool Signed() const { return !signatures.empty(); }
    [[nodiscard]] bool Encrypted() const { return encryption != TEncryptionState::None; }
    [[nodiscard]] bool Empty() const { return !Signed() && !Encrypted(); }
};

// The verdict in words a reader understands ("good signature, ...").
[[nodiscard]] std::string VerdictWords(const TSignature& signature);
// "Signed by Name <address> on 9 Dec 2026 14:05: " and the verdict, with a
// note when the signer's address is not the From address or when part of
// what is shown lies outside the signature. Times are in the local zone.
[[nodiscard]] std::string SignatureSentence(const TSignature& signature);
// "Encrypted (OpenPGP) and decrypted with your key." or why not; empty for
// a message that was not encrypted.
[[nodiscard]] std::string EncryptionSentence(const TMessageSecurity& security);
// A verdict a reader must be warned of: the message or its key is not
// to be relied on.
[[nodiscard]] bool IsWarning(TSignatureVerdict verdict);
// The signature that decides the message's verdict: the worst one.
[[nodiscard]] const TSignature* DecidingSignature(const TMessageSecurity& security);
// corvanta-eml verify's exit status: 0 good, 1 bad (changed, expired,
// revoked), 2 could not be checked (not signed, key missing, no GnuPG).
[[nodiscard]] int VerifyExitStatus(const TMessageSecurity& security);
[[nodiscard]] const char* ProtocolName(TSecureProtocol protocol);
// A stable name of the verdict for scripts ("good", "bad", ...).
[[nodiscard]] const char* VerdictName(TSignatureVerdict verdict);
