// The firmware package: Tellumar.inf, the firmware image and the loader data.
#pragma once

#include "platform/types.h"
#include "state/app_state.h"
#include "state/loader_data.h"

inline constexpr DWORD ImageFileSize = kImageDataSize;  // 0x80800: 257 chunks of 2048
inline constexpr DWORD SignatureOffset = 499660;        // 0x79FCC
inline constexpr int SignatureBlockSize = 38;
inline constexpr int VersionDigitsOffset = 28732;  // 0x703C
// The smallest loader data file that holds its version digits.
inline constexpr int MinLoaderFileSize = VersionDigitsOffset + 4;  // 28,736

// Results of PrepareLoaderData.
inline constexpr int LoaderMissing = 0;  // named but cannot be opened: start-up shows MsgNoDataFile
inline constexpr int LoaderReady = 1;    // none named, or loaded and complete
inline constexpr int LoaderRefused = 2;  // loaded but unusable; MsgInvalidData already shown

// Fills the four 261-byte fields from Tellumar.inf in the current directory.
void ReadPackageDescription(char* data_file, char* data_option, char* loader_file,
                            char* loader_option);
// 1 when the image named by DataFileName exists and is ImageFileSize bytes;
// it is then read, once, into ImageData, which the signature check and the
// write both use. A larger file is refused before any of it is read.
int CheckImageSize();
// Reads the image at `path` into ImageData: 1 when it is ImageFileSize
// bytes and all of them were read. Shows no message.
int LoadImageData(const char* path);
// 1 when the signature block at `offset` of ImageData names an accepted
// vendor and model; fills ImageModel and the three revision fields of
// `revisions` (15 bytes).
int ReadImageSignature(DWORD offset, char* revisions);
// 1 when the file could be opened and read into LoaderData (once). Shows no
// message; of a file larger than SharedBuffer only its first
// kSharedBufferSize bytes are read. SharedBuffer is left alone: the checks and
// the send read LoaderData, and nothing past the bytes read.
int LoadLoaderData(const char* path);
// LoaderReady when LoaderFileName is empty, or when it loads and
// LoaderDataComplete() holds; LoaderMissing when it cannot be opened (no
// message); LoaderRefused after showing MsgInvalidData for a file that is too
// short for its length field or its version digits, or whose length field
// exceeds MaxPayloadLength.
int PrepareLoaderData();

// Rules of the loaded loader data, read from LoaderData after LoadLoaderData.
// Bytes that the last LoadLoaderData read.
int LoaderBytesLoaded();
// Forgets the loaded byte count, as at the start of a launch.
void ResetLoaderBytes();
// 1 when L <= MaxPayloadLength and the file held both the whole payload
// (64 + L bytes) and the version digits (MinLoaderFileSize bytes).
int LoaderDataComplete();
// 1 when the data is complete and its floor(L/2) big-endian payload words sum
// to 0 modulo 65536 (trivially for L = 0 or 1). Never reads beyond the payload.
int LoaderChecksumOk();
// The pair value of two digit characters, (high - '0') * 16 + (low - '0'):
// packed BCD for decimal digits ("12" gives 0x12), a plain signed integer
// for other bytes ("A0" gives 272), never cut to a byte.
int PackedPair(char high, char low);
// The model code (digits 1 and 2) of VersionDigits in LoaderData as that
// integer, and the version (digits 3 and 4) kept to its low 8 bits, as the
// drive's one-byte version code is.
int LoaderModelCode();
int LoaderVersionCode();
