// What the preset files and stored defaults need from the effect: its program table,
// its current slot, and the two operations that apply a slot and rename it. The effect
// (CPresetSystemEffect) implements it; tests and the fuzz target use small fakes.
#pragma once

#include <mutex>

#include "presets/ProgramTable.h"

namespace tq {

class ProgramHost {
  public:
    // [ui-thread] The current slot, 0..23.
    virtual int currentSlot() const = 0;
    // [ui-thread] Makes `slot` current and applies its 26 values through the effect's
    // parameter chain, copying them into slot 0.
    virtual void selectSlot(int slot) = 0;
    // [ui-thread] Stores `name` (24-byte rule) into the current slot and slot 0.
    virtual void setCurrentName(const char* name) = 0;
    virtual ProgramTable& programs() = 0;
    virtual const ProgramTable& programs() const = 0;
    // [any thread] While the returned lock lives, no other thread changes a parameter
    // or the table (the effect takes setParameter calls from several threads). Hold it
    // for a copy into or out of the table, not across file or store operations. A host
    // that nothing else changes returns an empty lock.
    virtual std::unique_lock<std::recursive_mutex> lockPrograms() const { return {}; }

  protected:
    ~ProgramHost() = default;
};

}  // namespace tq
