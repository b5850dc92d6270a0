// The ini reader: a section's entries into a buffer of any size, and a key's integer. Input: one
// byte for the buffer size, a line "section", a line "key", then the file. The list must end in
// two zeros inside the buffer, never pass it, and a cut list must be the start of the whole one.
#include "FuzzSupport.h"

#include "platform/IniFile.h"

#include <string_view>

using namespace platform;

namespace {

// Takes the text up to the next line break (or the end).
std::string TakeLine(std::string_view &input) {
    const size_t end = input.find('\n');
    std::string line(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    return line;
}

std::vector<char> SectionInto(const std::string &section, uint32_t size, const std::string &path,
                              uint32_t &result) {
    std::vector<char> buffer(size); // exactly size: a write past it is caught
    result = GetPrivateProfileSectionA(section.c_str(), buffer.data(), size, path.c_str());
    if (size == 0) {
        fuzz::Check(result == 0, "a result without a buffer");
        return buffer;
    }
    fuzz::Check(result < size && buffer[result] == '\0', "the list does not end inside the buffer");
    // The last string's own zero and the list's, or (cut) the two zeros behind the cut.
    const bool twoZeros = (result >= 1 && buffer[result - 1] == '\0') ||
                          (result + 1 < size && buffer[result + 1] == '\0');
    if (size >= 2) fuzz::Check(twoZeros, "the list does not end in two zeros");
    return buffer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static fuzz::ScratchFile file;
    if (size < 1) return 0;
    const uint32_t smallSize = data[0];
    std::string_view input(reinterpret_cast<const char *>(data + 1), size - 1);
    const std::string section = TakeLine(input);
    const std::string key = TakeLine(input);
    const std::string &path =
        file.Write(reinterpret_cast<const uint8_t *>(input.data()), input.size());

    uint32_t fullLength = 0;
    uint32_t cutLength = 0;
    const std::vector<char> full = SectionInto(section, 65536, path, fullLength);
    const std::vector<char> cut = SectionInto(section, smallSize, path, cutLength);
    fuzz::Check(cutLength <= fullLength, "a smaller buffer got more");
    fuzz::Check(std::equal(cut.begin(), cut.begin() + cutLength, full.begin()),
                "the cut list is not the start of the whole list");

    (void)GetPrivateProfileIntA(section.c_str(), key.c_str(), -1, path.c_str());
    return 0;
}
