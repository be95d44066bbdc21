#include "MessageFile.h"

#include "CryptoEngine.h"
#include "FileIO.h"
#include "MessageSecurity.h"
#include "OutlookMessage.h"
#include "SecureMessage.h"
#include "SecureParts.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <fstream>

namespace {

// The first bytes of the file, to tell its form by; nothing when it cannot
// be read (the engine's load then says why).
std::string Head(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    char head[8] = {};
    file.read(head, sizeof head);
    return std::string(head, static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
}

} // namespace

void LoadMessageFile(TMailMessage2000& message, const std::string& fileName)
{
    TMessageSecurity security;
    LoadMessageFile(message, fileName, security);
}

void LoadMessageFile(TMailMessage2000& message, const std::string& fileName, TMessageSecurity& security)
{
    // Outlook's forms are told by their content: a .msg or winmail.dat may
    // come under any name. They are read as the Internet message they hold.
    const bool outlook = IsOutlookFile(Head(fileName));
    if (outlook) {
        // The file's bytes are let go before the parse.
        std::string mime = OutlookFileToMime(ReadWholeFile(fileName));
        message.ParseText(std::move(mime), true);
    } else
        message.LoadFromFile(fileName);
    security = {};
    const std::unique_ptr<TCryptoEngine> engine = MakeGnuPGEngine();
    // Signatures are checked over the file as stored (line ends made CR LF,
    // nothing else changed), read once more: the parsed message has already
    // normalised its parts. Most messages are neither signed nor encrypted.
    // For an Outlook file that is the Internet message it is read as, made
    // again (the same bytes) rather than kept for every message.
    if (MayBeSecure(message))
        security = ReadSecurity(message,
                                outlook ? OutlookFileToMime(ReadWholeFile(fileName))
                                        : CanonicalLineEnds(ReadWholeFile(fileName)),
                                *engine);
    ReadInlineSignature(message, *engine, security);
    // The files of a winmail.dat, also one that was encrypted, once the
    // signed parts have been checked as they were stored.
    UnpackTnefAttachments(message);
}
