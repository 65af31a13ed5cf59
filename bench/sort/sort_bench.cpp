// Sorting 10,000 result rows by a header click on the real dialog's list, against the bare work
// of the same sort (a stable sort of the column's texts with the same ordinal comparison),
// measured in the same run. The click must stay well under a second.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "app/quorlin_dlg.h"
#include "platform/kernel/module_api.h"
#include "platform/kernel/wide_text.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/ui_testing.h"
#include "platform/ui/win_app.h"
#include "verify/signer_name.h"

namespace {

CWinApp g_app(u"velmora");

double Milliseconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::u16string RandomWord(std::mt19937& rng, int length) {
    static const char16_t letters[] = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789文件签名系统驱动";
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof letters / sizeof letters[0]) - 2);
    std::u16string word;
    for (int i = 0; i < length; ++i)
        word += letters[pick(rng)];
    return word;
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;
    velmora::ui::EnsureWindowSystem();
    // No trust library is needed to sort: the binding's failure box is answered and ignored.
    velmora::kernel::RedirectModule(u"wintrust.dll", "/nonexistent/libwintrust.so");
    velmora::ui::SetMessageBoxHook([](HWND, const std::u16string&, const std::u16string&, UINT) { return IDOK; });

    CQuorlinDlg dlg;
    if (!velmora::ui::testing::StartDialog(dlg))
        return 1;
    std::mt19937 rng(7);
    for (int i = 0; i < rows; ++i) {
        std::u16string name = RandomWord(rng, 8) + u".exe";
        std::u16string signer = i % 5 == 0 ? u"" : RandomWord(rng, 12);
        std::copy(signer.begin(), signer.end(), g_szSignerName);
        g_szSignerName[signer.size()] = 0;
        std::u16string path = u"C:\\" + RandomWord(rng, 20) + u"\\" + RandomWord(rng, 30) + u"\\" + name;
        dlg.AddResultRow(name.c_str(), i % 3 == 0 ? 1 : 0, path.c_str());
    }
    dlg.m_bScanFinished = 1;

    std::printf("sort of %d rows by a header click, against a bare stable sort of the same texts\n", rows);
    bool withinTarget = true;
    for (int column = 0; column < 4; ++column) {
        std::vector<CString> texts;
        for (int i = 0; i < rows; ++i)
            texts.push_back(dlg.m_list.GetItemText(i, column));
        auto t0 = std::chrono::steady_clock::now();
        std::stable_sort(texts.begin(), texts.end(),
                         [](const CString& a, const CString& b) { return WideCompare(a.GetString(), b.GetString()) < 0; });
        double baseline = Milliseconds(std::chrono::steady_clock::now() - t0);

        NMLISTVIEW notice{};
        notice.hdr.hwndFrom = dlg.m_list.m_hWnd;
        notice.hdr.idFrom = IDC_LIST_RESULTS;
        notice.hdr.code = LVN_COLUMNCLICK;
        notice.iSubItem = column;
        auto t1 = std::chrono::steady_clock::now();
        dlg.SendMessage(WM_NOTIFY, IDC_LIST_RESULTS, reinterpret_cast<LPARAM>(&notice));
        double click = Milliseconds(std::chrono::steady_clock::now() - t1);
        withinTarget = withinTarget && click < 1000;
        std::printf("  column %d: click %.1f ms, bare sort %.1f ms, ratio %.1f (target: click < 1000 ms)\n", column,
                    click, baseline, baseline > 0 ? click / baseline : 0.0);
    }
    velmora::ui::testing::FinishDialog(dlg);
    std::printf("%s\n", withinTarget ? "within target" : "OUTSIDE TARGET");
    return 0;
}
