#pragma once
// Bridges engine bytes and Qt text. The engine never converts character
// sets; widgets need text, so bytes are read as UTF-8 when they are valid
// UTF-8 and as ISO-8859-1 otherwise.
#include "MailDate.h"

#include <QString>

#include <string>
#include <string_view>

[[nodiscard]] QString FromEngineBytes(std::string_view bytes);
[[nodiscard]] bool IsValidUtf8(std::string_view bytes);

// The runtime's standard date-time text: the locale's short date, then its
// long time; the time is left out at exactly midnight.
[[nodiscard]] QString DateTimeToStr(TDateTime value);
