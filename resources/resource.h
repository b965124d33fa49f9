// Control ids of the dialog templates, shared by quorvanta.rc and the code.
#pragma once

// Agreement dialogs KYODAKU and KYODAKUUS.
#define IDC_AGREE_NEXT 1
#define IDC_AGREE_DECLINE 1003
#define IDC_AGREE_ACCEPT 1004
#define IDC_AGREE_SCROLL 1006
#define IDC_AGREE_TEXT 1011

// Main dialogs MainDialog and MainDialogUS.
#define IDC_UPDATE 1001
#define IDC_EXIT 1002
#define IDC_DRIVE_RADIO1 1003
#define IDC_DRIVE_RADIO2 1004
#define IDC_DRIVE_RADIO3 1005
#define IDC_DRIVE_RADIO4 1006
#define IDC_PROGRESS_BAR 1013
#define IDC_DURATION_NOTE 1015
#define IDC_FW_LABEL1 1016
#define IDC_FW_LABEL2 1017
#define IDC_FW_LABEL3 1018
#define IDC_FW_LABEL4 1019
#define IDC_REVISION1 31
#define IDC_REVISION2 1020
#define IDC_REVISION3 1021
#define IDC_REVISION4 1022
