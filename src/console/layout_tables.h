// ControlLayout tables: ordered records that place and label the controls of a page, in pixels
// of the dialog's client area.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kalvor {

struct ControlLayout {
    int32_t id;
    char caption[32];
    int32_t left, top, right, bottom;
    uint32_t show;
};

extern const ControlLayout MenuLayout[3];
extern const ControlLayout EnvironmentLayout[33];
extern const ControlLayout NotesInitLayout[8];

// The 43 controls that only the calibration pages use, in order.
extern const int CalibrationControls[43];

}  // namespace kalvor
