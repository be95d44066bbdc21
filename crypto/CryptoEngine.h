#pragma once
// The small interface through which signatures are checked and messages
// decrypted. GnuPG (through GPGME) is one implementation; tests and the
// fuzz target use others. Plain C++.
#include "MessageSecurity.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct TCryptoResult {
    std::vector<TSignature> signatures; // verdicts, without fromAddress
    std::string plain;                  // what was inside: the decrypted or signed content
    bool decrypted = false;
    bool noKey = false;                  // no secret key here for any recipient
    std::vector<std::string> recipients; // key ids or certificates it is encrypted to
    std::string error;                   // in words, when something failed
};

class TCryptoEngine {
public:
    virtual ~TCryptoEngine() = default;
    // A detached signature over the signed bytes, as they are.
    virtual TCryptoResult VerifyDetached(TSecureProtocol protocol, std::string_view signedBytes,
                                         std::string_view signature) = 0;
    // Signed data that holds its content (inline PGP text, pkcs7 signed-data):
    // plain gets the content.
    virtual TCryptoResult VerifyOpaque(TSecureProtocol protocol, std::string_view data) = 0;
    // Decrypts with the user's own secret keys; a signature inside (OpenPGP
    // signed and encrypted in one) is checked too.
    virtual TCryptoResult Decrypt(TSecureProtocol protocol, std::string_view data) = 0;
};

// GnuPG through GPGME, in the user's GnuPG home (GNUPGHOME when set), never
// reaching the network. gpgPath and gpgsmPath, when not empty, name the
// programs to run instead of those GPGME finds.
[[nodiscard]] std::unique_ptr<TCryptoEngine> MakeGnuPGEngine(const std::string& gpgPath = {},
                                                             const std::string& gpgsmPath = {});
