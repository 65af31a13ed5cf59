// velmora-scan against the dialog: the same tree scanned by the real main dialog (offscreen, real
// trust library) and by the program must give the same rows in the same order, with the same
// file count, for both states of the filter and for each way of naming the place.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <regex>

#include "app/quorlin_dlg.h"
#include "platform/kernel/dos_paths.h"
#include "platform/kernel/thread_api.h"
#include "platform/kernel/wide_text.h"
#include "platform/ui/ui_hooks.h"
#include "platform/ui/ui_testing.h"
#include "scan/scan_workers.h"
#include "tests/app/listed_rows.h"
#include "tests/cli/cli_run.h"

using namespace clitest;
using velmora::ui::PumpMessages;

namespace {

using listtest::Row;

struct DialogScan {
    std::vector<Row> rows;
    int files = -1;
};

// The JSON string that starts at text[at] (its opening quote), unescaped.
std::string JsonString(const std::string& text, std::size_t at) {
    std::u16string out;
    for (std::size_t i = at + 1; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] != '\\') {
            std::size_t end = i + 1;
            while (end < text.size() && text[end] != '"' && text[end] != '\\')
                ++end;
            out += Utf8ToUtf16(text.substr(i, end - i));
            i = end - 1;
            continue;
        }
        const char c = text[++i];
        if (c == 'u') {
            out += static_cast<char16_t>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else {
            out += c == 'n' ? u'\n' : c == 't' ? u'\t' : c == 'r' ? u'\r' : static_cast<char16_t>(c);
        }
    }
    return Utf16ToUtf8(out);
}

std::string JsonField(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const std::size_t at = line.find(key);
    if (at == std::string::npos)
        return "<missing " + name + ">";
    const std::size_t value = at + key.size();
    if (line[value] == '"')
        return JsonString(line, value);
    return line.substr(value, line.find_first_of(",}", value) - value);
}

class CliAgainstDialog : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(ScannerPath()) || !fs::exists(FixturesFolder() / "pe" / "signed-pe32-sha256.exe"))
            GTEST_SKIP() << "velmora-scan or the fixtures are not built";
        UseFixtureEnvironment(temp.Path() / "prefix");
        drive = temp.Path() / "drive_d";
        fs::create_directories(drive);
        fs::create_directory_symlink(drive, temp.Path() / "prefix" / "dosdevices" / "d:");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        velmora::ui::EnsureWindowSystem();
        velmora::ui::SetMessageBoxHook([](HWND, const std::u16string& text, const std::u16string&, UINT) {
            ADD_FAILURE() << "message box: " << CString(text).ToUtf8();
            return IDOK;
        });
    }
    void TearDown() override { velmora::ui::SetMessageBoxHook(nullptr); }

    // One scan by the real dialog: folder mode with folder, or the Windows directory when empty.
    DialogScan ScanWithDialog(const std::string& folder, bool failedOnly) {
        DialogScan result;
        auto dlg = std::make_unique<CQuorlinDlg>();
        if (!velmora::ui::testing::StartDialog(*dlg)) {
            ADD_FAILURE() << "the dialog does not start";
            return result;
        }
        dlg->m_chkFailedOnly.SetCheck(failedOnly ? BST_CHECKED : BST_UNCHECKED);
        if (folder.empty()) {
            dlg->GetDlgItem(IDC_RADIO_SYSTEM_DIR)->SendMessage(BM_CLICK);
        } else {
            dlg->GetDlgItem(IDC_RADIO_FOLDER)->SendMessage(BM_CLICK);
            dlg->GetDlgItem(IDC_EDIT_FOLDER)->SetWindowText(CString::FromUtf8(folder));
        }
        dlg->GetDlgItem(IDC_BTN_SCAN)->SendMessage(BM_CLICK);
        bool returned = g_hScanThread == nullptr;
        for (int i = 0; i < 24000 && !returned; ++i) {
            returned = velmora::kernel::WaitForThreadReturn(g_hScanThread, 0);
            PumpMessages(5);
        }
        EXPECT_TRUE(returned) << "the dialog's scan did not end";
        result.rows = listtest::ListedRows(dlg->m_list);
        result.files = dlg->m_nFileCount;
        dlg->SendMessage(WM_CLOSE);
        velmora::ui::testing::FinishDialog(*dlg);
        dlg.reset();
        PumpMessages(0);
        return result;
    }

    // The dialog's rows as TSV rows: the same texts, the path on Linux.
    static std::vector<Row> AsTsv(const std::vector<Row>& rows) {
        std::vector<Row> out;
        for (Row row : rows) {
            auto linux = velmora::kernel::DosPathToLinux(CString::FromUtf8(row.path).Text());
            row.path = linux ? *linux : "<no Linux path>";
            out.push_back(row);
        }
        return out;
    }

    static std::vector<Row> TsvRows(const std::string& out) {
        std::vector<Row> rows;
        for (const auto& line : Lines(out)) {
            auto f = Fields(line);
            rows.push_back({f[0], f.size() > 1 ? f[1] : "", f.size() > 2 ? f[2] : "", f.size() > 3 ? f[3] : ""});
        }
        return rows;
    }

    // The listed JSON objects as dialog rows (verdict word, DOS path).
    static std::vector<Row> ListedJsonRows(const std::string& out) {
        std::vector<Row> rows;
        for (const auto& line : Lines(out)) {
            if (JsonField(line, "listed") != "true")
                continue;
            rows.push_back({JsonField(line, "name"), JsonField(line, "verdict") == "pass" ? "通过" : "未通过",
                            JsonField(line, "signer"), JsonField(line, "dos_path")});
        }
        return rows;
    }

    static int CompletedCount(const std::string& err) {
        std::smatch m;
        static const std::regex message("扫描完成！共扫描(\\d+)个文件。");
        return std::regex_search(err, m, message) ? std::stoi(m[1]) : -1;
    }

    TempFolder temp;
    fs::path drive;
};

TEST_F(CliAgainstDialog, SameRowsSameOrderSameCountForEachFilterAndPathForm) {
    // Nested folders of every kind of file, names with spaces and other scripts, and a link back
    // up the tree that both front ends must enter only once.
    const fs::path tree = drive / "scan me";
    MakeMixedTree(tree / "mixed", 120);
    fs::create_directories(tree / "名前 ünï");
    fs::copy_file(FixturesFolder() / "pe" / "unsigned-pe32plus.dll", tree / "名前 ünï" / "ça va.dll");
    fs::copy_file(FixturesFolder() / "pe" / "signed-sha384.exe", tree / "名前 ünï" / "签名 程序.exe");
    fs::create_directory_symlink(tree, tree / "mixed" / "back up");

    const std::string dos = "D:\\scan me";
    for (bool failedOnly : {true, false}) {
        SCOPED_TRACE(failedOnly ? "failures only" : "passes too");
        DialogScan dialog = ScanWithDialog(dos, failedOnly);
        ASSERT_FALSE(dialog.rows.empty());
        ASSERT_GT(dialog.files, 120);

        for (const std::string& place : {dos, tree.string()}) {
            SCOPED_TRACE(place);
            std::vector<std::string> args = {"--jobs", "3", place};
            if (!failedOnly)
                args.insert(args.begin(), "--show-passed");
            RunResult tsv = RunScanner(args);
            EXPECT_EQ(TsvRows(tsv.out), AsTsv(dialog.rows));
            EXPECT_EQ(CompletedCount(tsv.err), dialog.files) << tsv.err;

            args.insert(args.begin(), {"--format", "json"});
            RunResult json = RunScanner(args);
            EXPECT_EQ(ListedJsonRows(json.out), dialog.rows);
            EXPECT_EQ(CompletedCount(json.err), dialog.files) << json.err;
        }
    }
}

TEST_F(CliAgainstDialog, WindowsDirectoryGivesTheDialogsSystemScan) {
    const fs::path windows = drive / "Windows";
    MakeMixedTree(windows / "System32", 36);
    fs::copy(FixturesFolder() / "windows" / "System32" / "CatRoot", windows / "System32" / "CatRoot",
             fs::copy_options::recursive);
    setenv("WINDIR", "D:\\Windows", 1);

    DialogScan dialog = ScanWithDialog("", false);
    ASSERT_FALSE(dialog.rows.empty());
    RunResult json = RunScanner({"--show-passed", "--format", "json"});
    EXPECT_EQ(ListedJsonRows(json.out), dialog.rows);
    EXPECT_EQ(CompletedCount(json.err), dialog.files) << json.err;
}

}  // namespace
