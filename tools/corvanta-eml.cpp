// corvanta-eml: the viewer's message engine for scripts. Loads a message the
// way the viewer does (load, normalise, scan, serialise) and prints its
// fields, bodies and attachments, extracts attachments, or builds a message.
#include "Codecs.h"
#include "EngineError.h"
#include "EngineText.h"
#include "FileIO.h"
#include "HeaderLine.h"
#include "HeaderText.h"
#include "MessageFile.h"
#include "MessageSecurity.h"
#include "MimeTypes.h"
#include "TMailMessage2000.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: corvanta-eml COMMAND ...\n"
    "\n"
    "  info FILE                  date, sender, recipients, subject and one line per attachment\n"
    "                             (index, embedded or not, content type, decoded size, file name);\n"
    "                             control characters are written as \\n, \\t, \\xHH, \\uHHHH, a\n"
    "                             backslash as \\\\\n"
    "  json FILE                  the same as one JSON object, with sizes and SHA-256 of the\n"
    "                             decoded text and HTML bodies and of every attachment\n"
    "                             (sha256_lf: the same with line ends made LF)\n"
    "  verify FILE                whether the message's signature holds, in one line; exit status\n"
    "                             0 good, 1 bad (changed, or the key expired or was revoked),\n"
    "                             2 could not be checked (not signed, key not here, no GnuPG)\n"
    "  body FILE [--html|--all]   the decoded text (or HTML) body's bytes on standard output;\n"
    "                             --all: every text part the window shows, in order (the body\n"
    "                             and the other inline text parts of a multipart/mixed, such as\n"
    "                             a list footer), each decoded, an empty line between two\n"
    "  extract FILE DIR [INDEX...] [--force]\n"
    "                             write attachments (all, or the given indexes) into DIR under\n"
    "                             the names info shows; existing files are kept unless --force\n"
    "  build OUT.eml [--subject S] [--from F] [--to T] [--text FILE] [--html FILE]\n"
    "                [--attach FILE]... [--embed FILE]... [--force]\n"
    "                             write a new message; OUT is kept unless --force\n"
    "  --help                     show this text\n"
    "  --version                  show the version\n"
    "\n"
    "Indexes are those of the attachment list that info prints. Exit status: 0 ok,\n"
    "1 unreadable input or failed write, 2 usage (verify: see above).\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

QString Hex(const std::string& bytes)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                 QCryptographicHash::Sha256)
            .toHex());
}

void Load(TMailMessage2000& m, const std::string& file, TMessageSecurity* security = nullptr)
{
    TMessageSecurity unused;
    LoadMessageFile(m, file, security ? *security : unused);
    m.RebuildStructure(0);
    m.ScanParts();
    m.SerializeBody();
}

const std::string* DecodedBody(TMailPart* part)
{
    if (!part)
        return nullptr;
    part->Decode();
    return &part->Decoded;
}

std::string ContentType(const TMailPart& p) { return AsciiLowerCase(p.GetLabelValue("Content-Type")); }

// Characters that move the cursor, start a terminal escape sequence or turn
// the text's direction: written out, one line per field stays one line.
bool NeedsEscape(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F
           || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Message text for the terminal: decoded bytes as UTF-8 (Latin-1 when they
// are no UTF-8), with control characters as escapes (\n, \r, \t, \xHH,
// \uHHHH) and a backslash doubled, so what a message holds cannot forge a
// line of the listing or reach the terminal as a command.
std::string PrintableText(const QString& text)
{
    std::string out;
    for (const char32_t c : text.toUcs4()) {
        if (c == '\\') {
            out += "\\\\";
        } else if (!NeedsEscape(c)) {
            out += QString::fromUcs4(&c, 1).toStdString();
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, c < 0x100 ? "\\x%02X" : "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

std::string Printable(std::string_view bytes) { return PrintableText(FromEngineBytes(bytes)); }

// The header is read as the window reads it (TShownHeader): encoded words
// and names in their declared charsets.
int Info(const std::string& file)
{
    TMailMessage2000 m;
    TMessageSecurity security;
    Load(m, file, &security);
    const TShownHeader header(m);
    std::cout << "Date: " << PrintableText(MessageDateText(m)) << "\n"
              << "From: "
              << PrintableText(header.FromName() + QStringLiteral(" (") + header.FromAddress() + QLatin1Char(')'))
              << "\n"
              << "To: " << PrintableText(header.ToText()) << "\n"
              << "Subject: " << PrintableText(header.Subject()) << "\n";
    if (security.Encrypted())
        std::cout << "Encryption: " << Printable(EncryptionSentence(security)) << "\n";
    for (const TSignature& s : security.signatures)
        std::cout << "Signature: " << Printable(SignatureSentence(s)) << "\n";
    for (std::size_t i = 0; i < m.AttachList.Count(); ++i) {
        TMailPart* a = m.AttachList.Items(i);
        a->Decode();
        std::cout << i << "\t" << (a->Embedded ? "embedded" : "attachment") << "\t"
                  << Printable(ContentType(*a)) << "\t" << a->Decoded.size() << "\t"
                  << PrintableText(ShownFileName(*a)) << "\n";
    }
    return 0;
}

// SHA-256 of the bytes with CR LF and lone CR made LF, for comparing with
// readers that normalise line ends.
QString HexLf(const std::string& bytes)
{
    std::string lf;
    lf.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            lf += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
        } else {
            lf += bytes[i];
        }
    }
    return Hex(lf);
}

QJsonValue BodyJson(TMailPart* part)
{
    const std::string* bytes = DecodedBody(part);
    if (!bytes)
        return QJsonValue::Null;
    return QJsonObject{
        {"size", static_cast<qint64>(bytes->size())}, {"sha256", Hex(*bytes)}, {"sha256_lf", HexLf(*bytes)}};
}

QJsonValue SecurityJson(const TMessageSecurity& security)
{
    QJsonArray signatures;
    for (const TSignature& s : security.signatures) {
        QJsonArray addresses;
        for (const std::string& a : s.keyAddresses)
            addresses.append(FromEngineBytes(a));
        signatures.append(QJsonObject{
            {"protocol", ProtocolName(s.protocol)},
            {"verdict", VerdictName(s.verdict)},
            {"signer_name", FromEngineBytes(s.signerName)},
            {"signer_address", FromEngineBytes(s.signerAddress)},
            {"key_addresses", addresses},
            {"fingerprint", QString::fromStdString(s.fingerprint)},
            {"time", s.time > 0 ? QJsonValue(static_cast<qint64>(s.time)) : QJsonValue(QJsonValue::Null)},
            {"address_differs", s.addressDiffers},
            {"partial", s.partial},
            {"text", FromEngineBytes(SignatureSentence(s))}});
    }
    QJsonValue encryption = QJsonValue::Null;
    if (security.Encrypted()) {
        QJsonArray recipients;
        for (const std::string& r : security.recipients)
            recipients.append(QString::fromStdString(r));
        static const char* const kStates[] = {"none", "decrypted", "no-key", "failed"};
        encryption = QJsonObject{{"protocol", ProtocolName(security.encryptionProtocol)},
                                 {"state", kStates[static_cast<int>(security.encryption)]},
                                 {"recipients", recipients},
                                 {"text", FromEngineBytes(EncryptionSentence(security))}};
    }
    return QJsonObject{{"signatures", signatures}, {"encryption", encryption}};
}

int Json(const std::string& file)
{
    TMailMessage2000 m;
    TMessageSecurity security;
    Load(m, file, &security);
    QJsonObject o;
    o["security"] = SecurityJson(security);
    const TMailDateParts date = ParseMailDateUtc(TrimBlanks(m.GetLabelValue("Date")));
    o["date"] = date.kind == TMailDateKind::Valid ? QJsonValue(static_cast<qint64>(DateTimeToUnixSeconds(date.utc)))
                                                   : QJsonValue(QJsonValue::Null);
    o["date_local"] = MessageDateText(m);
    const TShownHeader header(m);
    o["from"] = QJsonObject{{"name", header.FromName()}, {"address", header.FromAddress()}};
    o["to"] = QJsonArray::fromStringList(header.ToAddresses());
    o["subject"] = header.Subject();
    o["text"] = BodyJson(m.TextPart);
    o["html"] = BodyJson(m.HtmlPart);
    // The attachments are written one by one as they are decoded, in the
    // layout QJsonDocument gives the whole object ("attachments" sorts
    // first): a message of many parts would otherwise hold every entry twice
    // more, as JSON values and as text.
    std::cout << "{\n    \"attachments\": [\n";
    for (std::size_t i = 0; i < m.AttachList.Count(); ++i) {
        TMailPart* a = m.AttachList.Items(i);
        a->Decode();
        const QByteArray entry = QJsonDocument(QJsonObject{{"index", static_cast<qint64>(i)},
                                                           {"embedded", a->Embedded},
                                                           {"content_type", FromEngineBytes(ContentType(*a))},
                                                           {"file_name", ShownFileName(*a)},
                                                           {"size", static_cast<qint64>(a->Decoded.size())},
                                                           {"sha256", Hex(a->Decoded)},
                                                           {"sha256_lf", HexLf(a->Decoded)}})
                                     .toJson(QJsonDocument::Indented);
        // Each line indented by two more levels; the last line break goes.
        std::string indented;
        for (const QByteArray& line : entry.chopped(1).split('\n'))
            indented += "        " + line.toStdString() + "\n";
        indented.pop_back();
        std::cout << indented << (i + 1 < m.AttachList.Count() ? ",\n" : "\n");
    }
    std::cout << "    ],\n";
    const QByteArray rest = QJsonDocument(o).toJson(QJsonDocument::Indented);
    std::cout.write(rest.constData() + 2, rest.size() - 2); // without its opening "{\n"
    return 0;
}

int Verify(const std::string& file)
{
    TMailMessage2000 m;
    TMessageSecurity security;
    try {
        Load(m, file, &security);
    } catch (const std::exception& e) {
        // Not 1: that says the signature is bad.
        std::cout << "The message could not be read: " << Printable(e.what()) << "\n";
        return 2;
    }
    const TSignature* deciding = DecidingSignature(security);
    std::string line;
    if (deciding)
        line = SignatureSentence(*deciding);
    else if (security.Encrypted() && security.encryption != TEncryptionState::Decrypted)
        line = EncryptionSentence(security) + " No signature could be checked.";
    else
        line = "The message is not signed.";
    std::cout << Printable(line) << "\n";
    return VerifyExitStatus(security);
}

bool WriteOut(std::string_view bytes)
{
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size())
        return true;
    std::fprintf(stderr, "corvanta-eml: cannot write the body: %s\n", std::strerror(errno));
    return false;
}

// The exit status once what was written is flushed.
int Flushed()
{
    if (std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "corvanta-eml: cannot write the body: %s\n", std::strerror(errno));
    return 1;
}

int Body(const std::string& file, bool html)
{
    TMailMessage2000 m;
    Load(m, file);
    if (const std::string* bytes = DecodedBody(html ? m.HtmlPart : m.TextPart))
        if (!WriteOut(*bytes))
            return 1;
    return Flushed();
}

// What the window's page shows, from the message as it was sent: the
// normalisation would make two bodies side by side alternatives.
int ShownBody(const std::string& file)
{
    TMailMessage2000 m;
    LoadMessageFile(m, file);
    m.ScanParts();
    bool first = true;
    for (TMailPart* piece : ShownTextParts(m)) {
        piece->Decode();
        const std::string& bytes = piece->Decoded;
        if (!first && !WriteOut("\r\n"))
            return 1;
        first = false;
        if (!WriteOut(bytes))
            return 1;
        if (!bytes.empty() && bytes.back() != '\n' && !WriteOut("\r\n"))
            return 1;
    }
    return Flushed();
}

// A file name that stays inside the target folder: the engine's safe name,
// never empty, "." or "..", and unique within one run. A second use of a name
// gets "-INDEX" before its extension, the name part shortened (at a UTF-8
// character boundary) so that the whole stays within the 255 bytes a file
// name may have.
std::string TargetName(const std::string& safe, std::size_t index, std::set<std::string>& used)
{
    std::string name = safe;
    if (name.empty() || name == "." || name == "..")
        name = "attachment-" + std::to_string(index);
    if (used.count(name)) {
        const std::size_t dot = name.rfind('.');
        const bool hasExt = dot != std::string::npos && dot != 0 && name.size() - dot <= 32;
        std::string stem = hasExt ? name.substr(0, dot) : name;
        const std::string ext = hasExt ? name.substr(dot) : std::string();
        const std::string suffix = "-" + std::to_string(index);
        const std::size_t room = 255 - std::min<std::size_t>(255, suffix.size() + ext.size());
        if (stem.size() > room) {
            std::size_t cut = room;
            for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80; ++back)
                --cut;
            stem.resize((static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80 ? room : cut);
        }
        name = stem + suffix + ext;
    }
    used.insert(name);
    return name;
}

int Extract(const std::string& file, const std::string& dir, const std::vector<std::string>& indexArgs, bool force)
{
    TMailMessage2000 m;
    Load(m, file);
    std::vector<std::size_t> indexes;
    for (const auto& arg : indexArgs) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(arg.c_str(), &end, 10);
        if (arg.empty() || *end || arg[0] == '-')
            throw UsageError("not an attachment index: " + arg);
        if (v >= m.AttachList.Count())
            throw UsageError("no attachment " + arg + " (the message has " + std::to_string(m.AttachList.Count())
                             + ")");
        indexes.push_back(v);
    }
    if (indexArgs.empty())
        for (std::size_t i = 0; i < m.AttachList.Count(); ++i)
            indexes.push_back(i);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (!std::filesystem::is_directory(dir, ec)) {
        std::fprintf(stderr, "corvanta-eml: %s is not a folder\n", dir.c_str());
        return 1;
    }
    int status = 0;
    std::set<std::string> used;
    for (std::size_t i : indexes) {
        TMailPart* a = m.AttachList.Items(i);
        a->Decode();
        // The name the user was shown, in UTF-8 (not the engine's bytes).
        const std::string path =
            (std::filesystem::path(dir) / TargetName(ShownFileName(*a).toStdString(), i, used)).string();
        try {
            WriteFileSafely(path, force, [&](const auto& sink) { sink(a->Decoded); });
            std::cout << path << "\n";
        } catch (const EMailError& e) {
            // error_code form: a name the system refuses makes exists() throw.
            std::error_code existsError;
            const bool exists = std::filesystem::exists(path, existsError);
            std::fprintf(stderr, "corvanta-eml: %s%s\n", e.what(), exists && !force ? " (use --force to replace it)" : "");
            status = 1;
        }
    }
    return status;
}

std::string Rfc822Now()
{
    const QDateTime now = QDateTime::currentDateTime();
    return QLocale::c().toString(now, QStringLiteral("ddd, d MMM yyyy hh:mm:ss ")).toStdString()
           + now.toString(QStringLiteral("t")).replace(QStringLiteral("UTC"), QStringLiteral("+0000")).toStdString();
}

// Printable ASCII only: such a text can stand in a header as it is. Anything
// else (8-bit bytes, a line break that would start a field of its own) goes
// into an encoded word.
bool IsPlainAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c == '\t' || (c >= 32 && c < 127); });
}

// A header text from the command line: as it is when it is plain ASCII,
// else one encoded word labelled with the charset its bytes are in. Text
// that has the form of an encoded word ("Price =?utf-8?Q?100?= offer") is
// encoded too (RFC 2047 5), or a reader would decode it.
std::string HeaderText(const std::string& text, const std::string& fallbackCharset)
{
    if (IsPlainAscii(text) && text.find("=?") == std::string::npos)
        return text;
    return EncodeHeaderWord(text, IsValidUtf8(text) ? std::string("utf-8") : fallbackCharset);
}

// An address has no encoded form: control characters in it become spaces.
std::string PlainAddress(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = ' ';
    return text;
}

// "Name <address>, ..." with each display name that is not plain ASCII as an
// encoded word; the addresses stay readable.
std::string AddressHeader(const std::string& value, const std::string& charset)
{
    std::string out;
    std::size_t start = 0;
    while (start <= value.size()) {
        const std::size_t comma = value.find(',', start);
        std::string one = TrimBlanks(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        const std::size_t lt = one.rfind('<');
        if (lt != std::string::npos && lt > 0)
            one = HeaderText(TrimBlanks(one.substr(0, lt)), charset) + " " + PlainAddress(one.substr(lt));
        else
            one = PlainAddress(one);
        if (!out.empty())
            out += ", ";
        out += one;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return out;
}

int Build(const std::vector<std::string>& args)
{
    std::string out, subject, from, to, textFile, htmlFile;
    std::vector<std::pair<std::string, bool>> files;
    bool force = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            return args[++i];
        };
        if (a == "--subject")
            subject = value();
        else if (a == "--from")
            from = value();
        else if (a == "--to")
            to = value();
        else if (a == "--text")
            textFile = value();
        else if (a == "--html")
            htmlFile = value();
        else if (a == "--attach")
            files.emplace_back(value(), false);
        else if (a == "--embed")
            files.emplace_back(value(), true);
        else if (a == "--force")
            force = true;
        else if (out.empty() && !a.starts_with("--"))
            out = a;
        else
            throw UsageError("unexpected argument: " + a);
    }
    if (out.empty())
        throw UsageError("build needs OUT.eml");
    if (!force && std::filesystem::exists(out)) {
        std::fprintf(stderr, "corvanta-eml: %s exists (use --force to replace it)\n", out.c_str());
        return 1;
    }

    // The bodies go in base64, so no text can clash with a boundary; the
    // normalisation below re-encodes them as the message's text encoding.
    // Texts are labelled with the charset their bytes are in: UTF-8 when
    // they are valid UTF-8, else the message's charset.
    TMailMessage2000 m;
    const std::string charset = m.Charset;
    std::string text = "Date: " + Rfc822Now() + "\r\n";
    if (!from.empty())
        text += "From: " + AddressHeader(from, charset) + "\r\n";
    if (!to.empty())
        text += "To: " + AddressHeader(to, charset) + "\r\n";
    if (!subject.empty())
        text += "Subject: " + HeaderText(subject, charset) + "\r\n";
    text += "Mime-Version: 1.0\r\n";
    auto bodyPart = [&](const std::string& type, const std::string& file) {
        const std::string bytes = ReadWholeFile(file);
        std::string encoded;
        Base64EncodeStream(encoded, bytes);
        const std::string label = IsValidUtf8(bytes) ? std::string("utf-8") : charset;
        return "Content-Type: " + type + "; charset=\"" + label + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
               + encoded;
    };
    if (!textFile.empty() && !htmlFile.empty()) {
        const std::string b = NewBoundary();
        text += "Content-Type: multipart/alternative; boundary=\"" + b + "\"\r\n\r\n--" + b + "\r\n"
                + bodyPart("text/plain", textFile) + "\r\n--" + b + "\r\n" + bodyPart("text/html", htmlFile)
                + "\r\n--" + b + "--\r\n";
    } else if (!textFile.empty() || !htmlFile.empty()) {
        text += bodyPart(textFile.empty() ? "text/html" : "text/plain", textFile.empty() ? htmlFile : textFile);
    } else {
        text += "\r\n";
    }

    m.ParseText(text, true);
    m.RebuildStructure(0);
    m.ScanParts();
    for (const auto& [file, embedded] : files)
        m.AttachFile(file, "", embedded);
    m.SerializeBody();
    m.SaveToFile(out, force);
    return 0;
}

int Run(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::printf("corvanta-eml %s\n", CORVANTA_VERSION);
        return 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    auto needFile = [&](std::size_t n) {
        if (args.size() < n)
            throw UsageError(command + " needs " + (n == 1 ? "FILE" : "FILE and DIR"));
    };
    if (command == "info" || command == "json") {
        needFile(1);
        if (args.size() > 1)
            throw UsageError("unexpected argument: " + args[1]);
        return command == "info" ? Info(args[0]) : Json(args[0]);
    }
    if (command == "verify") {
        needFile(1);
        if (args.size() > 1)
            throw UsageError("unexpected argument: " + args[1]);
        return Verify(args[0]);
    }
    if (command == "body") {
        needFile(1);
        bool html = false, all = false;
        for (std::size_t i = 1; i < args.size(); ++i) {
            if (args[i] == "--html")
                html = true;
            else if (args[i] == "--all")
                all = true;
            else
                throw UsageError("unexpected argument: " + args[i]);
        }
        if (html && all)
            throw UsageError("body takes --html or --all, not both");
        return all ? ShownBody(args[0]) : Body(args[0], html);
    }
    if (command == "extract") {
        needFile(2);
        bool force = false;
        std::vector<std::string> indexes;
        for (std::size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--force")
                force = true;
            else
                indexes.push_back(args[i]);
        }
        return Extract(args[0], args[1], indexes, force);
    }
    if (command == "build")
        return Build(args);
    throw UsageError("unknown command: " + command);
}

} // namespace

int main(int argc, char** argv)
{
    // Large buffers (message files, bodies) come from the heap and stay there
    // when freed, so later bodies reuse pages instead of faulting in new ones.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_TOP_PAD, 64 << 20);
    if (const char* types = std::getenv("CORVANTA_MIME_TYPES"))
        SetMimeTypesPath(types);
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "corvanta-eml: %s (see corvanta-eml --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvanta-eml: %s\n", e.what());
        return 1;
    }
}
