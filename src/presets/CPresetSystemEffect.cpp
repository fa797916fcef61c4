#include "presets/CPresetSystemEffect.h"

#include <algorithm>
#include <cstring>

#include "presets/StoredDefaults.h"

CPresetSystemEffect::CPresetSystemEffect(vst::HostCallback audioMaster, vst::int32 numPrograms,
                                         vst::int32 numParams)
    : AudioEffectX(audioMaster, numPrograms, numParams),
      storedDefaults_(std::make_unique<tq::StoredDefaults>(*this)) {
    tq::fillFactoryPrograms(programs_);
}

CPresetSystemEffect::~CPresetSystemEffect() = default;

void CPresetSystemEffect::loadStoredDefaults() { storedDefaults_->loadStoredDefaults(); }

void CPresetSystemEffect::fillFactoryPresets() { tq::fillFactoryPrograms(programs_); }

int CPresetSystemEffect::currentSlot() const {
    const std::lock_guard lock(parameterMutex_);
    return currentSlot_;
}

void CPresetSystemEffect::setParameter(vst::int32 index, float value) {
    if (index < 0 || index >= tq::kParameterCount) return;
    const std::lock_guard lock(parameterMutex_);
    programs_[static_cast<std::size_t>(currentSlot_)].values[index] = value;
    programs_[0].values[index] = value;
}

void CPresetSystemEffect::setProgramName(char* name) {
    if (name == nullptr) return;
    char stored[tq::kProgramNameBytes + 1];
    {
        const std::lock_guard lock(parameterMutex_);
        tq::storeProgramName(programs_[static_cast<std::size_t>(currentSlot_)], name);
        tq::readProgramName(programs_[static_cast<std::size_t>(currentSlot_)], stored);
    }
    programNameChanged(stored);
}

void CPresetSystemEffect::getProgramName(char* name) {
    const std::lock_guard lock(parameterMutex_);
    tq::readProgramName(programs_[static_cast<std::size_t>(currentSlot_)], name);
}

bool CPresetSystemEffect::getProgramNameIndexed(vst::int32 /*category*/, vst::int32 index,
                                                char* text) {
    if (index < 0 || index >= tq::kProgramCount || text == nullptr) return false;
    const std::lock_guard lock(parameterMutex_);
    tq::readProgramName(programs_[static_cast<std::size_t>(index)], text);
    return true;
}

void CPresetSystemEffect::selectSlot(int slot) {
    slot = std::clamp(slot, 0, tq::kProgramCount - 1);
    {
        const std::lock_guard lock(parameterMutex_);
        curProgram_ = 0;
        currentSlot_ = slot;
        const auto selected = static_cast<std::size_t>(slot);
        for (int index = 0; index < tq::kParameterCount; ++index) {
            setParameter(index, programs_[selected].values[index]);
            // Read again: the old-layout conversion run by the last index may have
            // rewritten earlier values of this slot.
            programs_[0].values[index] = programs_[selected].values[index];
        }
    }
    updateDisplay();
}

void CPresetSystemEffect::setCurrentName(const char* name) {
    {
        const std::lock_guard lock(parameterMutex_);
        tq::storeProgramName(programs_[static_cast<std::size_t>(currentSlot_)], name);
        tq::storeProgramName(programs_[0], name);
        curProgram_ = 0;
    }
    updateDisplay();
}
