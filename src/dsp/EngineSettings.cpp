#include "dsp/EngineSettings.h"
