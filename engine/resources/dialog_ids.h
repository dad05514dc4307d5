/* Resource and control ids of the engine's dialogs, shared by vexa_dialogs.rc, the
 * dialog views and the tests that open the dialogs. */
#ifndef VEXA_DIALOG_IDS_H
#define VEXA_DIALOG_IDS_H

/* Dialog templates. */
#define IDD_FILTER 130
#define IDD_ADVANCE 131
#define IDD_SCHEDULE 132

/* Options (Filter). */
#define IDC_FOLDER_EDIT 101
#define IDC_FILE_EDIT 102
#define IDC_TYPE_EDIT 103
#define IDC_STARTUP_CHECK 104
#define IDC_TURNOFF_CHECK 105
#define IDC_RESTART_CHECK 106

/* Advanced options (Advance). */
#define IDC_ADD_SCHEDULE 107
#define IDC_EDIT_SCHEDULE 108
#define IDC_REMOVE_SCHEDULE 109
#define IDC_REALTIME_STARTUP_CHECK 114
#define IDC_REALTIME_BUTTON 2000

/* Volume selection (ScheduleDlg): the list and its header box, made at run time. */
#define IDC_VOLUME_LIST 110
#define IDC_HEADER_CHECK 111

#endif /* VEXA_DIALOG_IDS_H */
