#pragma once
// TNEF streams (winmail.dat, application/ms-tnef): the Outlook item that a
// mail sent from Outlook packs its body and its files into.
#include "OutlookItem.h"

#include <string_view>

// Whether the bytes start with the TNEF signature 0x223E9F78.
[[nodiscard]] bool IsTnef(std::string_view bytes);
// Reads the item. Raises EOutlookError when the bytes are no TNEF stream;
// a stream cut short or damaged gives what came before the damage, and says
// so in the item's damage note.
[[nodiscard]] TOutlookItem ReadTnefItem(std::string_view bytes);
