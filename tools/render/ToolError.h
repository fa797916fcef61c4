// The one kind of failure the render tool reports: a single line that names the
// file or value concerned and the reason. main() prints it and exits non-zero.
#pragma once

#include <stdexcept>
#include <string>

namespace tq {

class ToolError : public std::runtime_error {
  public:
    explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace tq
