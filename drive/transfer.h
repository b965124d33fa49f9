// Firmware transfer commands and the vendor drive-info query.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Direct path: returns AbortFlag (0 success, 1 failure).
int TransferFirmwareImage(std::uint8_t adapter, std::uint8_t target);
void WriteBufferChunk(std::uint8_t adapter, std::uint8_t target, std::uint8_t mode, DWORD offset,
                      BYTE* chunk_buffer);
void WriteBufferFinal(std::uint8_t adapter, std::uint8_t target, std::uint8_t mode, DWORD offset,
                      BYTE* chunk_buffer);
void QueryDriveInfo(std::uint8_t adapter, std::uint8_t target);
// 1 when the drive answered the vendor query good; codes in g_app.
int ProbeDriveInfo(std::uint8_t adapter, std::uint8_t target);

// Loader path, on the shared request addressing CurrentAdapter/CurrentTarget.
int OpenImageFile(const char* path);
void CloseImageFile();
int SendImageChunk(int index);
int SendImageFinal(int index);
int FinishImageLoad();
int ReadDriveInfo();
int SendLoaderData();
