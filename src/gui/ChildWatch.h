// A child process that a frame's thread looks after (a file dialog tool).
//
// The frame's loop polls the watch's descriptor beside its X connection, so a
// dialog that is open never stops the timer, the events or the painting, and
// nobody holds the view lock while the user thinks. The frame owns the watch:
// it services it until it says it is done and then destroys it, and it
// destroys every watch left when its window closes.
#pragma once

namespace VSTGUI {

class ChildWatch {
  public:
    // Destruction ends a child that still runs and reaps it: closing a frame
    // must neither wait for the user nor leave a zombie behind.
    virtual ~ChildWatch() = default;
    // The descriptor whose input wakes the frame's loop, or -1 when there is
    // nothing to poll (the watch is then serviced on every pass of the loop,
    // which comes at least once per timer period).
    virtual int watchFd() const = 0;
    // [frame thread, view lock held] Takes what is there without blocking;
    // answers true when the watch is done (the frame then destroys it).
    virtual bool service() = 0;
};

}  // namespace VSTGUI
