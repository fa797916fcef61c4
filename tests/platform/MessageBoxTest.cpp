#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "platform/MessageBox.h"
#include "support/TempConfig.h"

namespace {

using tq::MessageRoute;

// A directory on PATH holding fake message programs that write their arguments, one per
// line, to a file, so the test sees exactly what the real program would receive.
class FakeProgramsTest : public ::testing::Test {
  protected:
    tqtest::TempDirectory bin;
    tqtest::TempDirectory output;
    tqtest::ScopedEnvironment path{"PATH", bin.path().c_str()};
    tqtest::ScopedEnvironment display{"DISPLAY", ":99"};
    tqtest::ScopedEnvironment wayland{"WAYLAND_DISPLAY", nullptr};

    void addProgram(const std::string& name) {
        const std::string script =
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + output.path() +
            "/args.tmp\"\n/bin/mv \"" + output.path() + "/args.tmp\" \"" + output.path() + "/" +
            name + ".args\"\n";
        tqtest::writeBytes(bin / name, script.data(), script.size());
        ::chmod((bin / name).c_str(), 0755);
    }

    // The arguments the program received; waits (bounded) for the detached program.
    std::vector<std::string> argumentsOf(const std::string& name) {
        const std::string file = output / (name + ".args");
        for (int i = 0; i < 500 && ::access(file.c_str(), F_OK) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::vector<std::string> lines;
        std::ifstream in(file);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // A message program that never closes by itself (a user who walks away). It
    // writes its pid to "<name of the text>.pid"; `exec` keeps that pid the
    // sleeping one.
    void addSleepingProgram(const std::string& name) {
        const std::string script =
            "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in --text=*) t=\"${a#--text=}\";; "
            "esac; done\necho $$ > \"" +
            output.path() + "/$t.tmp\"\n/bin/mv \"" + output.path() + "/$t.tmp\" \"" +
            output.path() + "/$t.pid\"\nexec /bin/sleep 120\n";
        tqtest::writeBytes(bin / name, script.data(), script.size());
        ::chmod((bin / name).c_str(), 0755);
    }

    // The pid of the box showing `text`; waits (bounded) for the program to start.
    pid_t pidOf(const std::string& text) {
        const std::string file = output / (text + ".pid");
        for (int i = 0; i < 500 && ::access(file.c_str(), F_OK) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        long pid = 0;
        std::ifstream(file) >> pid;
        return static_cast<pid_t>(pid);
    }
};

// Gone for good: a zombie would still answer kill(pid, 0).
bool processGone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

// Polls `condition` for up to five seconds.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500 && !condition(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST(MessageBoxTest, CaptureReceivesCaptionAndText) {
    tqtest::MessageRecorder recorder;
    EXPECT_EQ(tq::currentMessageRoute(), MessageRoute::capture);
    tq::showErrorMessage("Could not create registry key for storing metering preferences!");
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].caption, "Error...");
    EXPECT_EQ(recorder.messages[0].text,
              "Could not create registry key for storing metering preferences!");
}

TEST(MessageBoxTest, SetCaptureAnswersThePreviousOne) {
    int calls = 0;
    tq::MessageCapture first = [&](std::string_view, std::string_view) { ++calls; };
    tq::MessageCapture before = tq::setMessageCapture(first);
    tq::MessageCapture back = tq::setMessageCapture(before);
    ASSERT_TRUE(static_cast<bool>(back));
    back("Error...", "x");
    EXPECT_EQ(calls, 1);
}

TEST(MessageBoxTest, WithoutDisplayTheMessageGoesToStandardError) {
    tqtest::ScopedEnvironment display("DISPLAY", nullptr);
    tqtest::ScopedEnvironment wayland("WAYLAND_DISPLAY", nullptr);
    ASSERT_EQ(tq::currentMessageRoute(), MessageRoute::standardError);
    ::testing::internal::CaptureStderr();
    tq::showErrorMessage("disk full");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error... disk full\n");
}

TEST_F(FakeProgramsTest, ZenityGetsTheTextAsOneArgumentWithoutShell) {
    addProgram("zenity");
    addProgram("xmessage");
    ASSERT_EQ(tq::currentMessageRoute(), MessageRoute::zenity);
    tq::showErrorMessage("Could not save \"a b.tarvel\": $(rm -rf x) <b>&`id`");
    const auto arguments = argumentsOf("zenity");
    EXPECT_EQ(arguments, (std::vector<std::string>{
                             "--error", "--no-markup", "--title=Error...",
                             "--text=Could not save \"a b.tarvel\": $(rm -rf x) <b>&`id`"}));
}

TEST_F(FakeProgramsTest, ZenityTextKeepsBackslashes) {
    addProgram("zenity");
    tq::showErrorMessage("dir\\name.tarvel");
    const auto arguments = argumentsOf("zenity");
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(arguments[3], "--text=dir\\name.tarvel");
}

TEST_F(FakeProgramsTest, XmessageIsUsedWhenZenityIsMissing) {
    addProgram("xmessage");
    ASSERT_EQ(tq::currentMessageRoute(), MessageRoute::xmessage);
    tq::showErrorMessage("-not an option");
    EXPECT_EQ(argumentsOf("xmessage"),
              (std::vector<std::string>{"-title", "Error...", "-center", "-buttons", "OK",
                                        " -not an option"}));
}

TEST_F(FakeProgramsTest, NoProgramFallsBackToStandardError) {
    ASSERT_EQ(tq::currentMessageRoute(), MessageRoute::standardError);
    ::testing::internal::CaptureStderr();
    tq::showErrorMessage("nothing installed");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error... nothing installed\n");
}

TEST_F(FakeProgramsTest, CloseEndsAnOpenBoxAndReapsIt) {
    addSleepingProgram("zenity");
    const std::uint64_t owner = tq::openMessageOwner();
    tq::showErrorMessage("never answered", owner);
    const pid_t pid = pidOf("never answered");
    ASSERT_GT(pid, 0);
    ASSERT_EQ(::kill(pid, 0), 0);
    EXPECT_EQ(tq::openErrorMessageCount(), 1u);
    tq::closeErrorMessages(owner);
    EXPECT_TRUE(processGone(pid));
    EXPECT_EQ(tq::openErrorMessageCount(), 0u);
}

TEST_F(FakeProgramsTest, EachOwnerClosesOnlyItsOwnBoxes) {
    addSleepingProgram("zenity");
    const std::uint64_t first = tq::openMessageOwner();
    const std::uint64_t second = tq::openMessageOwner();
    ASSERT_NE(first, second);
    ASSERT_NE(first, 0u);
    tq::showErrorMessage("first", first);
    tq::showErrorMessage("second", second);
    tq::showErrorMessage("nobody's");
    const pid_t firstPid = pidOf("first");
    const pid_t secondPid = pidOf("second");
    const pid_t unownedPid = pidOf("nobody's");
    ASSERT_GT(firstPid, 0);
    ASSERT_GT(secondPid, 0);
    ASSERT_GT(unownedPid, 0);
    tq::closeErrorMessages(first);
    EXPECT_TRUE(processGone(firstPid));
    EXPECT_EQ(::kill(secondPid, 0), 0);
    EXPECT_EQ(::kill(unownedPid, 0), 0);
    tq::closeErrorMessages();
    EXPECT_TRUE(processGone(secondPid));
    EXPECT_TRUE(processGone(unownedPid));
    EXPECT_EQ(tq::openErrorMessageCount(), 0u);
}

TEST_F(FakeProgramsTest, BoxTheUserClosesIsReapedWithoutAnyCall) {
    addProgram("xmessage");
    tq::showErrorMessage("read and dismissed");
    ASSERT_EQ(argumentsOf("xmessage").size(), 6u);
    // No sweep and no close call: the box's own waiter reaps it.
    EXPECT_TRUE(eventually([] { return tq::openErrorMessageCount() == 0; }));
}

}  // namespace
