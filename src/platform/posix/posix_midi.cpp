// The Windows MIDI calls over RtMidi: device numbers count the system
// sequencer's ports (ALSA on Linux, CoreMIDI on macOS) and then a running JACK
// server's. Every call enumerates afresh, as the numbers can change whenever a
// device comes or goes; the rules for the list are in rtmidi_port_list.
//
// Nothing from the libraries reaches the console or the caller: exceptions
// are caught here, error texts go to a callback that only counts them, and a
// machine without any MIDI system looks like one without ports. No JACK
// server is ever started (RtMidi opens JACK clients with JackNoStartServer).
#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/midi_in_buffer_queue.h"
#include "platform/platform.h"
#include "platform/port_caps.h"
#include "platform/posix/jack_midi_out.h"
#include "platform/posix/rtmidi_port_list.h"
#include "platform/posix/rtmidi_quiet.h"

namespace {

const char inPortName[] = "replies";
const char outPortName[] = "frames";

#ifdef __MACOSX_CORE__
const RtMidi::Api systemApi = RtMidi::MACOSX_CORE;
#else
const RtMidi::Api systemApi = RtMidi::LINUX_ALSA;
#endif
const RtMidi::Api backendApis[2] = {systemApi, RtMidi::UNIX_JACK};


// What a library reported while we used one of its objects. Warnings include
// a JACK client that finds no server; errors mean the call failed.
struct LibraryReports {
    std::atomic<unsigned> warnings{0};
    std::atomic<unsigned> errors{0};
    unsigned total() const { return warnings + errors; }
};

void countReport(RtMidiError::Type type, const std::string &, void *reports) {
    LibraryReports *counts = static_cast<LibraryReports *>(reports);
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) {
        ++counts->warnings;
    } else {
        ++counts->errors;
    }
}

bool apiCompiledIn(RtMidi::Api api) {
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    return std::find(apis.begin(), apis.end(), api) != apis.end();
}

// One RtMidi object with the reports its callback counts. The object is
// destroyed first, so that its threads stop before the counts go.
template <class Port>
struct Client {
    std::unique_ptr<LibraryReports> reports = std::make_unique<LibraryReports>();
    std::unique_ptr<Port> port;

    ~Client() { close(); }
    void close() {
        if (!port) return;
        QuietErrorStream quiet;
        port.reset();
    }
};

// Without a backend (the ALSA sequencer is missing in containers, RtMidi
// throws then) the client stays empty.
template <class Port>
void connect(Client<Port> &client, RtMidi::Api api, const char *clientName) {
    if (!apiCompiledIn(api)) return;
    silenceMidiLibraries();
    QuietErrorStream quiet;
    try {
        client.port.reset(new Port(api, clientName));
        // A JACK client that finds no server says so here. RtMidi 5.0.0's
        // output then makes a new ring buffer at every later call, leaking the
        // one before: such a client is dropped, as a missing backend is.
        if (quiet.anythingWritten()) {
            client.port.reset();
            return;
        }
        client.port->setErrorCallback(countReport, client.reports.get());
    } catch (...) {
        client.port.reset();
    }
}

template <class Port>
std::vector<std::string> portNames(Client<Port> &client) {
    std::vector<std::string> names;
    if (!client.port) return names;
    try {
        unsigned count = client.port->getPortCount();
        for (unsigned index = 0; index < count; ++index) names.push_back(client.port->getPortName(index));
    } catch (...) {
        names.clear();
    }
    return names;
}

// One client per backend and the combined list they give.
template <class Port>
struct Listing {
    Client<Port> clients[2];
    // Each library's full port names, by its own numbers.
    std::vector<std::string> names[2];
    std::vector<MidiPortEntry> entries;

    explicit Listing(const char *clientName) {
        for (int backend = 0; backend < 2; ++backend) {
            connect(clients[backend], backendApis[backend], clientName);
            names[backend] = portNames(clients[backend]);
        }
        entries = combinePortLists(names[0], names[1]);
    }
    Client<Port> &clientOf(const MidiPortEntry &entry) { return clients[entry.backend == MidiBackend::system ? 0 : 1]; }
};

// Moves the entry's client into place and opens the port on it; false, with
// the client closed, when the library could not open it.
template <class Port>
bool openListed(Listing<Port> &listing, const MidiPortEntry &entry, Client<Port> &target, const char *portName) {
    Client<Port> &source = listing.clientOf(entry);
    target.reports = std::move(source.reports);
    target.port = std::move(source.port);
    QuietErrorStream quiet;
    try {
        unsigned errorsBefore = target.reports->errors;
        target.port->openPort(entry.backendIndex, portName);
        if (target.reports->errors == errorsBefore && target.port->isPortOpen()) return true;
    } catch (...) {
    }
    target.close();
    return false;
}

void copyName(CHAR *productName, const std::string &name) {
    std::memset(productName, 0, MAXPNAMELEN);
    std::memcpy(productName, name.data(), std::min<size_t>(name.size(), MAXPNAMELEN - 1));
}

// winmm copies as much of the structure as the caller says it holds.
template <class Port, class Caps>
MMRESULT fillCaps(const char *clientName, UINT_PTR deviceId, Caps *caps, UINT capsSize, Caps &full) {
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    std::vector<MidiPortEntry> entries = Listing<Port>(clientName).entries;
    if (deviceId >= entries.size()) return MMSYSERR_BADDEVICEID;
    full.wMid = unmappedId;
    full.wPid = unmappedId;
    full.vDriverVersion = driverVersion;
    copyName(full.szPname, entries[deviceId].productName);
    std::memcpy(caps, &full, std::min<size_t>(capsSize, sizeof full));
    return MMSYSERR_NOERROR;
}

bool callbackTypeKnown(DWORD_PTR callback, DWORD flags) {
    DWORD type = flags & callbackTypeMask;
    if (type == CALLBACK_NULL) return true;
    return type == CALLBACK_FUNCTION && callback != 0;
}

}  // namespace

// The handle the program holds for an open input port.
struct HMIDIIN__ {
    MidiInBufferQueue buffers;
    MIDIINPROC callback = nullptr;
    DWORD_PTR instance = 0;
    // Last, so that it is destroyed first: no message arrives after that.
    Client<RtMidiIn> client;

    void notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
        if (callback != nullptr) callback(this, message, instance, param1, param2);
    }
};

// A JACK port gets an output of our own (jack_midi_out.h says why); any
// other port RtMidi's.
struct HMIDIOUT__ {
    Client<RtMidiOut> client;
    JackMidiOut *jack = nullptr;

    ~HMIDIOUT__() { closeJackMidiOut(jack); }
};

namespace {

// RtMidi's thread: a whole message at a time. The buffer is already out of the
// queue when the callback runs, and no lock is held, so the callback may queue
// it again at once.
void receiveMessage(double, std::vector<unsigned char> *message, void *user) {
    HMIDIIN__ *handle = static_cast<HMIDIIN__ *>(user);
    if (message == nullptr || message->empty()) return;
    MIDIHDR *header = handle->buffers.fill(message->data(), message->size());
    if (header == nullptr) return;
    handle->notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), handle->buffers.elapsedMs());
}

}  // namespace

UINT midiInGetNumDevs() {
    try {
        return static_cast<UINT>(Listing<RtMidiIn>(inClientName).entries.size());
    } catch (...) {
        return 0;
    }
}

MMRESULT midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    try {
        MIDIINCAPSA full = {};
        return fillCaps<RtMidiIn>(inClientName, uDeviceID, pmic, cbmic, full);
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    if (phmi == nullptr || !callbackTypeKnown(dwCallback, fdwOpen)) return MMSYSERR_INVALPARAM;
    *phmi = nullptr;
    try {
        Listing<RtMidiIn> listing(inClientName);
        if (uDeviceID >= listing.entries.size()) return MMSYSERR_BADDEVICEID;
        const MidiPortEntry &entry = listing.entries[uDeviceID];
        std::unique_ptr<HMIDIIN__> handle(new HMIDIIN__);
        if ((fdwOpen & callbackTypeMask) == CALLBACK_FUNCTION)
            handle->callback = reinterpret_cast<MIDIINPROC>(dwCallback);
        handle->instance = dwInstance;
        // SysEx is what we are here for; timing clock and active sensing are
        // left out by RtMidi already, other short messages are dropped by the
        // buffer queue.
        RtMidiIn &port = *listing.clientOf(entry).port;
        port.ignoreTypes(false, true, true);
        port.setCallback(receiveMessage, handle.get());
        if (!openListed(listing, entry, handle->client, inPortName)) return MMSYSERR_ALLOCATED;
        *phmi = handle.release();
        (*phmi)->notify(MIM_OPEN, 0, 0);
        return MMSYSERR_NOERROR;
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    if (hmi == nullptr) return MMSYSERR_INVALHANDLE;
    return hmi->buffers.prepare(pmh, cbmh);
}

MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    if (hmi == nullptr) return MMSYSERR_INVALHANDLE;
    return hmi->buffers.unprepare(pmh, cbmh);
}

MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    if (hmi == nullptr) return MMSYSERR_INVALHANDLE;
    return hmi->buffers.add(pmh, cbmh);
}

MMRESULT midiInStart(HMIDIIN hmi) {
    if (hmi == nullptr) return MMSYSERR_INVALHANDLE;
    hmi->buffers.start();
    return MMSYSERR_NOERROR;
}

// As on Windows, every queued buffer comes back through the callback, empty.
MMRESULT midiInReset(HMIDIIN hmi) {
    if (hmi == nullptr) return MMSYSERR_INVALHANDLE;
    try {
        for (MIDIHDR *header : hmi->buffers.reset()) hmi->notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
    return MMSYSERR_NOERROR;
}

// Closing the library's port waits for its thread, so no callback runs once
// this returns. A message arriving meanwhile is dropped: reception is stopped
// first.
MMRESULT midiInClose(HMIDIIN hmi) {
    if (hmi == nullptr) return MMSYSERR_INVALHANDLE;
    if (hmi->buffers.holdsBuffers()) return MIDIERR_STILLPLAYING;
    hmi->buffers.stop();
    hmi->client.close();
    hmi->notify(MIM_CLOSE, 0, 0);
    delete hmi;
    return MMSYSERR_NOERROR;
}

UINT midiOutGetNumDevs() {
    try {
        return static_cast<UINT>(Listing<RtMidiOut>(outClientName).entries.size());
    } catch (...) {
        return 0;
    }
}

MMRESULT midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    try {
        MIDIOUTCAPSA full = {};
        full.wTechnology = midiPortTechnology;
        full.wChannelMask = 0xFFFF;
        return fillCaps<RtMidiOut>(outClientName, uDeviceID, pmoc, cbmoc, full);
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

// Only CALLBACK_NULL: sends complete before midiOutLongMsg returns, so there
// is nothing to report later.
MMRESULT midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
    if (phmo == nullptr || (fdwOpen & callbackTypeMask) != CALLBACK_NULL) return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    try {
        Listing<RtMidiOut> listing(outClientName);
        if (uDeviceID >= listing.entries.size()) return MMSYSERR_BADDEVICEID;
        const MidiPortEntry &entry = listing.entries[uDeviceID];
        std::unique_ptr<HMIDIOUT__> handle(new HMIDIOUT__);
        if (entry.backend == MidiBackend::jack && jackMidiOutBuilt()) {
            std::string destination = listing.names[1].at(entry.backendIndex);
            // The listing's clients go first, so that ours is the only one of its name.
            for (Client<RtMidiOut> &client : listing.clients) client.close();
            handle->jack = openJackMidiOut(outClientName, outPortName, destination);
            if (handle->jack == nullptr) return MMSYSERR_ALLOCATED;
        } else if (!openListed(listing, entry, handle->client, outPortName)) {
            return MMSYSERR_ALLOCATED;
        }
        *phmo = handle.release();
        return MMSYSERR_NOERROR;
    } catch (...) {
        return MMSYSERR_NOMEM;
    }
}

MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    if (hmo == nullptr) return MMSYSERR_INVALHANDLE;
    if (pmh == nullptr || cbmh < sizeof(MIDIHDR) || pmh->lpData == nullptr) return MMSYSERR_INVALPARAM;
    pmh->dwFlags = (pmh->dwFlags & ~static_cast<DWORD>(MHDR_DONE)) | MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

// The frame was handed over in midiOutLongMsg: never still playing.
MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    if (hmo == nullptr) return MMSYSERR_INVALHANDLE;
    if (pmh == nullptr || cbmh < sizeof(MIDIHDR)) return MMSYSERR_INVALPARAM;
    pmh->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

// The whole buffer goes out as one message. RtMidi copies it before it
// returns, so the caller may reuse the buffer at once. Any report from the
// library during the send (ALSA reports a failed send as a warning) fails it.
MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    if (hmo == nullptr || (!hmo->client.port && hmo->jack == nullptr)) return MMSYSERR_INVALHANDLE;
    if (pmh == nullptr || cbmh < sizeof(MIDIHDR) || pmh->lpData == nullptr) return MMSYSERR_INVALPARAM;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (hmo->jack != nullptr) {
        if (!sendJackMidi(hmo->jack, reinterpret_cast<const unsigned char *>(pmh->lpData), pmh->dwBufferLength))
            return MMSYSERR_ERROR;
        pmh->dwFlags |= MHDR_DONE;
        return MMSYSERR_NOERROR;
    }
    LibraryReports &reports = *hmo->client.reports;
    unsigned reportsBefore = reports.total();
    QuietErrorStream quiet;
    try {
        hmo->client.port->sendMessage(reinterpret_cast<const unsigned char *>(pmh->lpData), pmh->dwBufferLength);
    } catch (...) {
        return MMSYSERR_ERROR;
    }
    if (reports.total() != reportsBefore) return MMSYSERR_ERROR;
    pmh->dwFlags |= MHDR_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutClose(HMIDIOUT hmo) {
    if (hmo == nullptr) return MMSYSERR_INVALHANDLE;
    delete hmo;
    return MMSYSERR_NOERROR;
}
