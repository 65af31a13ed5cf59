// The scan's walk against a plain walk of the same generated tree, in the same run.
//
//   plain:  readdir, stat, and for every file of 313 bytes or more open and read 64 bytes: the
//           least a walk can do that still looks at every file's header.
//   walk:   the scan's own walk engine with a sink that only counts (no status line).
//   dialog: the real main dialog (offscreen) scanning the tree in folder mode: every entry shown
//           in its status line (set from the worker, repainted by the dialog's thread), every
//           executable verified and routed, the completion message at the end.
//
// Two trees of the same shape: one without executables (the target: dialog <= 3x plain) and one
// where 1% of the files are executables copied from the trust fixtures, some of them signed.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/common/bench_tree.h"
#include "bench/scan_walk/dialog_scan.h"
#include "bench/scan_walk/tree.h"
#include "platform/kernel/dos_paths.h"
#include "scan/directory_walk.h"

namespace {

using benchtree::PlainWalk;
using Counts = benchtree::WalkCounts;

class CountingSink : public ScanSink {
public:
    bool ShouldStop() override { return false; }
    void ShowEntry(const CString&) override {}
    void CountFile() override { ++counts.files; }
    void OnExecutable(const CString&, const CString&) override { ++counts.executables; }
    Counts counts;
};

double Seconds(const std::function<void()>& run) {
    auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Result {
    double plain = 1e30, walk = 1e30, dialog = 1e30;
    Counts plainCounts, walkCounts;
    DialogScanResult dialogResult;
};

Result Measure(const std::string& root, int rounds) {
    CString dosRoot = velmora::kernel::LinuxPathToDos(root);
    Result r;
    {
        Counts warm;
        PlainWalk(root, warm);  // brings the tree into the caches for every contender
    }
    for (int i = 0; i < rounds; ++i) {
        r.plain = std::min(r.plain, Seconds([&] {
                               r.plainCounts = {};
                               PlainWalk(root, r.plainCounts);
                           }));
        r.walk = std::min(r.walk, Seconds([&] {
                              CountingSink sink;
                              DirectoryWalk walk(sink);
                              walk.Walk(dosRoot);
                              r.walkCounts = sink.counts;
                          }));
        r.dialog = std::min(r.dialog, Seconds([&] { r.dialogResult = RunDialogScan(dosRoot); }));
    }
    return r;
}

void Report(const char* name, int files, const Result& r) {
    std::printf("scan_walk %s: %d files, %ld executables by header\n", name, files, r.walkCounts.executables);
    std::printf("  plain walk   %8.1f ms  %9.0f files/s\n", r.plain * 1e3, files / r.plain);
    std::printf("  walk engine  %8.1f ms  %9.0f files/s  ratio %.2f\n", r.walk * 1e3, files / r.walk, r.walk / r.plain);
    std::printf("  dialog scan  %8.1f ms  %9.0f files/s  ratio %.2f  (%d files counted, %d rows)\n", r.dialog * 1e3,
                files / r.dialog, r.dialog / r.plain, r.dialogResult.files, r.dialogResult.rows);
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string fixtures = argc > 3 ? argv[3] : "";
    if (!StartDialogForScans(argc, argv, fixtures))
        return 1;

    char pattern[] = "/tmp/velmora-scan-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string base = pattern;

    scanbench::MakeTree(base + "/nope", files, 0, {});
    Result none = Measure(base + "/nope", rounds);

    std::vector<std::vector<char>> images;
    for (const char* name : {"pe/signed-pe32-sha256.exe", "pe/unsigned-pe32.exe", "pe/tampered-section-1.exe",
                             "pe/signed-pe32plus-sha256.dll"})
        if (auto bytes = scanbench::ReadAll(std::filesystem::path(fixtures) / name); !bytes.empty())
            images.push_back(std::move(bytes));
    scanbench::MakeTree(base + "/pe", files, 100, images);
    Result some = Measure(base + "/pe", rounds);
    std::filesystem::remove_all(base);
    StopDialogForScans();

    bool agree = none.plainCounts.files == files && none.walkCounts.files == files && none.dialogResult.files == files &&
                 some.walkCounts.files == files && some.dialogResult.files == files;
    Report("no executables", files, none);
    Report("1% executables", files, some);
    std::printf("scan_walk ratio (dialog scan / plain walk, no executables): %.2f (target <= 3.00)\n",
                none.dialog / none.plain);
    if (!agree) {
        std::fprintf(stderr, "scan_walk: the walks disagree on the number of files\n");
        return 1;
    }
    return 0;
}
