#include "MimeTypes.h"

#include "EngineError.h"
#include "FileIO.h"
#include "TextUtils.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <unordered_map>

namespace {

struct MimeDatabase {
    std::unordered_map<std::string, std::string> typeByExtension; // ".pdf" lower case -> type
    std::unordered_map<std::string, std::string> extensionByType; // type lower case -> ".pdf"
};

struct MimeState {
    std::mutex mutex;
    std::string path = "/etc/mime.types";
    bool loaded = false;
    MimeDatabase db;
};

MimeState& State()
{
    static MimeState state;
    return state;
}

// Lines are "type ext ext ..."; "#" starts a comment. The first type that
// names an extension wins, and a type's first extension is its own.
void Load(MimeState& s)
{
    s.db = {};
    s.loaded = true;
    std::string text;
    try {
        text = ReadWholeFile(s.path);
    } catch (const EMailError&) {
        return; // no database: every lookup falls back
    }
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        line = line.substr(0, line.find('#'));
        std::string type;
        bool first = true;
        while (!line.empty()) {
            const std::size_t b = line.find_first_not_of(" \t\r");
            if (b == std::string_view::npos)
                break;
            line.remove_prefix(b);
            const std::size_t e = std::min(line.find_first_of(" \t\r"), line.size());
            const std::string_view word = line.substr(0, e);
            line.remove_prefix(e);
            if (type.empty()) {
                type = AsciiLowerCase(word);
                continue;
            }
            s.db.typeByExtension.emplace("." + AsciiLowerCase(word), type);
            if (first)
                s.db.extensionByType.emplace(type, "." + std::string(word));
            first = false;
        }
    }
}

const MimeDatabase& Database(std::unique_lock<std::mutex>&)
{
    MimeState& s = State();
    if (!s.loaded)
        Load(s);
    return s.db;
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
        std::unique_lock lock(State().mutex);
        const auto& db = Database(lock);
        const auto it = db.typeByExtension.find(AsciiLowerCase(fileName.substr(dot)));
        if (it != db.typeByExtension.end())
            result = it->second;
    }
    return result.empty() ? "application/octet-stream" : result;
}

std::string ExtensionForContentType(std::string_view contentType)
{
    std::unique_lock lock(State().mutex);
    const auto& db = Database(lock);
    const auto it = db.extensionByType.find(AsciiLowerCase(contentType));
    return it == db.extensionByType.end() ? std::string() : it->second;
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
    std::string s = TrimBlanks(name);
    if (s.size() > 254)
        s.resize(254);
    for (char& c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 32 || c == ':' || c == '\\' || c == '/' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>'
            || c == '|' || c == '\'')
            c = '_';
    }
    return s;
}
