// Device contexts and drawing, as far as the dialogs draw themselves.
#pragma once

#include "platform/ui/wnd.h"

BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);

class CDC : public CObject {
public:
    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }
    void FillSolidRect(const RECT* lpRect, COLORREF clr);
};

// The context for painting a window while it handles WM_PAINT. Outside a paint the drawing goes
// to a scratch surface and is thrown away.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

private:
    CWnd* m_pWnd;
};
