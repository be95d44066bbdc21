#pragma once
// Reads what a message's signatures and encryption come to, and shows a
// decrypted message as any other: its content replaces the encrypted part
// in the message object. Plain C++ over the engine.
#include "MessageSecurity.h"

#include <string>

class TCryptoEngine;
class TMailMessage2000;

// Whether the parsed message may be signed or encrypted at all, judged from
// its part tree without reading any body: most are not, and are left alone.
[[nodiscard]] bool MayBeSecure(const TMailMessage2000& message);

// text: the message file as stored, its line ends canonical (CR LF), the
// same text the message was parsed from. Signatures are checked over the
// bytes in it; a decrypted or opened layer is parsed into message in its
// place. Inline PGP signed text in the message's text body is checked and
// shown without its armour.
[[nodiscard]] TMessageSecurity ReadSecurity(TMailMessage2000& message, std::string text, TCryptoEngine& engine);

// Inline PGP signed text in the message's text body: checked, its verdict
// added to security, and the body made the text without its armour.
void ReadInlineSignature(TMailMessage2000& message, TCryptoEngine& engine, TMessageSecurity& security);
