#pragma once
// An Outlook item as read from a .msg file or a TNEF stream, before it
// becomes an Internet message: its header fields, its bodies as UTF-8, its
// recipients and attachments. OutlookItemToMime writes it as the MIME text
// the engine parses, so the window, printing, the page and the tool see an
// Outlook item as any other message.
#include "MapiProps.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TOutlookItem;

struct TOutlookAttachment {
    std::string fileName; // UTF-8; may be empty
    std::string mimeType; // empty: from the name
    std::string contentId;
    std::string contentLocation;
    std::string data;
    bool hidden = false; // shown in the body, not as a file
    // An attached item (an .msg in the .msg), written as a forwarded message.
    std::unique_ptr<TOutlookItem> message;
    // Set when the file itself is not in the message (a link, an OLE object
    // that holds no file): what the user is told instead.
    std::string note;
};

struct TOutlookRecipient {
    std::string name;
    std::string address;
    int type = 1; // 1 To, 2 Cc, 3 Bcc
};

struct TOutlookItem {
    std::string messageClass;
    // The Internet header the item was received with, as UTF-8 lines
    // (folded lines as they came).
    std::string transportHeaders;
    std::string subject;
    std::string fromName, fromAddress;
    std::string senderName, senderAddress; // who sent it on the author's behalf
    std::optional<std::int64_t> date;      // Unix seconds, UTC
    std::vector<TOutlookRecipient> recipients;
    std::string displayTo, displayCc;
    std::string messageId, inReplyTo;
    int importance = 1; // 0 low, 1 normal, 2 high
    std::string text;   // UTF-8, CR LF line ends
    std::string html;   // UTF-8
    // The readable fields of items that are no mail (appointments, contacts,
    // tasks), shown above the body: label and value.
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<TOutlookAttachment> attachments;
    // Signed or encrypted mail: the MIME entity as sent (its header and
    // body), written as the message's body instead of the parts above.
    std::string mimeEntity;
    // Said to the reader above the body: parts of the file that could not
    // be read.
    std::string damage;
};

// The header fields, bodies, fields and damage note of an item from its
// properties (recipients and attachments come from their own tables).
void ReadItemProperties(const TMapiProps& props, TOutlookItem& item);
// An attachment's name, type, content id and flags from its properties
// (its data comes from where the form keeps it).
void ReadAttachmentProperties(const TMapiProps& props, TOutlookAttachment& attachment);
// Every attachment gets a name a file can have: control characters go,
// blanks around it too, and a name left empty becomes "attachment" (an
// attached item's "message.eml").
void SettleAttachmentNames(TOutlookItem& item);
// The address as a reader can use it: empty for an Exchange directory name.
[[nodiscard]] std::string UsableAddress(std::string address);
// The file name of an attached item, which is saved as an Internet message:
// "NAME.eml" (a ".msg" it had is replaced).
[[nodiscard]] std::string MessageFileName(std::string name);
// A recipient from its row of the recipient table; false when the row
// names nobody.
bool ReadRecipientProperties(const TMapiProps& props, TOutlookRecipient& recipient);
// The code page of an item's 8-bit strings: its own, else the one given.
[[nodiscard]] int ItemCodePage(const TMapiProps& props, int inherited);
// The note of an attachment that is a link to a file outside the message.
[[nodiscard]] std::string LinkNote(const TMapiProps& props);

// The item as an Internet message: CR LF line ends, parts in base64 or
// quoted-printable, names and non-ASCII header text as UTF-8 encoded words.
[[nodiscard]] std::string OutlookItemToMime(const TOutlookItem& item);
// One attachment as a MIME part (header and body); used to add the files of
// a TNEF stream to a message read from an .eml.
[[nodiscard]] std::string OutlookAttachmentToMime(const TOutlookAttachment& attachment);
// The text body of an item as MIME part, with its fields and damage note.
[[nodiscard]] std::string OutlookBodyToMime(const TOutlookItem& item);
[[nodiscard]] bool HasBody(const TOutlookItem& item);
// RFC 822 date text of Unix seconds, in UTC.
[[nodiscard]] std::string MailDateText(std::int64_t unixSeconds);
