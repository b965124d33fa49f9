// The line a request to end the program gets while a firmware write is
// held, beside the views' own texts: English in ASCII, Japanese in code page
// 932 (a view converts it to UTF-8 only where it draws it). The first part
// is followed by one of the two estimates.
#pragma once

inline constexpr const char* kHeldLine =
    "a firmware update is running and stopping it now could leave the drive unusable; the "
    "program stops as asked when the update is over, ";
inline constexpr const char* kHeldWithinMinute = "in a minute or less";
inline constexpr const char* kHeldMinutes = "in about %lu minutes";  // %lu: minutes

inline constexpr const char* kHeldLineJapanese =
    "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x82\xf0\x8d\x58\x90\x56\x82\xb5"
    "\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81\x42\x82\xa2\x82\xdc\x8e\x7e\x82\xdf\x82\xe9\x82\xc6"
    "\x83\x68\x83\x89\x83\x43\x83\x75\x82\xaa\x8e\x67\x82\xa6\x82\xc8\x82\xad\x82\xc8\x82\xe9"
    "\x82\xa8\x82\xbb\x82\xea\x82\xaa\x82\xa0\x82\xe9\x82\xbd\x82\xdf\x81\x41\x8d\x58\x90\x56"
    "\x82\xaa\x8f\x49\x82\xed\x82\xc1\x82\xc4\x82\xa9\x82\xe7\x8b\x81\x82\xdf\x82\xe7\x82\xea"
    "\x82\xbd\x82\xc6\x82\xa8\x82\xe8\x82\xc9\x8e\x7e\x82\xdc\x82\xe8\x82\xdc\x82\xb7\x81\x69";
inline constexpr const char* kHeldWithinMinuteJapanese =
    "\x82\xa0\x82\xc6\x20\x31\x20\x95\xaa\x88\xc8\x93\xe0\x81\x6a";
inline constexpr const char* kHeldMinutesJapanese =
    "\x82\xa0\x82\xc6\x96\xf1\x20%lu\x20\x95\xaa\x81\x6a";  // %lu: minutes

// The status line of a firmware write, about once a second while it is
// held: how far it is and about how long is left (the held line's estimate).
// %lu: percent; %s: one of the times below.
inline constexpr const char* kWriteProgressLine = "Writing the firmware: %lu %% - about %s left";
inline constexpr const char* kMinutesSeconds = "%lu min %lu s";  // %lu: minutes, seconds
inline constexpr const char* kMinutesOnly = "%lu min";
inline constexpr const char* kSecondsOnly = "%lu s";

inline constexpr const char* kWriteProgressLineJapanese =
    "\x83\x74\x83\x40\x81\x5b\x83\x80\x83\x45\x83\x46\x83\x41\x82\xf0\x8f\x91\x82\xab\x8d\x9e"
    "\x82\xdd\x92\x86\x81\x46%lu %% \x81\x7c \x8e\x63\x82\xe8\x96\xf1 %s";
inline constexpr const char* kMinutesSecondsJapanese = "%lu \x95\xaa %lu \x95\x62";
inline constexpr const char* kMinutesOnlyJapanese = "%lu \x95\xaa";
inline constexpr const char* kSecondsOnlyJapanese = "%lu \x95\x62";
