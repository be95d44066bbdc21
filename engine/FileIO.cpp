#include "FileIO.h"

#include "EngineError.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& fileName, int error)
{
    throw EFOpenError(what + " \"" + fileName + "\". " + std::strerror(error));
}

void WriteAll(int fd, std::string_view data, const std::string& fileName)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail("Cannot write file", fileName, errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

// A big buffer about to be filled asks for huge pages where the system
// gives them on request: a 50 MB file then costs a few dozen page faults
// instead of twelve thousand. Only the whole huge pages inside it are
// marked; the allocator's own bookkeeping around it is not touched.
void AskForHugePages(void* data, std::size_t size)
{
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHuge = 2u << 20;
    const auto from = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
    if (to > from)
        (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE); // a hint: failure changes nothing
#else
    (void)data;
    (void)size;
#endif
}

} // namespace

std::string ReadWholeFile(const std::string& fileName) { return ReadWholeFile(fileName, {}); }

std::string ReadWholeFile(const std::string& fileName, const std::function<void(std::string_view)>& read)
{
    constexpr std::size_t kPiece = 256 << 10;
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("Cannot open file", fileName, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        Fail("Cannot open file", fileName, EISDIR);
    }
    // Read straight into the string, growing it only for files whose size
    // the system does not know (pipes, /proc).
    std::string data;
    std::size_t used = 0;
    const std::size_t size = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 1 << 16;
    data.reserve(size); // not yet touched
    AskForHugePages(data.data(), size);
    data.resize(size);
    for (;;) {
        if (used == data.size())
            data.resize(data.size() * 2);
        const std::size_t want = read ? std::min(kPiece, data.size() - used) : data.size() - used;
        const ssize_t n = ::read(fd, data.data() + used, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            Fail("Cannot read file", fileName, error);
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
        if (read)
            read(std::string_view(data.data(), used));
    }
    ::close(fd);
    data.resize(used);
    return data;
}

void WriteFileSafely(const std::string& fileName, bool overwrite,
                     const std::function<void(const std::function<void(std::string_view)>&)>& writer)
{
    // Without overwrite the file is created exclusively, so an existing one
    // is never touched; with it a temporary file replaces the old one only
    // when complete.
    // The temporary file sits in the same folder (so the rename replaces the
    // old file in one step) under a short name of its own, which fits even
    // beside a name of the longest length.
    // Both are created with 0666 and the user's umask decides (mkstemp's
    // 0600 and a later fchmod would override it).
    std::string written = fileName;
    int fd = -1;
    if (overwrite) {
        const std::size_t slash = fileName.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
        std::random_device random;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "%06X", random() & 0xFFFFFF);
            written = folder + ".corvanta-" + suffix;
            fd = ::open(written.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
    } else {
        fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd < 0)
        Fail(errno == EEXIST && !overwrite ? "File exists" : "Cannot create file", fileName, errno);
    bool open = true;
    try {
        std::string buffer;
        buffer.reserve(1 << 16);
        writer([&](std::string_view piece) {
            if (buffer.size() + piece.size() > (1 << 16)) {
                WriteAll(fd, buffer, written);
                buffer.clear();
            }
            if (piece.size() >= (1 << 16))
                WriteAll(fd, piece, written);
            else
                buffer.append(piece);
        });
        WriteAll(fd, buffer, written);
        open = false;
        if (::close(fd) != 0)
            Fail("Cannot write file", written, errno);
        if (overwrite && ::rename(written.c_str(), fileName.c_str()) != 0)
            Fail("Cannot replace file", fileName, errno);
    } catch (...) {
        if (open)
            ::close(fd);
        ::unlink(written.c_str());
        throw;
    }
}

std::string BaseName(std::string_view path)
{
    const std::size_t sep = path.find_last_of('/');
    return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}
