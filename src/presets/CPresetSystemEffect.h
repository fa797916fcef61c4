// The layer between AudioEffectX and the effect that keeps the effect's own 24
// named programs. Towards the host there is one program; the effect's editor offers
// the 24 slots, steps through them, renames them and loads and saves them.
//
// Slot 0 ("Current") always mirrors the live parameter values: every parameter
// change is recorded into the current slot and into slot 0.
#pragma once

#include "host/AudioEffectX.h"
#include "presets/ProgramTable.h"

class CPresetSystemEffect : public AudioEffectX {
public:
    CPresetSystemEffect(vst::HostCallback audioMaster, vst::int32 numPrograms,
                        vst::int32 numParams);

    // [any thread] Records the value into the current slot and slot 0 (indices 0..25).
    void setParameter(vst::int32 index, float value) override;

    // [ui-thread] Host program name calls.
    void setProgramName(char* name) override;
    void getProgramName(char* name) override;
    bool getProgramNameIndexed(vst::int32 category, vst::int32 index, char* text) override;

    // [ui-thread] The effect's own slots.
    virtual int currentSlot() const { return currentSlot_; }
    // Applies slot `slot` (limited to 0..23) through setParameter in index order and
    // copies its values into slot 0.
    virtual void selectSlot(int slot);
    // Renames the current slot and slot 0.
    virtual void setCurrentName(const char* name);

    // Hooks for the editor layer; empty here.
    virtual void programNameChanged(const char* /*name*/) {}

    // Asks the stored-defaults layer to load the default bank, the default preset
    // and the last file locations. Empty until that layer is attached.
    virtual void loadStoredDefaults() {}
    virtual void fillFactoryPresets();

    tq::ProgramTable& programs() { return programs_; }
    const tq::ProgramTable& programs() const { return programs_; }

protected:
    tq::ProgramTable programs_{};
    int currentSlot_ = 0;
};
