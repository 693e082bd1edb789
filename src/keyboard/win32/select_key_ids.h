// Control ids of the key selection dialog (template 331), shared by its class and script.
#pragma once

#define IDD_DLG_CHOOSEKEY 331
#define IDC_SKEY_KEY_LABEL 1160
#define IDC_SKEY_KEY_LIST 1330
#define IDC_SKEY_ALT 1176
#define IDC_SKEY_CONTROL 1332
#define IDC_SKEY_SHIFT 1175
#define IDC_SKEY_WIN 1178
#define IDC_SKEY_ALTGR 1179
