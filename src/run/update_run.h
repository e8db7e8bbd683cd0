#pragma once

#include <cstdint>

#include "kit/kit_image.h"

constexpr int fileNameSize = 100;

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

// One update attempt from banner to pause; always returns the exit status 0.
int runUpdate();

// The two ways a run ends.
void plainEnd();
void closingEnd();
