#include "kit_name.h"

#include "base/ascii_text.h"
#include "kit/kit_loader.h"

namespace {

bool endsWithKitExtension(const std::string &name) {
    static const std::string extension = ".kit";
    if (name.size() < extension.size()) return false;
    return startsWithIgnoringCase(name.c_str() + name.size() - extension.size(), extension.c_str());
}

}  // namespace

KitNameFault checkKitName(const std::string &fileName) {
    if (!startsWithIgnoringCase(fileName.c_str(), productTag)) return KitNameFault::noTag;
    if (!endsWithKitExtension(fileName)) return KitNameFault::notKitFile;
    if (fileName.size() >= fileNameSize) return KitNameFault::tooLong;
    return KitNameFault::none;
}

std::string describeNameFault(KitNameFault fault) {
    switch (fault) {
    case KitNameFault::none: return "the updater accepts this name";
    case KitNameFault::noTag: return std::string("it does not begin with \"") + productTag + "\" (letter case ignored)";
    case KitNameFault::notKitFile: return "it does not end in \".kit\", so the updater never finds it";
    case KitNameFault::tooLong:
        return "it is longer than the " + std::to_string(fileNameSize - 1) + " characters the updater holds";
    }
    return "";
}
