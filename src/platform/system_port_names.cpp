#include "platform/system_port_names.h"

#include <cstring>

#include "platform/platform.h"

const char loopbackPortTag[] = "Midi Through";

namespace {

const char systemPortPrefix[] = "Microsoft ";

std::string fitProductName(std::string name) {
    const size_t limit = MAXPNAMELEN - 1;
    if (name.size() <= limit) return name;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
    return name;
}

}  // namespace

bool isLoopbackPortName(const std::string &name) {
    return name.compare(0, std::strlen(loopbackPortTag), loopbackPortTag) == 0;
}

std::string productNameOf(const std::string &name, bool systemPort) {
    return fitProductName(systemPort ? systemPortPrefix + name : name);
}
