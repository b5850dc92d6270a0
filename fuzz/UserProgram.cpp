// The user program file: header, records, the check against the total and the digest, and the
// blocks the records go out in. Any file either verifies or fails with its numbered error; the
// blocks are then sent from a fresh reader whatever the verdict, so that a file whose digest
// does not match still takes the record reader through all its bounds.
#include "FuzzSupport.h"

#include "loader/LoaderErrors.h"
#include "targetos/UserProgramFile.h"

namespace {

bool IsUserProgramError(int32_t code) {
    return code == LoaderErrorUserProgramFormat || code == LoaderErrorUserProgramDigest ||
           code == LoaderErrorNoMemory;
}

void SendAll(const std::string &path) {
    UserProgramFile file(path);
    uint64_t announced = 0;
    SendUserProgram(
        file, [&](uint32_t bytes) { announced += bytes; },
        [](uint32_t, uint16_t length, const uint8_t *block) {
            fuzz::Check(length == UplBlockSize && block != nullptr,
                        "a block that is not a whole block");
            volatile uint8_t sum = 0;
            for (uint16_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + block[i]);
        },
        [] {});
    fuzz::Check(announced <= UplMaxTotal, "more bytes announced than a user program holds");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::ScratchFile scratch;
    const std::string &path = scratch.Write(data, size);
    try {
        UserProgramFile file(path);
        file.Verify();
    } catch (const TargetCommException &error) {
        fuzz::Check(IsUserProgramError(error.Code()), "a user program failed with another code");
    }
    try {
        SendAll(path);
    } catch (const TargetCommException &error) {
        fuzz::Check(IsUserProgramError(error.Code()), "a user program failed with another code");
    }
    return 0;
}
