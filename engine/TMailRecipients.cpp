#include "TMailRecipients.h"

#include "HeaderLine.h"
#include "TMailMessage2000.h"

TMailRecipients::TMailRecipients(TMailMessage2000* message, std::string fieldName)
    : Message(message), FieldName(std::move(fieldName))
{
}

void TMailRecipients::Refresh()
{
    const long long size = static_cast<long long>(Message->HeaderTextLength());
    if (size == LastHeaderSize)
        return; // the cache compares lengths only
    Names.clear();
    Addresses.clear();
    const std::string prefix = FieldName + ":";
    for (int occurrence = 0;; ++occurrence) {
        const int i = FindHeaderLine(&Message->Header, prefix, occurrence);
        if (i < 0)
            break;
        LastHeaderSize = size;
        ParseValue(GetHeaderMainValue(Message->Header[static_cast<std::size_t>(i)]));
    }
}

void TMailRecipients::ParseValue(const std::string& value)
{
    std::string name, address;
    bool inName = true;
    bool inside = false;
    char closing = '"';
    auto add = [&] {
        if (!address.empty()) {
            Names.push_back(DecodeHeaderWords(TrimBlanks(name)));
            Addresses.push_back(TrimBlanks(address));
        } else {
            Names.emplace_back();
            Addresses.push_back(TrimBlanks(name));
        }
    };
    for (char c : value) {
        if ((!inside && (c == '"' || c == '(')) || (inside && c == closing)) {
            const bool opening = !inside;
            inside = !inside;
            if (opening) {
                closing = c == '"' ? '"' : ')';
                // An address followed by a quoted or parenthesised name.
                if (inName && !name.empty() && address.empty()) {
                    address = TrimBlanks(name);
                    name.clear();
                }
            }
            continue;
        }
        if (!inside && (c == ',' || c == ';')) {
            add();
            name.clear();
            address.clear();
            inName = true;
        }
        const bool special = c == ',' || c == ';' || c == '<' || c == '>';
        if (inName) {
            if (inside || !special)
                name += c;
        } else if (!inside && !special && !IsBlank(c)) {
            address += c;
        }
        if (!inside && c == '<')
            inName = false;
        else if (!inside && c == '>')
            inName = true;
        else if (inside && !address.empty())
            inName = true;
    }
    if (!value.empty())
        add();
}

std::string CommaText(const TStringList& entries)
{
    if (entries.size() == 1 && entries[0].empty())
        return "\"\"";
    std::string out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i)
            out += ',';
        const std::string& e = entries[i];
        bool quote = false;
        for (char c : e)
            if (static_cast<unsigned char>(c) <= ' ' || c == '"' || c == ',')
                quote = true;
        if (!quote) {
            out += e;
            continue;
        }
        out += '"';
        for (char c : e) {
            if (c == '"')
                out += '"';
            out += c;
        }
        out += '"';
    }
    return out;
}

std::string TMailRecipients::GetAddressesText()
{
    Refresh();
    return CommaText(Addresses);
}
