// The library's only exported symbols: VSTPluginMain, also exported as `main`.
#include "effect/Plugin.h"
#include "host/VstAbi.h"

namespace {

vst::AEffect* createWithEditor(vst::HostCallback host) {
    return createEffectInstance(host, makeEditorFactory());
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) vst::AEffect* VSTPluginMain(vst::HostCallback host) {
    return createWithEditor(host);
}

// Older hosts look the entry up as `main`; the asm label gives the same function
// that name without clashing with a C++ `main`.
__attribute__((visibility("default"))) vst::AEffect* vstPluginMainLegacy(
    vst::HostCallback host) asm("main");
vst::AEffect* vstPluginMainLegacy(vst::HostCallback host) { return createWithEditor(host); }

}  // extern "C"
