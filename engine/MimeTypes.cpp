#include "MimeTypes.h"

#include "EngineError.h"
#include "FileIO.h"
#include "TextUtils.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

namespace {

// The file is kept as text and searched on demand; answers are remembered.
// Reading a few types for a message costs less than indexing the whole
// database, and each distinct extension or type is searched only once.
struct MimeState {
    std::mutex mutex;
    std::string path = "/etc/mime.types";
    bool loaded = false;
    std::string text;
    std::unordered_map<std::string, std::string> typeByExtension; // ".pdf" lower case -> type
    std::unordered_map<std::string, std::string> extensionByType; // type lower case -> ".pdf"
};

MimeState& State()
{
    static MimeState state;
    return state;
}

void EnsureLoaded(MimeState& s)
{
    if (s.loaded)
        return;
    s.loaded = true;
    s.typeByExtension.clear();
    s.extensionByType.clear();
    try {
        s.text = ReadWholeFile(s.path);
    } catch (const EMailError&) {
        s.text.clear(); // no database: every lookup falls back
    }
}

// Calls visit(type, words) for each line "type ext ext ..." of the file
// (comments removed) until it returns true.
template <class Visit> void ForEachEntry(std::string_view text, Visit&& visit)
{
    std::vector<std::string_view> words;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        line = line.substr(0, line.find('#'));
        words.clear();
        while (!line.empty()) {
            const std::size_t b = line.find_first_not_of(" \t\r");
            if (b == std::string_view::npos)
                break;
            line.remove_prefix(b);
            const std::size_t e = std::min(line.find_first_of(" \t\r"), line.size());
            words.push_back(line.substr(0, e));
            line.remove_prefix(e);
        }
        if (words.size() > 1 && visit(words))
            return;
    }
}

} // namespace

void SetMimeTypesPath(std::string path)
{
    std::lock_guard lock(State().mutex);
    State().path = std::move(path);
    State().loaded = false;
}

std::string MimeTypesPath()
{
    std::lock_guard lock(State().mutex);
    return State().path;
}

std::string ContentTypeForFile(std::string_view fileName)
{
    const std::size_t sep = fileName.find_last_of("\\:/");
    const std::size_t dot = fileName.rfind('.');
    std::string result;
    if (dot != std::string_view::npos && (sep == std::string_view::npos || dot > sep)) {
        const std::string ext = AsciiLowerCase(fileName.substr(dot + 1));
        std::lock_guard lock(State().mutex);
        MimeState& s = State();
        EnsureLoaded(s);
        const auto known = s.typeByExtension.find(ext);
        if (known != s.typeByExtension.end()) {
            result = known->second;
        } else {
            // The first type that names the extension.
            ForEachEntry(s.text, [&](const std::vector<std::string_view>& words) {
                for (std::size_t i = 1; i < words.size(); ++i)
                    if (IEquals(words[i], ext)) {
                        result = AsciiLowerCase(words[0]);
                        return true;
                    }
                return false;
            });
            s.typeByExtension.emplace(ext, result);
        }
    }
    return result.empty() ? "application/octet-stream" : result;
}

std::string ExtensionForContentType(std::string_view contentType)
{
    const std::string type = AsciiLowerCase(contentType);
    std::lock_guard lock(State().mutex);
    MimeState& s = State();
    EnsureLoaded(s);
    const auto known = s.extensionByType.find(type);
    if (known != s.extensionByType.end())
        return known->second;
    // The type's first extension is its own.
    std::string result;
    ForEachEntry(s.text, [&](const std::vector<std::string_view>& words) {
        if (!IEquals(words[0], type))
            return false;
        result = "." + std::string(words[1]);
        return true;
    });
    s.extensionByType.emplace(type, result);
    return result;
}

std::string NewBoundary()
{
    static std::mt19937 generator = [] {
        std::random_device device;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
                         ^ static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        std::seed_seq seq{device(), static_cast<unsigned>(now), static_cast<unsigned>(now >> 32)};
        return std::mt19937(seq);
    }();
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    char buf[17];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(generator()));
    return std::string("boundary") + buf;
}

std::string SafeFileName(std::string_view name)
{
    constexpr std::size_t kMax = 254;
    std::string s = TrimBlanks(name);
    if (s.size() > kMax) {
        // The name part gives way, the extension stays: a report.pdf cut to
        // "report" opens with nothing. A cut inside a UTF-8 sequence would
        // leave an invalid name that no longer reads as UTF-8, so the cut
        // moves back to the start of that character.
        const std::size_t dot = s.rfind('.');
        const std::size_t extSize = dot != std::string::npos && dot > 0 && s.size() - dot <= 32 ? s.size() - dot : 0;
        std::size_t cut = kMax - extSize;
        for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80; ++back)
            --cut;
        if ((static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80)
            cut = kMax - extSize; // not UTF-8 after all: any byte is a boundary
        s.erase(cut, s.size() - extSize - cut);
        // Nor may the cut leave a space at the end of the name: unseen by
        // the user, and dropped when the name is read back from a header,
        // so the file would not come back under the name it was given.
        std::size_t end = cut;
        while (end > 0 && s[end - 1] == ' ')
            --end;
        s.erase(end, cut - end);
    }
    for (char& c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || c == ':' || c == '\\' || c == '/' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>'
            || c == '|' || c == '\'')
            c = '_';
    }
    return s;
}
