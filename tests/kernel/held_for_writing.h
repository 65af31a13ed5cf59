// A second process that holds a file open for writing until Release(), so that a test can see
// what an open, a recognition or a verification does with a file another program is writing.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

class HeldForWriting {
public:
    HeldForWriting() = default;
    HeldForWriting(const HeldForWriting&) = delete;
    HeldForWriting& operator=(const HeldForWriting&) = delete;
    ~HeldForWriting() { Release(); }

    // Returns once the other process has tried to open the file; call it under
    // ASSERT_NO_FATAL_FAILURE. Opened() says whether it succeeded.
    void Hold(const std::string& path) {
        int ready[2], release[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(release), 0);
        m_writer = fork();
        ASSERT_GE(m_writer, 0);
        if (m_writer == 0) {
            close(ready[0]);
            close(release[1]);
            const int fd = open(path.c_str(), O_WRONLY);
            char c = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] auto a = write(ready[1], &c, 1);
            [[maybe_unused]] auto b = read(release[0], &c, 1);  // until the other end closes
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char c = 0;
        const auto got = read(ready[0], &c, 1);
        close(ready[0]);
        m_opened = got == 1 && c == 'y';
        ASSERT_EQ(got, 1);
        ASSERT_EQ(c, 'y');
    }

    bool Opened() const { return m_opened; }

    // Lets the other process close the file and waits until it has.
    void Release() {
        if (m_release >= 0)
            close(m_release);
        m_release = -1;
        if (m_writer > 0)
            waitpid(m_writer, nullptr, 0);
        m_writer = -1;
        m_opened = false;
    }

private:
    pid_t m_writer = -1;
    int m_release = -1;
    bool m_opened = false;
};
