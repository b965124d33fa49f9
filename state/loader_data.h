// The loader data as it was read and checked: the first LoaderDataBytes of
// AppState::LoaderData, a 64-byte header (LoaderHeader) and the payload behind
// it, whose length L is the header's bytes 62..63, big-endian. The checks and
// the send both read it there, so what goes to the drive is what was checked.
#pragma once

inline constexpr int LoaderHeaderSize = 64;
// The payload must lie within SharedBuffer: 49,152 bytes less the header.
inline constexpr int MaxPayloadLength = 49088;

// Byte `at` of the loader data; 0 beyond what was read, so a short file reads
// as if zero-filled and nothing past it is ever looked at.
int LoaderByte(int at);
// L as the header gives it (0..65535, not clamped).
int LoaderPayloadLength();
