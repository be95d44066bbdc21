#include "MessageFile.h"

#include "TMailMessage2000.h"

void LoadMessageFile(TMailMessage2000& message, const std::string& fileName)
{
    message.LoadFromFile(fileName);
}
