#pragma once
// Shared by the fuzz targets and their replay program: a failed invariant
// aborts with what was expected, so libFuzzer keeps the input and the
// replay test fails on it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

// The bytes shown escaped and cut, so a report stays one readable line.
inline std::string Shown(std::string_view s, std::size_t max = 200)
{
    std::string r;
    for (std::size_t i = 0; i < s.size() && i < max; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 32 && c < 127 && c != '\\') {
            r += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            r += buf;
        }
    }
    if (s.size() > max)
        r += "...(" + std::to_string(s.size()) + " bytes)";
    return r;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* condition, const std::string& detail)
{
    std::fprintf(stderr, "%s:%d: invariant failed: %s\n%s\n", file, line, condition, detail.c_str());
    std::abort();
}

#define FUZZ_CHECK(cond, detail)                                                                                   \
    do {                                                                                                           \
        if (!(cond))                                                                                               \
            ::fuzz::Fail(__FILE__, __LINE__, #cond, (detail));                                                     \
    } while (0)

// Takes the input apart front to back; runs dry gracefully (zeros, empty
// texts), so every byte string is a valid input.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_data(reinterpret_cast<const char*>(data)), m_size(size) {}

    [[nodiscard]] bool Empty() const { return m_pos >= m_size; }
    [[nodiscard]] std::uint8_t Byte() { return m_pos < m_size ? static_cast<std::uint8_t>(m_data[m_pos++]) : 0; }
    // A text up to the next separator byte (0xFF), which is consumed.
    [[nodiscard]] std::string_view Text()
    {
        const std::size_t start = m_pos;
        while (m_pos < m_size && static_cast<unsigned char>(m_data[m_pos]) != 0xFF)
            ++m_pos;
        const std::string_view r(m_data + start, m_pos - start);
        if (m_pos < m_size)
            ++m_pos;
        return r;
    }
    [[nodiscard]] std::string_view Rest()
    {
        const std::string_view r(m_data + m_pos, m_size - m_pos);
        m_pos = m_size;
        return r;
    }

private:
    const char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// One private folder per process for the files a target saves; removed
// at exit.
inline const std::string& PrivateFolder()
{
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvanta-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        static const std::string remove = pattern;
        std::atexit([] { ::rmdir(remove.c_str()); });
        return pattern;
    }();
    return folder;
}

// A file in memory whose path the engine's file functions open like any
// other: the whole-message target loads through the real file path without
// touching the disk.
class MemoryFile {
public:
    MemoryFile() : m_fd(::memfd_create("corvanta-fuzz", MFD_CLOEXEC)) {}
    ~MemoryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    // Replaces the content; returns the path to open it by.
    std::string Write(std::string_view bytes)
    {
        if (m_fd < 0 || ::ftruncate(m_fd, 0) != 0)
            std::abort();
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
            if (n <= 0)
                std::abort();
            done += static_cast<std::size_t>(n);
        }
        return "/proc/self/fd/" + std::to_string(m_fd);
    }

private:
    int m_fd;
};

} // namespace fuzz
