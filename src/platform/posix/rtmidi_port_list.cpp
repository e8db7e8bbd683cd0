#include "platform/posix/rtmidi_port_list.h"

#include <cstring>

#include "platform/system_port_names.h"

const char inClientName[] = "tarnwick-update-in";
const char outClientName[] = "tarnwick-update-out";

namespace {

bool startsWith(const std::string &text, const char *prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// ALSA's "Midi Through" ports loop back whatever is sent to them: they are the
// system's own, like the ports Windows names "Microsoft ...". JACK shows the
// same ports through the a2j bridge as "a2j:Midi Through [14] (capture): ...".
bool isSystemPort(MidiBackend backend, const std::string &name) {
    if (backend == MidiBackend::system) return isLoopbackPortName(name);
    return name.find(loopbackPortTag) != std::string::npos;
}

// ALSA and JACK names start with the client's name and a colon; JACK gives a
// second client of the same name a suffix ("tarnwick-update-in-01").
bool isPortOf(const std::string &name, const char *clientName) {
    if (!startsWith(name, clientName)) return false;
    size_t at = std::strlen(clientName);
    if (at < name.size() && name[at] == '-') {
        size_t digits = name.find_first_not_of("0123456789", at + 1);
        if (digits == at + 1) return false;
        at = digits;
    }
    return at < name.size() && name[at] == ':';
}

bool isOwnPort(const std::string &name) { return isPortOf(name, inClientName) || isPortOf(name, outClientName); }

void appendPorts(std::vector<MidiPortEntry> &entries, MidiBackend backend, const std::vector<std::string> &names) {
    for (unsigned index = 0; index < names.size(); ++index) {
        const std::string &name = names[index];
        if (name.empty() || isOwnPort(name)) continue;
        entries.push_back(MidiPortEntry{backend, index, productNameOf(name, isSystemPort(backend, name))});
    }
}

}  // namespace

std::vector<MidiPortEntry> combinePortLists(const std::vector<std::string> &systemNames,
                                            const std::vector<std::string> &jackNames) {
    std::vector<MidiPortEntry> entries;
    appendPorts(entries, MidiBackend::system, systemNames);
    appendPorts(entries, MidiBackend::jack, jackNames);
    return entries;
}
