// The "Error..." message box: tells the user about a failure that the effect cannot
// mend by itself.
//
// The box is a separate program, so the caller's (the host's) window thread never
// waits for the user: `zenity --error` when zenity is installed and an X or Wayland
// display is set, else `xmessage`, else a line on standard error. The text is passed
// as a program argument, never through a shell. A capture function set by tests
// receives every message instead.
//
// Every box program started is remembered: a small thread per box waits for it, so
// a box the user dismisses is reaped at once (no zombie), and closeErrorMessages
// ends the boxes that are still open, so none outlives the editor or the effect that
// showed it. Boxes belong to an owner token: an editor or effect takes one with
// openMessageOwner() and closes only its own boxes, never another instance's.
// Boxes shown without an owner (owner 0) are closed by closeErrorMessages(0) or
// closeErrorMessages(); all boxes still open are ended when the library is unloaded
// or the process exits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace tq {

inline constexpr const char* kErrorCaption = "Error...";

// [any thread] A new owner token (never 0) for the boxes of one editor or effect.
std::uint64_t openMessageOwner();

// [any thread] Shows `text` in a message box with the caption "Error..." and one OK
// button, on behalf of `owner` (0: no owner). Returns once the box has been
// started; does not wait for it to close.
void showErrorMessage(std::string_view text, std::uint64_t owner = 0);

// [any thread] Ends every box of `owner` that is still open (SIGTERM, SIGKILL after
// a grace of about 200 ms) and reaps it; returns when they are gone.
void closeErrorMessages(std::uint64_t owner);
// [any thread] The same for the boxes of every owner.
void closeErrorMessages();

// [any thread] Box programs started and not yet reaped (all owners).
std::size_t openErrorMessageCount();

using MessageCapture = std::function<void(std::string_view caption, std::string_view text)>;

// [any thread] Sends every later message to `capture` instead of the screen; an empty
// function restores the screen. Answers the previous capture.
MessageCapture setMessageCapture(MessageCapture capture);

// Which way a message would take now (for diagnostics and tests).
enum class MessageRoute { capture, zenity, xmessage, standardError };
MessageRoute currentMessageRoute();

}  // namespace tq
