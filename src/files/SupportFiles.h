// The support files and the image as the loader engine reads them: opening a file safely, the
// cold loader's triplets, the pilot BIOS's marker and length, and where the image goes. Plain
// file reading that returns internal codes; the measuring for the progress display, which
// raises the user's errors, stays with the load session.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Internal codes of the support-file readers (the loader's error table turns them into the
// user's messages).
struct SupportFileCode {
    static constexpr int32_t ColdLoaderNotOpened = 5001;
    // No end triplet among the first 16384 triplets.
    static constexpr int32_t ColdLoaderMalformed = 5002;
    // Cannot be opened, or has no 0xCC marker.
    static constexpr int32_t PilotBiosUnusable = 6007;
    // More than 65535 bytes from the marker on: the length does not fit the upload header.
    static constexpr int32_t PilotBiosTooLarge = 6009;
};

struct FileCloser {
    void operator()(std::FILE *file) const;
};
// An open file; closed exactly once, when the handle is reset or goes out of scope.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for binary reading; null when it cannot be opened or is not a regular
// file (a directory, or a pipe that would block the load).
FileHandle OpenForReading(const std::string &path);
// Why OpenForReading(path) gives nothing, for the user: the path (control characters escaped)
// and the system's reason, e.g. "/tmp/a.bin: No such file or directory".
std::string WhyNotReadable(const std::string &path);
// The same for a support file, whose place is the setting settingName ("ColdLoader"): the
// detail also says where to change it.
std::string SupportFileProblem(const std::string &path, const char *settingName);

// Cold loader file: 3-byte groups in file order, ending with this one.
inline constexpr uint8_t ColdLoaderEndTriplet[3] = {0x80, 0x24, 0x80};
// The bootstrap mode never takes more groups than this.
inline constexpr uint32_t ColdLoaderMaxTriplets = 16384;
// The progress display counts at most this many groups, and at most this many bytes.
inline constexpr uint32_t ColdLoaderMeasuredTriplets = 1000;
inline constexpr uint32_t ColdLoaderMaxWeight = 1000;

// Pilot BIOS file: any prefix, the marker, then the payload. Only the marker and what follows
// are sent, behind a header whose 16-bit length counts them.
inline constexpr uint8_t PilotBiosMarker = 0xCC;

// Program image: byte k goes to physical address ImageBase + k.
inline constexpr uint32_t ImageBase = 0x80000;

// The file's length, leaving it at its start; -1 when it cannot be measured.
long MeasureAndRewind(std::FILE *file);

// Reads one group of three; bytes past the end of the file read as 0xFF, which can never
// complete an end triplet. Returns the number of bytes really read.
size_t ReadTriplet(std::FILE *file, uint8_t (&triplet)[3]);
bool IsEndTriplet(const uint8_t (&triplet)[3]);

// The triplets of the cold loader at path that come before its end triplet, as the engine
// feeds them to the bootstrap mode, in triplets (a multiple of 3 bytes). Returns 0, or the
// internal code 5001 (cannot be opened) or 5002 (no end triplet among the first 16384 groups,
// so the file is not a cold loader; sending it would leave the board in its bootstrap mode).
int32_t ReadColdLoaderTriplets(const std::string &path, std::vector<uint8_t> &triplets);

// Length of an open pilot BIOS file from its marker (included) to its end, leaving the file just
// after the marker. Returns 0, or the internal code 6007 (null file, or no marker) or 6009 (the
// length does not fit 16 bits). The file is left open: its owner closes it.
int32_t PilotBiosLength(std::FILE *file, uint16_t &length);
