// The files a bootstrap load handles itself: it measures the cold loader and the pilot BIOS for
// the progress display, reads them for the engine, and cuts the program image into addressed
// writes. No connection is needed here; the write of each block is handed to the caller.
#pragma once

#include "files/SupportFiles.h"
#include "load/Address.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Program image: byte k goes to physical address ImageBase + k, and the flash window ends at
// the top of the 1 MB space, so nothing larger fits.
inline constexpr uint32_t MaxImageBytes = Address::PhysicalSpace - ImageBase;

// The progress weight of the cold loader at path: the offset just after the last end triplet
// among the first 1000 groups (a read past the end gives 0xFF bytes), at most 1000, and 0 when
// there is none. Raises TargetCommException 1 when the file cannot be opened.
uint32_t MeasureColdLoader(const std::string &path);

// The progress weight of the pilot BIOS at path (its upload length). Raises TargetCommException
// 2 when the file cannot be opened, 9 without a marker, 52 when it is too large.
uint16_t MeasurePilotBiosFile(const std::string &path);

// Opens the program image for sending and sets imageBytes to its length, positioned at its
// start. Raises TargetCommException 3 when it cannot be opened, 53 when it is larger than the
// flash window above ImageBase.
FileHandle OpenImage(const std::string &fileName, int32_t &imageBytes);

// Called before each chunk, so that the windows stay responsive during the send.
using PumpCallback = std::function<void()>;
// After each chunk is read: bytes read, and the step for the progress bar (a whole chunk).
using ChunkProgressCallback = std::function<void(uint32_t sentBytes, uint32_t step)>;
// Writes one block at a physical address (the engine's WriteBlock); raises on failure.
using WriteBlockCallback =
    std::function<void(uint32_t physicalAddress, uint16_t length, const uint8_t *data)>;

// Sends the image from its current position to its end in chunks of chunkSize bytes: each chunk
// is written with its true length at ImageBase + the physical value of writeAddress, which then
// advances by the bytes read. lastReadCount holds the bytes of the last read. chunk is the
// caller's buffer (at least chunkSize bytes; chunkSize 1..65535, else std::invalid_argument).
// A failed write passes its exception on and nothing more is sent; a read error raises
// TargetCommException 54 rather than pass a cut image off as loaded.
void SendBinImage(std::FILE *imageFile, std::vector<uint8_t> &chunk, int32_t chunkSize,
                  Address &writeAddress, int32_t &lastReadCount,
                  const ChunkProgressCallback &progress, const WriteBlockCallback &writeBlock,
                  const PumpCallback &pump = {});
