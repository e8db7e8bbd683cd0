// The JACK calls below are defined in this program, so they come before the
// JACK library's for every caller in it, RtMidi's library included; each
// goes on to the library's own.
#include "held_up_jack_cycles.h"

#include <dlfcn.h>
#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<bool> heldUp{false};

// Longer than a period of the test's server (256 frames at 48 kHz), so that
// a cycle starts while the closing thread waits.
const std::chrono::milliseconds inCycle(8), afterUnregister(10);

template <class Function>
Function libraryOwn(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

HeldUpJackCycles::HeldUpJackCycles() { heldUp = true; }
HeldUpJackCycles::~HeldUpJackCycles() { heldUp = false; }

extern "C" void *jack_port_get_buffer(jack_port_t *port, jack_nframes_t frames) {
    static auto own = libraryOwn<void *(*)(jack_port_t *, jack_nframes_t)>("jack_port_get_buffer");
    if (heldUp) std::this_thread::sleep_for(inCycle);
    return own(port, frames);
}

extern "C" int jack_port_unregister(jack_client_t *client, jack_port_t *port) {
    static auto own = libraryOwn<int (*)(jack_client_t *, jack_port_t *)>("jack_port_unregister");
    int result = own(client, port);
    if (heldUp) std::this_thread::sleep_for(afterUnregister);
    return result;
}
