#pragma once
// The message as a whole: the root of its own part tree and the owner of
// every part in it, with the sender, subject, date and recipient accessors,
// the derived text/HTML bodies and attachment list, and the normalisation
// and building operations.
#include "MailDate.h"
#include "TMailPart.h"
#include "TMailRecipients.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

using TProgressEvent = std::function<void(TMailPart* sender, std::size_t total, std::size_t current)>;

class TMailMessage2000 : public TMailPart {
public:
    TMailMessage2000();
    ~TMailMessage2000() override;

    TMailPartList AttachList;
    TLineList TextLines;
    TLineList HtmlLines;
    TMailPart* TextPart = nullptr;
    TMailPart* HtmlPart = nullptr;
    TMailPart* MixedPart = nullptr;
    TMailPart* RelatedPart = nullptr;
    TMailPart* AlternativePart = nullptr;
    TMailPart* CurrentContainer = nullptr;
    std::string Charset = "iso-8859-1";
    TProgressEvent OnProgress;
    int FileCounter = 0;
    TMailRecipients ToList{this, "To"};
    TMailRecipients CcList{this, "Cc"};
    TMailRecipients BccList{this, "Bcc"};
    TEncodingType TextEncoding = TEncodingType::etQuotedPrintable;
    TEncodingType AttachEncoding = TEncodingType::etBase64;
    TEmbedMethod EmbedMethod = TEmbedMethod::emContentLocation;
    std::string ContentLocationBase = "http://localhost/corvanta/";
    bool NeedsSerialize = false;
    bool NeedsRebuild = false;
    bool NeedsScan = false;

    // Part store. CreatePart makes a part owned by this message; FreePart
    // frees a part and its subtree, unhooks it from its parent and from
    // every reference the message keeps. FreeParts frees many at once, in
    // one pass over each list they may be on. Parts not owned, the message
    // itself included, are left alone.
    TMailPart* CreatePart();
    void FreePart(TMailPart* part);
    void FreeParts(const std::vector<TMailPart*>& parts);
    [[nodiscard]] std::size_t PartCount() const { return m_parts.size(); }

    // Accessors of the message's own header.
    void GetAddressParts(std::string_view field, std::string& name, std::string& address) const;
    [[nodiscard]] std::string GetFromName() const;
    [[nodiscard]] std::string GetFromAddress() const;
    [[nodiscard]] std::string GetSubject() const;
    [[nodiscard]] TDateTime GetDate() const;
    // Length of the header text (all lines joined with CR LF).
    [[nodiscard]] std::size_t HeaderTextLength() const;

    // Structure.
    void ScanParts();
    void RebuildStructure(int mode);

    // Building and serialisation.
    void AttachFile(const std::string& fileName, const std::string& contentType, bool embedded);
    void AttachStream(const std::string& stream, const std::string& fileName, bool embedded,
                      const std::string& contentType);
    void RemoveAttachment(int index);
    void SerializeBody();
    // Writes the whole message (header lines, an empty line, the serialised
    // body) to a file, streaming the children's bodies instead of building
    // the body in memory first.
    void SaveToFile(const std::string& fileName, bool overwrite) const;

private:
    bool TakeBody(TMailPart* part, const std::string& type);
    bool IsPhantom(TMailPart* part);
    void LabelDigestMessage(TMailPart* part);
    // A container with the boundary its children take.
    struct Placing {
        TMailPart* part = nullptr;
        std::string boundary;
    };
    void PlaceAttachment(std::size_t index, const Placing& mixed, const Placing& related);
    TMailPart* NewContainer(TMailPart* parent, const char* type, const char* suffix);
    void DetachPartsToPlace();
    void FreeHusks(TMailPart* mixed, TMailPart* related, TMailPart* alternative);

    std::vector<std::unique_ptr<TMailPart>> m_parts;
};

// The text parts a reader is shown, in the order the sender wrote them: the
// body, and beside it every inline text part of a multipart/mixed, which
// is no alternative to choose from (RFC 2046 5.1.3): a footer a list added,
// a text before an HTML part. Of an alternative, the choice the body makes
// (or its last, best, part); of a related or a signed part, its content.
// For a message scanned but not rebuilt (a rebuild makes every pair of
// bodies alternatives). Empty without a body.
[[nodiscard]] std::vector<TMailPart*> ShownTextParts(const TMailMessage2000& message);

// The body SerializeBody would write, streamed to a sink instead.
void WriteParts(const TMailPart& part, const std::function<void(std::string_view)>& sink);
// Its length, counted without making it.
[[nodiscard]] std::size_t SerializedSize(const TMailPart& part);
// The whole body of a multipart, the preamble and the parts, written over
// body (whose storage is reused).
void SerializeParts(const TMailPart& part, std::string& body);
