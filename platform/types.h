// Win32-shaped basic types shared by every platform group and by the logic.
// The logic above platform/ speaks in these so that a genuine Win32 build can
// map each group straight onto the system's own calls.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LANGID = std::uint16_t;
using BOOL = std::int32_t;

// Opaque handles. Null means "none"; files use INVALID_HANDLE_VALUE for failure.
using HANDLE = void*;
using HWND = void*;
using HKEY = void*;
using HINSTANCE = void*;

inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

// Path and file-name buffers: 260 characters and a terminator.
inline constexpr int kMaxPath = 261;
