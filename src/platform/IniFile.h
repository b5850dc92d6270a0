// Initialization files (section names in square brackets, then key=value lines), read with the
// rules of the Win32 calls of the same names. The file is read anew on every call; nothing is
// cached, so an edit between two calls is seen by the second.
//
// Parsing: blank lines and lines starting with ';' are ignored; a section runs from its
// "[name]" line to the next one; keys and values have surrounding blanks removed; section and
// key names match without regard to (ASCII) case; the first matching section and, in it, the
// first matching key count. A UTF-8 byte order mark and CR LF line ends are accepted.
#pragma once

#include <cstdint>

namespace platform {

// Copies the entries of a section into buffer as zero-terminated strings, "key=value" (or just
// "key" for a line without '='), followed by one more zero. Returns the number of characters
// written, not counting the final zero; 0 (with an empty list) when the file, or the section,
// is missing or the section has no entries. When the list does not fit in size characters, as
// much of it as fits in size - 2 is written, the last string is cut and followed by two zeros,
// and the result is size - 2.
uint32_t GetPrivateProfileSectionA(const char *section, char *buffer, uint32_t size,
                                   const char *fileName);

// The value of key in section converted to an integer: blanks skipped, an optional sign, then
// "0x" (or "0X") for hexadecimal or else decimal digits, taken up to the first other character
// and wrapping modulo 2^32 (so -1 gives 0xFFFFFFFF). One pair of matching quotes around the
// value is removed first. The default (as an unsigned value) when the file, section or key is
// missing, or when the value does not begin with a number.
uint32_t GetPrivateProfileIntA(const char *section, const char *key, int32_t defaultValue,
                               const char *fileName);

} // namespace platform
