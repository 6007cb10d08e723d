/* Resource names and control ids shared by stub.rc and the dialog code. */
#pragma once

/* Main dialog MAINDIALOG */
#define IDC_ICON_STATIC 65535
#define IDC_EXTRACT_LABEL 601
#define IDC_FOLDER_EDIT 201
#define IDC_BROWSE 104
#define IDC_TOP_SEPARATOR 202
#define IDC_PROGRESS 801
#define IDC_FILES_LABEL 501
#define IDC_FILE_LIST 401
#define IDC_OVERWRITE_GROUP 602
#define IDC_MODE_ASK 703
#define IDC_MODE_DONT_OVERWRITE 702
#define IDC_MODE_OVERWRITE 701
#define IDC_RUN_CHECKBOX 302
#define IDC_HELP_BUTTON 103
#define IDC_SHOW_FILES 105
#define IDC_UNZIP 1
#define IDC_CLOSE 2
#define IDC_BOTTOM_SEPARATOR 502

/* FILEEXIST prompt */
#define IDC_EXISTS_ICON 5102
#define IDC_EXISTS_YES 1
#define IDC_EXISTS_NO 2
#define IDC_DONT_ASK_AGAIN 301
#define IDC_EXISTS_TEXT 201

/* PASSWD prompt */
#define IDC_PASSWORD_OK 1
#define IDC_PASSWORD_CANCEL 2
#define IDC_PASSWORD_EDIT 201

/* String table: the stub's identification record */
#define IDS_IDENTIFICATION 1024
