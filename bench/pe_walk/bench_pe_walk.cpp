// Walks a generated tree of non-executable files twice per round: once the way the scan does
// (CFileFind over DOS paths, the executable test on every file) and once as plainly as Linux
// allows (readdir, stat, and for every file of 313 bytes or more open and read 64 bytes). Prints
// the ratio of the best times; the target is 1.3 or less.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/kernel/cstring.h"
#include "platform/kernel/dos_paths.h"
#include "platform/kernel/file_api.h"
#include "platform/kernel/file_find.h"
#include "scan/pe_recognition.h"

namespace {

void MakeTree(const std::string& root, int files) {
    std::mt19937 random(42);
    std::vector<char> bytes(8192);
    for (auto& b : bytes)
        b = static_cast<char>(random());
    bytes[0] = 'M';  // half of the large files even start like an executable
    bytes[1] = 'Z';
    const int perFolder = 500;
    for (int i = 0; i < files; ++i) {
        int folder = i / perFolder;
        std::string dir = root + "/d" + std::to_string(folder / 10) + "/s" + std::to_string(folder % 10);
        if (i % perFolder == 0)
            std::filesystem::create_directories(dir);
        std::string path = dir + "/f" + std::to_string(i) + (i % 3 ? ".dat" : ".exe");
        std::size_t size = i % 2 ? 40 + random() % 272 : 1024 + random() % 7168;
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, bytes.data() + (i % 4 == 0 ? 0 : 2), size) < 0) {
            std::perror(path.c_str());
            std::exit(1);
        }
        close(fd);
    }
}

struct Counts {
    long files = 0;
    long executables = 0;
};

void PlainWalk(const std::string& folder, Counts& counts) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        std::string path = folder + "/" + e->d_name;
        struct stat st {};
        if (stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            PlainWalk(path, counts);
            continue;
        }
        ++counts.files;
        if (st.st_size < 313)
            continue;
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        char head[64];
        if (read(fd, head, sizeof head) == 64 && head[0] == 'M' && head[1] == 'Z')
            ++counts.executables;  // a plain walk cannot tell more than this from 64 bytes
        close(fd);
    }
    closedir(dir);
}

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
    MakeTree(root, files);
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
