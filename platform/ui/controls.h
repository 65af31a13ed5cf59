// The control classes the dialogs bind to members.
#pragma once

#include "platform/ui/wnd.h"

class CButton : public CWnd {
public:
    void SetCheck(int nCheck);
    int GetCheck() const;
    DECLARE_MESSAGE_MAP()
};

class CStatic : public CWnd {
public:
    HBITMAP SetBitmap(HBITMAP hBitmap);
    HBITMAP GetBitmap() const;
    DECLARE_MESSAGE_MAP()
};

class CEdit : public CWnd {
public:
    DECLARE_MESSAGE_MAP()
};
