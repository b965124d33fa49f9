// The loader data as it lies in SharedBuffer once loaded: a 64-byte header
// (LoaderHeader) and the payload behind it, whose length L is the header's
// bytes 62..63, big-endian.
#pragma once

inline constexpr int LoaderHeaderSize = 64;
// The payload must lie within SharedBuffer: 49,152 bytes less the header.
inline constexpr int MaxPayloadLength = 49088;

// L as the header in SharedBuffer gives it (0..65535, not clamped).
int LoaderPayloadLength();
