// The "Error..." message box: tells the user about a failure that the effect cannot
// mend by itself.
//
// The box is a separate program, so the caller's (the host's) window thread never
// waits for the user: `zenity --error` when zenity is installed and an X or Wayland
// display is set, else `xmessage`, else a line on standard error. The text is passed
// as a program argument, never through a shell. A capture function set by tests
// receives every message instead.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tq {

inline constexpr const char* kErrorCaption = "Error...";

// [ui-thread] Shows `text` in a message box with the caption "Error..." and one OK
// button. Returns once the box has been started; does not wait for it to close.
void showErrorMessage(std::string_view text);

using MessageCapture = std::function<void(std::string_view caption, std::string_view text)>;

// [any thread] Sends every later message to `capture` instead of the screen; an empty
// function restores the screen. Answers the previous capture.
MessageCapture setMessageCapture(MessageCapture capture);

// Which way a message would take now (for diagnostics and tests).
enum class MessageRoute { capture, zenity, xmessage, standardError };
MessageRoute currentMessageRoute();

}  // namespace tq
