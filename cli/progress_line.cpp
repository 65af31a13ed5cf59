#include "cli/progress_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "cli/row_output.h"

namespace velmora::cli {

namespace {

constexpr auto kInterval = std::chrono::milliseconds(100);

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;  // a terminal that went away: the line is only a courtesy
        done += static_cast<std::size_t>(n);
    }
}

std::size_t TerminalWidth(int fd) {
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Byte offsets where each UTF-8 character starts (a stray byte counts as one character).
std::vector<std::size_t> CharacterStarts(const std::string& text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            starts.push_back(i);
    return starts;
}

}  // namespace

std::string ProgressText(long files, long verified, double seconds, const std::string& path, std::size_t width) {
    char counts[128];
    const double rate = seconds > 0 ? static_cast<double>(files) / seconds : 0.0;
    std::snprintf(counts, sizeof counts, "%ld files, %ld verified, %.0f files/s  ", files, verified, rate);
    std::string text = counts;
    std::size_t used = DisplayWidth(text);
    if (used >= width)
        return text.substr(0, width);

    const std::string shown = EscapeField(path, true);
    std::size_t room = width - used;
    if (DisplayWidth(shown) <= room)
        return text + shown;
    if (room < 2)
        return text;
    // Keep the end of the path: it is the part that changes.
    const auto starts = CharacterStarts(shown);
    std::size_t keep = shown.size();
    std::size_t taken = 1;  // the ellipsis
    for (std::size_t k = starts.size(); k-- > 0;) {
        const std::size_t end = keep;
        const std::size_t cost = DisplayWidth(std::string_view(shown).substr(starts[k], end - starts[k]));
        if (taken + cost > room)
            break;
        taken += cost;
        keep = starts[k];
    }
    return text + "…" + shown.substr(keep);
}

ProgressLine::ProgressLine(bool enabled, int fd) : m_enabled(enabled), m_fd(fd), m_start(Clock::now()) {
    m_lastDraw = m_start - kInterval;
}

bool ProgressLine::Due() {
    if (!m_enabled)
        return false;
    return Clock::now() - m_lastDraw >= kInterval;
}

void ProgressLine::Draw(long files, long verified, const std::string& linuxPath) {
    if (!m_enabled)
        return;
    const auto now = Clock::now();
    m_lastDraw = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    // One column short of the width: writing into the last column makes some terminals wrap.
    const std::size_t width = TerminalWidth(m_fd);
    std::string line = "\r" + ProgressText(files, verified, seconds, linuxPath, width > 1 ? width - 1 : 1) + "\x1b[K";
    WriteAll(m_fd, line);
    m_shown = true;
}

void ProgressLine::Clear() {
    if (!m_enabled || !m_shown)
        return;
    WriteAll(m_fd, "\r\x1b[K");
    m_shown = false;
}

}  // namespace velmora::cli
