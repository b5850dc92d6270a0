// MD5 digests (RFC 1321), as the user-program check and the network device's passphrase
// exchange need them. MD5 is no protection against a forger; the boards and the programming
// device speak it, so we compute it, nothing more.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

namespace platform {

using Md5Digest = std::array<uint8_t, 16>;

// Raised when the crypto library refuses MD5 (a FIPS-only configuration does).
class Md5Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The digest in lower-case hexadecimal, as md5sum prints it.
std::string HexDigest(const Md5Digest &digest);

// The digest of one block of bytes. data may be null when size is 0.
Md5Digest Md5(const uint8_t *data, size_t size);

// A digest taken in parts, e.g. a challenge followed by a key, or a file read in chunks: the
// result equals Md5 of all parts laid end to end. Final ends the digest; the context may then be
// used again for a new one.
class Md5Context {
public:
    Md5Context();
    ~Md5Context();
    Md5Context(const Md5Context &) = delete;
    Md5Context &operator=(const Md5Context &) = delete;

    void Update(const uint8_t *data, size_t size);
    void Update(std::span<const uint8_t> bytes) { Update(bytes.data(), bytes.size()); }
    Md5Digest Final();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace platform
