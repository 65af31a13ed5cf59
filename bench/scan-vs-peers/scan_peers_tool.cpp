// The two helpers of the scan-vs-peers benchmark:
//   make-tree DIR N   N files that are not executables, 500 to a folder: half under 313 bytes,
//                     half of one to eight KiB, a quarter of those starting with "MZ";
//   plain-walk DIR    the plainest walk Linux allows of what the scan must look at: readdir, stat,
//                     and for every file of 313 bytes or more, open and read 64 bytes. Prints the
//                     number of files.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/common/bench_tree.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "make-tree") == 0) {
        const benchtree::TreeShape shape{.subfolders = 20, .printable = true};
        return benchtree::MakeNonExecutableTree(argv[2], std::atol(argv[3]), shape) ? 0 : 1;
    }
    if (argc == 3 && std::strcmp(argv[1], "plain-walk") == 0) {
        benchtree::WalkCounts counts;
        benchtree::PlainWalk(argv[2], counts);
        if (counts.unreadable)
            std::fprintf(stderr, "plain-walk: %ld files could not be read\n", counts.unreadable);
        std::printf("%ld\n", counts.files);
        return 0;
    }
    std::fprintf(stderr, "usage: %s make-tree DIR N | plain-walk DIR\n", argv[0]);
    return 2;
}
