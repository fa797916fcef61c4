// The whole editor as a host meets it: the built plug-in loaded with dlopen, the
// editor opened in a real X window through effEditOpen, driven with XTest, and
// checked through the parameters, the host-call log and the pixels on the server.
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "editor/PluginHost.h"
#include "effect/ParameterModel.h"

using namespace editortest;

namespace {

namespace fs = std::filesystem;

// The per-user store of the plug-in under test: never the user's own, also when
// the binary is run by hand outside ctest.
fs::path storeRoot() {
    if (std::getenv("XDG_CONFIG_HOME") == nullptr) {
        setenv("XDG_CONFIG_HOME", TQ_BINARY_DIR "/test-config-editor", 1);
    }
    return fs::path(std::getenv("XDG_CONFIG_HOME")) / "Tarvel" / "Tarvelquolt";
}

// Every test starts and ends without stored defaults, memories or preferences, so
// a new instance starts from the factory programs.
class EditorHost : public ::testing::Test {
  protected:
    void SetUp() override { fs::remove_all(storeRoot()); }
    void TearDown() override { fs::remove_all(storeRoot()); }
};

// Source row of a 101-frame knob strip for `value`.
int knobRow(float value, int frameHeight) {
    const int d = static_cast<int>(value * static_cast<float>(frameHeight) * 100.0f);
    return value >= 1.0f ? 100 * frameHeight : d / frameHeight * frameHeight;
}

struct Knob {
    int left, top, width, height, bitmap;
};
constexpr Knob kDriveKnob{52, 349, 56, 55, 150};
constexpr Knob kOutputKnob{417, 349, 58, 56, 151};
constexpr Knob kReleaseKnob{56, 267, 49, 47, 153};

bool showsKnob(const Pixels& window, const Pixels& strip, const Knob& knob, float value) {
    return sameBlock(window, knob.left, knob.top, strip, 0, knobRow(value, knob.height),
                     knob.width, knob.height);
}

std::string programName(PluginHost& host) {
    char name[64] = {};
    host.dispatch(vst::effGetProgramName, 0, 0, name);
    return name;
}

}  // namespace

TEST_F(EditorHost, OpensWholeAndRebuildsFromTheParametersOnEveryOpen) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    EXPECT_NE(host.effect()->flags & vst::effFlagsHasEditor, 0);
    vst::ERect* rect = nullptr;
    ASSERT_EQ(host.dispatch(vst::effEditGetRect, 0, 0, &rect), 1);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rect->top, 0);
    EXPECT_EQ(rect->left, 0);
    EXPECT_EQ(rect->bottom, 462);
    EXPECT_EQ(rect->right, 524);
    // Hostile calls before any open are harmless.
    EXPECT_EQ(host.dispatch(vst::effEditGetRect, 0, 0, nullptr), 0);
    host.dispatch(vst::effEditIdle);
    host.closeEditor();
    EXPECT_EQ(host.dispatch(vst::effEditOpen, 0, 0, nullptr), 0);

    const Pixels drive = bitmapPixels(kDriveKnob.bitmap);
    const Pixels background = bitmapPixels(128);
    ASSERT_TRUE(host.openEditor());
    // The 1 x 1 parent was resized through the host at once.
    EXPECT_EQ(host.sizeWindowWidth, 524);
    EXPECT_EQ(host.sizeWindowHeight, 462);
    const float driveValue = host.getParameter(tq::kDrive);
    EXPECT_TRUE(host.waitForPixels([&](const Pixels& p) {
        return p.width == 524 && p.height == 462 && showsKnob(p, drive, kDriveKnob, driveValue) &&
               sameBlock(p, 0, 0, background, 0, 0, 30, 30);
    }));

    // Changed while closed: the next open starts from the new value.
    host.closeEditor();
    host.setParameter(tq::kDrive, 0.75f);
    ASSERT_TRUE(host.openEditor());
    EXPECT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, drive, kDriveKnob, 0.75f); }));

    // A second open without close leaves one editor window, still working.
    ASSERT_TRUE(host.openEditor());
    EXPECT_EQ(host.hostWindow().children().size(), 1u);
    host.setParameter(tq::kDrive, 0.25f);
    EXPECT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, drive, kDriveKnob, 0.25f); }));
    host.closeEditor();
    host.closeEditor();
    EXPECT_TRUE(host.hostWindow().children().empty());
}

TEST_F(EditorHost, HostWithoutSizeWindowStillGetsTheEditor) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    host.answerSizeWindow = false;
    ASSERT_TRUE(host.openEditor());
    for (const HostCall& call : host.calls()) EXPECT_NE(call.opcode, vst::audioMasterSizeWindow);
}

TEST_F(EditorHost, GesturesReachTheHostInsideBeginAndEndEdit) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    host.setParameter(tq::kDrive, 0.5f);
    host.setParameter(tq::kOutput, 0.5f);
    ASSERT_TRUE(host.openEditor());
    const Pixels output = bitmapPixels(kOutputKnob.bitmap);
    ASSERT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, output, kOutputKnob, 0.5f); }));

    // Drag the Drive knob up by 100 pixels: 400 pixels span the whole range.
    host.clearCalls();
    host.drag(80, 376, 0, -100);
    ASSERT_TRUE(guitest::waitFor([&] { return host.editTrace(tq::kDrive).find('e') != std::string::npos; }));
    EXPECT_NEAR(host.getParameter(tq::kDrive), 0.75f, 0.003f);
    const std::string drag = host.editTrace(tq::kDrive);
    EXPECT_EQ(drag.front(), 'b');
    EXPECT_EQ(drag.back(), 'e');
    EXPECT_EQ(std::count(drag.begin(), drag.end(), 'b'), 1) << drag;
    EXPECT_EQ(std::count(drag.begin(), drag.end(), 'e'), 1) << drag;

    // One wheel notch on the Output knob: 0.01, bracketed.
    host.clearCalls();
    host.wheel(446, 377, 1);
    ASSERT_TRUE(guitest::waitFor([&] { return host.editTrace(tq::kOutput) == "bae"; }));
    EXPECT_NEAR(host.getParameter(tq::kOutput), 0.51f, 1e-5f);
    EXPECT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, output, kOutputKnob, 0.51f); }));

    // Typed into the Output field: -6 dB is the middle of the range, one edit.
    host.clearCalls();
    host.click(447, 418);
    host.typeText("-6");
    host.key(XK_Return);
    ASSERT_TRUE(guitest::waitFor([&] { return host.editTrace(tq::kOutput).find('e') != std::string::npos; }));
    EXPECT_NEAR(host.getParameter(tq::kOutput), 0.5f, 1e-6f);
    EXPECT_EQ(host.editTrace(tq::kOutput), "bae");

    // Control-click puts the Release knob at its default.
    host.setParameter(tq::kRelease, 0.1f);
    const Pixels release = bitmapPixels(kReleaseKnob.bitmap);
    ASSERT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, release, kReleaseKnob, 0.1f); }));
    host.clearCalls();
    host.clickWithModifier(80, 290, XK_Control_L);
    ASSERT_TRUE(guitest::waitFor([&] { return host.editTrace(tq::kRelease) == "bae"; }))
        << host.editTrace(tq::kRelease) << " " << host.getParameter(tq::kRelease);
    EXPECT_NEAR(host.getParameter(tq::kRelease), 0.7237f, 1e-6f);

    // Keys the host forwards reach the knob that has the focus: up arrow on
    // Release adds its increment.
    host.clearCalls();
    EXPECT_EQ(host.dispatch(vst::effEditKeyDown, 0, vst::VKEY_UP, nullptr, 0.0f), 1);
    EXPECT_NEAR(host.getParameter(tq::kRelease), 0.7237f + 0.03125f, 1e-6f);
    EXPECT_EQ(host.editTrace(tq::kRelease), "bae");
}

TEST_F(EditorHost, AutomationAndAudioMoveTheControlsAndMeters) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    host.setParameter(tq::kMeterType, tq::stepCentre(0, 2));  // peak meters
    host.setParameter(tq::kDrive, 0.5f);
    ASSERT_TRUE(host.openEditor());
    const Pixels drive = bitmapPixels(kDriveKnob.bitmap);
    const Pixels litBar = bitmapPixels(130);

    // Automation from another thread moves the knob (applied by the editor's own thread).
    std::thread automation([&] { host.setParameter(tq::kDrive, 0.25f); });
    automation.join();
    EXPECT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, drive, kDriveKnob, 0.25f); }));
    host.setParameter(tq::kDrive, 0.5f);

    // A steady sine peaking at -6.02 dBFS: the input bar in peak mode is
    // trunc(6 * (-6.02 + 48) + 0.5) = 252 pixels high, drawn from row 408 - 252.
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop) {
            host.process(0.5f, 512);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const int h = 252;
    const bool shown = host.waitForPixels([&](const Pixels& p) {
        return sameBlock(p, 150, 402 - h, litBar, 0, 408 - h, 15, h) &&
               sameBlock(p, 191, 402 - h, litBar, 0, 408 - h, 15, h);
    });
    stop = true;
    audio.join();
    EXPECT_TRUE(shown);
}

TEST_F(EditorHost, PresetPanelStepsRenamesAndKeepsMemoriesAndDefaults) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    ASSERT_TRUE(host.openEditor());
    char slotOne[64] = {};
    char slotTwo[64] = {};
    host.dispatch(vst::effGetProgramNameIndexed, 1, 0, slotOne);
    host.dispatch(vst::effGetProgramNameIndexed, 2, 0, slotTwo);
    ASSERT_STRNE(slotOne, slotTwo);

    // The right arrow of the step switch selects the next slot, the left one the
    // previous (each selection also names slot 0, so slot 1 is the witness).
    host.click(362, 453);
    ASSERT_TRUE(guitest::waitFor([&] { return programName(host) == slotOne; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(450));  // no double click
    host.click(362, 453);
    ASSERT_TRUE(guitest::waitFor([&] { return programName(host) == slotTwo; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    host.click(346, 453);
    ASSERT_TRUE(guitest::waitFor([&] { return programName(host) == slotOne; }));

    // Typing a name into the name field renames the current program.
    host.click(256, 454);
    host.typeText("My Master");
    host.key(XK_Return);
    EXPECT_TRUE(guitest::waitFor([&] { return programName(host) == "My Master"; }));

    // Memory A: store (red arrow), change, recall (green arrow).
    host.setParameter(tq::kDrive, 0.6f);
    host.click(396, 454);
    ASSERT_TRUE(guitest::waitFor([&] { return fs::exists(storeRoot() / "MemoA"); }));
    host.setParameter(tq::kDrive, 0.1f);
    host.click(429, 454);
    EXPECT_TRUE(guitest::waitFor([&] { return host.getParameter(tq::kDrive) == 0.6f; }));

    // PRESET stores the default only on a double click, and Control double click clears it.
    host.click(144, 453);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_FALSE(fs::exists(storeRoot() / "DefaultPreset"));
    host.doubleClick(144, 453);
    EXPECT_TRUE(guitest::waitFor([&] { return fs::exists(storeRoot() / "DefaultPreset"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    host.moveTo(144, 453);
    host.clickWithModifier(144, 453, XK_Control_L);
    host.clickWithModifier(144, 453, XK_Control_L);
    EXPECT_TRUE(guitest::waitFor([&] { return !fs::exists(storeRoot() / "DefaultPreset"); }));
}

TEST_F(EditorHost, MeteringSaveGestureStoresAndHighlightsForHalfASecond) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    ASSERT_TRUE(host.openEditor());
    const Pixels zoom = bitmapPixels(144);
    const Pixels mode = bitmapPixels(141);
    host.click(285, 274, 3);  // right click on AttZoom
    // The save legend (frame 2) on AttZoom and the mode button (frame 6)...
    EXPECT_TRUE(host.waitForPixels([&](const Pixels& p) {
        return sameBlock(p, 269, 265, zoom, 0, 38, 33, 19) &&
               sameBlock(p, 223, 305, mode, 0, 6 * 56, 35, 56);
    }));
    EXPECT_TRUE(fs::exists(storeRoot() / "PREFS" / "Metering_Zoom"));
    // ...and gone again after 500 ms.
    const int frame = tq::stepIndex(host.getParameter(tq::kAttZoom), 2);
    EXPECT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return sameBlock(p, 269, 265, zoom, 0, 19 * frame, 33, 19); }));
}

TEST_F(EditorHost, AboutBoxShowsTheLatencyOfTheRate) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    ASSERT_TRUE(host.openEditor());
    // A part of the About panel's area away from the meters: x 400..480, y 294..354
    // (the latency row ends at x 470 on the baseline 43 pixels below the panel top).
    auto area = [&](int x0, int y0, int x1, int y1) {
        const Pixels p = host.grab();
        std::vector<unsigned int> pixels;
        if (p.width < x1 || p.height < y1) return pixels;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) pixels.push_back(p.at(x, y));
        return pixels;
    };
    ASSERT_TRUE(guitest::waitFor([&] { return !area(400, 294, 480, 354).empty(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto closed = area(400, 294, 480, 354);
    host.click(262, 385);
    ASSERT_TRUE(guitest::waitFor([&] { return area(400, 294, 480, 354) != closed; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto at44k = area(440, 329, 470, 338);
    host.dispatch(vst::effSetSampleRate, 0, 0, nullptr, 96000.0f);
    EXPECT_EQ(host.effect()->initialDelay, 287);
    EXPECT_TRUE(guitest::waitFor([&] { return area(440, 329, 470, 338) != at44k; }));
    // Any press closes it again.
    host.click(100, 100);
    EXPECT_TRUE(guitest::waitFor([&] { return area(400, 294, 480, 354) == closed; }));
}

TEST_F(EditorHost, FileDialogKeepsTheWindowAliveAndEndsWithTheEditor) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    // A dialog tool that stays open until it is ended, and says who it is.
    const fs::path tools = fs::path(TQ_BINARY_DIR) / "editor-test-tools";
    fs::create_directories(tools);
    const fs::path pidFile = tools / "zenity.pid";
    fs::remove(pidFile);
    {
        std::ofstream script(tools / "zenity");
        script << "#!/bin/sh\necho $$ > '" << pidFile.string() << ".tmp'\nmv '" << pidFile.string()
               << ".tmp' '" << pidFile.string() << "'\nexec sleep 60\n";
    }
    fs::permissions(tools / "zenity", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", (tools.string() + ":" + oldPath).c_str(), 1);

    ASSERT_TRUE(host.openEditor());
    host.click(174, 454);  // load preset
    ASSERT_TRUE(guitest::waitFor([&] { return fs::exists(pidFile); }));
    int pid = 0;
    std::ifstream(pidFile) >> pid;
    ASSERT_GT(pid, 0);

    // The window goes on while the dialog is open: automation still shows.
    const Pixels drive = bitmapPixels(kDriveKnob.bitmap);
    host.setParameter(tq::kDrive, 0.9f);
    EXPECT_TRUE(host.waitForPixels(
        [&](const Pixels& p) { return showsKnob(p, drive, kDriveKnob, 0.9f); }));

    // Closing the editor ends the dialog instead of waiting for the user.
    host.closeEditor();
    EXPECT_TRUE(guitest::waitFor([&] { return ::kill(pid, 0) != 0; }));
    setenv("PATH", oldPath.c_str(), 1);
}

TEST_F(EditorHost, PresetArrowsSaveAndLoadThroughTheFileDialog) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    // A dialog tool that answers with the path the test chose.
    const fs::path tools = fs::path(TQ_BINARY_DIR) / "editor-test-answering-tools";
    fs::create_directories(tools);
    {
        std::ofstream script(tools / "zenity");
        script << "#!/bin/sh\necho \"$TQ_TEST_DIALOG_ANSWER\"\n";
    }
    fs::permissions(tools / "zenity", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", (tools.string() + ":" + oldPath).c_str(), 1);
    const fs::path preset = tools / "saved.tarvel";
    fs::remove(preset);
    setenv("TQ_TEST_DIALOG_ANSWER", preset.c_str(), 1);

    ASSERT_TRUE(host.openEditor());
    host.setParameter(tq::kDrive, 0.625f);
    host.click(112, 454);  // save preset (red arrow left of PRESET)
    ASSERT_TRUE(guitest::waitFor([&] { return fs::exists(preset) && fs::file_size(preset) == 133; }));

    // A left click on the load arrow reads it back as written...
    host.setParameter(tq::kDrive, 0.1f);
    host.click(174, 454);
    EXPECT_TRUE(guitest::waitFor([&] { return host.getParameter(tq::kDrive) == 0.625f; }));
    // ...a right click reverses every value's bytes once more.
    host.setParameter(tq::kDrive, 0.1f);
    std::this_thread::sleep_for(std::chrono::milliseconds(450));  // not a double click
    host.click(174, 454, 3);
    EXPECT_TRUE(guitest::waitFor([&] {
        const float drive = host.getParameter(tq::kDrive);
        return drive != 0.1f && drive != 0.625f;
    }));
    setenv("PATH", oldPath.c_str(), 1);
    unsetenv("TQ_TEST_DIALOG_ANSWER");
}
