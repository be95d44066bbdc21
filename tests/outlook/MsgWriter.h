#pragma once
// Makes compound files and .msg files for the tests, the fuzz seeds and the
// benchmark: every stream in whole sectors of the FAT (the mini-stream
// cut-off is 0; real files, with their mini streams, come from the corpus),
// each storage's children chained through their right-hand siblings.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace msgwriter {

struct Node {
    std::string name; // UTF-8, ASCII in practice
    bool storage = false;
    std::string data;
    std::vector<Node> children;
};

inline Node Stream(std::string name, std::string data) { return Node{std::move(name), false, std::move(data), {}}; }
inline Node Storage(std::string name, std::vector<Node> children)
{
    return Node{std::move(name), true, {}, std::move(children)};
}

inline void Put32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void Put16(std::string& s, std::size_t at, std::uint16_t v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}
inline std::string Le32(std::uint32_t v)
{
    std::string s(4, '\0');
    Put32(s, 0, v);
    return s;
}
inline std::string Le64(std::uint64_t v) { return Le32(static_cast<std::uint32_t>(v)) + Le32(static_cast<std::uint32_t>(v >> 32)); }

// ASCII or Latin-1 UTF-8 text as UTF-16LE (enough for the tests' names and
// texts; other characters are given as UTF-16 by the caller).
inline std::string Utf16(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        std::uint32_t c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xE0 && i + 2 < utf8.size()) {
            c = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            i += 2;
        } else if (c >= 0xC0 && i + 1 < utf8.size()) {
            c = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
            ++i;
        }
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

// The compound file of the tree under root (root.name is ignored). shift:
// 9 for 512-byte sectors (version 3), 12 for 4096 (version 4).
inline std::string WriteCompoundFile(const Node& root, unsigned shift = 9)
{
    const std::size_t sector = std::size_t{1} << shift;
    std::vector<const Node*> entries;
    std::vector<std::uint32_t> child, right;
    // Flatten: each node's index; children linked through right siblings.
    entries.push_back(&root);
    for (std::size_t i = 0; i < entries.size(); ++i)
        for (const Node& c : entries[i]->children)
            entries.push_back(&c);
    child.assign(entries.size(), 0xFFFFFFFFu);
    right.assign(entries.size(), 0xFFFFFFFFu);
    {
        std::size_t next = 1;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& kids = entries[i]->children;
            if (!kids.empty())
                child[i] = static_cast<std::uint32_t>(next);
            for (std::size_t k = 0; k + 1 < kids.size(); ++k)
                right[next + k] = static_cast<std::uint32_t>(next + k + 1);
            next += kids.size();
        }
    }
    const std::size_t dirSectors = (entries.size() * 128 + sector - 1) / sector;
    std::size_t dataSectors = 0;
    for (const Node* e : entries)
        if (!e->storage && e != &root)
            dataSectors += (e->data.size() + sector - 1) / sector;
    // FAT sectors past the header's 109 are listed in DIFAT sectors.
    const std::size_t perDifat = sector / 4 - 1;
    std::size_t fatSectors = 1, difatSectors = 0;
    while (fatSectors * (sector / 4) < fatSectors + difatSectors + dirSectors + dataSectors) {
        ++fatSectors;
        difatSectors = fatSectors > 109 ? (fatSectors - 109 + perDifat - 1) / perDifat : 0;
    }
    const std::size_t total = fatSectors + difatSectors + dirSectors + dataSectors;
    std::string file(sector * (total + 1), '\0');
    const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    for (int i = 0; i < 8; ++i)
        file[i] = static_cast<char>(sig[i]);
    Put16(file, 0x18, 0x3E);
    Put16(file, 0x1A, shift == 9 ? 3 : 4);
    Put16(file, 0x1C, 0xFFFE);
    Put16(file, 0x1E, static_cast<std::uint16_t>(shift));
    Put16(file, 0x20, 6);
    Put32(file, 0x2C, static_cast<std::uint32_t>(fatSectors));
    Put32(file, 0x30, static_cast<std::uint32_t>(fatSectors + difatSectors));
    Put32(file, 0x38, 0); // every stream in the FAT's sectors
    Put32(file, 0x3C, 0xFFFFFFFEu);
    Put32(file, 0x44, difatSectors ? static_cast<std::uint32_t>(fatSectors) : 0xFFFFFFFEu);
    Put32(file, 0x48, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < 109; ++i)
        Put32(file, 0x4C + 4 * i, i < fatSectors ? static_cast<std::uint32_t>(i) : 0xFFFFFFFFu);
    auto at = [&](std::size_t s) { return (s + 1) * sector; };
    for (std::size_t k = 0; k < difatSectors; ++k) {
        const std::size_t d = at(fatSectors + k);
        for (std::size_t j = 0; j < perDifat; ++j) {
            const std::size_t f = 109 + k * perDifat + j;
            Put32(file, d + 4 * j, f < fatSectors ? static_cast<std::uint32_t>(f) : 0xFFFFFFFFu);
        }
        Put32(file, d + 4 * perDifat,
              k + 1 < difatSectors ? static_cast<std::uint32_t>(fatSectors + k + 1) : 0xFFFFFFFEu);
    }
    std::vector<std::uint32_t> fat(fatSectors * (sector / 4), 0xFFFFFFFFu);
    for (std::size_t i = 0; i < fatSectors; ++i)
        fat[i] = 0xFFFFFFFDu;
    for (std::size_t k = 0; k < difatSectors; ++k)
        fat[fatSectors + k] = 0xFFFFFFFCu;
    auto chain = [&](std::size_t first, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k)
            fat[first + k] = k + 1 < count ? static_cast<std::uint32_t>(first + k + 1) : 0xFFFFFFFEu;
    };
    const std::size_t firstDir = fatSectors + difatSectors;
    chain(firstDir, dirSectors);
    std::size_t nextData = firstDir + dirSectors;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Node& e = *entries[i];
        const std::size_t d = at(firstDir) + i * 128;
        const std::string name = Utf16(i == 0 ? std::string("Root Entry") : e.name).substr(0, 62);
        file.replace(d, name.size(), name);
        Put16(file, d + 0x40, static_cast<std::uint16_t>(name.size() + 2));
        file[d + 0x42] = static_cast<char>(i == 0 ? 5 : e.storage ? 1 : 2);
        file[d + 0x43] = 1; // black
        Put32(file, d + 0x44, 0xFFFFFFFFu);
        Put32(file, d + 0x48, right[i]);
        Put32(file, d + 0x4C, child[i]);
        Put32(file, d + 0x74, 0xFFFFFFFEu);
        if (i == 0 || e.storage)
            continue;
        const std::size_t count = (e.data.size() + sector - 1) / sector;
        if (count > 0) {
            Put32(file, d + 0x74, static_cast<std::uint32_t>(nextData));
            chain(nextData, count);
            file.replace(at(nextData), e.data.size(), e.data);
            nextData += count;
        }
        Put32(file, d + 0x78, static_cast<std::uint32_t>(e.data.size()));
        Put32(file, d + 0x7C, static_cast<std::uint32_t>(static_cast<std::uint64_t>(e.data.size()) >> 32));
    }
    for (std::size_t i = 0; i < fat.size(); ++i)
        Put32(file, at(0) + 4 * i, fat[i]);
    return file;
}

// Property ids and types as the .msg names them.
constexpr std::uint32_t Tag(std::uint16_t id, std::uint16_t type) { return (std::uint32_t{id} << 16) | type; }

// The streams of one property set: the property stream (with a header of
// headerSize bytes) and a stream for each string or binary.
class Props {
public:
    void Unicode(std::uint16_t id, std::string_view utf8) { Variable(Tag(id, 0x001F), Utf16(utf8) + std::string(2, '\0')); }
    void String8(std::uint16_t id, std::string bytes) { Variable(Tag(id, 0x001E), bytes + '\0'); }
    void Binary(std::uint16_t id, std::string bytes) { Variable(Tag(id, 0x0102), std::move(bytes)); }
    void Long(std::uint16_t id, std::uint32_t v) { Fixed(Tag(id, 0x0003), Le32(v) + Le32(0)); }
    void Bool(std::uint16_t id, bool v) { Fixed(Tag(id, 0x000B), Le32(v ? 1 : 0) + Le32(0)); }
    void Time(std::uint16_t id, std::int64_t unixSeconds)
    {
        Fixed(Tag(id, 0x0040), Le64(static_cast<std::uint64_t>(unixSeconds + 11644473600LL) * 10000000ull));
    }
    // A stream for an object property (an attached item's storage) is added
    // by the caller; its entry says it is there.
    void Object(std::uint16_t id) { Fixed(Tag(id, 0x000D), Le32(0xFFFFFFFFu) + Le32(0)); }

    std::vector<Node> Nodes(std::size_t headerSize) const
    {
        std::string table(headerSize, '\0');
        for (const auto& [tag, value] : m_entries)
            table += Le32(tag) + Le32(6) + value;
        std::vector<Node> nodes{Stream("__properties_version1.0", table)};
        for (const auto& [tag, data] : m_streams) {
            char name[32];
            std::snprintf(name, sizeof name, "__substg1.0_%08X", tag);
            nodes.push_back(Stream(name, data));
        }
        return nodes;
    }

private:
    void Fixed(std::uint32_t tag, std::string value) { m_entries.emplace_back(tag, std::move(value)); }
    void Variable(std::uint32_t tag, std::string data)
    {
        m_entries.emplace_back(tag, Le32(static_cast<std::uint32_t>(data.size())) + Le32(0));
        m_streams.emplace_back(tag, std::move(data));
    }

    std::vector<std::pair<std::uint32_t, std::string>> m_entries;
    std::vector<std::pair<std::uint32_t, std::string>> m_streams;
};

struct Recipient {
    std::string name, address;
    int type = 1;
};

struct Attachment {
    Props props;                 // names, type, content id, method ...
    std::vector<Node> extra;     // an attached item's storage and the like
};

// A .msg root: the message's own properties, its recipients and attachments.
inline Node Message(const Props& props, const std::vector<Recipient>& recipients,
                    const std::vector<Attachment>& attachments, std::size_t headerSize = 32)
{
    Node root = Storage("", props.Nodes(headerSize));
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        Props p;
        p.Unicode(0x3001, recipients[i].name);
        p.Unicode(0x39FE, recipients[i].address);
        p.Long(0x0C15, static_cast<std::uint32_t>(recipients[i].type));
        char name[40];
        std::snprintf(name, sizeof name, "__recip_version1.0_#%08X", static_cast<unsigned>(i));
        root.children.push_back(Storage(name, p.Nodes(8)));
    }
    for (std::size_t i = 0; i < attachments.size(); ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "__attach_version1.0_#%08X", static_cast<unsigned>(i));
        Node a = Storage(name, attachments[i].props.Nodes(8));
        for (const Node& n : attachments[i].extra)
            a.children.push_back(n);
        root.children.push_back(std::move(a));
    }
    return root;
}

} // namespace msgwriter
