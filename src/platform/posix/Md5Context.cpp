// MD5 from OpenSSL's libcrypto.
#include "platform/Md5.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <string>

namespace platform {

namespace {

[[noreturn]] void RaiseCryptoError(const char *step) {
    char reason[256] = "unknown reason";
    if (const unsigned long code = ERR_get_error(); code != 0)
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error(); // nothing of this failure may be blamed on a later, unrelated call
    throw Md5Error(std::string("MD5 ") + step + " failed: " + reason);
}

struct ContextDeleter {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

// A digest is all we take from the library: not its configuration file, nor its tables of
// every algorithm's name and every error's text, whose set-up would otherwise touch megabytes
// of it in each load (a failure then reads as the error's number).
bool InitialiseForDigestsOnly() {
    return OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS |
                                   OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                                   OPENSSL_INIT_NO_ADD_ALL_DIGESTS,
                               nullptr) == 1;
}

} // namespace

struct Md5Context::Impl {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context{
        (static_cast<void>(Initialised()), EVP_MD_CTX_new())};
    static bool Initialised() {
        static const bool initialised = InitialiseForDigestsOnly();
        return initialised;
    }

    void Start() {
        if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1)
            RaiseCryptoError("set-up");
    }
};

Md5Context::Md5Context() : impl_(std::make_unique<Impl>()) { impl_->Start(); }

Md5Context::~Md5Context() = default;

void Md5Context::Update(const uint8_t *data, size_t size) {
    if (size == 0) return; // a null pointer with no bytes is a valid empty part
    if (EVP_DigestUpdate(impl_->context.get(), data, size) != 1) RaiseCryptoError("update");
}

Md5Digest Md5Context::Final() {
    Md5Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(impl_->context.get(), digest.data(), &length) != 1 ||
        length != digest.size())
        RaiseCryptoError("final step");
    impl_->Start(); // ready for the next digest
    return digest;
}

} // namespace platform
