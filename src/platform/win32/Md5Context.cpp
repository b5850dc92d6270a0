// MD5 from Windows' own cryptography (CNG, bcrypt.dll), so the Windows build needs no OpenSSL.
#include "platform/Md5.h"

#include <windows.h>

#include <bcrypt.h>

#include <string>

namespace platform {

namespace {

[[noreturn]] void RaiseCryptoError(const char *step, NTSTATUS status) {
    throw Md5Error(std::string("MD5 ") + step + " failed: status " +
                   std::to_string(static_cast<unsigned long>(status)));
}

bool Succeeded(NTSTATUS status) { return status >= 0; }

} // namespace

struct Md5Context::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;

    ~Impl() {
        if (hash) ::BCryptDestroyHash(hash);
        if (algorithm) ::BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    void Start() {
        if (hash) {
            ::BCryptDestroyHash(hash);
            hash = nullptr;
        }
        NTSTATUS status = 0;
        if (!algorithm && !Succeeded(status = ::BCryptOpenAlgorithmProvider(
                                         &algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)))
            RaiseCryptoError("set-up", status);
        if (!Succeeded(status = ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)))
            RaiseCryptoError("set-up", status);
    }
};

Md5Context::Md5Context() : impl_(std::make_unique<Impl>()) { impl_->Start(); }

Md5Context::~Md5Context() = default;

void Md5Context::Update(const uint8_t *data, size_t size) {
    // CNG takes at most 4 GiB a call; a null pointer with no bytes is a valid empty part.
    while (size > 0) {
        const ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        const NTSTATUS status = ::BCryptHashData(impl_->hash, const_cast<PUCHAR>(data), part, 0);
        if (!Succeeded(status)) RaiseCryptoError("update", status);
        data += part;
        size -= part;
    }
}

Md5Digest Md5Context::Final() {
    Md5Digest digest{};
    const NTSTATUS status =
        ::BCryptFinishHash(impl_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!Succeeded(status)) RaiseCryptoError("final step", status);
    impl_->Start(); // ready for the next digest
    return digest;
}

} // namespace platform
