#include "package/package_files.h"

#include <cstring>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/system.h"
#include "state/app_state.h"

namespace {

constexpr int kPathChars = kMaxPath - 1;  // 260
constexpr int kOptionChars = 4;

void ShowPackageMessage(const char* text) {
  MessageBoxExA(nullptr, text, "Quorvanta", MB_OK, g_app.MessageLanguage);
}

// Reads the description a byte at a time, through a small buffer; a read
// failure counts as the end of the file.
struct DescriptionReader {
  explicit DescriptionReader(HANDLE f) : file(f) {}

  HANDLE file;
  char buffer[256] = {};
  DWORD filled = 0;
  DWORD next = 0;
  bool ended = false;

  // The next byte, or -1 at the end of the file.
  int Next() {
    if (next == filled) {
      if (ended) return -1;
      DWORD read = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &read) || read == 0) {
        ended = true;
        return -1;
      }
      filled = read;
      next = 0;
    }
    return static_cast<unsigned char>(buffer[next++]);
  }
};

// One field of the description. A CR on the first line only terminates the
// path and reading goes on behind it, so the LF of a CR LF pair ends the line;
// on the second line a CR ends the line at once. After a space come exactly
// four option characters and two skipped ones (the line's CR LF). A line that
// reaches 260 characters simply stops; what follows is read as the next field.
void ReadDescriptionField(DescriptionReader& reader, char* path, char* option, bool cr_ends_line) {
  for (int i = 0; i < kPathChars; ++i) {
    int c = reader.Next();
    if (c == -1 || c == '\n') {
      path[i] = '\0';
      return;
    }
    if (c == '\r') {
      path[i] = '\0';
      if (cr_ends_line) return;
      continue;
    }
    if (c == ' ') {
      int n = 0;
      for (; n < kOptionChars; ++n) {
        int o = reader.Next();
        if (o == -1) break;
        option[n] = static_cast<char>(o);
      }
      option[n] = '\0';
      path[i] = '\0';
      reader.Next();
      reader.Next();
      return;
    }
    path[i] = static_cast<char>(c);
  }
  path[kPathChars] = '\0';
}

// Reads up to `size` bytes, going on after partial reads; the count that
// arrived, or -1 when a read failed.
long ReadUpTo(HANDLE file, BYTE* buffer, DWORD size) {
  DWORD total = 0;
  while (total < size) {
    DWORD read = 0;
    if (!ReadFile(file, buffer + total, size - total, &read)) return -1;
    if (read == 0) break;
    total += read;
  }
  return static_cast<long>(total);
}

// The whole image, once, into ImageData; false (nothing kept) when any of
// it could not be read.
bool ReadImageInto(HANDLE file) {
  g_app.ImageDataBytes = 0;
  if (ReadUpTo(file, g_app.ImageData, ImageFileSize) != static_cast<long>(ImageFileSize)) {
    return false;
  }
  g_app.ImageDataBytes = static_cast<std::int32_t>(ImageFileSize);
  return true;
}

void CopyRevisionField(const BYTE* field, char* destination) {
  int i = 0;
  for (; i < 4 && field[i] != 0; ++i) destination[i] = static_cast<char>(field[i]);
  for (; i < 5; ++i) destination[i] = '\0';
}

}  // namespace

void ReadPackageDescription(char* data_file, char* data_option, char* loader_file,
                            char* loader_option) {
  HANDLE file = OpenExistingFile("Tellumar.inf");
  if (file == INVALID_HANDLE_VALUE) {
    data_file[0] = '\0';
    data_option[0] = '\0';
    loader_file[0] = '\0';
    return;
  }
  DescriptionReader reader(file);
  ReadDescriptionField(reader, data_file, data_option, false);
  ReadDescriptionField(reader, loader_file, loader_option, true);
  CloseFile(file);
}

int CheckImageSize() {
  g_app.ImageDataBytes = 0;
  HANDLE file = OpenExistingFile(g_app.DataFileName);
  if (file == INVALID_HANDLE_VALUE) {
    // No image name at all means the description was not there to give one.
    NotePackageFileProblem(g_app.DataFileName[0] != '\0' ? g_app.DataFileName : "Tellumar.inf");
    ShowPackageMessage(g_app.MsgNoDataFile);
    return 0;
  }
  const DWORD size = GetFileSize(file);
  if (size != ImageFileSize) {
    CloseFile(file);
    if (size > ImageFileSize) NotePackageFileProblem(g_app.DataFileName, ImageFileSize);
    ShowPackageMessage(g_app.MsgBadSize);
    return 0;
  }
  const bool whole = ReadImageInto(file);
  CloseFile(file);
  if (!whole) {
    ShowPackageMessage(g_app.MsgReadFailed);
    return 0;
  }
  return 1;
}

int LoadImageData(const char* path) {
  g_app.ImageDataBytes = 0;
  HANDLE file = OpenExistingFile(path);
  if (file == INVALID_HANDLE_VALUE) return 0;
  const bool whole = GetFileSize(file) == ImageFileSize && ReadImageInto(file);
  CloseFile(file);
  return whole ? 1 : 0;
}

int ReadImageSignature(DWORD offset, char* revisions) {
  // A block beyond what was read (the file changed since the size test) is
  // a failed read: its missing bytes must not be taken for signature bytes.
  if (g_app.ImageDataBytes != static_cast<std::int32_t>(ImageFileSize) ||
      offset > ImageFileSize - SignatureBlockSize) {
    ShowPackageMessage(g_app.MsgReadFailed);
    return 0;
  }
  const BYTE* block = g_app.ImageData + offset;

  char vendor[8];
  std::memcpy(vendor, block, 7);  // the eighth vendor byte is not compared
  vendor[7] = '\0';
  std::memcpy(g_app.ImageModel, block + 8, 9);
  g_app.ImageModel[9] = '\0';

  const bool t71 = std::strncmp(g_app.ImageModel, "T71 CDRW", 8) == 0;
  const bool r305 = std::strncmp(g_app.ImageModel, "RX-2210QN", 9) == 0;
  const bool accepted =
      (t71 && std::strcmp(vendor, "VANTROS") == 0) || (r305 && std::strcmp(vendor, "ORBELLO") == 0);
  if (!accepted) {
    ShowPackageMessage(g_app.MsgInvalidData);
    return 0;
  }
  CopyRevisionField(block + 24, revisions);
  CopyRevisionField(block + 28, revisions + 5);
  CopyRevisionField(block + 32, revisions + 10);
  return 1;
}

int LoadLoaderData(const char* path) {
  g_app.LoaderDataBytes = 0;
  HANDLE file = OpenExistingFile(path);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // Nothing of the format lies beyond SharedBuffer's size: only that much of
  // a longer file is read, and the rest is not looked at.
  long loaded = ReadUpTo(file, g_app.LoaderData, kSharedBufferSize);
  CloseFile(file);
  // A failed read counts as nothing loaded.
  g_app.LoaderDataBytes = loaded < 0 ? 0 : static_cast<std::int32_t>(loaded);
  return 1;
}

int PrepareLoaderData() {
  if (g_app.LoaderFileName[0] == '\0') return LoaderReady;
  if (!LoadLoaderData(g_app.LoaderFileName)) {
    NotePackageFileProblem(g_app.LoaderFileName);
    return LoaderMissing;
  }
  if (!LoaderDataComplete()) {
    ShowPackageMessage(g_app.MsgInvalidData);
    return LoaderRefused;
  }
  return LoaderReady;
}

int LoaderBytesLoaded() { return g_app.LoaderDataBytes; }

void ResetLoaderBytes() { g_app.LoaderDataBytes = 0; }

int LoaderDataComplete() {
  const int length = LoaderPayloadLength();
  return length <= MaxPayloadLength && g_app.LoaderDataBytes >= LoaderHeaderSize + length &&
                 g_app.LoaderDataBytes >= MinLoaderFileSize
             ? 1
             : 0;
}

int LoaderChecksumOk() {
  if (!LoaderDataComplete()) return 0;
  const int words = LoaderPayloadLength() / 2;
  const BYTE* payload = g_app.LoaderData + LoaderHeaderSize;  // complete: all of it was read
  unsigned sum = 0;
  for (int i = 0; i < words; ++i) sum += (payload[2 * i] << 8) | payload[2 * i + 1];
  return (sum & 0xFFFF) == 0 ? 1 : 0;
}

int PackedPair(char high, char low) { return (high - 0x30) * 16 + (low - 0x30); }

int LoaderModelCode() {
  return PackedPair(static_cast<char>(LoaderByte(VersionDigitsOffset)),
                    static_cast<char>(LoaderByte(VersionDigitsOffset + 1)));
}

int LoaderVersionCode() {
  return PackedPair(static_cast<char>(LoaderByte(VersionDigitsOffset + 2)),
                    static_cast<char>(LoaderByte(VersionDigitsOffset + 3))) &
         0xFF;
}
