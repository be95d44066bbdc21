#include "TMailRecipients.h"

#include "HeaderLine.h"
#include "TMailMessage2000.h"

#include <algorithm>

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
    auto valueOf = [](std::string_view line) {
        std::string_view value = TrimBlanksView(HeaderMainValueView(line));
        if (!value.empty() && value.front() == '"' && value.back() == '"')
            value = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string_view();
        return value;
    };
    // Room for as many entries as there are separators: the lists then grow
    // in place, and the memory is used only as they fill.
    std::size_t entries = 0, bytes = 0;
    for (const std::string& line : Message->Header) {
        if (!IStartsWith(line, prefix))
            continue;
        const std::string_view value = valueOf(line);
        entries += 1 + static_cast<std::size_t>(std::count_if(value.begin(), value.end(),
                                                               [](char c) { return c == ',' || c == ';'; }));
        bytes += value.size();
    }
    Names.reserve(entries, bytes);
    Addresses.reserve(entries, bytes);
    // One walk over the header finds every field of the name in order.
    for (const std::string& line : Message->Header) {
        if (!IStartsWith(line, prefix))
            continue;
        LastHeaderSize = size;
        ParseValue(valueOf(line));
    }
}

void TMailRecipients::ParseValue(std::string_view value)
{
    std::string name, address;
    bool inName = true;
    bool inside = false;
    char closing = '"';
    // A group ("Team: a@x, b@y;") lists its members; its name is no
    // address. An empty one ("undisclosed-recipients:;") stays as its name.
    std::string group;
    std::size_t groupStart = std::string::npos;
    auto add = [&] {
        // Stray and doubled commas separate nothing: no empty entries.
        if (TrimBlanksView(name).empty() && TrimBlanksView(address).empty())
            return;
        if (!address.empty()) {
            Names.push_back(DecodeHeaderWords(TrimBlanksView(name)));
            Addresses.push_back(TrimBlanksView(address));
        } else {
            Names.push_back({});
            Addresses.push_back(TrimBlanksView(name));
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
        if (!inside && inName && c == ':' && address.empty() && groupStart == std::string::npos
            && name.find_first_of("@[") == std::string::npos) {
            group = TrimBlanks(name);
            name.clear();
            groupStart = Addresses.size();
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
    if (groupStart != std::string::npos && Addresses.size() == groupStart) {
        Names.push_back({});
        Addresses.push_back(group + ":");
    }
}

namespace {

template <class List> std::string CommaTextOf(const List& entries)
{
    if (entries.size() == 1 && entries[0].empty())
        return "\"\"";
    std::string out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i)
            out += ',';
        const std::string_view e = entries[i];
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

} // namespace

std::string CommaText(const TStringList& entries) { return CommaTextOf(entries); }
std::string CommaText(const TTextList& entries) { return CommaTextOf(entries); }

std::string TMailRecipients::GetAddressesText()
{
    Refresh();
    return CommaText(Addresses);
}
