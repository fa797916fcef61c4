#pragma once
#include "host/VstAbi.h"

// Builds an effect for `host`; null when the host refuses or construction fails.
vst::AEffect* createEffectInstance(vst::HostCallback host);
