// The benchmark's generated trees: folders of 100 files, half of them small, half of a few KiB;
// a chosen share of them executables copied from the trust fixtures (signed and unsigned).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace scanbench {

inline std::vector<char> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// peEvery 0: no executables. Otherwise every peEvery-th file is one, alternating between the
// given images.
inline void MakeTree(const std::string& root, int files, int peEvery, const std::vector<std::vector<char>>& images) {
    std::mt19937 random(7);
    std::vector<char> bytes(8192);
    for (auto& b : bytes)
        b = static_cast<char>('a' + random() % 26);
    const int perFolder = 100;
    int nextImage = 0;
    for (int i = 0; i < files; ++i) {
        int folder = i / perFolder;
        std::string dir = root + "/d" + std::to_string(folder / 50) + "/s" + std::to_string(folder % 50);
        if (i % perFolder == 0)
            std::filesystem::create_directories(dir);
        bool executable = peEvery > 0 && !images.empty() && i % peEvery == peEvery / 2;
        std::string path = dir + "/f" + std::to_string(i) + (executable || i % 5 == 0 ? ".exe" : ".dat");
        const std::vector<char>* content = &bytes;
        std::size_t size = i % 2 ? 40 + random() % 272 : 1024 + random() % 7168;
        if (executable) {
            content = &images[nextImage++ % images.size()];
            size = content->size();
        }
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, content->data(), size) != static_cast<ssize_t>(size)) {
            std::perror(path.c_str());
            std::exit(1);
        }
        close(fd);
    }
}

}  // namespace scanbench
