// The metering preferences: six stepped metering parameters that the user can store as
// the start-up set-up of every new instance. They live in the per-user store's "PREFS"
// sub-key, each as the 4-byte step index of its parameter.
//
// Loading is silent: a missing key or a value that is not exactly 4 bytes leaves its
// parameter as it was. Saving reports its two failures in the "Error..." message box.
#pragma once

#include <array>
#include <functional>

namespace tq {

inline constexpr const char* kMeteringKey = "PREFS";
// Scale, MeterType, AttZoom, AttShow, MeterOvs and PostMeter, in that order.
inline constexpr int kMeteringPreferenceCount = 6;

inline constexpr const char* kMeteringKeyFailedText =
    "Could not create registry key for storing metering preferences!";
inline constexpr const char* kMeteringValueFailedText =
    "Could not create registry value for storing metering preferences!";

struct ParameterSetting {
    int index = 0;
    float value = 0.0f;
};

// The stored preferences as parameter settings, in table order: each a step centre
// (i + 0.5) / n of its stored index, the index limited to 0..n-1.
struct StoredMeteringPreferences {
    std::array<ParameterSetting, kMeteringPreferenceCount> settings{};
    int count = 0;
};

// [ui-thread] Reads the stored preferences (construction step 15). The caller applies
// each setting through its setParameter, in order.
StoredMeteringPreferences loadMeteringPreferences();

// [ui-thread] Reads and applies them through `setParameter`; answers how many were found.
int applyStoredMeteringPreferences(const std::function<void(int index, float value)>& setParameter);

enum class MeteringSaveResult { saved, keyFailed, valueFailed };

// [ui-thread] Stores the step index of each of the six parameters, read through
// `getParameter`. When the key cannot be created, or a value cannot be written (the
// remaining ones are then skipped), the matching "Error..." message is shown.
MeteringSaveResult saveMeteringPreferences(const std::function<float(int index)>& getParameter);

}  // namespace tq
