#include "ui/agreement.h"

#include "resources/resource.h"
#include "state/app_state.h"
#include "ui/drive_list.h"

namespace {

constexpr int kRowHeight = 20;  // pixels per text row

// Redraws the text at once after a scroll, on a light-grey background.
void RedrawAgreementText(HWND dialog) {
  HWND area = GetDlgItem(dialog, IDC_AGREE_TEXT);
  HDC dc = GetDC(area);
  if (dc == nullptr) return;
  RECT client{0, 0, 0, 0};
  GetClientRect(area, &client);
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
  int previous = DrawAgreementLines(dc, area);
  SetBkMode(dc, previous);
  ReleaseDC(area, dc);
}

void OnScroll(HWND dialog, WPARAM wparam) {
  HWND bar = GetDlgItem(dialog, IDC_AGREE_SCROLL);
  SCROLLINFO info{sizeof(SCROLLINFO), SIF_RANGE | SIF_PAGE, 0, 0, 0, 0, 0};
  GetScrollInfo(bar, SB_CTL, &info);
  const int minimum = info.nMin;
  const int maximum = info.nMax;
  const int page = static_cast<int>(info.nPage);
  std::int32_t& top = g_app.TopLine;
  const std::int32_t visible = g_app.VisibleLines;
  switch (LOWORD(wparam)) {
    case SB_LINEUP:
      if (top > minimum) --top;
      break;
    case SB_LINEDOWN:
      if (top + visible - 1 < maximum) ++top;
      break;
    case SB_PAGEUP:
      top -= page;
      if (top < minimum) top = minimum;
      break;
    case SB_PAGEDOWN:
      top += page;
      if (top + visible + 1 > maximum) top = maximum - visible + 1;
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      top = HIWORD(wparam);
      break;
    default:
      break;
  }
  SetScrollPos(bar, SB_CTL, top, 1);
  if (top + visible - 1 == maximum) {
    EnableWindow(GetDlgItem(dialog, IDC_AGREE_DECLINE), 1);
    EnableWindow(GetDlgItem(dialog, IDC_AGREE_ACCEPT), 1);
  }
  RedrawAgreementText(dialog);
}

}  // namespace

void InitAgreementDialog(HWND dialog) {
  ShowVersionCaption(dialog);
  CenterOnScreen(dialog);
  SetDlgItemTextA(dialog, IDC_AGREE_DECLINE, g_app.AgreementLabelDecline);
  SetDlgItemTextA(dialog, IDC_AGREE_ACCEPT, g_app.AgreementLabelAccept);
  g_app.LastLine = g_app.PrimaryLanguage == 0x11 ? 90 : 95;
  HWND bar = GetDlgItem(dialog, IDC_AGREE_SCROLL);
  RECT client{0, 0, 0, 0};
  GetClientRect(bar, &client);
  g_app.VisibleLines = (client.bottom - client.top) / kRowHeight;
  SCROLLINFO info{sizeof(SCROLLINFO),
                  SIF_RANGE | SIF_PAGE | SIF_POS,
                  0,
                  g_app.LastLine,
                  static_cast<UINT>(g_app.VisibleLines),
                  0,
                  0};
  SetScrollInfo(bar, SB_CTL, &info, 1);
  EnableScrollBar(bar, SB_CTL, ESB_ENABLE_BOTH);
}

int DrawAgreementLines(HDC dc, HWND text_area) {
  RECT client{0, 0, 0, 0};
  GetClientRect(text_area, &client);
  int previous = SetBkMode(dc, TRANSPARENT);
  for (std::int32_t row = 0; row < g_app.VisibleLines; ++row) {
    std::int64_t line = static_cast<std::int64_t>(g_app.TopLine) + row;
    // Rows past the table (a thumb position from outside the range) stay empty.
    if (line < 0 || line >= kAgreementSlots) continue;
    const char* text = &g_app.AgreementText[line * kAgreementSlotSize];
    RECT band{client.left, row * kRowHeight, client.right, row * kRowHeight + kRowHeight};
    DrawTextA(dc, text, -1, &band, DT_LEFT | DT_TOP | DT_SINGLELINE);
  }
  return previous;
}

INT_PTR AgreementDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitAgreementDialog(dialog);
      // No focus is set, so that keys reach the dialog until a control is clicked.
      return 0;
    case WM_PAINT: {
      HWND area = GetDlgItem(dialog, IDC_AGREE_TEXT);
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(area, &paint);
      if (dc != nullptr) {
        DrawAgreementLines(dc, area);
        EndPaint(area, &paint);
      }
      return 0;
    }
    case WM_VSCROLL:
      OnScroll(dialog, wparam);
      return 1;
    case WM_KEYDOWN:
      if (wparam == VK_NEXT) {
        SendMessageA(dialog, WM_VSCROLL, SB_PAGEDOWN, 0);
        return 1;
      }
      if (wparam == VK_PRIOR) {
        SendMessageA(dialog, WM_VSCROLL, SB_PAGEUP, 0);
        return 1;
      }
      return 0;
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDC_AGREE_DECLINE:
        case IDC_AGREE_ACCEPT:
          if (IsDlgButtonChecked(dialog, LOWORD(wparam)) == BST_CHECKED)
            EnableWindow(GetDlgItem(dialog, IDC_AGREE_NEXT), 1);
          break;
        case IDC_AGREE_NEXT:
          EndDialog(dialog, IsDlgButtonChecked(dialog, IDC_AGREE_ACCEPT) == BST_CHECKED ? 1 : 0);
          break;
        default:
          break;
      }
      return 1;
    default:
      return 0;
  }
}
