// GnuPG through GPGME (its C interface): OpenPGP with gpg, S/MIME with gpgsm,
// in the user's GnuPG home. Nothing reaches the network: gpg runs without
// its network helper (GPGME's offline mode: no key servers, no key fetched
// for a signature), and gpgsm through corvanta-gpgsm-offline, which runs it
// the same way (no CRL fetched, no OCSP responder asked), so checking a
// signature tells no one that the message was read. Passphrases are gpg-agent's business:
// it asks with its own dialog, and nothing here sees or keeps them.
#include "CryptoEngine.h"

#include <gpgme.h>

#include <cerrno>
#include <clocale>
#include <filesystem>
#include <mutex>
#include <unistd.h>

namespace {

// A decrypted message larger than this is not read on: a small message
// can decompress to gigabytes.
constexpr std::size_t kMaxPlain = std::size_t{256} << 20;

gpgme_protocol_t Gpgme(TSecureProtocol p) { return p == TSecureProtocol::SMime ? GPGME_PROTOCOL_CMS : GPGME_PROTOCOL_OpenPGP; }

std::string ErrorText(gpgme_error_t err) { return gpgme_strerror(err); }

// Owns a context or data object for the length of one operation.
struct TContext {
    gpgme_ctx_t ctx = nullptr;
    ~TContext()
    {
        if (ctx)
            gpgme_release(ctx);
    }
};
struct TData {
    gpgme_data_t data = nullptr;
    ~TData()
    {
        if (data)
            gpgme_data_release(data);
    }
};

// Output into a string, refused past kMaxPlain.
struct TSink {
    std::string bytes;
    bool tooLarge = false;
};

gpgme_ssize_t SinkWrite(void* handle, const void* buffer, std::size_t size)
{
    auto* sink = static_cast<TSink*>(handle);
    if (sink->bytes.size() + size > kMaxPlain) {
        sink->tooLarge = true;
        errno = EFBIG;
        return -1;
    }
    sink->bytes.append(static_cast<const char*>(buffer), size);
    return static_cast<gpgme_ssize_t>(size);
}

gpgme_data_cbs kSinkCallbacks{nullptr, SinkWrite, nullptr, nullptr};

// The common name of a certificate's subject ("CN=Bob Smith,O=Example").
std::string CommonName(const std::string& dn)
{
    std::size_t pos = 0;
    while (pos < dn.size()) {
        std::size_t comma = dn.find(',', pos);
        if (comma == std::string::npos)
            comma = dn.size();
        std::string_view rdn(dn.data() + pos, comma - pos);
        while (!rdn.empty() && rdn.front() == ' ')
            rdn.remove_prefix(1);
        if (rdn.size() > 3 && (rdn[0] == 'C' || rdn[0] == 'c') && (rdn[1] == 'N' || rdn[1] == 'n') && rdn[2] == '=')
            return std::string(rdn.substr(3));
        pos = comma + 1;
    }
    return dn;
}

// gpgsm gives certificate addresses as "<bob@example.org>".
std::string Unbracketed(std::string_view address)
{
    if (address.size() >= 2 && address.front() == '<' && address.back() == '>')
        address = address.substr(1, address.size() - 2);
    return std::string(address);
}

// Name and addresses of the key that made a signature, when it is here.
void DescribeSigner(gpgme_ctx_t ctx, TSignature& s, bool smime)
{
    if (s.fingerprint.empty())
        return;
    // Listed in this context, which is offline (gpgme_get_key's own is not).
    gpgme_key_t key = nullptr;
    if (gpgme_op_keylist_start(ctx, s.fingerprint.c_str(), 0) != 0)
        return;
    const gpgme_error_t err = gpgme_op_keylist_next(ctx, &key);
    gpgme_op_keylist_end(ctx);
    if (err || !key)
        return;
    // A revoked key's user ids are all revoked: they still name the signer.
    for (const bool current : {true, false}) {
        for (gpgme_user_id_t uid = key->uids; uid; uid = uid->next) {
            if (current == (uid->revoked || uid->invalid))
                continue;
            if (s.signerName.empty()) {
                if (smime && uid->uid && uid->uid[0] != '<')
                    s.signerName = CommonName(uid->uid);
                else if (!smime && uid->name)
                    s.signerName = uid->name;
            }
            if (uid->email && uid->email[0])
                s.keyAddresses.push_back(Unbracketed(uid->email));
        }
        if (!s.keyAddresses.empty() || !s.signerName.empty())
            break;
    }
    gpgme_key_unref(key);
}

TSignatureVerdict VerdictOf(gpgme_signature_t sig, std::string& detail)
{
    switch (gpg_err_code(sig->status)) {
    case GPG_ERR_NO_ERROR:
        if (sig->summary & GPGME_SIGSUM_KEY_REVOKED)
            return TSignatureVerdict::KeyRevoked;
        if (sig->summary & GPGME_SIGSUM_KEY_EXPIRED)
            return TSignatureVerdict::KeyExpired;
        if (sig->summary & GPGME_SIGSUM_SIG_EXPIRED)
            return TSignatureVerdict::SignatureExpired;
        if (sig->summary & GPGME_SIGSUM_VALID)
            return TSignatureVerdict::Good;
        if (sig->validity_reason)
            detail = ErrorText(sig->validity_reason);
        return TSignatureVerdict::GoodUntrusted;
    case GPG_ERR_BAD_SIGNATURE: return TSignatureVerdict::Bad;
    case GPG_ERR_NO_PUBKEY: return TSignatureVerdict::KeyMissing;
    case GPG_ERR_KEY_EXPIRED:
    case GPG_ERR_CERT_EXPIRED: return TSignatureVerdict::KeyExpired;
    case GPG_ERR_SIG_EXPIRED: return TSignatureVerdict::SignatureExpired;
    case GPG_ERR_CERT_REVOKED: return TSignatureVerdict::KeyRevoked;
    default: detail = "GnuPG: " + ErrorText(sig->status); return TSignatureVerdict::NotChecked;
    }
}

std::vector<TSignature> Signatures(gpgme_ctx_t ctx, TSecureProtocol protocol)
{
    std::vector<TSignature> out;
    gpgme_verify_result_t result = gpgme_op_verify_result(ctx);
    if (!result)
        return out;
    for (gpgme_signature_t sig = result->signatures; sig; sig = sig->next) {
        TSignature s;
        s.protocol = protocol;
        s.verdict = VerdictOf(sig, s.detail);
        s.fingerprint = sig->fpr ? sig->fpr : "";
        s.time = static_cast<std::int64_t>(sig->timestamp);
        out.push_back(std::move(s));
    }
    // After the result is read: a key listing starts a new operation.
    for (TSignature& s : out)
        if (s.verdict != TSignatureVerdict::KeyMissing)
            DescribeSigner(ctx, s, protocol == TSecureProtocol::SMime);
    return out;
}

class TGnuPGEngine : public TCryptoEngine {
public:
    // Nothing is asked of the system here: the loader makes an engine for
    // every message, and most are neither signed nor encrypted.
    TGnuPGEngine(std::string gpgPath, std::string gpgsmPath)
        : m_gpgPath(std::move(gpgPath)), m_gpgsmPath(std::move(gpgsmPath))
    {
    }

    TCryptoResult VerifyDetached(TSecureProtocol protocol, std::string_view signedBytes,
                                 std::string_view signature) override
    {
        TCryptoResult r;
        TContext c;
        if (!Open(protocol, c, r))
            return r;
        TData sig, text;
        gpgme_data_new_from_mem(&sig.data, signature.data(), signature.size(), 0);
        gpgme_data_new_from_mem(&text.data, signedBytes.data(), signedBytes.size(), 0);
        const gpgme_error_t err = gpgme_op_verify(c.ctx, sig.data, text.data, nullptr);
        r.signatures = Signatures(c.ctx, protocol);
        if (err && r.signatures.empty())
            r.error = "GnuPG could not read the signature: " + ErrorText(err);
        return r;
    }

    TCryptoResult VerifyOpaque(TSecureProtocol protocol, std::string_view data) override
    {
        TCryptoResult r;
        TTransform t;
        if (!Begin(protocol, data, t, r))
            return r;
        const gpgme_error_t err = gpgme_op_verify(t.c.ctx, t.in.data, nullptr, t.out.data);
        r.signatures = Signatures(t.c.ctx, protocol);
        TSink& sink = t.sink;
        if (sink.tooLarge)
            r.error = "the signed content is larger than 256 MB";
        else if (err && r.signatures.empty())
            r.error = "GnuPG could not read the signature: " + ErrorText(err);
        if (!sink.tooLarge)
            r.plain = std::move(sink.bytes);
        return r;
    }

    TCryptoResult Decrypt(TSecureProtocol protocol, std::string_view data) override
    {
        TCryptoResult r;
        TTransform t;
        if (!Begin(protocol, data, t, r))
            return r;
        TContext& c = t.c;
        TSink& sink = t.sink;
        // gpgsm has no combined operation: a signature inside S/MIME
        // encryption is a layer of its own.
        const gpgme_error_t err = protocol == TSecureProtocol::OpenPGP
                                      ? gpgme_op_decrypt_verify(c.ctx, t.in.data, t.out.data)
                                      : gpgme_op_decrypt(c.ctx, t.in.data, t.out.data);
        bool allMissing = true;
        if (gpgme_decrypt_result_t result = gpgme_op_decrypt_result(c.ctx)) {
            for (gpgme_recipient_t rcp = result->recipients; rcp; rcp = rcp->next) {
                if (rcp->keyid)
                    r.recipients.emplace_back(rcp->keyid);
                if (gpg_err_code(rcp->status) != GPG_ERR_NO_SECKEY)
                    allMissing = false;
            }
        }
        if (!err && !sink.tooLarge) {
            r.decrypted = true;
            r.plain = std::move(sink.bytes);
            if (protocol == TSecureProtocol::OpenPGP) {
                gpgme_verify_result_t verified = gpgme_op_verify_result(c.ctx);
                if (verified && verified->signatures)
                    r.signatures = Signatures(c.ctx, protocol);
            }
            return r;
        }
        const gpg_err_code_t code = gpg_err_code(err);
        r.noKey = code == GPG_ERR_NO_SECKEY || (code == GPG_ERR_DECRYPT_FAILED && !r.recipients.empty() && allMissing);
        r.error = sink.tooLarge ? std::string("the decrypted message is larger than 256 MB") : "GnuPG: " + ErrorText(err);
        return r;
    }

private:
    // An operation that reads data and gives what is inside it.
    struct TTransform {
        TContext c;
        TData in;
        TData out;
        TSink sink;
    };
    bool Begin(TSecureProtocol protocol, std::string_view data, TTransform& t, TCryptoResult& r)
    {
        if (!Open(protocol, t.c, r))
            return false;
        gpgme_data_new_from_mem(&t.in.data, data.data(), data.size(), 0);
        gpgme_data_new_from_cbs(&t.out.data, &kSinkCallbacks, &t.sink);
        return true;
    }

    // A context for the protocol, offline, or why there is none.
    // GPGME set up once per process, the offline wrapper found once per
    // engine, at the first check.
    void Ready()
    {
        if (m_ready)
            return;
        m_ready = true;
        for (const char* wrapper : {CORVANTA_GPGSM_OFFLINE, CORVANTA_GPGSM_OFFLINE_BUILT}) {
            std::error_code ec;
            if (std::filesystem::is_regular_file(wrapper, ec) && ::access(wrapper, X_OK) == 0) {
                m_gpgsmOffline = wrapper;
                break;
            }
        }
        static std::once_flag once;
        std::call_once(once, [] {
            gpgme_check_version(nullptr);
            gpgme_set_locale(nullptr, LC_CTYPE, std::setlocale(LC_CTYPE, nullptr));
        });
    }

    bool Open(TSecureProtocol protocol, TContext& c, TCryptoResult& r)
    {
        Ready();
        const gpgme_protocol_t p = Gpgme(protocol);
        const std::string& path = protocol == TSecureProtocol::SMime ? m_gpgsmPath : m_gpgPath;
        const char* program = protocol == TSecureProtocol::SMime ? "gpgsm" : "gpg";
        const bool present = path.empty() ? gpgme_engine_check_version(p) == 0 : ::access(path.c_str(), X_OK) == 0;
        if (!present) {
            r.error = std::string("GnuPG's ") + program + " is not installed (package "
                      + (protocol == TSecureProtocol::SMime ? "gpgsm" : "gnupg") + ")";
            return false;
        }
        // gpgsm runs through its offline wrapper, or not at all.
        std::string programPath = path;
        if (protocol == TSecureProtocol::SMime && path.empty()) {
            if (m_gpgsmOffline.empty()) {
                    r.error = "corvanta-gpgsm-offline, which keeps gpgsm off the network, is not installed";
                return false;
            }
            programPath = m_gpgsmOffline;
        }
        if (gpgme_new(&c.ctx) != 0 || gpgme_set_protocol(c.ctx, p) != 0
            || (!programPath.empty() && gpgme_ctx_set_engine_info(c.ctx, p, programPath.c_str(), nullptr) != 0)) {
            r.error = std::string("GnuPG's ") + program + " could not be started";
            return false;
        }
        gpgme_set_offline(c.ctx, 1);
        return true;
    }

    std::string m_gpgPath;
    std::string m_gpgsmPath;
    std::string m_gpgsmOffline;
    bool m_ready = false;
};

} // namespace

std::unique_ptr<TCryptoEngine> MakeGnuPGEngine(const std::string& gpgPath, const std::string& gpgsmPath)
{
    return std::make_unique<TGnuPGEngine>(gpgPath, gpgsmPath);
}
