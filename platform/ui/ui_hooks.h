// Seams of the window layer: how it learns that a thread has been stopped, and the places where
// tests stand in for the user (message boxes, the folder browser) so nothing modal blocks them.
//
// For tests that start the program as a process: when $VELMORA_UI_EVENT_LOG names a file, the
// layer appends a line "<pid> show-window <title>" when a dialog appears and
// "<pid> message-box <caption>|<text>" for each message box, which it then answers with OK at once
// instead of showing it.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/win_user.h"

namespace velmora::ui {

// Whether the calling thread has been asked to stop. A call on a window from a stopped thread is
// discarded, and one that is waiting for the window's thread gives up. Default: never stopped.
void SetStoppedThreadQuery(bool (*isCurrentThreadStopped)());

// Optional companion: lets the window's thread drop a queued call whose sender was stopped while
// it waited, without waiting for the sender to notice.
void SetStoppedThreadIdQuery(DWORD (*currentThreadId)(), bool (*isThreadStopped)(DWORD threadId));

// Stands in for the message box: gets the owner, text, caption and type; returns the button.
using MessageBoxHook = std::function<int(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Stands in for the folder browser: gets the title and flags; returns true with a Linux path
// for a choice, false for Cancel.
using FolderBrowserHook = std::function<bool(const std::u16string& title, UINT flags, std::string* chosenPath)>;
void SetFolderBrowserHook(FolderBrowserHook hook);

// Starts the window system on the calling thread, which becomes the windows' thread. Idempotent.
void EnsureWindowSystem(int argc = 0, char** argv = nullptr);

// Runs the windows' thread's pending work (messages, timers, paints, calls from other threads)
// for about the given time. For tests and for waits that must keep the windows alive.
void PumpMessages(int milliseconds);

// Whether the caller is on the windows' thread.
bool IsWindowThread();

// Runs fn on the windows' thread as one sent message, for a group of window calls that must not
// be split: nothing else the windows' thread handles (a Stop click) comes between them. From
// another thread the caller waits; a stopped caller's group is refused or dropped as a whole.
LRESULT CallOnWindowThread(HWND hWnd, std::function<LRESULT()> fn);

} // namespace velmora::ui
