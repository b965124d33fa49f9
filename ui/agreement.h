// The agreement dialog (templates KYODAKU and KYODAKUUS): the text in a
// self-painted area with its own scroll bar; "Accept" and "Do not Accept"
// become available once the last line has been scrolled into the bottom row.
#pragma once

#include "platform/dialogs.h"

// The dialog procedure. EndDialog gives 1 when "Accept" was checked as NEXT
// was pressed, 0 otherwise.
INT_PTR AgreementDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void InitAgreementDialog(HWND dialog);
// Draws g_app.VisibleLines rows from g_app.TopLine into the text area, one per
// 20-pixel band, with a transparent background; returns the previous
// background mode so that the caller can restore it.
int DrawAgreementLines(HDC dc, HWND text_area);
