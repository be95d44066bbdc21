#pragma once
// Outlook's stored forms as messages of the engine: a .msg file or a bare
// TNEF stream read as an Internet message, and the files inside the
// winmail.dat of a message read from an .eml added to its attachments.
#include <string>
#include <string_view>

class TMailMessage2000;

// Whether the file's first bytes are those of a .msg (compound file) or a
// TNEF stream, whatever its name.
[[nodiscard]] bool IsOutlookFile(std::string_view head);
// Whether the bytes hold an Outlook item: a TNEF stream, or a compound file
// with an item's properties (not a Word or Excel file, say).
[[nodiscard]] bool IsOutlookMessage(std::string_view bytes);
// The .msg or TNEF bytes as an Internet message (MIME text, CR LF line
// ends). Raises EOutlookError for bytes that are neither, or hold nothing
// readable.
[[nodiscard]] std::string OutlookFileToMime(std::string_view bytes);
// Every winmail.dat (application/ms-tnef) of the parsed message gets the
// files inside it as attachments beside it, and when the message has no
// body of its own, the TNEF's body. The winmail.dat stays where it was. A
// damaged stream adds what it could read; one that is no TNEF is left as it
// is. Returns the number of files added.
std::size_t UnpackTnefAttachments(TMailMessage2000& message);
