#pragma once

#include <cstdint>

#include "kit/kit_loader.h"

// The state of one update attempt, owned by the entry for the whole run.
struct UpdateRun {
    char fileName[fileNameSize];
    uint8_t productCode;
    KitImage image;
    uint16_t inDeviceId;
    uint16_t outDeviceId;
    uint16_t sent;
    uint8_t failures;
    uint8_t spinnerPos;
};
