// The toolkit in one include.
//
// How an editor uses it:
//   - Derive from AEffGUIEditor; set rect_ in the constructor (hosts ask for the
//     rectangle before opening). In open(ptr): AEffGUIEditor::open(ptr), then
//     `frame = new CFrame(size, ptr, this)` (ptr is the host's X11 window id),
//     add views (the frame takes a reference; forget your own), and answer
//     frame->isWindowOpen(). AEffGUIEditor::close() destroys the frame, its
//     window and its thread before it returns.
//   - The frame's thread calls the editor's idle every 50 ms and after each
//     host idle; views are drawn only there. Host threads (setParameter from
//     automation, idle, keys) hold frame->getViewLock() while touching views.
//   - Bitmaps come from the embedded artwork by number or by name (CBitmap);
//     missing ones have size 0 and draw nothing.
//   - renderFrameToImage / writeFramePng give the frame's pixels without a display.
//   - File dialogs: CFileSelector(frame).runAsync(select, done) on the frame's
//     thread (a control's listener, the timer) returns at once; `done` gets the
//     chosen paths later on that thread, or never if the frame closes first.
//     Error boxes (platform/MessageBox.h) take an owner token; close them with
//     closeErrorMessages(owner) when the editor or the effect goes away.
#pragma once

#include "gui/CBaseObject.h"
#include "gui/CBitmap.h"
#include "gui/CControl.h"
#include "gui/CDrawContext.h"
#include "gui/CFileSelector.h"
#include "gui/CFrame.h"
#include "gui/COptionMenu.h"
#include "gui/CTextEdit.h"
#include "gui/CView.h"
#include "gui/GuiTypes.h"
#include "gui/HeadlessRender.h"
#include "gui/VSTGUIEditorInterface.h"
