#include "MessageFile.h"

#include "OutlookMessage.h"
#include "FileIO.h"
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
    // Outlook's forms are told by their content: a .msg or winmail.dat may
    // come under any name.
    if (IsOutlookFile(Head(fileName)))
        message.ParseText(OutlookFileToMime(ReadWholeFile(fileName)), true);
    else
        message.LoadFromFile(fileName);
    UnpackTnefAttachments(message);
}
