// The application class: starts the common controls, refuses a second instance and runs the
// main dialog.
#pragma once

#include "platform/ui/win_app.h"

class CQuorlinApp : public CWinApp {
public:
    CQuorlinApp();
    ~CQuorlinApp() override;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

extern CQuorlinApp theApp;
