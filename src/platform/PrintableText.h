// Text from a peer or a file, made safe for a terminal: a device name with a line feed or an
// escape sequence must not add a line of its own or drive the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// text with every control character written as an escape: \t, \n and \r by their letters, the
// other C0 controls, DEL, the C1 controls and bytes that are not UTF-8 as \xHH, and the
// backslash itself doubled, so that an escape in the output can only have come from this. Valid
// UTF-8 other than the C1 controls stays as it is.
std::string EscapeControls(std::string_view text);

// The length of the valid UTF-8 sequence at the start of text, with its code point, or 0 when it
// is not one (a lone continuation byte, a cut sequence, an overlong form or a surrogate). text
// must not be empty.
size_t Utf8SequenceLength(std::string_view text, uint32_t &codePoint);

} // namespace platform
