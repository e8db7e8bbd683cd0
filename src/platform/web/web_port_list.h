// The numbered device list of the web platform, from the port names the
// browser gives. Plain names in, product names out: nothing here touches Web
// MIDI, so the rule can be tested in the native build.
#pragma once

#include <string>
#include <vector>

// Device numbers are the browser's own order of its inputs (or outputs). Web
// MIDI names a port by its ALSA port name ("Midi Through Port-0", "MIDI 1"),
// not its client's, and by the driver's name on Windows and macOS; every port
// is a device, the system's own marked as on the other platforms.
std::vector<std::string> webPortList(const std::vector<std::string> &browserNames);
