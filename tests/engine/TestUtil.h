#pragma once
#include "TMailMessage2000.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace testutil {

// Turns "\n" into CR LF, so messages in tests read naturally.
inline std::string Crlf(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// Parses a message text the way LoadFromFile does (after line ends are CR LF).
inline void Parse(TMailMessage2000& m, std::string_view text)
{
    std::string buf = Crlf(text);
    m.ParseText(buf, true);
}

// Loads, normalises and scans, as the viewer does after a load.
inline void Load(TMailMessage2000& m, std::string_view text)
{
    Parse(m, text);
    m.RebuildStructure(0);
    m.ScanParts();
}

// One line per part: "type [boundary-of-parent]" indented by depth.
inline void DumpTree(const TMailPart& p, int depth, std::string& out)
{
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ');
    const std::string t = p.GetContentType();
    out += t.empty() ? "(none)" : t;
    out += '\n';
    for (const TMailPart* c : p.SubPartList)
        DumpTree(*c, depth + 1, out);
}
inline std::string Tree(const TMailPart& p)
{
    std::string s;
    DumpTree(p, 0, s);
    return s;
}

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "corvanta-test-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    [[nodiscard]] std::string File(std::string_view name) const { return (m_path / name).string(); }
    [[nodiscard]] const std::filesystem::path& Path() const { return m_path; }
    std::string Write(std::string_view name, std::string_view content) const
    {
        const std::string f = File(name);
        std::ofstream(f, std::ios::binary) << content;
        return f;
    }

private:
    std::filesystem::path m_path;
};

// Sets TZ for one scope.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ")) {
            m_old = old;
            m_had = true;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_had)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_had = false;
};

} // namespace testutil
