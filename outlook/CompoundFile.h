#pragma once
// Reads a compound file (the container of Outlook .msg files) held in
// memory: its tree of storages and streams, and the bytes of each stream.
//
// Written for hostile files: every sector chain is followed at most as far
// as the file has sectors, each entry of the directory is visited once
// (a tree that points back into itself is cut there), stream sizes past the
// file's end are cut to what the file can hold, and all reading together is
// held to a small multiple of the file's size. What is damaged reads as
// short or empty streams and sets Damaged(); only a file that is no compound
// file at all raises.
#include "OutlookError.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TCompoundFile {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // The bytes must outlive the object. Raises EOutlookError when they do
    // not start with a compound file's header.
    explicit TCompoundFile(std::string_view bytes);

    [[nodiscard]] static bool HasSignature(std::string_view bytes);

    [[nodiscard]] std::uint32_t Root() const { return 0; }
    // The entries a storage holds, in the order of the file's directory.
    [[nodiscard]] const std::vector<std::uint32_t>& Children(std::uint32_t entry) const;
    // The entry's name, as UTF-8.
    [[nodiscard]] const std::string& Name(std::uint32_t entry) const;
    [[nodiscard]] bool IsStorage(std::uint32_t entry) const;
    [[nodiscard]] bool IsStream(std::uint32_t entry) const;
    // The child of a storage with that name (compared exactly), or kNone.
    [[nodiscard]] std::uint32_t Find(std::uint32_t storage, std::string_view name) const;
    // The stream's bytes; empty for a storage, and short when the stream's
    // sectors are damaged or the reading budget is spent.
    [[nodiscard]] std::string Read(std::uint32_t entry) const;
    [[nodiscard]] std::size_t EntryCount() const { return m_entries.size(); }
    // Something could not be read as the file claims.
    [[nodiscard]] bool Damaged() const { return m_damaged; }

private:
    struct Entry {
        std::string name;
        std::uint8_t type = 0; // 1 storage, 2 stream, 5 root
        std::uint32_t left = kNone, right = kNone, child = kNone;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
        std::vector<std::uint32_t> children;
    };

    [[nodiscard]] std::uint32_t Sector32(std::uint32_t sector, std::size_t index) const;
    // Up to size bytes of the chain from start; exact: the chain must give
    // all of them, else the file is damaged.
    [[nodiscard]] std::string ReadChain(const std::vector<std::uint32_t>& table, std::uint32_t start,
                                        std::uint64_t size, bool mini, bool exact) const;
    void ReadTables();
    void ReadDirectory();
    void LinkTree();
    void LoadMiniStream() const;

    std::string_view m_bytes;
    std::uint32_t m_sectorShift = 9;
    std::uint32_t m_miniShift = 6;
    std::uint32_t m_miniCutoff = 4096;
    std::size_t m_sectorCount = 0;
    std::vector<std::uint32_t> m_fat;
    std::vector<std::uint32_t> m_miniFat;
    std::vector<Entry> m_entries;
    mutable std::string m_miniStream;
    mutable bool m_miniLoaded = false;
    mutable std::size_t m_budget = 0; // bytes all reads together may still give
    mutable bool m_damaged = false;
};
