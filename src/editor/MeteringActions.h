// What the metering controls (the save gesture and the meter mode button) ask
// of the editor. The editor implements it; the controls never see the effect.
// [frame thread]
#pragma once

class MeteringActions {
  public:
    // Right-click save gesture: stores the metering set-up for new instances
    // and starts the save highlight of the metering buttons.
    virtual void saveMeteringPreferences() = 0;
    // 0 K-12, 1 K-14, 2 K-20: sets "Scale" through setParameterAutomated.
    virtual void setMeterScale(int scale) = 0;
    // 0 peak, 1 k-system: sets "MeterType" through setParameterAutomated.
    virtual void setMeterType(int type) = 0;

  protected:
    ~MeteringActions() = default;
};
