// Text from a peer or a file, made safe for a terminal: a device name with a line feed or an
// escape sequence must not add a line of its own or drive the terminal.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// text with every control character written as an escape: \t, \n and \r by their letters, the
// other C0 controls, DEL, the C1 controls and bytes that are not UTF-8 as \xHH, and the
// backslash itself doubled, so that an escape in the output can only have come from this. Valid
// UTF-8 other than the C1 controls stays as it is.
std::string EscapeControls(std::string_view text);

} // namespace platform
