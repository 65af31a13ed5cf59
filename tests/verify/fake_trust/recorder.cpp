#include "tests/verify/fake_trust/recorder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

namespace fake_trust {
namespace {

struct Recorder {
    std::mutex lock;
    Script script;
    std::vector<std::string> log;
    int openStates = 0;
    int statesNumbered = 0;
};

// Programs started by other tests steer the fake through the environment:
//   VELMORA_FAKE_TRUST_FAIL=acquire,release   those steps fail
//   VELMORA_FAKE_TRUST_LOG=/path/file          every call is appended to that file, one a line
void ApplyEnvironment(Script& script) {
    if (const char* fail = std::getenv("VELMORA_FAKE_TRUST_FAIL")) {
        const std::string_view steps(fail);
        if (steps.find("acquire") != std::string_view::npos)
            script.acquireResult = FALSE;
        if (steps.find("release") != std::string_view::npos)
            script.releaseResult = FALSE;
    }
}

Recorder& TheRecorder() {
    static Recorder* recorder = [] {
        auto* r = new Recorder;
        ApplyEnvironment(r->script);
        return r;
    }();
    return *recorder;
}

} // namespace

Script& CurrentScript() {
    return TheRecorder().script;
}

void Reset() {
    Recorder& r = TheRecorder();
    std::lock_guard guard(r.lock);
    r.script = Script{};
    ApplyEnvironment(r.script);
    r.log.clear();
    r.statesNumbered = 0;
}

void Record(std::string entry) {
    Recorder& r = TheRecorder();
    if (const char* path = std::getenv("VELMORA_FAKE_TRUST_LOG")) {
        if (FILE* file = std::fopen(path, "a")) {
            std::fprintf(file, "%s\n", entry.c_str());
            std::fclose(file);
        }
    }
    std::lock_guard guard(r.lock);
    r.log.push_back(std::move(entry));
}

const std::vector<std::string>& Log() {
    return TheRecorder().log;
}

std::vector<std::string> CallNames() {
    std::vector<std::string> names;
    for (const std::string& entry : Log()) {
        std::size_t end = entry.find(' ');
        if (entry.starts_with("WinVerifyTrust "))
            end = entry.find(' ', end + 1);
        names.push_back(entry.substr(0, end));
    }
    return names;
}

int NextStateNumber() {
    std::lock_guard guard(TheRecorder().lock);
    return ++TheRecorder().statesNumbered;
}

int OpenStates() {
    return TheRecorder().openStates;
}

void ChangeOpenStates(int delta) {
    std::lock_guard guard(TheRecorder().lock);
    TheRecorder().openStates += delta;
}

} // namespace fake_trust
