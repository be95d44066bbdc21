#pragma once
// Outlook .msg files: an item's properties in a compound file, with its
// recipients, attachments and attached items in storages of their own.
#include "OutlookItem.h"

#include <string_view>

// Reads the item the file holds. Raises EOutlookError when the bytes are no
// compound file or hold no item; damage further in gives what could be read,
// and says so in the item's damage note.
[[nodiscard]] TOutlookItem ReadMsgItem(std::string_view bytes);
