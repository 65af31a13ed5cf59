// Result rows and sorting on the real dialog's list.
#include <QHeaderView>
#include <array>
#include <atomic>
#include <thread>

#include "platform/ui/widgets.h"
#include "results/result_list.h"
#include "tests/app/dialog_fixture.h"
#include "verify/signer_name.h"

namespace {

CWinApp g_app(u"velmora");

using Row = std::array<std::u16string, 4>;

class ResultListTest : public MainDialogTest {
protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        Start();
    }

    int Add(const std::u16string& name, int verdict, const std::u16string& signer, const std::u16string& path) {
        std::u16string capped = signer.substr(0, SIGNER_NAME_CAPACITY - 1);
        std::copy(capped.begin(), capped.end(), g_szSignerName);
        g_szSignerName[capped.size()] = 0;
        return dlg.AddResultRow(name.c_str(), verdict, path.c_str());
    }

    void AddSample() {
        Add(u"beta.exe", 0, u"Contoso", u"C:\\b\\beta.exe");
        Add(u"Zeta.dll", 1, u"", u"C:\\z\\Zeta.dll");
        Add(u"alpha.sys", 1, u"Beta Corp", u"C:\\a\\alpha.sys");
        Add(u"Alpha.exe", 0, u"contoso", u"D:\\Alpha.exe");
    }

    // A header click, as the list sends it.
    void ClickColumn(int column) {
        NMLISTVIEW notice{};
        notice.hdr.hwndFrom = dlg.m_list.m_hWnd;
        notice.hdr.idFrom = IDC_LIST_RESULTS;
        notice.hdr.code = LVN_COLUMNCLICK;
        notice.iItem = -1;
        notice.iSubItem = column;
        dlg.SendMessage(WM_NOTIFY, IDC_LIST_RESULTS, reinterpret_cast<LPARAM>(&notice));
    }

    std::vector<Row> Rows() {
        std::vector<Row> rows;
        for (int i = 0; i < dlg.m_list.GetItemCount(); ++i) {
            Row row;
            for (int c = 0; c < 4; ++c)
                row[static_cast<std::size_t>(c)] = dlg.m_list.GetItemText(i, c).Text();
            rows.push_back(row);
        }
        return rows;
    }

    std::vector<std::u16string> Names() {
        std::vector<std::u16string> names;
        for (const Row& row : Rows())
            names.push_back(row[0]);
        return names;
    }
};

TEST_F(ResultListTest, RowsCarryTheNameTheVerdictWordTheSignerAndThePath) {
    const struct {
        int verdict;
        const char16_t* word;
    } verdicts[] = {{1, u"通过"}, {0, u"未通过"}, {2, u"未通过"}, {-1, u"未通过"}};
    int position = 0;
    for (const auto& v : verdicts) {
        EXPECT_EQ(Add(u"名.exe", v.verdict, u"签名者", u"C:\\名.exe"), position++);
        EXPECT_EQ(Rows().back(), (Row{u"名.exe", v.word, u"签名者", u"C:\\名.exe"})) << "verdict " << v.verdict;
    }
    g_szSignerName[0] = 0;
    dlg.AddResultRow(u"空.exe", 0, u"C:\\空.exe");
    EXPECT_EQ(Rows().back()[2], u"") << "an empty signer name stays empty";
}

TEST_F(ResultListTest, HeaderClicksSortByTheClickedColumnInTurn) {
    AddSample();
    const std::vector<std::u16string> discovery = Names();
    const struct {
        const char* what;
        int column;
        bool finished;
        int sortColumn;
        BOOL ascending;
        std::vector<std::u16string> names;
    } steps[] = {
        {"before the scan has finished nothing moves", 0, false, 0, 0, discovery},
        {"first click, column 0: ascending, ordinal (upper case first)", 0, true, 0, 1,
         {u"Alpha.exe", u"Zeta.dll", u"alpha.sys", u"beta.exe"}},
        {"same column again: descending", 0, true, 0, 0, {u"beta.exe", u"alpha.sys", u"Zeta.dll", u"Alpha.exe"}},
        {"another column: ascending; the empty signer first", 2, true, 2, 1,
         {u"Zeta.dll", u"alpha.sys", u"beta.exe", u"Alpha.exe"}},
        {"same column: descending; the empty signer last", 2, true, 2, 0,
         {u"Alpha.exe", u"beta.exe", u"alpha.sys", u"Zeta.dll"}},
        {"verdicts ascending: 未通过 before 通过", 1, true, 1, 1, {u"Alpha.exe", u"beta.exe", u"alpha.sys", u"Zeta.dll"}},
    };
    const std::vector<Row> before = Rows();
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        dlg.m_bScanFinished = step.finished ? 1 : 0;
        ClickColumn(step.column);
        if (step.column == 1) {
            // Equal words keep no particular order: compare the verdicts, then the set of rows.
            auto rows = Rows();
            EXPECT_EQ(rows[0][1], u"未通过");
            EXPECT_EQ(rows[1][1], u"未通过");
            EXPECT_EQ(rows[2][1], u"通过");
            EXPECT_EQ(rows[3][1], u"通过");
        } else {
            EXPECT_EQ(Names(), step.names);
        }
        EXPECT_EQ(dlg.m_nSortColumn, step.sortColumn);
        EXPECT_EQ(dlg.m_bSortAscending, step.ascending);
        // Every row still holds its own four texts.
        auto rows = Rows();
        std::sort(rows.begin(), rows.end());
        auto expected = before;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(rows, expected);
    }
}

TEST_F(ResultListTest, TheFirstClickOnAnyColumnSortsAscendingAndTheStateOutlivesAScan) {
    AddSample();
    dlg.m_bScanFinished = 1;
    ClickColumn(3);
    EXPECT_EQ(Names(), (std::vector<std::u16string>{u"alpha.sys", u"beta.exe", u"Zeta.dll", u"Alpha.exe"}));
    EXPECT_EQ(dlg.m_bSortAscending, 1);

    // A new scan empties the list but keeps the sort state: the same column now reverses.
    dlg.m_list.DeleteAllItems();
    dlg.m_bScanFinished = 0;
    AddSample();
    dlg.m_bScanFinished = 1;
    ClickColumn(3);
    EXPECT_EQ(Names(), (std::vector<std::u16string>{u"Alpha.exe", u"Zeta.dll", u"beta.exe", u"alpha.sys"}));
    EXPECT_EQ(dlg.m_bSortAscending, 0);

    // An empty list sorts to nothing but records the click.
    dlg.m_list.DeleteAllItems();
    ClickColumn(1);
    EXPECT_EQ(dlg.m_list.GetItemCount(), 0);
    EXPECT_EQ(dlg.m_nSortColumn, 1);
    EXPECT_EQ(dlg.m_bSortAscending, 1);
}

TEST_F(ResultListTest, LongPathsAreComparedInFull) {
    const std::u16string prefix = u"C:\\" + std::u16string(5000, u'd');
    Add(u"2", 0, u"", prefix + u"\\b");
    Add(u"1", 0, u"", prefix + u"\\a");
    Add(u"3", 0, u"", prefix);
    dlg.m_bScanFinished = 1;
    ClickColumn(3);
    EXPECT_EQ(Names(), (std::vector<std::u16string>{u"3", u"1", u"2"})) << "a proper prefix is smaller";
    EXPECT_EQ(Rows()[1][3], prefix + u"\\a");
}

TEST_F(ResultListTest, ARealHeaderClickReachesTheHandler) {
    AddSample();
    dlg.m_bScanFinished = 1;
    auto* view = static_cast<ListViewWidget*>(dlg.m_list.m_hWnd.load()->widget.data());
    emit view->horizontalHeader()->sectionClicked(0);
    EXPECT_EQ(Names().front(), u"Alpha.exe");
}

TEST_F(ResultListTest, HeaderClicksWhileRowsArriveFromAWorkerChangeNothing) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            g_szSignerName[0] = 0;
            dlg.AddResultRow(u"f.exe", 0, u"C:\\f.exe");
        }
        done = true;
    });
    while (!done) {
        ClickColumn(0);
        velmora::ui::PumpMessages(1);
    }
    worker.join();
    EXPECT_EQ(dlg.m_list.GetItemCount(), 300);
    EXPECT_EQ(dlg.m_nSortColumn, 0);
    EXPECT_EQ(dlg.m_bSortAscending, 0);
}

TEST(CompareResultRows, OrdersOrdinallyInTheRecordsDirection) {
    g_SortTexts = {CString(u"a"), CString(u"B"), CString(u""), CString(u"a")};
    SORT_INFO up{nullptr, 0, 1}, down{nullptr, 0, 0};
    auto info = [](SORT_INFO& s) { return reinterpret_cast<LPARAM>(&s); };
    const struct {
        LPARAM a, b;
        int ascending;
    } cases[] = {{0, 1, 1}, {1, 0, -1}, {2, 1, -1}, {0, 3, 0}, {0, 99, 1} /* unknown data: empty text */};
    for (const auto& c : cases) {
        EXPECT_EQ(CompareResultRows(c.a, c.b, info(up)), c.ascending) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareResultRows(c.a, c.b, info(down)), -c.ascending) << c.a << " vs " << c.b;
    }
    EXPECT_EQ(CompareResultRows(0, 1, 0), 0) << "no record";
    g_SortTexts.clear();
}

} // namespace
