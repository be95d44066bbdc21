#pragma once
// Header text for people. The engine decodes encoded words to the bytes they
// carry and keeps their charset only as a name; shown as UTF-8 or Latin-1
// those bytes are mojibake for a koi8-r sender or a windows-1252 subject.
// Here every encoded word is converted from its declared charset to UTF-8
// and written back as a UTF-8 encoded word, so the engine's own accessors
// (address splitting, file names, recipient lists) run unchanged on the
// converted header and give UTF-8 bytes.
#include <QString>
#include <QStringList>

#include <memory>
#include <string>
#include <string_view>

class TMailMessage2000;
class TMailPart;

// The header line (or value) with every encoded word re-encoded as UTF-8,
// and the bytes outside encoded words made UTF-8 too (read as Latin-1 when
// they are not valid UTF-8). Encoded words in an unknown charset stay as
// they are.
[[nodiscard]] std::string HeaderLineToUtf8(std::string_view line);

// The line with its RFC 2231 file name parameters (name*=charset'lang'%XX,
// filename*..., also continued as name*0*=, name*1*=) written again as one
// name*=UTF-8''..., the bytes converted from the declared charset; other
// lines unchanged.
[[nodiscard]] std::string ExtendedParamsToUtf8(std::string_view line);

// Replaces target's header with source's, every line converted as above.
// target is a scratch part (a message object serves) for the accessors.
void CopyHeaderAsUtf8(const TMailPart& source, TMailPart& target);

// A header value with its encoded words decoded in their charsets.
[[nodiscard]] QString DecodeHeaderText(std::string_view raw);

// The bytes of text converted from charset to UTF-8; false when the charset
// is unknown. Undecodable bytes become U+FFFD.
bool CharsetToUtf8(std::string_view charset, std::string_view text, std::string& out);

// What a reader is shown of a message's or a part's header: its fields read
// from a copy whose encoded words and RFC 2231 values are converted from
// their charsets (HeaderLineToUtf8). The window's fields, the print header
// and corvanta-eml all read the header through it, so they show the same.
class TShownHeader {
public:
    explicit TShownHeader(const TMailPart& source);
    TShownHeader(const TShownHeader&) = delete;
    TShownHeader& operator=(const TShownHeader&) = delete;
    ~TShownHeader();

    [[nodiscard]] QString Subject() const;
    [[nodiscard]] QString FromName() const;
    [[nodiscard]] QString FromAddress() const;
    // The To addresses, and as the comma text of the window's field.
    [[nodiscard]] QStringList ToAddresses() const;
    [[nodiscard]] QString ToText() const;
    // The main value of any field ("Organization").
    [[nodiscard]] QString Value(std::string_view field) const;

private:
    std::unique_ptr<TMailMessage2000> m_header; // the converted copy
};

// The file name a part is listed and saved under, as UTF-8 text: its name
// in its declared charset, the last component of any path, made safe for
// the file system. Every way of saving a part uses it.
[[nodiscard]] QString ShownFileName(const TMailPart& part);

// A message's date as a person reads it: the moment, in local time; the
// sender's own text when it names no moment that can be read (an impossible
// day, a word), where the date rules would give the present moment or the
// first day of the calendar; nothing when the message has no date.
[[nodiscard]] QString MessageDateText(const TMailMessage2000& message);
