/* Resource and control ids, shared by the resource script and the code. Plain
   preprocessor definitions so that the resource compiler reads this file too. */
#ifndef AUTORUN_UI_DIALOG_IDS_H
#define AUTORUN_UI_DIALOG_IDS_H

#define IDD_QUESTION 102
#define IDD_STATUS 109
#define IDB_LOGO 106

#define IDC_QUESTION_YES 1001
#define IDC_QUESTION_TEXT 1003
#define IDC_QUESTION_NO 1004
#define IDC_QUESTION_LOGO 1005

#define IDC_STATUS_PROGRESS 1007
#define IDC_STATUS_LOGO 1008
#define IDC_STATUS_TEXT 1009

#endif
