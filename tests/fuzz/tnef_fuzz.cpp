// TNEF streams: any bytes are read as a bare winmail.dat, and as the
// winmail.dat of a message read from an .eml, whose files join its
// attachments. Besides crashes, leaks and hangs it checks that the message
// keeps the winmail.dat and gains exactly the stream's files, each under a
// safe name and with its bytes.
#include "FuzzUtil.h"

#include "Codecs.h"
#include "EngineError.h"
#include "OutlookMessage.h"
#include "TMailMessage2000.h"
#include "Tnef.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The signature is given, so every input reaches the attributes.
    std::string bytes("\x78\x9F\x3E\x22\x01\x00", 6);
    if (IsTnef(std::string_view(reinterpret_cast<const char*>(data), size)))
        bytes.clear();
    bytes.append(reinterpret_cast<const char*>(data), size);
    const TOutlookItem item = ReadTnefItem(bytes);
    (void)OutlookItemToMime(item);

    std::string b64;
    Base64EncodeStream(b64, bytes);
    std::string eml = "Subject: fuzz\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"=_b_=\"\r\n\r\n"
                      "--=_b_=\r\nContent-Type: text/plain\r\n\r\nbody\r\n--=_b_=\r\n"
                      "Content-Type: application/ms-tnef; name=\"winmail.dat\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                      + b64 + "\r\n--=_b_=--\r\n";
    TMailMessage2000 m;
    m.ParseText(eml, true);
    const std::size_t added = UnpackTnefAttachments(m);
    FUZZ_CHECK(added == item.attachments.size(), "unpacked " + std::to_string(added) + " files of "
                                                     + std::to_string(item.attachments.size()));
    m.RebuildStructure(0);
    m.ScanParts();
    FUZZ_CHECK(m.AttachList.Count() == item.attachments.size() + 1,
               "the message lists " + std::to_string(m.AttachList.Count()) + " attachments for "
                   + std::to_string(item.attachments.size()) + " files and the winmail.dat");
    bool kept = false;
    for (TMailPart* p : m.AttachList) {
        const std::string name = p->GetFileName();
        FUZZ_CHECK(!name.empty() && name.size() <= 254 && name.find('/') == std::string::npos,
                   "unsafe attachment file name: " + fuzz::Shown(name));
        p->Decode();
        kept |= p->Decoded == bytes;
    }
    FUZZ_CHECK(kept, "the winmail.dat itself is gone");
    return 0;
}
