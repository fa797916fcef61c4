// The editor open while a host's threads do what real hosts do at once: audio on
// one thread, automation of every parameter on a second, idle and keys on others.
// Run under ThreadSanitizer in the sanitizer pass (the test name carries "Thread").
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "editor/PluginHost.h"

using namespace editortest;

TEST(EditorThreads, AudioAutomationIdleAndKeysWithTheEditorOpen) {
    PluginHost host;
    TQ_SKIP_WITHOUT_EDITOR_HOST(host);
    ASSERT_TRUE(host.openEditor());
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        while (!stop) {
            host.process(0.3f, 256);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::thread automation([&] {
        for (int round = 0; !stop; ++round) {
            for (int index = 0; index < 26; ++index) {
                // Index 25 stays off the old-layout marker values below 0.01.
                const float value = 0.05f + 0.9f * static_cast<float>((round + index) % 10) / 9.0f;
                host.setParameter(index, value);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    std::thread keys([&] {
        while (!stop) {
            host.dispatch(vst::effEditKeyDown, 0, vst::VKEY_UP, nullptr, 0.0f);
            host.dispatch(vst::effEditKeyUp, 0, vst::VKEY_UP, nullptr, 0.0f);
            std::this_thread::sleep_for(std::chrono::milliseconds(7));
        }
    });
    // This thread plays the host's GUI thread: idle at about 22 Hz.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end) {
        host.dispatch(vst::effEditIdle);
        std::this_thread::sleep_for(std::chrono::milliseconds(45));
    }
    stop = true;
    audio.join();
    automation.join();
    keys.join();
    host.closeEditor();
    EXPECT_TRUE(host.hostWindow().children().empty());
}
