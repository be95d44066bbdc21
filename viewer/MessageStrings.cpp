#include "MessageStrings.h"

#include "EngineText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>
#include <cstring>
#include <vector>

namespace MessageStrings {

namespace {

constexpr std::array<int, kBlocks> kSlots = {39, 364, 35, 44, 54};

struct BuiltIn {
    int block;
    int slot;
    const char* text;
};

// The entries this program shows; the other slots belong to the larger
// application of the same family and start empty here, so that language
// files stay positionally compatible.
constexpr BuiltIn kBuiltIns[] = {
    {1, 103, "Click anywhere to close this window..."},
    {1, 225, "Select + Add"},
    {1, 226, "Execute/Run"},
    {1, 227, "Remove from List"},
    {1, 228, "Save to Disk"},
    {1, 229, "Attached Files"},
    {1, 230, "Close this Window"},
    {1, 235, "Print"},
    {1, 251, "Select the Destination Folder"},
    {1, 307, "Date"},
    {1, 363, "&Close"},
    {2, 10, "Close"},
    {2, 31, "Processing message "},
    {3, 32, "Organization"},
    {4, 15, "Processing mail message, please wait..."},
    {4, 23, "Attachments"},
    {4, 32, "To"},
    {4, 33, "From"},
    {4, 34, "Date"},
    {4, 37, "Subject"},
};

struct Table {
    std::array<std::vector<unsigned char>, kBlocks> blocks;
    bool initialized = false;
    Table() { Fill(); }
    void Fill()
    {
        for (int b = 0; b < kBlocks; ++b)
            blocks[static_cast<std::size_t>(b)].assign(static_cast<std::size_t>(BlockSize(b)), 0);
        for (const BuiltIn& e : kBuiltIns)
            SetSlot(e.block, e.slot, e.text);
    }
    void SetSlot(int block, int slot, std::string_view text)
    {
        unsigned char* s = blocks[static_cast<std::size_t>(block)].data() + slot * kSlotSize;
        const std::size_t n = std::min<std::size_t>(text.size(), 255);
        std::memset(s, 0, kSlotSize);
        s[0] = static_cast<unsigned char>(n);
        std::memcpy(s + 1, text.data(), n);
    }
};

Table& TheTable()
{
    static Table table;
    return table;
}

void FillBlock(int block)
{
    Table& t = TheTable();
    auto& data = t.blocks[static_cast<std::size_t>(block)];
    std::fill(data.begin(), data.end(), 0);
    for (const BuiltIn& e : kBuiltIns)
        if (e.block == block)
            t.SetSlot(e.block, e.slot, e.text);
}

// Reads a whole block from its language file. Nothing in the block changes
// unless the file holds the complete block.
bool OverlayLanguageFile(int block, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.read(BlockSize(block));
    if (data.size() != BlockSize(block))
        return false;
    auto& dest = TheTable().blocks[static_cast<std::size_t>(block)];
    std::memcpy(dest.data(), data.constData(), dest.size());
    return true;
}

bool FolderWritable(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

} // namespace

int SlotCount(int block) { return block >= 0 && block < kBlocks ? kSlots[static_cast<std::size_t>(block)] : 0; }
int BlockSize(int block) { return SlotCount(block) * kSlotSize; }
QString LanguageFileName(int block) { return QStringLiteral("langdefmod%1.dat").arg(block); }
QString DownloadAddress() { return QStringLiteral("https://corvanta.example/download/"); }

std::string Bytes(int block, int slot)
{
    if (slot < 0 || slot >= SlotCount(block))
        return {};
    const unsigned char* s = TheTable().blocks[static_cast<std::size_t>(block)].data() + slot * kSlotSize;
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

QString Text(int block, int slot) { return FromEngineBytes(Bytes(block, slot)); }

QByteArray BlockImage(int block)
{
    if (block < 0 || block >= kBlocks)
        return {};
    const auto& data = TheTable().blocks[static_cast<std::size_t>(block)];
    return QByteArray(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
}

void Initialize(const QString& folder, const QString& fallbackFolder, const ErrorReporter& onError)
{
    Table& t = TheTable();
    if (t.initialized)
        return;
    t.initialized = true;
    if (WriteProjectTemplate(folder).isEmpty() && !fallbackFolder.isEmpty()) {
        QDir().mkpath(fallbackFolder);
        WriteProjectTemplate(fallbackFolder);
    }
    for (int block = 0; block < kBlocks; ++block) {
        FillBlock(block);
        const QString path = QDir(folder).filePath(LanguageFileName(block));
        if (QFileInfo::exists(path) && !OverlayLanguageFile(block, path) && onError)
            onError(QStringLiteral("ERROR loading Language file \"%1\"! File might be corrupted, try downloading "
                                   "again from ")
                        .arg(LanguageFileName(block))
                    + DownloadAddress());
    }
}

void Reset()
{
    TheTable().Fill();
    TheTable().initialized = false;
}

QString WriteProjectTemplate(const QString& folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("project_template.txt"));
    if (QFileInfo::exists(path))
        return path; // an edited template is never overwritten
    if (!FolderWritable(folder))
        return {};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(ProjectTemplateBytes());
    // A file that appeared meanwhile is not replaced either.
    if (QFileInfo::exists(path)) {
        file.cancelWriting();
        return path;
    }
    return file.commit() ? path : QString();
}

QByteArray ProjectTemplateBytes()
{
    static const char* const kLines[] = {
        "############################################################################",
        "# Corvanta project information mail attachment \"ini file\".",
        "# Lines starting with a \"#\" are comments and are ignored by the program,",
        "# as well as empty/blank lines",
        "# ",
        "# This file holds the project information that is attached, as a",
        "# plain-text signature, to the messages of a project. Edit the template",
        "# at the end of this file to change what your recipients receive.",
        "# If you delete this file, a fresh copy with the default texts is",
        "# written the next time the program starts.",
        "# ",
        "# Editing rules: keep the section line below exactly as it is, write",
        "# one setting per line as Name = Value, put no comment behind a setting,",
        "# and leave the template code lines further down where they are.",
        "# Use \"1\" to switch a function on and \"0\" to switch it off for the",
        "# specific settings. Do not use \"on\" or \"yes\" or \"true\", etc. ",
        " ",
        " ",
        " ",
        " ",
        "# DO NOT EDIT, REMOVE OR MOVE THE FOLLOWING LINE:",
        "[SYSTEM] ",
        " ",
        "## Administrator override: with Override_Admin set to \"1\", the name and",
        "## address below are shown as the project administrator instead of the",
        "## account that sends the project's messages. Leave it at \"0\" to use",
        "## the sending account.",
        " ",
        "Override_Admin = 0",
        "Override_Admin_Name = ",
        "Override_Admin_Email = ",
        " ",
        " ",
        "## Subscription function:",
        "## People can join the project's address book by themselves. They send",
        "## a message with the subject \"subscribe <projectname>\" to the",
        "## project administrator's address; the program then adds the sender",
        "## to the project's address book when it receives the message.",
        "## Likewise, a message with the subject \"unsubscribe <projectname>\"",
        "## removes the sender from the project's address book again.",
        "## Messages of this kind are answered automatically with a short",
        "## confirmation, so the sender knows that the request was handled.",
        "## The project's invitation text (see the template below) tells your",
        "## recipients how to subscribe and unsubscribe.",
        "## With this function off, such messages are received as ordinary",
        "## mail and nothing is changed in the address book.",
        "## The function works for every project of the account.",
        "## ",
        "## Set to \"1\" if you want this function ON:",
        " ",
        "Accept_Subscribers = 1",
        " ",
        " ",
        "## Template codes:",
        "## The project information template below may contain codes that the",
        "## program replaces with the project's own values when it sends a",
        "## message. Write a code exactly as listed, including its \"%\" sign.",
        "## Codes whose value is not set are replaced by an empty text.",
        "## The pre-defined \"Template Codes\" to be used are:",
        "##  %PROJ_NAME        name of the project",
        "##  %PROJ_ADMIN       name and address of the project administrator",
        "##  %PROJ_ADRR_CNT    number of people subscribed already",
        "##  %PROJ_WEBURL      project website, if set",
        "##  %PROJ_DESCR       project description, if set",
        "##  %PROJ_SIG         project signature, if set",
        "##  %ACCOUNT_NAME     name of the sending account",
        "##  %ACCOUNT_ADDR     address of the sending account",
        "##  %ACCOUNT_WEBURL   website of the account, if set",
        "##  %TRACK_NUM        tracking number of the message, if set",
        "##  %PROJ_XID         reserved system code for subscribe and unsubscribe",
        "## ",
        "## ",
        "## The text after the next code line is the project information",
        "## template; edit it as you like.",
        "## The code lines \"PROJINFOTEMPLATE\" and \"PROJINVITATION\", enclosed in",
        "## \"<**\" and \"**>\", must stay exactly as they are.",
        "## Blank lines below are real blank lines in the message.",
        "## HTML tags are allowed and are sent as they are.",
        "## The invitation part is added only to invitation messages.",
        "## Ready? Here we go. After this, save this file and you are done.",
        "## ",
        "############################################################################### ",
        "",
        "",
        "",
        "<**PROJINFOTEMPLATE**>",
        "-----------",
        "Corvanta v.3.0.5 - Project Information -",
        "This message is sent as part of a \"project\".",
        "A project concentrates on one or more specific subjects targeted towards specific recipients.",
        "The following is a summary of this project:",
        " ",
        "Project Name: %PROJ_NAME",
        "Project Description: %PROJ_DESCR",
        "Project Administrator: %PROJ_ADMIN",
        "Project's Web Page: <A HREF=\"%PROJ_WEBURL\">%PROJ_WEBURL</A>",
        " ",
        "With questions about this project, please contact the Project Administrator mentioned above.",
        "",
        "<**PROJINVITATION**>",
        "The sender of this message, %ACCOUNT_NAME (%ACCOUNT_ADDR), herewith invites you to Subscribe your e-mail "
        "address",
        "to this Project's Mailing List, which enables the sender to distribute important",
        "project information to all subscribers, including you, when it becomes available.",
        "Equally, you can unsubscribe from this list at any time. To subscribe, please send a",
        "blank message with subject SUBSCRIBE %PROJ_XID to %PROJ_ADMIN. ",
        "To unsubscribe, send a blank message with subject UNSUBSCRIBE %PROJ_XID to %PROJ_ADMIN. ",
        " ",
        "-----------",
    };
    QByteArray out;
    for (const char* line : kLines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

} // namespace MessageStrings
