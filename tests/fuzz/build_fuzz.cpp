// Building: a message made of a subject, text and HTML bodies and files
// (attached or embedded) is saved to a file and loaded again; the bodies and
// every file must come back byte for byte, with their names and kinds.
//
// Input: a flags byte, then texts separated by 0xFF: subject, text body,
// HTML body, and for each file a kind byte, its name and its content.
#include "FuzzUtil.h"

#include "Codecs.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "MimeTypes.h"
#include "TMailMessage2000.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace {

using fuzz::Shown;


std::string BodyPart(const char* type, std::string_view bytes)
{
    std::string encoded;
    Base64EncodeStream(encoded, bytes);
    return std::string("Content-Type: ") + type + "; charset=\"utf-8\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
           + encoded;
}

// The file name a loaded attachment reports for a name given to AttachStream.
std::string ExpectedName(std::string_view given)
{
    const std::string name = SafeFileName(BaseName(given));
    const std::string type = ContentTypeForFile(BaseName(given));
    if (name.empty() || name == "." || name == "..") // names no file: the type's name
        return SafeFileName(type + ExtensionForContentType(type));
    if (name.find('.') != std::string::npos)
        return name;
    if (type == "application/octet-stream") // ".bin" would say nothing
        return name;
    return SafeFileName(name + ExtensionForContentType(type));
}

using File = std::tuple<bool, std::string, std::string>; // embedded, name, bytes

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    const std::string_view subject = in.Text();
    const std::string_view text = in.Text();
    const std::string_view html = in.Text();

    std::string source;
    if (!subject.empty())
        source += "Subject: " + EncodeHeaderWord(subject, "utf-8") + "\r\n";
    if (!text.empty() && !html.empty()) {
        const std::string b = "fuzz-alternative";
        source += "Content-Type: multipart/alternative; boundary=\"" + b + "\"\r\n\r\n--" + b + "\r\n"
                  + BodyPart("text/plain", text) + "\r\n--" + b + "\r\n" + BodyPart("text/html", html) + "\r\n--" + b
                  + "--\r\n";
    } else if (!text.empty() || !html.empty()) {
        source += BodyPart(text.empty() ? "text/html" : "text/plain", text.empty() ? html : text);
    } else {
        source += "\r\n";
    }

    TMailMessage2000 m;
    m.Charset = "utf-8";
    m.TextEncoding = flags & 1 ? TEncodingType::etBase64 : TEncodingType::etQuotedPrintable;
    m.AttachEncoding = flags & 2 ? TEncodingType::etQuotedPrintable : TEncodingType::etBase64;
    m.EmbedMethod = flags & 4 ? TEmbedMethod::emContentID : TEmbedMethod::emContentLocation;
    m.ParseText(source, true);
    m.RebuildStructure(0);
    m.ScanParts();
    std::vector<File> files;
    while (!in.Empty() && files.size() < 6) {
        const bool embedded = in.Byte() & 1;
        std::string name(in.Text());
        if (BaseName(name).empty())
            name += "f"; // a path ending in "/" names a folder, which cannot be attached
        const std::string bytes(in.Text());
        m.AttachStream(bytes, name, embedded, "");
        files.emplace_back(embedded, name, bytes);
    }
    m.SerializeBody();
    const std::string path = fuzz::PrivateFolder() + "/m.eml";
    m.SaveToFile(path, true);

    TMailMessage2000 loaded;
    loaded.LoadFromFile(path);
    // CORVANTA_FUZZ_KEEP=FILE keeps the saved message there, to look at a
    // failing input's message.
    if (const char* keep = std::getenv("CORVANTA_FUZZ_KEEP"))
        std::rename(path.c_str(), keep);
    ::unlink(path.c_str());
    loaded.RebuildStructure(0);
    loaded.ScanParts();

    auto body = [](TMailPart* part) {
        if (!part)
            return std::string("(none)");
        part->Decode();
        return part->Decoded;
    };
    // A body of blanks and line breaks only is no body.
    auto blank = [](std::string_view t) { return t.find_first_not_of(" \t\n\v\f\r") == std::string_view::npos; };
    FUZZ_CHECK(body(loaded.TextPart) == (blank(text) ? "(none)" : std::string(text)),
               "text body " + Shown(text) + " came back as " + Shown(body(loaded.TextPart)));
    FUZZ_CHECK(body(loaded.HtmlPart) == (blank(html) ? "(none)" : std::string(html)),
               "HTML body " + Shown(html) + " came back as " + Shown(body(loaded.HtmlPart)));
    // The subject's ";" and double quote have meanings in a header line;
    // "=?" in the text is an encoded word of its own once decoded.
    if (subject.find_first_of(";\"") == std::string_view::npos && subject.find("=?") == std::string_view::npos)
        FUZZ_CHECK(loaded.GetSubject() == subject,
                   "subject " + Shown(subject) + " came back as " + Shown(loaded.GetSubject()));

    FUZZ_CHECK(loaded.AttachList.Count() == files.size(),
               std::to_string(files.size()) + " files came back as " + std::to_string(loaded.AttachList.Count()));
    // A name holding "=?" is an encoded word of its own once decoded: then
    // only contents and kinds are compared.
    const bool compareNames = std::none_of(files.begin(), files.end(), [](const File& f) {
        return std::get<1>(f).find("=?") != std::string::npos;
    });
    std::vector<File> expected, got;
    for (const auto& [embedded, name, bytes] : files)
        expected.emplace_back(embedded, compareNames ? ExpectedName(name) : "", bytes);
    for (TMailPart* a : loaded.AttachList) {
        a->Decode();
        got.emplace_back(a->Embedded, compareNames ? a->GetFileName() : "", a->Decoded);
    }
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    for (std::size_t i = 0; i < expected.size(); ++i)
        FUZZ_CHECK(expected[i] == got[i], "file " + Shown(std::get<1>(expected[i])) + " (embedded "
                                              + std::to_string(std::get<0>(expected[i])) + ", "
                                              + Shown(std::get<2>(expected[i])) + ") came back as "
                                              + Shown(std::get<1>(got[i])) + " (embedded "
                                              + std::to_string(std::get<0>(got[i])) + ", "
                                              + Shown(std::get<2>(got[i])) + ")");
    return 0;
}
