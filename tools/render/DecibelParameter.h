// A parameter that shows a level in dB ("Drive", "Output"), set and read by
// level. The effect's own display text is the only scale: the normalised value
// that shows a level is found by bisection, so any monotonic mapping works.
#pragma once

#include <optional>
#include <string>

#include "PluginHost.h"

namespace tq {

class DecibelParameter {
  public:
    // Empty when the effect has no parameter of that name labelled "dB" whose
    // display rises with its value.
    static std::optional<DecibelParameter> find(PluginHost& host, const std::string& name);

    int index() const { return index_; }
    double minimumDb() const { return minimumDb_; }
    double maximumDb() const { return maximumDb_; }
    // The level the effect shows now.
    double level() const;
    // Sets the value that shows the level nearest `db` (limited to the range)
    // and returns the level shown.
    double set(double db);

  private:
    DecibelParameter(PluginHost& host, int index) : host_(&host), index_(index) {}
    double levelAt(float value);

    PluginHost* host_;
    int index_;
    double minimumDb_ = 0.0;
    double maximumDb_ = 0.0;
};

// The number a display text starts with; "-oo" and "-inf" are -infinity.
std::optional<double> parseLevelText(const std::string& text);

}  // namespace tq
