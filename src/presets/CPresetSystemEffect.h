// The layer between AudioEffectX and the effect that keeps the effect's own 24
// named programs. Towards the host there is one program; the effect's editor offers
// the 24 slots, steps through them, renames them and loads and saves them.
//
// Slot 0 ("Current") always mirrors the live parameter values: every parameter
// change is recorded into the current slot and into slot 0.
//
// Threads: hosts call setParameter from several threads at once (automation on the
// audio thread, the user's changes on the UI thread). Every change of a parameter, of
// the table through setParameter and selectSlot, and of the current slot holds
// parameterMutex_, so each change lands whole: value, side effects and table entries
// of one change are never mixed with those of another.
#pragma once

#include <memory>
#include <mutex>

#include "host/AudioEffectX.h"
#include "presets/ProgramHost.h"
#include "presets/ProgramTable.h"

namespace tq {
class StoredDefaults;
}

class CPresetSystemEffect : public AudioEffectX, public tq::ProgramHost {
public:
    CPresetSystemEffect(vst::HostCallback audioMaster, vst::int32 numPrograms,
                        vst::int32 numParams);
    // Saves the file dialogs' last locations (the stored defaults' destructor).
    ~CPresetSystemEffect() override;

    // [any thread] Records the value into the current slot and slot 0 (indices 0..25).
    void setParameter(vst::int32 index, float value) override;

    // [ui-thread] Host program name calls.
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(vst::int32 category, vst::int32 index, char* text) override;

    // [ui-thread] The effect's own slots.
    int currentSlot() const override;
    // Applies slot `slot` (limited to 0..23) through setParameter in index order and
    // copies its values into slot 0, all under the parameter lock.
    void selectSlot(int slot) override;
    // Renames the current slot and slot 0.
    void setCurrentName(const char* name) override;

    // Hooks for the editor layer; empty here.
    virtual void programNameChanged(const char* /*name*/) {}

    // Loads the default bank, the default preset and the last file locations from
    // the per-user store.
    virtual void loadStoredDefaults();
    virtual void fillFactoryPresets();

    tq::ProgramTable& programs() override { return programs_; }
    const tq::ProgramTable& programs() const override { return programs_; }
    std::unique_lock<std::recursive_mutex> lockPrograms() const override {
        return std::unique_lock(parameterMutex_);
    }

    // [ui-thread] The stored defaults, A/B memories, file locations and file
    // operations of the preset panel.
    tq::StoredDefaults& storedDefaults() { return *storedDefaults_; }

protected:
    // Serialises parameter changes (see the class comment). Re-entrant: a change may set
    // other parameters (the old-layout conversion), selectSlot sets all of them. Held for
    // the work of one change or one slot selection, microseconds; never held while
    // waiting for another lock or calling the host, so the audio thread's own
    // setParameter calls wait at most that long.
    mutable std::recursive_mutex parameterMutex_;
    tq::ProgramTable programs_{};
    int currentSlot_ = 0;
    std::unique_ptr<tq::StoredDefaults> storedDefaults_;
};
