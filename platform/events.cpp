#include "platform/events.h"

#include <cstdio>
#include <string>

namespace {
PlatformEventSink g_sink = nullptr;
}

void SetPlatformEventSink(PlatformEventSink sink) { g_sink = sink; }

void RaisePlatformEvent(PlatformEventKind kind, std::string_view text) {
  if (g_sink != nullptr) g_sink(PlatformEvent{kind, text});
}

void RaiseHostNote(std::string_view line) {
  if (g_sink != nullptr) {
    g_sink(PlatformEvent{PlatformEventKind::kHostNote, line});
    return;
  }
  std::fprintf(stderr, "quorvanta: %s\n", std::string(line).c_str());
}
