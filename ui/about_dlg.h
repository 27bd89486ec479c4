#pragma once
// The About box (template 100): icon, product name and version, OK. It has
// no handlers of its own.

#include "res/resource.h"
#include "ui/framework.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg(UserPrompts& prompts, HWND parent) : CDialog(IDD_ABOUTBOX, prompts, parent) {}
};
