// Resource ids of Brankel.exe, shared by its resource script and its code.
#pragma once

#define IDD_WIZARD_PLACEHOLDER 300
#define IDC_WIZARD_SCRIPT 1001
