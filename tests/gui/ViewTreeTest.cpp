// View tree, frame dispatch, focus and redraw with synthetic events (no display).
#include <gtest/gtest.h>

#include "support/GuiTestSupport.h"

using namespace VSTGUI;
using namespace guitest;

namespace {

struct HeadlessFrame {
    HeadlessFrame() : frame(new CFrame(CRect(0, 0, 100, 80), nullptr, &editor)) {
        editor.frame = frame;
    }
    ~HeadlessFrame() { frame->forget(); }
    // Adds a probe; the frame holds the only reference.
    ProbeView* add(const CRect& r, CColor color = kRedCColor,
                   CMouseEventResult answer = kMouseEventHandled) {
        auto* v = new ProbeView(r, color, answer);
        frame->addView(v);
        v->forget();
        return v;
    }
    RecordingEditor editor;
    CFrame* frame;
};

}  // namespace

TEST(ViewTreeHitTest, LastAddedViewGetsThePress) {
    HeadlessFrame f;
    ProbeView* under = f.add(CRect(0, 0, 50, 50));
    ProbeView* over = f.add(CRect(20, 20, 70, 70));
    f.frame->platformMouseDown(CPoint(30, 30), kLButton);
    EXPECT_EQ(over->events, std::vector<std::string>{"down"});
    EXPECT_TRUE(under->events.empty());
    f.frame->platformMouseDown(CPoint(10, 10), kLButton);
    EXPECT_EQ(under->events.size(), 1u);
}

TEST(ViewTreeHitTest, NotHandledByTheTopViewIsNotOfferedToViewsBelow) {
    HeadlessFrame f;
    ProbeView* under = f.add(CRect(0, 0, 50, 50));
    f.add(CRect(0, 0, 50, 50), kRedCColor, kMouseEventNotHandled);
    EXPECT_EQ(f.frame->platformMouseDown(CPoint(5, 5), kLButton), kMouseEventNotHandled);
    EXPECT_TRUE(under->events.empty());
}

TEST(ViewTreeHitTest, MouseableAreaVisibilityAndEnableDecide) {
    HeadlessFrame f;
    ProbeView* base = f.add(CRect(0, 0, 100, 80));
    ProbeView* small = f.add(CRect(0, 0, 50, 50));
    small->setMouseableArea(CRect(0, 0, 10, 10));
    f.frame->platformMouseDown(CPoint(20, 20), kLButton);
    EXPECT_EQ(base->events.size(), 1u);
    f.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(small->events.size(), 1u);
    small->setMouseEnabled(false);
    f.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(base->events.size(), 2u);
    small->setMouseEnabled(true);
    small->setVisible(false);
    f.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(base->events.size(), 3u);
    EXPECT_EQ(small->events.size(), 1u);
}

TEST(ViewTreeHitTest, MouseableAreaFollowsAMoveAndAResize) {
    HeadlessFrame f;
    ProbeView* view = f.add(CRect(0, 0, 20, 20));
    view->setViewSize(CRect(10, 10, 60, 60));
    EXPECT_EQ(view->getMouseableArea(), CRect(10, 10, 60, 60));
    f.frame->platformMouseDown(CPoint(50, 50), kLButton);  // in the grown part
    f.frame->platformMouseUp(CPoint(50, 50), 0);
    EXPECT_EQ(std::count(view->events.begin(), view->events.end(), "down"), 1);
    view->setViewSize(CRect(30, 30, 40, 40));
    f.frame->platformMouseDown(CPoint(50, 50), kLButton);  // outside the shrunk view
    EXPECT_EQ(std::count(view->events.begin(), view->events.end(), "down"), 1);
    // A smaller area of its own keeps its inset from the view's edges.
    view->setMouseableArea(CRect(32, 32, 38, 38));
    view->setViewSize(CRect(0, 0, 20, 20));
    EXPECT_EQ(view->getMouseableArea(), CRect(2, 2, 18, 18));
}

TEST(ViewTreeHitTest, NestedContainersHandLocalPoints) {
    HeadlessFrame f;
    auto* box = new CViewContainer(CRect(20, 10, 80, 70), f.frame);
    auto* inner = new ProbeView(CRect(5, 5, 15, 15));
    box->addView(inner);
    inner->forget();
    f.frame->addView(box);
    box->forget();
    f.frame->platformMouseDown(CPoint(27, 18), kLButton);
    ASSERT_EQ(inner->events.size(), 1u);
    EXPECT_EQ(inner->lastPoint, CPoint(7, 8));
    CPoint p(7, 8);
    inner->localToFrame(p);
    EXPECT_EQ(p, CPoint(27, 18));
    f.frame->renderAll();
    inner->invalid();
    EXPECT_EQ(f.frame->getDamage(), CRect(25, 15, 35, 25));
    // The capture works through the container too.
    f.frame->platformMouseMoved(CPoint(90, 75), kLButton);
    f.frame->platformMouseUp(CPoint(90, 75), 0);
    EXPECT_EQ(inner->events.back(), "up");
    EXPECT_EQ(inner->lastPoint, CPoint(70, 65));  // the box's coordinates
}

TEST(FrameDamage, TwoSmallViewsFarApartRepaintOnlyThemselves) {
    HeadlessFrame f;
    ProbeView* topLeft = f.add(CRect(0, 0, 10, 10));
    ProbeView* middle = f.add(CRect(40, 30, 60, 50));
    ProbeView* bottomRight = f.add(CRect(90, 70, 100, 80));
    f.frame->renderAll();
    const int middleDraws = middle->draws;
    const int cornerDraws = topLeft->draws;
    topLeft->invalid();
    bottomRight->invalid();
    EXPECT_EQ(f.frame->getDamageRegion().rectangles().size(), 2u);
    EXPECT_EQ(f.frame->getDamage(), CRect(0, 0, 100, 80));  // the bounding box
    f.frame->paintDamage();
    EXPECT_EQ(middle->draws, middleDraws);
    EXPECT_EQ(topLeft->draws, cornerDraws + 1);
    EXPECT_EQ(bottomRight->draws, cornerDraws + 1);
    EXPECT_TRUE(f.frame->getDamageRegion().isEmpty());
}

TEST(FrameDamage, RegionMergesNeighboursAndStaysShort) {
    DamageRegion region;
    region.add(CRect(0, 0, 10, 10));
    region.add(CRect(10, 0, 20, 10));  // side by side: one rectangle
    EXPECT_EQ(region.rectangles(), std::vector<CRect>{CRect(0, 0, 20, 10)});
    region.add(CRect(5, 5, 15, 15));  // overlapping: merged as well
    EXPECT_EQ(region.rectangles(), std::vector<CRect>{CRect(0, 0, 20, 15)});
    for (int i = 0; i < 20; ++i) region.add(CRect(i * 50, 500, i * 50 + 5, 505));
    EXPECT_LE(region.rectangles().size(), DamageRegion::kMaxRectangles);
    EXPECT_EQ(region.bounds(), CRect(0, 0, 955, 505));
}

TEST(FrameMouseCapture, PressAnsweringHandledGetsMovesAndReleaseWherever) {
    HeadlessFrame f;
    ProbeView* a = f.add(CRect(0, 0, 20, 20));
    ProbeView* b = f.add(CRect(40, 40, 60, 60));
    f.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(f.frame->getCapturedView(), a);
    f.frame->platformMouseMoved(CPoint(50, 50), kLButton);
    f.frame->platformMouseUp(CPoint(50, 50), 0);
    EXPECT_EQ(a->events, (std::vector<std::string>{"down", "moved", "up"}));
    EXPECT_EQ(a->lastPoint, CPoint(50, 50));
    EXPECT_EQ(f.frame->getCapturedView(), nullptr);
    // After the release the view under the pointer is tracked again.
    EXPECT_EQ(b->events, std::vector<std::string>{"entered"});
    EXPECT_EQ(a->events.back(), "up");
}

TEST(FrameMouseCapture, PressWithoutTrackingDoesNotCapture) {
    HeadlessFrame f;
    ProbeView* a =
        f.add(CRect(0, 0, 20, 20), kRedCColor, kMouseDownEventHandledButDontNeedMovedOrUpEvents);
    f.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_EQ(f.frame->getCapturedView(), nullptr);
    f.frame->platformMouseUp(CPoint(5, 5), 0);
    EXPECT_EQ(std::count(a->events.begin(), a->events.end(), "up"), 0);
}

TEST(FrameMouseTracking, EnterAndExitFollowThePointer) {
    HeadlessFrame f;
    ProbeView* a = f.add(CRect(0, 0, 20, 20));
    ProbeView* b = f.add(CRect(40, 0, 60, 20));
    f.frame->platformMouseMoved(CPoint(5, 5), 0);
    f.frame->platformMouseMoved(CPoint(6, 5), 0);
    f.frame->platformMouseMoved(CPoint(45, 5), 0);
    EXPECT_EQ(a->events, (std::vector<std::string>{"entered", "moved", "moved", "exited"}));
    EXPECT_EQ(b->events, (std::vector<std::string>{"entered", "moved"}));
    f.frame->platformMouseExited();
    EXPECT_EQ(b->events.back(), "exited");
    EXPECT_EQ(f.frame->getMouseOverView(), nullptr);
}

TEST(FrameWheel, NotchesGoToTheViewUnderThePointerWithModifiersOnly) {
    HeadlessFrame f;
    ProbeView* a = f.add(CRect(0, 0, 20, 20));
    EXPECT_TRUE(
        f.frame->platformWheel(CPoint(5, 5), kMouseWheelAxisY, -2.0f, kLButton | kShift | kAlt));
    EXPECT_EQ(a->lastWheel, -2.0f);
    EXPECT_EQ(a->lastButtons, kShift | kAlt);
    EXPECT_FALSE(
        f.frame->platformWheel(CPoint(5, 5), kMouseWheelAxisX, 1.0f, 0));  // horizontal unused
    EXPECT_FALSE(f.frame->platformWheel(CPoint(50, 50), kMouseWheelAxisY, 1.0f, 0));
}

TEST(FrameKeys, FocusViewFirstThenModalView) {
    HeadlessFrame f;
    ProbeView* focus = f.add(CRect(0, 0, 10, 10));
    ProbeView* modal = f.add(CRect(10, 0, 20, 10));
    f.frame->setFocusView(focus);
    f.frame->setModalView(modal);
    CKeyCode key;
    key.character = 'x';
    EXPECT_EQ(f.frame->onKeyDown(key), kKeyNotHandled);
    EXPECT_EQ(focus->events.back(), "key 0 120");
    EXPECT_EQ(modal->events.back(), "key 0 120");
    focus->keyAnswer = kKeyHandled;
    modal->events.clear();
    EXPECT_EQ(f.frame->onKeyDown(key), kKeyHandled);
    EXPECT_TRUE(modal->events.empty());
}

TEST(FrameKeys, TabMovesTheFocusThroughViewsThatWantIt) {
    HeadlessFrame f;
    ProbeView* a = f.add(CRect(0, 0, 10, 10));
    ProbeView* skipped = f.add(CRect(10, 0, 20, 10));
    ProbeView* b = f.add(CRect(20, 0, 30, 10));
    ProbeView* c = f.add(CRect(30, 0, 40, 10));
    a->setWantsFocus(true);
    b->setWantsFocus(true);
    c->setWantsFocus(true);
    c->setVisible(false);
    CKeyCode tab;
    tab.virt = VKEY_TAB;
    EXPECT_EQ(f.frame->onKeyDown(tab), kKeyHandled);
    EXPECT_EQ(f.frame->getFocusView(), a);
    f.frame->onKeyDown(tab);
    EXPECT_EQ(f.frame->getFocusView(), b);
    f.frame->onKeyDown(tab);
    EXPECT_EQ(f.frame->getFocusView(), a);  // wraps, skipping the hidden one
    tab.modifier = MODIFIER_SHIFT;
    f.frame->onKeyDown(tab);
    EXPECT_EQ(f.frame->getFocusView(), b);
    EXPECT_TRUE(skipped->events.empty());
    EXPECT_EQ(a->events, (std::vector<std::string>{"focus", "key 2 0", "unfocus", "focus",
                                                   "key 2 0", "unfocus"}));
}

TEST(FrameKeys, AnswerNotHandledWhenNothingWantsTheKey) {
    HeadlessFrame f;
    f.add(CRect(0, 0, 10, 10));
    CKeyCode tab;
    tab.virt = VKEY_TAB;
    EXPECT_EQ(f.frame->onKeyDown(tab), kKeyNotHandled);
    EXPECT_EQ(f.frame->onKeyUp(tab), kKeyNotHandled);
}

TEST(FrameRedraw, LaterViewsCoverEarlierOnes) {
    HeadlessFrame f;
    f.frame->setBackgroundColor(kWhiteCColor);
    f.add(CRect(0, 0, 50, 50), kRedCColor);
    f.add(CRect(25, 25, 75, 75), kBlueCColor);
    f.frame->renderAll();
    cairo_surface_t* image = f.frame->getImage();
    EXPECT_EQ(rgb(image, 10, 10), 0xFF0000u);
    EXPECT_EQ(rgb(image, 30, 30), 0x0000FFu);
    EXPECT_EQ(rgb(image, 90, 10), 0xFFFFFFu);
}

TEST(FrameRedraw, IdleRedrawsDirtyViewsOnlyAndClearsTheirFlags) {
    HeadlessFrame f;
    ProbeView* a = f.add(CRect(0, 0, 10, 10));
    ProbeView* b = f.add(CRect(20, 0, 30, 10));
    f.frame->idle();
    const int aDraws = a->draws;
    const int bDraws = b->draws;
    a->color = kGreenCColor;
    a->setDirty(true);
    f.frame->idle();
    EXPECT_EQ(a->draws, aDraws + 1);
    EXPECT_EQ(b->draws, bDraws);
    EXPECT_FALSE(a->isDirty());
    EXPECT_EQ(rgb(f.frame->getImage(), 5, 5), 0x00FF00u);
    f.frame->idle();
    EXPECT_EQ(a->draws, aDraws + 1);
}

TEST(FrameRedraw, HiddenViewsAreNotDrawn) {
    HeadlessFrame f;
    f.frame->setBackgroundColor(kBlackCColor);
    ProbeView* a = f.add(CRect(0, 0, 10, 10));
    a->setVisible(false);
    f.frame->renderAll();
    EXPECT_EQ(rgb(f.frame->getImage(), 5, 5), 0x000000u);
}

TEST(FrameLifetime, RemovingAViewClearsEveryFramePointerToIt) {
    HeadlessFrame f;
    ProbeView* a = f.add(CRect(0, 0, 10, 10));
    a->remember();
    f.frame->setFocusView(a);
    f.frame->setModalView(a);
    f.frame->platformMouseDown(CPoint(5, 5), kLButton);
    EXPECT_TRUE(f.frame->removeView(a));
    EXPECT_EQ(f.frame->getFocusView(), nullptr);
    EXPECT_EQ(f.frame->getModalView(), nullptr);
    EXPECT_EQ(f.frame->getCapturedView(), nullptr);
    EXPECT_EQ(f.frame->getMouseOverView(), nullptr);
    EXPECT_EQ(a->getNbReference(), 1);  // the frame released its reference
    EXPECT_EQ(a->getFrame(), nullptr);
    f.frame->platformMouseUp(CPoint(5, 5), 0);  // nothing dangles
    a->forget();
}

TEST(FrameLifetime, FrameReleasesItsViewsWhenDestroyed) {
    auto* frame = new CFrame(CRect(0, 0, 10, 10), nullptr, nullptr);
    auto* v = new ProbeView(CRect(0, 0, 5, 5));
    frame->addView(v);
    EXPECT_EQ(v->getNbReference(), 2);
    frame->forget();
    EXPECT_EQ(v->getNbReference(), 1);
    v->forget();
}

TEST(FrameEditorInterface, BeginAndEndEditReachTheEditor) {
    HeadlessFrame f;
    f.frame->beginEdit(7);
    f.frame->endEdit(7);
    EXPECT_EQ(f.editor.events, (std::vector<std::string>{"editor begin 7", "editor end 7"}));
}

TEST(FrameBadInput, FrameWithARefusedWindowStaysUsableHeadless) {
    // Parent id that no X server can have: the open fails (or there is no display).
    auto* frame = new CFrame(CRect(0, 0, 40, 40), reinterpret_cast<void*>(0x7ffffff0UL), nullptr);
    EXPECT_FALSE(frame->isWindowOpen());
    EXPECT_EQ(frame->getWindowId(), 0u);
    frame->setBackgroundColor(kGreenCColor);
    frame->renderAll();
    EXPECT_EQ(rgb(frame->getImage(), 1, 1), 0x00FF00u);
    frame->forget();
}

TEST(HeadlessRender, FrameIsWrittenAsPng) {
    HeadlessFrame f;
    f.add(CRect(0, 0, 10, 10), kBlueCColor);
    const std::string path = std::string(TQ_BINARY_DIR) + "/gui_headless_frame.png";
    ASSERT_TRUE(writeFramePng(f.frame, path.c_str()));
    cairo_surface_t* back = cairo_image_surface_create_from_png(path.c_str());
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    EXPECT_EQ(cairo_image_surface_get_width(back), 100);
    EXPECT_EQ(rgb(back, 5, 5), 0x0000FFu);
    cairo_surface_destroy(back);
    EXPECT_FALSE(writeFramePng(f.frame, "/nonexistent-dir/x.png"));
}

namespace {
// A frame with an overlay, as an editor's frame with an About panel has.
class OverlayFrame : public CFrame {
  public:
    OverlayFrame() : CFrame(CRect(0, 0, 40, 40), nullptr, nullptr) {}
    void drawOverlays(CDrawContext* context, const CRect&) override {
        context->setFillColor(kWhiteCColor);
        context->fillRect(CRect(0, 0, 10, 10));
    }
};
}  // namespace

TEST(FrameRedraw, OverlayIsDrawnAfterEveryViewAndModalViewTakesPresses) {
    auto* frame = new OverlayFrame;
    auto* under = new ProbeView(CRect(0, 0, 40, 40), kRedCColor);
    auto* overlayControl = new ProbeView(CRect(0, 0, 0, 0));
    frame->addView(under);
    frame->addView(overlayControl);
    frame->setModalView(overlayControl);
    frame->renderAll();
    EXPECT_EQ(rgb(frame->getImage(), 5, 5), 0xFFFFFFu);
    EXPECT_EQ(rgb(frame->getImage(), 20, 20), 0xFF0000u);
    frame->platformMouseDown(CPoint(20, 20), kLButton);
    EXPECT_TRUE(under->events.empty());
    EXPECT_EQ(overlayControl->events, std::vector<std::string>{"down"});
    under->forget();
    overlayControl->forget();
    frame->forget();
}
