// Walks a generated tree of non-executable files twice per round: once the way the scan does
// (CFileFind over DOS paths, the executable test on every file) and once as plainly as Linux
// allows (readdir, stat, and for every file of 313 bytes or more open and read 64 bytes). Prints
// the ratio of the best times; the target is 1.3 or less.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/common/bench_tree.h"
#include "platform/kernel/cstring.h"
#include "platform/kernel/dos_paths.h"
#include "platform/kernel/file_api.h"
#include "platform/kernel/file_find.h"
#include "scan/pe_recognition.h"

namespace {

using benchtree::PlainWalk;
using Counts = benchtree::WalkCounts;

void ScanWalk(const CString& path, Counts& counts) {
    CString pattern;
    pattern.Format(u"%s\\*.*", path.GetString());
    CFileFind finder;
    BOOL more = finder.FindFile(pattern);
    while (more) {
        more = finder.FindNextFile();
        CString entry = finder.GetFilePath();
        if (finder.IsDirectory()) {
            if (!finder.IsDots())
                ScanWalk(entry, counts);
            continue;
        }
        ++counts.files;
        if (IsPeFile(entry))
            ++counts.executables;
    }
}

template <class F> double BestSeconds(int rounds, F&& run) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        run();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int files = argc > 1 ? std::atoi(argv[1]) : 50000;
    char pattern[] = "/tmp/velmora-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string root = pattern;
    if (!benchtree::MakeNonExecutableTree(root, files))
        return 1;
    CString dosRoot = velmora::kernel::LinuxPathToDos(root);

    Counts plain, scan;
    PlainWalk(root, plain);  // warms the caches for both
    ScanWalk(dosRoot, scan);
    if (plain.files != files || scan.files != files || scan.executables != 0) {
        std::fprintf(stderr, "walks disagree: plain %ld, scan %ld files, %ld executables\n", plain.files,
                     scan.files, scan.executables);
        return 1;
    }
    double plainSeconds = 0, scanSeconds = 0;
    const int rounds = 5;
    // Interleaved, so that both see the same machine load.
    plainSeconds = BestSeconds(1, [&] {});
    double bestPlain = 1e30, bestScan = 1e30;
    for (int i = 0; i < rounds; ++i) {
        bestPlain = std::min(bestPlain, BestSeconds(1, [&] {
                                 Counts c;
                                 PlainWalk(root, c);
                             }));
        bestScan = std::min(bestScan, BestSeconds(1, [&] {
                                Counts c;
                                ScanWalk(dosRoot, c);
                            }));
    }
    plainSeconds = bestPlain;
    scanSeconds = bestScan;
    std::filesystem::remove_all(root);
    std::printf("pe_walk: %d files; plain walk %.1f ms, scan walk %.1f ms; ratio %.2f (target <= 1.30)\n", files,
                plainSeconds * 1e3, scanSeconds * 1e3, scanSeconds / plainSeconds);
    return 0;
}
