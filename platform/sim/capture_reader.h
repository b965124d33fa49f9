// Reading captures (platform/capture.h): a capture comes from another
// user's machine, so whatever it announces, the reader holds no more than a
// firmware package's run can need, and checks every length before it
// allocates for it. A capture beyond these bounds is refused with one line.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/capture.h"

// The largest capture file read at all (refused by its size before reading).
inline constexpr std::size_t kCaptureTextMax = std::size_t{16} << 20;
// The longest line: a package file (kCaptureFileMax) in base64, with room
// to spare.
inline constexpr std::size_t kCaptureLineMax = std::size_t{1} << 20;
// All the data blobs together: a package's image and loader data, sent once
// each (blobs are stored once per digest), several times over.
inline constexpr std::size_t kCaptureBlobTotalMax = std::size_t{4} << 20;
// Everything a read capture holds: files, blobs, and each command with its
// data.
inline constexpr std::size_t kCaptureHeldMax = std::size_t{32} << 20;

// The longest package file name a capture may give: a Windows path's.
inline constexpr std::size_t kCaptureNameMax = 260;
// The most of a capture's own text that a refusal quotes.
inline constexpr std::size_t kCaptureQuoteMax = 80;

// Why `name` cannot name a package file of a capture ("lies outside the
// package folder", ...), or empty when it can: a relative name of at most
// kCaptureNameMax bytes, parts separated by '/', without a control
// character or a part that is "", "." or "..".
std::string CaptureFileNameProblem(std::string_view name);

// `text` as a one-line message may quote it: at most kCaptureQuoteMax
// characters ("..." marks the cut), each control character as \xNN.
std::string QuotedFromCapture(std::string_view text);

// Whether a capture's recorded `args` hold only what a recorder writes:
// --yes, --drive A:T, --list, --json, then "--", the image (a name as
// CaptureFileNameProblem allows) and words that are each one path part or
// /NON. False with one line naming the first argument that is not.
bool RecordedArgsAllowed(const std::vector<std::string>& args, std::string* error);

// Reads a capture. False with a one-line reason ("line N: ...") for text
// that is not a capture of a version this program reads, or that would make
// the reader hold more than the bounds above.
bool ParseCapture(std::string_view text, Capture* out, std::string* error);

// Reads the capture file at `path`: a regular file no larger than
// kCaptureTextMax (a FIFO, a device or a larger file is refused before
// reading), then ParseCapture. False with "PATH: reason" otherwise.
bool ReadCaptureFile(const std::string& path, Capture* out, std::string* error);

// Writes the capture's package files into `folder` (a virtual PC's package
// folder), each under its name relative to it. False with "line N: reason"
// (the file's line of the capture) for a name that would lead outside the
// folder or a file that cannot be written.
bool PlaceCaptureFiles(const Capture& capture, const std::filesystem::path& folder,
                       std::string* error);
