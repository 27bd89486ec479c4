#pragma once
// Resource identifiers shared by the .rc file and the code that loads the
// resources. Plain #defines: windres reads this file too.

#define IDR_MAINFRAME 128          // application icon
#define IDD_ABOUTBOX 100           // About box template
#define IDD_VANTREL_DIALOG 102     // restore dialog template
#define IDS_ABOUTBOX 101           // system-menu item text
#define IDP_SOCKETS_INIT_FAILED 103
#define IDD_RESTORE_DECISION 104   // what to do with the files that stand there
#define IDD_NEWER_FILES 105        // the files newer than the backup's

#define IDM_ABOUTBOX 0x0010        // system-menu command of the About box

#define IDC_ARCHIVE_PATH 1000
#define IDC_SELECT 1001
#define IDC_BACKUP_TIME 1002
#define IDC_BACKUP_KIND 1003
#define IDC_ORIGINAL_PATH 1004
#define IDC_RESTORE 1005
#define IDC_RESTORE_FOLDER 1007
#define IDC_BACKUP_NAME 1008
#define IDC_CLEAR 1009
// The view of a run, below the restore button.
#define IDC_RUN_PROGRESS 1010
#define IDC_RUN_STOP 1011
#define IDC_RUN_STATUS 1012
#define IDC_RUN_ENTRY 1013
#define IDC_BACKUP_LIST 1014    // made at run time, below the run view
// The question before a restore where files stand at the entries' paths.
#define IDC_DECISION_MADE 1020
#define IDC_DECISION_REPLACED 1021
#define IDC_DECISION_NEWER 1022
#define IDC_DECISION_IDENTICAL 1023
#define IDC_DECISION_SHOW_NEWER 1024
#define IDC_ANSWER_REPLACE 1025
#define IDC_ANSWER_KEEP_NEWER 1026
#define IDC_ANSWER_KEEP_ALL 1027
#define IDC_SKIP_IDENTICAL 1028
#define IDC_NEWER_LIST 1029
#define IDC_ENTRY_TREE 1015     // made at run time, right of the fields
#define IDC_ENTRY_COUNT 1016
// The next step after a run that did not restore everything, made when
// first needed below the run's entry line (ui/follow_up_view.h).
#define IDC_FOLLOW_UP 1040
#define IDC_REPORT_SUMMARY 1041
#define IDC_REPORT_HEADING 1042
#define IDC_REPORT_LIST 1043
#define IDC_SAVE_REPORT 1044
