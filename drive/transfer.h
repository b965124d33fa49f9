// Firmware transfer commands and the vendor drive-info query.
//
// Both paths send the image as it was checked (g_app.ImageData, read once
// by the package check), never the file again. Direct path (per-command
// requests): TransferFirmwareImage writes it in 257 WRITE BUFFER chunks of
// 2048 bytes (mode 6 at offsets 0..0x7F800, mode 7 at 0x80000), each in a
// zero-filled 4096-byte buffer. Loader path (shared request, addressing
// CurrentAdapter / CurrentTarget): SendImageChunk 0..255, SendImageFinal
// 256, FinishImageLoad; later ReadDriveInfo and SendLoaderData.
#pragma once

#include <cstdint>

#include "platform/aspi.h"
#include "platform/types.h"

inline constexpr DWORD kImageChunkBytes = 2048;
inline constexpr int kImageChunks = 257;
inline constexpr DWORD kFinalChunkOffset = 0x80000;
// About how long a chunk takes, for the estimate of a held write.
inline constexpr DWORD kChunkEstimateMs = 60000 / kImageChunks;

// Direct path: returns AbortFlag (0 success, 1 failure). A chunk still BUSY at
// its tenth attempt, or no checked image, ends it as a failure.
int TransferFirmwareImage(std::uint8_t adapter, std::uint8_t target);
// One WRITE BUFFER (10-byte CDB, parameter list length 2048, SRB_BufLen
// 4096) from the caller's chunk buffer; 60 s. BUSY sets TargetBusyFlag and
// clears AbortFlag; a time-out or any other failure sets AbortFlag.
void WriteBufferChunk(std::uint8_t adapter, std::uint8_t target, std::uint8_t mode, DWORD offset,
                      BYTE* chunk_buffer);
// The same command, waited for by counting tenth-of-a-second ticks (400
// ticks, 120,000 ms) with progress +2 per tick; AbortFlag 0 only on SS_COMP.
void WriteBufferFinal(std::uint8_t adapter, std::uint8_t target, std::uint8_t mode, DWORD offset,
                      BYTE* chunk_buffer);
// Vendor 0xCC, posted (StoreDriveInfo), 60 s; a time-out sets AbortFlag.
void QueryDriveInfo(std::uint8_t adapter, std::uint8_t target);
// 1 when the drive answered the vendor query good; codes in g_app.
int ProbeDriveInfo(std::uint8_t adapter, std::uint8_t target);
void StoreDriveInfo(SRB_ExecSCSICmd* request);

// Loader path. Each returns 1 when the command ended with SS_COMP (an image
// chunk: 0 without a checked image).
int SendImageChunk(int index);
int SendImageFinal(int index);
int FinishImageLoad();
int ReadDriveInfo();
// Sends the payload of LoaderData (state/loader_data.h) through SharedBuffer.
// Refuses (0, nothing sent) a payload length beyond MaxPayloadLength.
int SendLoaderData();
