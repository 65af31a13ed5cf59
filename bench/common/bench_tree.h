// What the walk benchmarks share: a generated tree of files that are not executables, and the
// plainest walk Linux allows of what the scan must look at (readdir, stat, and for every file of
// 313 bytes or more, open and read 64 bytes). The scan is measured against that walk.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace benchtree {

struct TreeShape {
    int subfolders = 10;     // second-level folders under each first-level one
    bool printable = false;  // fill bytes: printable characters, or any byte
};

// 500 files to a folder: half under 313 bytes, half of one to eight KiB; a quarter of them start
// with "MZ" and a third are named .exe, yet none is an executable. The same count and shape give
// the same bytes, so runs compare. False, with the path reported, when a file cannot be written.
inline bool MakeNonExecutableTree(const std::string& root, long files, TreeShape shape = {}) {
    std::mt19937 random(42);
    std::vector<char> bytes(8192);
    for (auto& b : bytes)
        b = static_cast<char>(shape.printable ? random() % 200 + 32 : random());
    bytes[0] = 'M';
    bytes[1] = 'Z';
    const long perFolder = 500;
    for (long i = 0; i < files; ++i) {
        const long folder = i / perFolder;
        const std::string dir =
            root + "/d" + std::to_string(folder / shape.subfolders) + "/s" + std::to_string(folder % shape.subfolders);
        if (i % perFolder == 0)
            std::filesystem::create_directories(dir);
        const std::string path = dir + "/f" + std::to_string(i) + (i % 3 ? ".dat" : ".exe");
        const std::size_t size = i % 2 ? 40 + random() % 272 : 1024 + random() % 7168;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, bytes.data() + (i % 4 == 0 ? 0 : 2), size) < 0) {
            std::perror(path.c_str());
            if (fd >= 0)
                close(fd);
            return false;
        }
        close(fd);
    }
    return true;
}

struct WalkCounts {
    long files = 0;
    long executables = 0;  // "MZ" in the first of 64 bytes read: all a plain walk can tell
    long unreadable = 0;   // files of 313 bytes or more that could not be read
};

inline void PlainWalk(const std::string& folder, WalkCounts& counts) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        const std::string path = folder + "/" + e->d_name;
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
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            ++counts.unreadable;
            continue;
        }
        char head[64];
        const ssize_t got = read(fd, head, sizeof head);
        if (got < 0)
            ++counts.unreadable;
        else if (got == 64 && head[0] == 'M' && head[1] == 'Z')
            ++counts.executables;
        close(fd);
    }
    closedir(dir);
}

}  // namespace benchtree
