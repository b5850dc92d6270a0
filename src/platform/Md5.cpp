// What every MD5 backend shares: the text form and the one-block digest.
#include "platform/Md5.h"

#include <string>

namespace platform {

std::string HexDigest(const Md5Digest &digest) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const uint8_t byte : digest) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0f];
    }
    return text;
}

Md5Digest Md5(const uint8_t *data, size_t size) {
    Md5Context context;
    context.Update(data, size);
    return context.Final();
}

} // namespace platform
