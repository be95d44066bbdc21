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
    // The whole field, not its main value: the ";" that closes a group
    // ("Team: a@x, b@y;, Carol <c@z>") ends only the group (RFC 5322 3.4).
    auto valueOf = [](std::string_view line) {
        const std::size_t colon = line.find(':');
        std::string_view value = TrimBlanksView(line.substr(colon == std::string_view::npos ? line.size() : colon + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"'
            && value.find('"', 1) == value.size() - 1)
            value = value.substr(1, value.size() - 2);
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

namespace {

// An address written without angle brackets, with the blanks that obsolete
// syntax allows around its dots and "@" ("jdoe@test . example") taken out.
std::string BareAddress(std::string_view text)
{
    text = TrimBlanksView(text);
    const bool address = text.find('@') != std::string_view::npos;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (address && IsBlank(text[i])) {
            std::size_t j = i;
            while (j < text.size() && IsBlank(text[j]))
                ++j;
            const char next = j < text.size() ? text[j] : '\0';
            const char prev = out.empty() ? '\0' : out.back();
            if (prev == '.' || prev == '@' || next == '.' || next == '@') {
                i = j - 1;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

} // namespace

void TMailRecipients::ParseValue(std::string_view value)
{
    // One mailbox at a time: the words before an angle address (its name),
    // the angle address, and the last comment (the name of a bare address,
    // "bob@x (Bob)").
    std::string phrase, angle, comment;
    // Whether the phrase holds any character but blanks, and an "@" or "["
    // (then a colon in it is an address's, not a group's): kept as it
    // grows, so a long field is read in one pass.
    bool phraseSolid = false, phraseAddress = false;
    bool hadAngle = false;
    bool inAngle = false;
    // A group ("Team: a@x, b@y;") lists its members; its name is no
    // address. An empty one ("undisclosed-recipients:;") stays as its name.
    std::string group;
    bool inGroup = false;
    std::size_t groupStart = 0;
    auto add = [&] {
        std::string address;
        std::string name;
        if (hadAngle) {
            address = TrimBlanks(angle);
            // A source route ("<@relay:mary@x>") is no part of the address.
            if (!address.empty() && address.front() == '@' && address.find(':') != std::string::npos)
                address.erase(0, address.rfind(':') + 1);
            name = TrimBlanks(phrase);
            if (name.empty())
                name = TrimBlanks(comment);
        } else {
            address = BareAddress(phrase);
            name = address.empty() ? std::string() : TrimBlanks(comment); // a comment alone is no mailbox
        }
        phrase.clear();
        phraseSolid = phraseAddress = false;
        angle.clear();
        comment.clear();
        hadAngle = inAngle = false;
        // Stray and doubled commas separate nothing: no empty entries.
        if (address.empty() && name.empty())
            return;
        if (address.empty()) {
            Names.push_back({});
            Addresses.push_back(name);
            return;
        }
        Names.push_back(DecodeHeaderWords(name));
        Addresses.push_back(address);
    };
    auto closeGroup = [&] {
        if (inGroup && Addresses.size() == groupStart) {
            Names.push_back({});
            Addresses.push_back(group + ":");
        }
        inGroup = false;
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '"') {
            // A quoted string, with its escapes; part of the name, or of an
            // address in angle brackets.
            if (hadAngle && !inAngle)
                add();
            std::string& to = inAngle ? angle : phrase;
            const std::size_t before = to.size();
            for (++i; i < value.size() && value[i] != '"'; ++i) {
                if (value[i] == '\\' && i + 1 < value.size())
                    ++i;
                to += value[i];
            }
            phraseSolid = phraseSolid || (!inAngle && to.size() > before);
            continue;
        }
        if (c == '(') {
            // A comment, perhaps nested, with its escapes.
            std::string text;
            int depth = 1;
            for (++i; i < value.size(); ++i) {
                if (value[i] == '\\' && i + 1 < value.size()) {
                    text += value[++i];
                    continue;
                }
                if (value[i] == '(')
                    ++depth;
                else if (value[i] == ')' && --depth == 0)
                    break;
                text += value[i];
            }
            if (!inAngle)
                comment = std::move(text);
            // Words and comments are separated by blanks, not glued.
            if (!inAngle && !phrase.empty() && !IsBlank(phrase.back()))
                phrase += ' ';
            continue;
        }
        if (c == ',' || c == ';') {
            add();
            if (c == ';')
                closeGroup(); // outside a group, ";" separates like ","
            continue;
        }
        if (inAngle) {
            if (c == '>')
                inAngle = false;
            else if (!IsBlank(c))
                angle += c;
            continue;
        }
        if (c == '>')
            continue;
        if (IsBlank(c)) {
            if (!hadAngle)
                phrase += c;
            continue;
        }
        // A second mailbox whose separating comma is missing ("A <a@x>
        // B <b@y>") starts after the first one's angle address.
        if (hadAngle)
            add();
        if (c == '<') {
            inAngle = hadAngle = true;
            continue;
        }
        if (c == ':' && !inGroup && !hadAngle && !phraseAddress && phraseSolid) {
            group = TrimBlanks(phrase);
            phrase.clear();
            phraseSolid = false;
            comment.clear();
            inGroup = true;
            groupStart = Addresses.size();
            continue;
        }
        phrase += c;
        phraseSolid = true;
        phraseAddress = phraseAddress || c == '@' || c == '[';
    }
    add();
    closeGroup();
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
