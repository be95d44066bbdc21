#pragma once
// Header text for people. The engine decodes encoded words to the bytes they
// carry and keeps their charset only as a name; shown as UTF-8 or Latin-1
// those bytes are mojibake for a koi8-r sender or a windows-1252 subject.
// Here every encoded word is converted from its declared charset to UTF-8
// and written back as a UTF-8 encoded word, so the engine's own accessors
// (address splitting, file names, recipient lists) run unchanged on the
// converted header and give UTF-8 bytes.
#include <QString>

#include <string>
#include <string_view>

class TMailMessage2000;
class TMailPart;

// The header line (or value) with every encoded word re-encoded as UTF-8,
// and the bytes outside encoded words made UTF-8 too (read as Latin-1 when
// they are not valid UTF-8). Encoded words in an unknown charset stay as
// they are.
[[nodiscard]] std::string HeaderLineToUtf8(std::string_view line);

// Replaces target's header with source's, every line converted as above.
// target is a scratch part (a message object serves) for the accessors.
void CopyHeaderAsUtf8(const TMailPart& source, TMailPart& target);

// A header value with its encoded words decoded in their charsets.
[[nodiscard]] QString DecodeHeaderText(std::string_view raw);

// The bytes of text converted from charset to UTF-8; false when the charset
// is unknown. Undecodable bytes become U+FFFD.
bool CharsetToUtf8(std::string_view charset, std::string_view text, std::string& out);

// A message's date as a person reads it: the moment, in local time; the
// sender's own text when it names no moment that can be read (an impossible
// day, a word), where the date rules would give the present moment or the
// first day of the calendar; nothing when the message has no date.
[[nodiscard]] QString MessageDateText(const TMailMessage2000& message);
