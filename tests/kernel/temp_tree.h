// A temporary folder for one test, with small helpers to fill it, and a Wine-style prefix whose
// dosdevices table the test controls.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/kernel/dos_paths.h"

class TempTree {
public:
    TempTree() {
        char pattern[] = "/tmp/velmora-test-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    ~TempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    const std::string& Root() const { return root_; }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    std::string Folder(const std::string& relative) const {
        std::filesystem::create_directories(Path(relative));
        return Path(relative);
    }
    std::string File(const std::string& relative, const std::string& bytes = "x") const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        int fd = open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            [[maybe_unused]] auto written = write(fd, bytes.data(), bytes.size());
            close(fd);
        }
        return Path(relative);
    }
    std::string Link(const std::string& relative, const std::string& target) const {
        std::filesystem::create_directories(std::filesystem::path(Path(relative)).parent_path());
        if (symlink(target.c_str(), Path(relative).c_str()) != 0)
            return {};
        return Path(relative);
    }

private:
    std::string root_;
};

// Sets an environment variable for the life of the object and puts the old value back after,
// with the drive table refreshed both times.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = getenv(name))
            old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
        velmora::kernel::RefreshDrives();
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
        velmora::kernel::RefreshDrives();
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};
