#include "PluginHost.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "ToolError.h"

namespace tq {
namespace {

constexpr vst::intptr kHostVersion = 2400;
constexpr vst::intptr kProcessPrecision32 = 0;
constexpr vst::intptr kProcessPrecision64 = 1;
// Limits beyond which the descriptor is garbage rather than a real effect.
constexpr int kMaxChannels = 64;
constexpr int kMaxParams = 100000;
// Hosts traditionally offer small text buffers; ours are generous so that an
// effect writing past the old 8-character convention cannot corrupt memory.
constexpr std::size_t kTextBufferSize = 512;

// The effect calls back before its descriptor reaches us (from inside its entry
// function, on the loading thread), so the host being loaded is also known here.
// One per thread: a batch loads its instances on several threads at once.
thread_local PluginHost* loadingHost = nullptr;

PluginHost* hostOf(vst::AEffect* effect) {
    if (effect != nullptr && effect->user != nullptr) {
        return static_cast<PluginHost*>(effect->user);
    }
    return loadingHost;
}

vst::intptr hostCallback(vst::AEffect* effect, vst::int32 opcode, vst::int32 index,
                         vst::intptr value, void* /*ptr*/, float /*opt*/) {
    PluginHost* host = hostOf(effect);
    switch (opcode) {
        case vst::audioMasterVersion:
            return kHostVersion;
        case vst::audioMasterGetSampleRate:
            return host != nullptr ? static_cast<vst::intptr>(host->sampleRate()) : 0;
        case vst::audioMasterGetBlockSize:
            return host != nullptr ? host->blockSize() : 0;
        case vst::audioMasterPinConnected:
            // 0 means connected; anything else means the pin carries no audio.
            if (host == nullptr) return 0;
            return host->isPinConnected(index, value != 0) ? 0 : 1;
        default:
            return 0;
    }
}

std::string hexCode(vst::int32 code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

PluginHost::PluginHost(const std::string& path) : path_(path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        throw ToolError("cannot load plug-in " + quoted(path) + ": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw ToolError("cannot load plug-in " + quoted(path) + ": not a regular file");
    }
    // A name without a slash would make dlopen search the system's library path.
    const std::string openName = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    // RTLD_NODELETE: the tool exits right after it closes the effect, and libraries a
    // plug-in pulls in (pixman behind cairo, for one) keep static data that a leak
    // detector reports as lost once they are unmapped.
    library_ = dlopen(openName.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library_ == nullptr) {
        const char* reason = dlerror();
        throw ToolError("cannot load plug-in " + quoted(path) + ": " +
                        (reason != nullptr ? reason : "dlopen failed"));
    }
    using EntryProc = vst::AEffect* (*)(vst::HostCallback);
    void* symbol = dlsym(library_, "VSTPluginMain");
    if (symbol == nullptr) symbol = dlsym(library_, "main");
    if (symbol == nullptr) {
        dlclose(library_);
        throw ToolError(quoted(path) +
                        " is not a VST2 plug-in: it exports neither VSTPluginMain nor main");
    }
    auto entry = reinterpret_cast<EntryProc>(symbol);
    loadingHost = this;
    effect_ = entry(&hostCallback);
    loadingHost = nullptr;
    std::string fault;
    if (effect_ == nullptr) {
        fault = "its entry point returned no effect (the plug-in could not be created)";
    } else if (effect_->magic != vst::kEffectMagic) {
        fault = "its effect record has magic " + hexCode(effect_->magic) + ", not 'VstP'";
    } else if (effect_->dispatcher == nullptr || effect_->processReplacing == nullptr ||
               effect_->setParameter == nullptr || effect_->getParameter == nullptr) {
        fault = "its effect record lacks the dispatcher, parameter or replacing process entries";
    } else if (effect_->numInputs < 0 || effect_->numInputs > kMaxChannels ||
               effect_->numOutputs < 1 || effect_->numOutputs > kMaxChannels) {
        fault = "it declares " + std::to_string(effect_->numInputs) + " inputs and " +
                std::to_string(effect_->numOutputs) + " outputs";
    } else if (effect_->numParams < 0 || effect_->numParams > kMaxParams) {
        fault = "it declares " + std::to_string(effect_->numParams) + " parameters";
    }
    if (!fault.empty()) {
        // An effect with a broken record cannot be trusted with effClose either.
        effect_ = nullptr;
        dlclose(library_);
        throw ToolError(quoted(path) + " cannot be used: " + fault);
    }
    effect_->user = this;
    dispatch(vst::effOpen);
}

PluginHost::~PluginHost() {
    if (effect_ != nullptr) {
        if (running_) stop();
        dispatch(vst::effClose);
        effect_ = nullptr;
    }
    if (library_ != nullptr) dlclose(library_);
}

std::string PluginHost::effectName() const {
    std::string name = dispatchText(vst::effGetEffectName, 0);
    if (name.empty()) name = dispatchText(vst::effGetProductString, 0);
    if (name.empty()) {
        const auto slash = path_.find_last_of('/');
        name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    }
    return name;
}

bool PluginHost::canProcessDouble() const {
    return (effect_->flags & vst::effFlagsCanDoubleReplacing) != 0 &&
           effect_->processDoubleReplacing != nullptr;
}

int PluginHost::version() const {
    const auto vendorVersion = static_cast<int>(dispatch(vst::effGetVendorVersion));
    return vendorVersion != 0 ? vendorVersion : effect_->version;
}

std::string PluginHost::parameterName(int index) const {
    return dispatchText(vst::effGetParamName, index);
}

std::string PluginHost::parameterDisplay(int index) const {
    return dispatchText(vst::effGetParamDisplay, index);
}

std::string PluginHost::parameterLabel(int index) const {
    return dispatchText(vst::effGetParamLabel, index);
}

void PluginHost::setParameter(int index, float value) {
    effect_->setParameter(effect_, index, value);
}

float PluginHost::getParameter(int index) const { return effect_->getParameter(effect_, index); }

void PluginHost::start(double sampleRate, int blockSize, SamplePrecision precision,
                       int connectedInputs, int connectedOutputs) {
    if (running_) stop();
    sampleRate_ = sampleRate;
    blockSize_ = blockSize;
    connectedInputs_ = connectedInputs;
    connectedOutputs_ = connectedOutputs;
    dispatch(vst::effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(vst::effSetBlockSize, 0, blockSize);
    dispatch(vst::effSetProcessPrecision, 0,
             precision == SamplePrecision::double_ ? kProcessPrecision64 : kProcessPrecision32);
    dispatch(vst::effMainsChanged, 0, 1);
    running_ = true;
}

void PluginHost::process(float** inputs, float** outputs, int frames) {
    effect_->processReplacing(effect_, inputs, outputs, frames);
}

void PluginHost::process(double** inputs, double** outputs, int frames) {
    effect_->processDoubleReplacing(effect_, inputs, outputs, frames);
}

void PluginHost::stop() {
    dispatch(vst::effMainsChanged, 0, 0);
    running_ = false;
}

bool PluginHost::isPinConnected(int pin, bool output) const {
    return pin >= 0 && pin < (output ? connectedOutputs_ : connectedInputs_);
}

vst::intptr PluginHost::dispatch(vst::int32 opcode, vst::int32 index, vst::intptr value, void* ptr,
                                 float opt) const {
    return effect_->dispatcher(effect_, opcode, index, value, ptr, opt);
}

std::string PluginHost::dispatchText(vst::int32 opcode, int index) const {
    std::array<char, kTextBufferSize> text{};
    dispatch(opcode, index, 0, text.data());
    text.back() = '\0';
    return text.data();
}

}  // namespace tq
