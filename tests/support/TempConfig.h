// Test helpers: a temporary directory removed afterwards, an environment variable set
// for one test and restored after it, file helpers, and a message capture.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace tqtest {

class TempDirectory {
  public:
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tq-test-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = buffer.data();
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

class ScopedEnvironment {
  public:
    // Sets `name` to `value`, or unsets it for a null value.
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value != nullptr) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        if (old_) {
            ::setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            ::unsetenv(name_.c_str());
        }
    }

  private:
    std::string name_;
    std::optional<std::string> old_;
};

inline std::vector<std::uint8_t> readBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), {});
}

inline void writeBytes(const std::string& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    writeBytes(path, bytes.data(), bytes.size());
}

// Every message shown while the capture lives.
class MessageRecorder {
  public:
    struct Message {
        std::string caption;
        std::string text;
    };
    MessageRecorder() {
        previous_ = tq::setMessageCapture([this](std::string_view caption, std::string_view text) {
            messages.push_back({std::string(caption), std::string(text)});
        });
    }
    ~MessageRecorder() { tq::setMessageCapture(std::move(previous_)); }
    std::vector<Message> messages;

  private:
    tq::MessageCapture previous_;
};

// Runs `body` in a child process whose files may grow to at most `maxFileBytes`
// (writes beyond fail with EFBIG, as on a full disk) and answers its exit status.
inline int runWithFileSizeLimit(rlim_t maxFileBytes, const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{maxFileBytes, maxFileBytes};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace tqtest
