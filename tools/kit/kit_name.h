#pragma once

#include <string>

// Whether the updater would take a kit by this file name: it searches the
// working directory for "*.kit" (letter case ignored), holds at most 99
// characters of the name, and wants the product tag in front.
enum class KitNameFault {
    none,
    noTag,       // the first 12 characters are not the product tag
    notKitFile,  // the name does not end in ".kit", so the search never finds it
    tooLong,     // the updater cuts the name and refuses to open it
};

KitNameFault checkKitName(const std::string &fileName);

// The fault in words, for messages ("does not begin with ...").
std::string describeNameFault(KitNameFault fault);
