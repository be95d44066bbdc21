// Signed and encrypted messages: any bytes as a stored message whose
// signed or encrypted layer is looked for, opened by a stand-in engine that
// "decrypts" to a piece of the input (the input itself among them, so a
// message can contain itself) and lets every signature hold, then parsed as
// the window would. Besides crashes, leaks and hangs it checks that the
// signed bytes and the armour lie inside the stored text, and that a
// message the parser takes for signed or encrypted always gets a verdict.
#include "FuzzUtil.h"

#include "CryptoEngine.h"
#include "SecureMessage.h"
#include "SecureParts.h"
#include "TMailMessage2000.h"

namespace {

struct TStandIn : TCryptoEngine {
    std::string_view input;
    int calls = 0;
    TCryptoResult Answer()
    {
        TCryptoResult r;
        TSignature s;
        s.verdict = TSignatureVerdict::Good;
        r.signatures.push_back(s);
        // First the whole input again, then ever shorter tails of it.
        r.plain = std::string(input.substr(std::min(input.size(), static_cast<std::size_t>(calls) * 7)));
        r.decrypted = calls % 5 != 4;
        r.noKey = !r.decrypted;
        ++calls;
        return r;
    }
    TCryptoResult VerifyDetached(TSecureProtocol, std::string_view, std::string_view) override { return Answer(); }
    TCryptoResult VerifyOpaque(TSecureProtocol, std::string_view) override { return Answer(); }
    TCryptoResult Decrypt(TSecureProtocol, std::string_view) override { return Answer(); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = CanonicalLineEnds(std::string_view(reinterpret_cast<const char*>(data), size));
    const TSecureLayer layer = FindSecureLayer(text);
    if (layer.kind == TLayerKind::Signed) {
        FUZZ_CHECK(layer.signedBytes.data() >= text.data()
                       && layer.signedBytes.data() + layer.signedBytes.size() <= text.data() + text.size(),
                   "signed bytes outside the message");
    }
    if (layer.kind != TLayerKind::None) {
        FUZZ_CHECK(layer.partStart <= layer.partEnd && layer.partEnd <= text.size(), "layer outside the message");
        (void)SpliceContent(text, layer, text);
    }
    const TClearSigned clear = FindClearSigned(text);
    if (clear.found) {
        FUZZ_CHECK(clear.begin <= clear.end && clear.end <= text.size(), "armour outside the text");
        FUZZ_CHECK(clear.shown.size() <= clear.end - clear.begin, "shown text longer than the armour");
    }

    TStandIn engine;
    engine.input = text;
    TMailMessage2000 m;
    std::string parsed = text;
    m.ParseText(parsed, true);
    TMessageSecurity security;
    const bool secure = MayBeSecure(m);
    if (secure)
        security = ReadSecurity(m, text, engine);
    ReadInlineSignature(m, engine, security);
    FUZZ_CHECK(engine.calls <= 9, "more layers opened than allowed: " + std::to_string(engine.calls));
    FUZZ_CHECK(!secure || !security.Empty(), "a signed or encrypted message without a verdict");
    (void)SignatureSentence(security.signatures.empty() ? TSignature{} : security.signatures.front());
    (void)EncryptionSentence(security);
    m.RebuildStructure(0);
    m.ScanParts();
    m.SerializeBody();
    return 0;
}
