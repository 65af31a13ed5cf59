// The two helpers of the scan-vs-peers benchmark:
//   make-tree DIR N   N files that are not executables, 500 to a folder: half under 313 bytes,
//                     half of one to eight KiB, a quarter of those starting with "MZ";
//   plain-walk DIR    the plainest walk Linux allows of what the scan must look at: readdir, stat,
//                     and for every file of 313 bytes or more, open and read 64 bytes. Prints the
//                     number of files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

int MakeTree(const std::string& root, long files) {
    std::mt19937 random(42);
    std::vector<char> bytes(8192);
    for (auto& b : bytes)
        b = static_cast<char>(random() % 200 + 32);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    const long perFolder = 500;
    for (long i = 0; i < files; ++i) {
        const long folder = i / perFolder;
        const std::string dir = root + "/d" + std::to_string(folder / 20) + "/s" + std::to_string(folder % 20);
        if (i % perFolder == 0)
            std::filesystem::create_directories(dir);
        const std::string path = dir + "/f" + std::to_string(i) + (i % 3 ? ".dat" : ".exe");
        const std::size_t size = i % 2 ? 40 + random() % 272 : 1024 + random() % 7168;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, bytes.data() + (i % 4 == 0 ? 0 : 2), size) < 0) {
            std::perror(path.c_str());
            return 1;
        }
        close(fd);
    }
    return 0;
}

void PlainWalk(const std::string& folder, long& files) {
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
            PlainWalk(path, files);
            continue;
        }
        ++files;
        if (st.st_size < 313)
            continue;
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0)
            continue;
        char head[64];
        if (read(fd, head, sizeof head) < 0)
            std::perror(path.c_str());
        close(fd);
    }
    closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "make-tree") == 0)
        return MakeTree(argv[2], std::atol(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "plain-walk") == 0) {
        long files = 0;
        PlainWalk(argv[2], files);
        std::printf("%ld\n", files);
        return 0;
    }
    std::fprintf(stderr, "usage: %s make-tree DIR N | plain-walk DIR\n", argv[0]);
    return 2;
}
