#include "CompoundFile.h"

#include "Utf16.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::size_t kHeaderDifat = 109;
constexpr std::size_t kEntrySize = 128;

std::uint32_t Le32(std::string_view b, std::size_t at)
{
    if (at + 4 > b.size())
        return TCompoundFile::kNone;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(std::string_view b, std::size_t at)
{
    if (at + 2 > b.size())
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(b.data() + at);
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

const std::vector<std::uint32_t> kNoChildren;
const std::string kNoName;

} // namespace

bool TCompoundFile::HasSignature(std::string_view bytes)
{
    return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

TCompoundFile::TCompoundFile(std::string_view bytes) : m_bytes(bytes)
{
    if (!HasSignature(bytes))
        throw EOutlookError("not a compound file (no D0 CF 11 E0 signature)");
    if (bytes.size() < 512)
        throw EOutlookError("compound file cut short: its header is incomplete");
    const std::uint16_t shift = Le16(bytes, 0x1E);
    const std::uint16_t miniShift = Le16(bytes, 0x20);
    if (shift < 7 || shift > 16 || miniShift < 2 || miniShift >= shift)
        throw EOutlookError("compound file with an impossible sector size");
    m_sectorShift = shift;
    m_miniShift = miniShift;
    m_miniCutoff = Le32(bytes, 0x38);
    if (m_miniCutoff == kNone || m_miniCutoff > (1u << 20))
        m_miniCutoff = 4096;
    const std::size_t sector = std::size_t{1} << m_sectorShift;
    // Sector n starts at (n + 1) sectors; a last sector cut short still
    // counts, and its reads stop at the file's end.
    m_sectorCount = bytes.size() > sector ? (bytes.size() - 1) / sector : 0;
    // A stream holds at most what the file holds; damage may make several
    // streams share sectors, so reading may give somewhat more, never more
    // than this.
    m_budget = 2 * bytes.size() + (std::size_t{1} << 20);
    ReadTables();
    ReadDirectory();
    LinkTree();
}

std::uint32_t TCompoundFile::Sector32(std::uint32_t sector, std::size_t index) const
{
    const std::size_t at = (static_cast<std::size_t>(sector) + 1) << m_sectorShift;
    return Le32(m_bytes, at + 4 * index);
}

void TCompoundFile::ReadTables()
{
    const std::size_t perSector = (std::size_t{1} << m_sectorShift) / 4;
    // The sectors holding the FAT: 109 listed in the header, the rest in a
    // chain of DIFAT sectors. None can be more than the file has sectors.
    std::vector<std::uint32_t> fatSectors;
    const std::uint32_t declared = Le32(m_bytes, 0x2C);
    const std::size_t wanted = std::min<std::size_t>(declared, m_sectorCount);
    for (std::size_t i = 0; i < kHeaderDifat && fatSectors.size() < wanted; ++i) {
        const std::uint32_t s = Le32(m_bytes, 0x4C + 4 * i);
        if (s >= m_sectorCount)
            break;
        fatSectors.push_back(s);
    }
    std::uint32_t difat = Le32(m_bytes, 0x44);
    for (std::size_t steps = 0; fatSectors.size() < wanted && difat < m_sectorCount && steps < m_sectorCount;
         ++steps) {
        for (std::size_t i = 0; i + 1 < perSector && fatSectors.size() < wanted; ++i) {
            const std::uint32_t s = Sector32(difat, i);
            if (s >= m_sectorCount)
                break;
            fatSectors.push_back(s);
        }
        difat = Sector32(difat, perSector - 1);
    }
    if (fatSectors.size() < wanted)
        m_damaged = true;
    // Entries past the file's last sector could only point outside it.
    m_fat.reserve(std::min(m_sectorCount, fatSectors.size() * perSector));
    for (std::uint32_t s : fatSectors)
        for (std::size_t i = 0; i < perSector && m_fat.size() < m_sectorCount; ++i)
            m_fat.push_back(Sector32(s, i));

    // The mini FAT is a stream of its own in the FAT's chains.
    const std::uint32_t miniStart = Le32(m_bytes, 0x3C);
    const std::uint32_t miniCount = Le32(m_bytes, 0x40);
    if (miniStart < m_sectorCount && miniCount != kNone) {
        const std::uint64_t size =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(miniCount) << m_sectorShift, m_bytes.size());
        const std::string table = ReadChain(m_fat, miniStart, size, false, false);
        m_miniFat.reserve(table.size() / 4);
        for (std::size_t i = 0; i + 4 <= table.size(); i += 4)
            m_miniFat.push_back(Le32(table, i));
    }
}

void TCompoundFile::ReadDirectory()
{
    const std::uint32_t start = Le32(m_bytes, 0x30);
    const std::string dir = ReadChain(m_fat, start, m_bytes.size(), false, false);
    if (dir.size() < kEntrySize)
        throw EOutlookError("compound file without a readable directory");
    m_entries.reserve(dir.size() / kEntrySize);
    for (std::size_t at = 0; at + kEntrySize <= dir.size(); at += kEntrySize) {
        const std::string_view raw(dir.data() + at, kEntrySize);
        Entry e;
        const std::size_t nameBytes = std::min<std::size_t>(Le16(raw, 0x40), 64);
        e.name = Utf16LeToUtf8(raw.substr(0, nameBytes >= 2 ? nameBytes - 2 : 0));
        e.type = static_cast<std::uint8_t>(raw[0x42]);
        e.left = Le32(raw, 0x44);
        e.right = Le32(raw, 0x48);
        e.child = Le32(raw, 0x4C);
        e.start = Le32(raw, 0x74);
        e.size = Le32(raw, 0x78);
        // Version 3 files may hold anything in the size's upper half.
        if (m_sectorShift != 9)
            e.size |= static_cast<std::uint64_t>(Le32(raw, 0x7C)) << 32;
        if (e.size > m_bytes.size()) {
            e.size = m_bytes.size();
            if (e.type == 2 || e.type == 5)
                m_damaged = true;
        }
        m_entries.push_back(std::move(e));
    }
    if (m_entries[0].type != 5)
        throw EOutlookError("compound file whose directory has no root");
}

void TCompoundFile::LinkTree()
{
    // Every entry hangs in one place: one that was reached already, or the
    // root again, points back into the tree and is cut there.
    const std::size_t n = m_entries.size();
    std::vector<bool> seen(n, false);
    seen[0] = true;
    std::vector<std::uint32_t> storages{0};
    std::vector<std::uint32_t> stack;
    while (!storages.empty()) {
        const std::uint32_t s = storages.back();
        storages.pop_back();
        // In order over the sibling tree, without recursion.
        std::uint32_t at = m_entries[s].child;
        stack.clear();
        while (true) {
            while (at < n && !seen[at]) {
                seen[at] = true;
                stack.push_back(at);
                at = m_entries[at].left;
            }
            if (at != kNone && at < n)
                m_damaged = true; // pointed back into the tree
            if (stack.empty())
                break;
            const std::uint32_t e = stack.back();
            stack.pop_back();
            if (m_entries[e].type == 1 || m_entries[e].type == 2) {
                m_entries[s].children.push_back(e);
                if (m_entries[e].type == 1)
                    storages.push_back(e);
            }
            at = m_entries[e].right;
        }
    }
}

std::string TCompoundFile::ReadChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                     std::uint64_t size, bool mini, bool exact) const
{
    std::string out;
    if (size == 0)
        return out;
    const std::size_t unit = std::size_t{1} << (mini ? m_miniShift : m_sectorShift);
    const std::string_view source = mini ? std::string_view(m_miniStream) : m_bytes;
    const std::size_t steps = static_cast<std::size_t>((size + unit - 1) / unit);
    // Room for what the chain holds, not for what the entry claims: a
    // damaged size would reserve the file's size for every stream.
    // (Counted no further than the reading below may go.)
    const std::uint64_t most = std::min<std::uint64_t>(steps, m_budget / unit + 1);
    std::uint64_t sectors = 0;
    for (std::uint32_t c = start; c < table.size() && sectors < most; c = table[c])
        ++sectors;
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({size, m_budget, std::max<std::uint64_t>(sectors, 1) * unit})));
    std::uint32_t s = start;
    for (std::size_t i = 0; i < steps && out.size() < size; ++i) {
        const std::size_t at = (static_cast<std::size_t>(s) + (mini ? 0 : 1)) * unit;
        if (s >= table.size() || at >= source.size() || m_budget == 0) {
            m_damaged |= exact || s != kEndOfChain || m_budget == 0;
            break;
        }
        const std::size_t take = std::min<std::size_t>(
            {unit, static_cast<std::size_t>(size - out.size()), source.size() - at, m_budget});
        out.append(source.substr(at, take));
        m_budget -= take;
        if (take < unit && out.size() < size) {
            m_damaged |= exact;
            break;
        }
        s = table[s];
    }
    return out;
}

void TCompoundFile::LoadMiniStream() const
{
    if (m_miniLoaded)
        return;
    m_miniLoaded = true;
    m_miniStream = ReadChain(m_fat, m_entries[0].start, m_entries[0].size, false, true);
}

const std::vector<std::uint32_t>& TCompoundFile::Children(std::uint32_t entry) const
{
    return entry < m_entries.size() ? m_entries[entry].children : kNoChildren;
}

const std::string& TCompoundFile::Name(std::uint32_t entry) const
{
    return entry < m_entries.size() ? m_entries[entry].name : kNoName;
}

bool TCompoundFile::IsStorage(std::uint32_t entry) const
{
    return entry < m_entries.size() && (m_entries[entry].type == 1 || m_entries[entry].type == 5);
}

bool TCompoundFile::IsStream(std::uint32_t entry) const
{
    return entry < m_entries.size() && m_entries[entry].type == 2;
}

std::uint32_t TCompoundFile::Find(std::uint32_t storage, std::string_view name) const
{
    for (std::uint32_t c : Children(storage))
        if (m_entries[c].name == name)
            return c;
    return kNone;
}

std::string TCompoundFile::Read(std::uint32_t entry) const
{
    if (!IsStream(entry))
        return {};
    const Entry& e = m_entries[entry];
    if (e.size < m_miniCutoff) {
        LoadMiniStream();
        return ReadChain(m_miniFat, e.start, e.size, true, true);
    }
    return ReadChain(m_fat, e.start, e.size, false, true);
}
