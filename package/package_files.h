// The firmware package: Tellumar.inf, the firmware image and the loader data.
#pragma once

#include "platform/types.h"

inline constexpr DWORD ImageFileSize = 526336;   // 0x80800: 257 chunks of 2048
inline constexpr DWORD SignatureOffset = 499660;  // 0x79FCC
inline constexpr int SignatureBlockSize = 38;
inline constexpr int VersionDigitsOffset = 28732;  // 0x703C
inline constexpr int LoaderHeaderSize = 64;
inline constexpr int MaxPayloadLength = 49088;  // the shared buffer less the header

// Fills the four 261-byte fields from Tellumar.inf in the current directory.
void ReadPackageDescription(char* data_file, char* data_option, char* loader_file,
                            char* loader_option);
// 1 when the image named by DataFileName exists and is ImageFileSize bytes.
int CheckImageSize();
// 1 when the signature block at `offset` names an accepted vendor and model;
// fills ImageModel and the three revision fields of `revisions` (15 bytes).
int ReadImageSignature(DWORD offset, char* revisions);
// 1 when the file could be loaded into SharedBuffer.
int LoadLoaderData(const char* path);
// 1 when LoaderFileName is empty or loads.
int PrepareLoaderData();
