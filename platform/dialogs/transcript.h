// The headless transcript: the platform's events as one UTF-8 line each on
// the chosen stream ("dialog: ...", "message: ...", "answer: ...",
// "note: ...", "power: ..."). Only this view writes transcript lines.
#pragma once

#include <cstdio>
#include <string_view>

#include "platform/events.h"

// Listens to the platform's events and writes them to `stream`; null stops
// listening and switches the transcript off (the default).
void SetTranscript(std::FILE* stream);

// Writes one event as its line to the stream SetTranscript chose, for a view
// that listens to the events itself and keeps the transcript as well.
void WriteTranscriptEvent(const PlatformEvent& event);
