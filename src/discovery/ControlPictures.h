// A device's texts made visible in the discovery list. A name comes from whoever answers on the
// network: a line break in it would draw a second row inside the first, and other controls would
// hide characters or vanish. Each is shown as a symbol instead, so the user sees what was sent.
#pragma once

#include <string>
#include <string_view>

// text (UTF-8) with every control character shown as a visible symbol: the C0 controls
// U+0000-U+001F as their control pictures U+2400-U+241F ("\t" shows as U+2409), DEL as U+2421,
// and the C1 controls U+0080-U+009F and the line and paragraph separators U+2028 and U+2029, which
// have no pictures, as U+FFFD. Bytes that are not UTF-8 are left as they are: the conversion to
// the toolkit's strings shows each as U+FFFD.
std::string WithControlPictures(std::string_view text);
