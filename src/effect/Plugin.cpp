#include "effect/Plugin.h"

// The effect class is being written; until then no instance is created.
vst::AEffect* createEffectInstance(vst::HostCallback) { return nullptr; }
