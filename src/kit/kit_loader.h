#pragma once

#include <cstdint>

#include "kit/kit_image.h"

// Names of kits for this product begin with this tag, letter case ignored.
constexpr const char *productTag = "Tarnwick_Box";

// Room for the found kit's name, terminator included.
constexpr int fileNameSize = 100;

// Finds the first "*.kit" in the working directory, checks its name and reads
// it into image; productCode becomes the code of the product the name is for.
// False after its message has been printed.
bool loadKit(char (&fileName)[fileNameSize], uint8_t &productCode, KitImage &image);
