// The real main dialog, built offscreen and bound to the recording fake trust library, with the
// message boxes and the folder browser answered by the test.
#pragma once

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/quorlin_dlg.h"
#include "platform/kernel/module_api.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/ui_testing.h"
#include "platform/ui/win_app.h"
#include "scan/scan_workers.h"
#include "tests/verify/fake_trust/recorder.h"
#include "verify/trust_binding.h"

// Readable failure messages for the framework's strings.
inline void PrintTo(const CString& text, std::ostream* os) { *os << '"' << text.ToUtf8() << '"'; }

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        velmora::ui::EnsureWindowSystem();
        velmora::kernel::ClearModuleOverrides();
        velmora::kernel::RedirectModule(u"wintrust.dll", FAKE_WINTRUST_LIBRARY);
        fake_trust::Reset();
        g_hScanThread = nullptr;
        velmora::ui::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string& caption, UINT type) {
            boxes.push_back(text);
            captions.push_back(caption);
            EXPECT_EQ(type, MB_OK);
            return IDOK;
        });
    }

    void TearDown() override {
        if (started)
            velmora::ui::testing::FinishDialog(dlg);
        velmora::ui::SetMessageBoxHook(nullptr);
        velmora::ui::SetFolderBrowserHook(nullptr);
        velmora::kernel::SetModuleFreeFails(u"wintrust.dll", false);
        fake_trust::CurrentScript().releaseResult = TRUE;
        UnbindTrustLibrary();
        velmora::kernel::ClearModuleOverrides();
        velmora::ui::PumpMessages(0);
    }

    void Start() {
        ASSERT_TRUE(velmora::ui::testing::StartDialog(dlg));
        started = true;
    }

    CWnd* Item(int id) { return dlg.GetDlgItem(id); }
    CString Text(int id) {
        CString text;
        Item(id)->GetWindowText(text);
        return text;
    }
    int Checked(int id) { return static_cast<int>(Item(id)->SendMessage(BM_GETCHECK)); }
    void Click(int id) { Item(id)->SendMessage(BM_CLICK); }

    CQuorlinDlg dlg;
    bool started = false;
    std::vector<std::u16string> boxes;
    std::vector<std::u16string> captions;
};
