#pragma once
// Finds the signed or encrypted layer of a stored message in its text as
// stored, so that a signature is checked over the exact bytes it was made
// over (RFC 1847, RFC 3156, RFC 8551), before the engine's normalisation
// changes any of them; and unwraps inline PGP signed text. Plain C++ over
// the engine's header and codec functions; no GnuPG here.
#include "MessageSecurity.h"
#include "TextUtils.h"

#include <cstddef>
#include <string>
#include <string_view>

enum class TLayerKind {
    None,
    Signed,     // multipart/signed: signedBytes and a detached signature
    Encrypted,  // multipart/encrypted, or application/pkcs7-mime enveloped-data
    SignedData, // application/pkcs7-mime signed-data: the content inside the signature
};

struct TSecureLayer {
    TLayerKind kind = TLayerKind::None;
    TSecureProtocol protocol = TSecureProtocol::OpenPGP;
    // The whole part, its header included; for the message itself 0 and the
    // text's size.
    std::size_t partStart = 0;
    std::size_t partEnd = 0;
    bool top = true;      // the part is the message itself
    bool partial = false; // the message holds other parts beside it
    bool guessed = false; // pkcs7-mime without smime-type: enveloped-data tried first
    std::string_view signedBytes; // Signed: the first part, header and all, CR LF kept
    std::string payload;          // the signature or the encrypted data, transfer encoding undone
};

// The first signed or encrypted layer of a message in canonical text: the
// message itself, or the first part of a multipart (a mailing list's footer
// after a signed message), at most a few levels down.
[[nodiscard]] TSecureLayer FindSecureLayer(std::string_view text);

// The message text with the layer replaced by its content (a MIME entity:
// header and body). For the message itself its other header fields stay,
// those the content carries itself replaced by the content's; its Content
// fields are the content's.
[[nodiscard]] std::string SpliceContent(std::string_view text, const TSecureLayer& layer, std::string_view content);

// Inline PGP signed text ("-----BEGIN PGP SIGNED MESSAGE-----" ... "-----END
// PGP SIGNATURE-----") in a decoded text body.
struct TClearSigned {
    bool found = false;
    bool complete = false; // the signature's armour is whole
    std::size_t begin = 0; // the armour's first line
    std::size_t end = 0;   // after the last armour line and its break
    std::string shown;     // the signed text: no armour, dash escapes undone
};
[[nodiscard]] TClearSigned FindClearSigned(std::string_view text);
// Whether the text holds the start of inline PGP signed text.
[[nodiscard]] bool HoldsClearSigned(std::string_view text);

// Whether a part of this content type is a detached signature
// (signature.asc, smime.p7s).
[[nodiscard]] bool IsSignatureType(std::string_view contentType);
