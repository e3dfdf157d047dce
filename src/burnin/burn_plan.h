// The burn-in's plan: how many cycles the current burn (the script's `burn N`) is to write in
// all, told to whatever keeps records or shows progress. The burn tells every run observer of the
// dialog that also implements this; 0 when no burn is under way.
#pragma once

namespace kalvor {

class BurnPlanListener {
public:
    virtual ~BurnPlanListener() = default;
    virtual void OnBurnPlanned(unsigned planned) = 0;
};

}  // namespace kalvor
