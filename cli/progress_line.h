// The live progress line on a terminal: files visited, executables verified, files per second
// and the current path, redrawn in place at most ten times a second and never wider than the
// terminal, so that a carriage return always brings the cursor back to its start.
#pragma once

#include <chrono>
#include <string>

namespace velmora::cli {

class ProgressLine {
public:
    // A line that draws nothing unless enabled (standard error is a terminal and not --quiet).
    ProgressLine(bool enabled, int fd);

    bool Enabled() const { return m_enabled; }

    // True when it is time to draw again; cheap enough to ask for every entry.
    bool Due();

    void Draw(long files, long verified, const std::string& linuxPath);

    // Takes the line away (before a row goes to the same terminal, and at the end).
    void Clear();

private:
    using Clock = std::chrono::steady_clock;

    bool m_enabled;
    int m_fd;
    bool m_shown = false;
    Clock::time_point m_start;
    Clock::time_point m_lastDraw;
};

// The progress text cut to width columns: the counts in full, then as much of the path's end
// as fits, with "…" in front of a cut path.
std::string ProgressText(long files, long verified, double seconds, const std::string& path, std::size_t width);

}  // namespace velmora::cli
