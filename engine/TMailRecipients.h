#pragma once
// The names and addresses of one address field (To, Cc or Bcc), parsed from
// the message header on demand and cached by the header's length.
#include "TextUtils.h"

#include <string>

class TMailMessage2000;

class TMailRecipients {
public:
    TMailRecipients(TMailMessage2000* message, std::string fieldName);

    TMailMessage2000* Message;
    std::string FieldName;
    TTextList Names;
    TTextList Addresses;
    long long LastHeaderSize = -1;

    void Refresh();
    // The addresses as comma text, quoted where a blank, control character,
    // double quote or comma would make the text ambiguous.
    [[nodiscard]] std::string GetAddressesText();

private:
    void ParseValue(std::string_view value);
};

// Joins entries as comma text (quoting as GetAddressesText describes).
[[nodiscard]] std::string CommaText(const TStringList& entries);
[[nodiscard]] std::string CommaText(const TTextList& entries);
