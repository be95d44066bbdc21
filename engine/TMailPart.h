#pragma once
// One node of a message's part tree: its header lines, its body as stored
// (transfer-encoded) and as decoded, and its children.
//
// Ownership: every part the engine creates belongs to its message, which
// frees it (see TMailMessage2000::CreatePart / FreePart). SubPartList and
// every other list of parts only refers to parts.
#include "TextUtils.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TMailMessage2000;
class TMailPart;

enum class TEncodingType { etBase64, etQuotedPrintable, etNoEncoding };
enum class TEmbedMethod { emContentID, emContentLocation };

class TMailPartList {
public:
    [[nodiscard]] TMailPart* Items(std::size_t index) const { return m_items.at(index); }
    [[nodiscard]] std::size_t Count() const { return m_items.size(); }
    [[nodiscard]] bool Empty() const { return m_items.empty(); }
    [[nodiscard]] int IndexOf(const TMailPart* part) const;
    void Add(TMailPart* part) { m_items.push_back(part); }
    void Insert(std::size_t index, TMailPart* part);
    void Delete(std::size_t index);
    bool Remove(const TMailPart* part);
    template <class Pred> void RemoveIf(Pred pred) { std::erase_if(m_items, pred); }
    void Clear() { m_items.clear(); }
    [[nodiscard]] auto begin() const { return m_items.begin(); }
    [[nodiscard]] auto end() const { return m_items.end(); }

private:
    std::vector<TMailPart*> m_items;
};

class TMailPart {
public:
    // A part without an owner, freed by whoever holds it; it cannot parse.
    // Parts of a message come from TMailMessage2000::CreatePart, which keeps
    // and frees them.
    TMailPart() = default;
    TMailPart(const TMailPart&) = delete;
    TMailPart& operator=(const TMailPart&) = delete;
    virtual ~TMailPart();

    std::string Name; // component name, used in error messages
    TStringList Header;
    std::string Decoded;
    std::string ParentBoundary;
    TMailMessage2000* OwnerMessage = nullptr;
    TMailPartList SubPartList;
    TMailPart* ParentPart = nullptr;
    bool IsDecoded = false;
    bool Embedded = false;

    // Header access; field names compare without regard to ASCII case.
    [[nodiscard]] std::string GetLabelValue(std::string_view label) const;
    [[nodiscard]] std::string GetLabelParamValue(std::string_view label, std::string_view param) const;
    void SetLabelValue(std::string_view label, std::string_view value);
    void SetLabelParamValue(std::string_view label, std::string_view param, std::string_view value);
    [[nodiscard]] bool LabelExists(std::string_view label) const;
    [[nodiscard]] bool LabelParamExists(std::string_view label, std::string_view param) const;

    // The body as stored, transfer-encoded. What only a save needs is made
    // when the body is first read: the re-encoding of a body by a rebuild or
    // a uuencode lift-out (Decoded meanwhile holds what it will encode), and
    // the joined parts of SerializeBody. A "Content-Length" field that goes
    // with such a body holds its real length at once. A base64 body laid out
    // as this engine's encoder writes it is decoded in its own storage: it
    // is made again from Decoded when read.
    [[nodiscard]] const std::string& Body() const;
    // Its length, without making a body that is still to be made where the
    // length is known beforehand.
    [[nodiscard]] std::size_t BodySize() const;
    void SetBody(std::string body);

    [[nodiscard]] std::string GetContentType() const;
    [[nodiscard]] std::string GetBoundary() const;
    [[nodiscard]] std::string GetFileName() const;

    // Removes the part from its parent's children; it stays alive.
    void Detach();
    // Reads a whole message file (any line ending; zero bytes are data) and
    // parses it with its header. Raises EFOpenError and leaves the part
    // unchanged when the file cannot be read.
    void LoadFromFile(const std::string& fileName);

    // Parses the whole text into this part, replacing its whole content.
    // The text is not changed.
    void ParseText(std::string& data, bool hasHeader);
    // The same with a text the caller gives up: the largest body may keep
    // its storage instead of being copied out of it.
    void ParseText(std::string&& data, bool hasHeader);
    void ParseText(const char* data, std::size_t length, bool hasHeader);

    bool Decode();
    // Frees the decoded bytes when the body holds them too (Decode gives
    // them again); a body still to be made from them keeps them.
    void ForgetDecoded();
    void Encode(TEncodingType encoding);
    void EncodeQuotedPrintable();
    void EncodeBase64();

    // Multiparts nested deeper than this keep their body unparsed, so a
    // hostile message cannot exhaust the stack.
    static constexpr int kMaxNesting = 512;

protected:
    // Only the message makes parts it owns, so none can escape its store.
    explicit TMailPart(TMailMessage2000* owner);

    [[nodiscard]] int FindLabel(std::string_view label) const;

    // Leaves the body to be encoded from Decoded with the given encoding when
    // it is read; the Content-Transfer-Encoding field is set at once, and a
    // "Content-Length" field, when asked for, with its value.
    void EncodeLater(TEncodingType encoding, bool withLength);
    // Leaves the body to be joined from the children when it is read.
    void SerializeLater();
    [[nodiscard]] bool BodyPending() const { return m_pending != TPending::None; }
    [[nodiscard]] bool BodyEmpty() const;
    // Hands the body, made or still to be made, to another part.
    void MoveBodyTo(TMailPart& to);

private:
    friend class TMailMessage2000;
    struct Parser;
    enum class TPending : unsigned char { None, Encoding, Parts };
    void MakeBody() const;
    void EncodeBody(TEncodingType encoding) const;
    void ClearBody();
    void SetLength();
    void ParseRange(std::string_view text, bool hasHeader, std::string* owner,
                    const std::vector<std::size_t>* inserted = nullptr);
    void ReportProgress(std::size_t total, std::size_t current);

    std::size_t m_slot = 0; // index in the owner's part store
    bool m_doomed = false;  // being freed
    bool m_moving = false;  // being placed by a rebuild
    bool m_delimited = false; // a multipart whose delimiter line came: without parts it is empty
    // The body, and what is still to be made of it when it is read.
    mutable std::string m_body;
    mutable TPending m_pending = TPending::None;
    mutable bool m_pendingBreak = true;   // the encoding keeps the line break its encoder ends with
    TEncodingType m_pendingEncoding = TEncodingType::etNoEncoding;
};
