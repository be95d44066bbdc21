#include "MessageFile.h"

#include "CryptoEngine.h"
#include "FileIO.h"
#include "MessageSecurity.h"
#include "SecureMessage.h"
#include "SecureParts.h"
#include "TMailMessage2000.h"

void LoadMessageFile(TMailMessage2000& message, const std::string& fileName)
{
    TMessageSecurity security;
    LoadMessageFile(message, fileName, security);
}

void LoadMessageFile(TMailMessage2000& message, const std::string& fileName, TMessageSecurity& security)
{
    message.LoadFromFile(fileName);
    security = {};
    const std::unique_ptr<TCryptoEngine> engine = MakeGnuPGEngine();
    // Signatures are checked over the file as stored (line ends made CR LF,
    // nothing else changed), read once more: the parsed message has already
    // normalised its parts. Most messages are neither signed nor encrypted.
    if (MayBeSecure(message))
        security = ReadSecurity(message, CanonicalLineEnds(ReadWholeFile(fileName)), *engine);
    ReadInlineSignature(message, *engine, security);
}
