// The tables the dialog model works from, generated at build time from
// resources/quorvanta.rc by tools/gen/rcgen.cpp. Positions and sizes are in
// dialog units as written in the script; texts are code page 932 bytes.
#pragma once

#include <cstdint>

namespace resource_tables {

struct ControlTemplate {
  const char* class_name;  // "Button", "Static", "ScrollBar"
  int id;
  const char* text;
  std::uint32_t style;  // the implied WS_CHILD | WS_VISIBLE and statement style included
  std::uint32_t ex_style;
  int x, y, cx, cy;
};

struct DialogTemplate {
  const char* name;
  std::uint32_t style;
  std::uint32_t ex_style;
  int x, y, cx, cy;
  const char* caption;
  int font_points;
  const char* font_face;
  const ControlTemplate* controls;
  int control_count;
};

extern const DialogTemplate kDialogs[];
extern const int kDialogCount;

// The VS_VERSIONINFO block as a Win32 resource compiler lays it out.
extern const unsigned char kVersionResource[];
extern const unsigned kVersionResourceSize;

}  // namespace resource_tables
