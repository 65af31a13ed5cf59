// Starting the program twice: real processes, offscreen, each with its own record of what it
// showed (VELMORA_UI_EVENT_LOG).
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/velmora-instance-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
    }
    void TearDown() override { std::system(("rm -rf " + m_folder).c_str()); }

    pid_t Launch(const std::string& log) {
        std::vector<std::string> env = {
            "QT_QPA_PLATFORM=offscreen",
            "XDG_RUNTIME_DIR=" + m_folder, // a guard of the test's own
            "VELMORA_UI_EVENT_LOG=" + log,
            "VELMORA_MODULE_REDIRECT=wintrust.dll=" FAKE_WINTRUST_LIBRARY,
            "HOME=" + m_folder,
        };
        if (const char* ld = std::getenv("LD_LIBRARY_PATH"))
            env.push_back(std::string("LD_LIBRARY_PATH=") + ld);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        char program[] = VELMORA_PROGRAM;
        char* argv[] = {program, nullptr};
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, program, nullptr, nullptr, argv, envp.data()), 0);
        return pid;
    }

    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Waits for the program's record to mention its window; false after the time is up.
    static bool WaitForWindow(const std::string& log, int seconds) {
        for (int i = 0; i < seconds * 20; ++i) {
            if (Read(log).find("show-window") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // The exit status, or -1 when the process is still running after the time is up.
    static int WaitForExit(pid_t pid, int seconds) {
        for (int i = 0; i < seconds * 20; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid)
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return -1;
    }

    static void End(pid_t pid) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }

    std::string m_folder;
};

TEST_F(SingleInstanceTest, ASecondStartEndsAtOnceSilentlyAndAStartAfterTheFirstEndsRuns) {
    const std::string firstLog = m_folder + "/first.log", secondLog = m_folder + "/second.log",
                      thirdLog = m_folder + "/third.log";
    pid_t first = Launch(firstLog);
    ASSERT_TRUE(WaitForWindow(firstLog, 20)) << Read(firstLog);

    pid_t second = Launch(secondLog);
    EXPECT_EQ(WaitForExit(second, 20), 0);
    EXPECT_EQ(Read(secondLog), "") << "the second start shows nothing";
    EXPECT_EQ(WaitForExit(first, 0), -1) << "the first one runs on";

    // However the first one ends (here: killed), the guard goes with it.
    End(first);
    pid_t third = Launch(thirdLog);
    EXPECT_TRUE(WaitForWindow(thirdLog, 20)) << Read(thirdLog);
    End(third);
}

} // namespace
