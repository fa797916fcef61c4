// The preset panel's menu, name field and store gestures, with the effect and its
// editor made in this process so the panel's controls can be looked at directly.
// Views are touched with the frame's view lock held, as a host thread must.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "editor/Editor.h"
#include "editor/PresetPanelControls.h"
#include "effect/Plugin.h"
#include "platform/MessageBox.h"
#include "support/GuiTestSupport.h"

using namespace VSTGUI;

namespace {

namespace fs = std::filesystem;

vst::intptr quietHost(vst::AEffect*, vst::int32 opcode, vst::int32, vst::intptr, void*, float) {
    return opcode == vst::audioMasterVersion ? 2400 : 0;
}

class PresetPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        // Never the user's own store, also when the binary is run by hand.
        if (std::getenv("XDG_CONFIG_HOME") == nullptr) {
            setenv("XDG_CONFIG_HOME", TQ_BINARY_DIR "/test-config-editor", 1);
        }
        root_ = fs::path(std::getenv("XDG_CONFIG_HOME")) / "Tarvel";
        fs::remove_all(root_);
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

std::string slotName(Plugin& plugin, int slot) {
    char name[64] = {};
    plugin.getProgramNameIndexed(0, slot, name);
    return name;
}

}  // namespace

TEST_F(PresetPanel, MenuListsTheSlotsAndSelectsByEntry) {
    guitest::HostWindow window;
    TQ_SKIP_WITHOUT_X(window);
    Plugin plugin(quietHost, std::nullopt, makeEditorFactory());
    auto* editor = static_cast<Editor*>(plugin.getEditor());
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->open(window.parentHandle()));
    {
        std::lock_guard<std::recursive_timed_mutex> lock(editor->getFrame()->getViewLock());
        COptionMenu* menu = editor->programMenu();
        ASSERT_NE(menu, nullptr);
        // Slot 0, a separator, slots 1..23; columns of 10; the current entry checked alone.
        ASSERT_EQ(menu->getNbEntries(), 25);
        EXPECT_TRUE(menu->getEntry(1)->isSeparator());
        EXPECT_EQ(std::string(menu->getEntry(2)->getTitle()), slotName(plugin, 1));
        EXPECT_EQ(std::string(menu->getEntry(24)->getTitle()), slotName(plugin, 23));
        EXPECT_EQ(menu->getNbItemsPerColumn(), 10);
        EXPECT_EQ(menu->getCurrent(), 0);
        for (int i = 0; i < 25; ++i) EXPECT_EQ(menu->showsCheck(i), i == 0) << i;

        // The third entry (the first after the separator) is slot 1.
        const std::string slotOne = slotName(plugin, 1);
        menu->choose(2);
        EXPECT_EQ(plugin.currentSlot(), 1);
        EXPECT_EQ(std::string(editor->nameField()->getText()), slotOne);
        EXPECT_EQ(std::string(menu->getEntry(0)->getTitle()), slotOne);
        for (int i = 0; i < 25; ++i) EXPECT_EQ(menu->showsCheck(i), i == 2) << i;

        // A 30-character name keeps its first 24 characters everywhere.
        editor->nameField()->setText("ABCDEFGHIJKLMNOPQRSTUVWXYZ1234");
        editor->valueChanged(editor->nameField());
        const std::string cut = "ABCDEFGHIJKLMNOPQRSTUVWX";
        EXPECT_EQ(slotName(plugin, 1), cut);
        EXPECT_EQ(std::string(editor->nameField()->getText()), cut);
        EXPECT_EQ(std::string(menu->getEntry(2)->getTitle()), cut);
        EXPECT_EQ(std::string(menu->getEntry(0)->getTitle()), cut);
    }
    // A rename by the host shows in the field at the window's next idle.
    char hostName[] = "From the host";
    plugin.setProgramName(hostName);
    EXPECT_TRUE(guitest::waitFor([&] {
        std::lock_guard<std::recursive_timed_mutex> lock(editor->getFrame()->getViewLock());
        return std::string(editor->nameField()->getText()) == "From the host";
    }));
    editor->close();
}

TEST_F(PresetPanel, StoresThatCannotWriteTellTheUser) {
    guitest::HostWindow window;
    TQ_SKIP_WITHOUT_X(window);
    std::vector<std::string> messages;
    std::mutex messagesMutex;
    const tq::MessageCapture previous =
        tq::setMessageCapture([&](std::string_view, std::string_view text) {
            std::lock_guard<std::mutex> lock(messagesMutex);
            messages.emplace_back(text);
        });
    Plugin plugin(quietHost, std::nullopt, makeEditorFactory());
    auto* editor = static_cast<Editor*>(plugin.getEditor());
    ASSERT_TRUE(editor->open(window.parentHandle()));
    // The store's folder cannot exist: a file stands where it would be.
    std::ofstream(root_) << "not a folder";
    CPSKickButton store(CRect(0, 0, 1, 1), nullptr, kTagStoreMemoryA, nullptr, 1, false);
    store.setValue(1.0f);
    CPSKickButton bank(CRect(0, 0, 1, 1), nullptr, kTagDefaultBank, nullptr, 1, true);
    bank.setValue(1.0f);
    {
        std::lock_guard<std::recursive_timed_mutex> lock(editor->getFrame()->getViewLock());
        editor->valueChanged(&store);
        editor->valueChanged(&bank);
    }
    tq::setMessageCapture(previous);
    editor->close();
    std::lock_guard<std::mutex> lock(messagesMutex);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Could not store memory A!");
    EXPECT_EQ(messages[1], "Could not store the default bank!");
}
