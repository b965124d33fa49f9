#include "platform/dialogs/views.h"

ViewKind DefaultViewKind(const std::string& ui, bool scripted, bool display, bool terminal) {
  if (ui == "headless") return ViewKind::kHeadless;
  if (ui == "terminal") return ViewKind::kTerminal;
  if (ui == "desktop") return ViewKind::kDesktop;
  if (scripted) return ViewKind::kHeadless;
  if (display) return ViewKind::kDesktop;
  if (terminal) return ViewKind::kTerminal;
  return ViewKind::kHeadless;
}
