// CDialog: a modal dialog built from one of the program's dialog templates.
#pragma once

#include "platform/ui/wnd.h"

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the dialog and its controls, sends WM_INITDIALOG, shows it and runs its modal loop
    // until EndDialog; returns EndDialog's value, or -1 when the template cannot be loaded.
    virtual INT_PTR DoModal();

    // Binds the controls (UpdateData(FALSE)); TRUE lets the framework set the initial focus.
    virtual BOOL OnInitDialog();

    // Ends the modal loop with the given result. The windows go when DoModal returns.
    void EndDialog(int nResult);

protected:
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

    UINT m_nIDHelp;
    LPCWSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    friend struct DialogRunner;
    int m_nModalResult = -1;
    bool m_bEnded = false;
    void* m_pLoop = nullptr; // the running modal loop
};
