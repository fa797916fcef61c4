#include "presets/MeteringPreferences.h"

#include <algorithm>
#include <cmath>

#include "platform/MessageBox.h"
#include "platform/UserStore.h"
#include "presets/ParameterLayout.h"

namespace tq {

namespace {

struct MeteringPreference {
    const char* valueName;
    int parameterIndex;
    int steps;
};

// Stored, loaded and saved in this order.
constexpr std::array<MeteringPreference, kMeteringPreferenceCount> kMeteringPreferences = {{
    {"Metering_Scale", kScale, 3},
    {"Metering_Type", kMeterType, 2},
    {"Metering_Zoom", kAttZoom, 2},
    {"Metering_AttShow", kAttShow, 8},
    {"Metering_Recon", kMeterOvs, 2},
    {"Metering_Post", kPostMeter, 2},
}};

}  // namespace

StoredMeteringPreferences loadMeteringPreferences() {
    StoredMeteringPreferences stored;
    const UserStore store(kMeteringKey);
    for (const MeteringPreference& preference : kMeteringPreferences) {
        const std::optional<std::int32_t> index = store.readInt32(preference.valueName);
        if (!index) continue;
        // An index outside 0..n-1 would give a value outside 0..1; the parameter model
        // would read it as the nearest step, which is what the limit does here.
        const int step = std::clamp<std::int32_t>(*index, 0, preference.steps - 1);
        stored.settings[static_cast<std::size_t>(stored.count++)] = {
            preference.parameterIndex, stepCentre(step, preference.steps)};
    }
    return stored;
}

int applyStoredMeteringPreferences(
    const std::function<void(int index, float value)>& setParameter) {
    const StoredMeteringPreferences stored = loadMeteringPreferences();
    for (int i = 0; i < stored.count; ++i) {
        const ParameterSetting& setting = stored.settings[static_cast<std::size_t>(i)];
        setParameter(setting.index, setting.value);
    }
    return stored.count;
}

MeteringSaveResult saveMeteringPreferences(const std::function<float(int index)>& getParameter) {
    std::array<int, kMeteringPreferences.size()> steps{};
    for (std::size_t i = 0; i < kMeteringPreferences.size(); ++i) {
        steps[i] = stepIndex(getParameter(kMeteringPreferences[i].parameterIndex),
                             kMeteringPreferences[i].steps);
    }
    const UserStore store(kMeteringKey);
    if (!store.createKey()) {
        showErrorMessage(kMeteringKeyFailedText);
        return MeteringSaveResult::keyFailed;
    }
    for (std::size_t i = 0; i < kMeteringPreferences.size(); ++i) {
        if (!store.writeInt32(kMeteringPreferences[i].valueName, steps[i])) {
            showErrorMessage(kMeteringValueFailedText);
            return MeteringSaveResult::valueFailed;
        }
    }
    return MeteringSaveResult::saved;
}

}  // namespace tq
