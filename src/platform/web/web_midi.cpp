// The Windows MIDI calls over the browser's Web MIDI API, opened with SysEx
// permission by the page; web_platform.pre.js holds the JavaScript side.
// Device numbers are the browser's order of its ports, enumerated afresh at
// every call as a device may come or go; web_port_list says which are the
// system's own.
//
// The page has one thread. A message arrives as a browser event while the
// program is suspended in Sleep (or in an open), so the callback runs between
// the program's own steps, never inside one.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/midi_in_buffer_queue.h"
#include "platform/platform.h"
#include "platform/port_caps.h"
#include "platform/web/web_port_list.h"

namespace {

// Longer than any product name can be kept; a longer name is cut by the
// browser side at a whole character.
const int browserNameSize = 256;

// What the JavaScript side answers to an open; anything else means the
// browser refused to open the port (another program may hold it).
const int portOpened = 0;
const int noSuchPort = 1;

}  // namespace

EM_JS(int, tarnwick_port_count, (int output), { return Module.tarnwickPorts(output).length; });

EM_JS(void, tarnwick_port_name, (int output, int index, char *name, int size), {
    var port = Module.tarnwickPorts(output)[index];
    stringToUTF8(port && port.name ? String(port.name) : "", name, size);
});

EM_ASYNC_JS(int, tarnwick_open_port, (int output, int index), { return await Module.tarnwickOpenPort(output, index); });

EM_JS(void, tarnwick_close_port, (int output), { Module.tarnwickClosePort(output); });

EM_JS(int, tarnwick_send, (const unsigned char *bytes, int length), {
    return Module.tarnwickSend(HEAPU8.slice(bytes, bytes + length)) ? 1 : 0;
});

namespace {

std::vector<std::string> productNames(int output) {
    std::vector<std::string> names;
    int count = tarnwick_port_count(output);
    for (int index = 0; index < count; ++index) {
        char name[browserNameSize] = {};
        tarnwick_port_name(output, index, name, browserNameSize);
        names.push_back(name);
    }
    return webPortList(names);
}

// winmm copies as much of the structure as the caller says it holds.
template <class Caps>
MMRESULT fillCaps(int output, UINT_PTR deviceId, Caps *caps, UINT capsSize, Caps &full) {
    if (caps == nullptr) return MMSYSERR_INVALPARAM;
    std::vector<std::string> names = productNames(output);
    if (deviceId >= names.size()) return MMSYSERR_BADDEVICEID;
    full.wMid = unmappedId;
    full.wPid = unmappedId;
    full.vDriverVersion = driverVersion;
    std::memset(full.szPname, 0, MAXPNAMELEN);
    std::memcpy(full.szPname, names[deviceId].data(), std::min<size_t>(names[deviceId].size(), MAXPNAMELEN - 1));
    std::memcpy(caps, &full, std::min<size_t>(capsSize, sizeof full));
    return MMSYSERR_NOERROR;
}

MMRESULT openStatus(int answer) {
    if (answer == portOpened) return MMSYSERR_NOERROR;
    return answer == noSuchPort ? MMSYSERR_BADDEVICEID : MMSYSERR_ALLOCATED;
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

    void notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
        if (callback != nullptr) callback(this, message, instance, param1, param2);
    }
};

// The browser side keeps the port; the handle only says it is open.
struct HMIDIOUT__ {};

namespace {

// One port of each direction at a time, as the browser side keeps one.
HMIDIIN openIn = nullptr;
HMIDIOUT openOut = nullptr;
// Where the browser side puts each arriving message, grown to fit it.
std::vector<unsigned char> arriving;

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE unsigned char *tarnwickWebMidiInArea(int length) {
    if (length <= 0) return nullptr;
    arriving.resize(static_cast<size_t>(length));
    return arriving.data();
}

// One whole message from the browser, in the area above. As on the other
// platforms, only a SysEx message with a queued buffer reaches the callback.
EMSCRIPTEN_KEEPALIVE void tarnwickWebMidiIn(int length) {
    if (openIn == nullptr || length <= 0 || static_cast<size_t>(length) > arriving.size()) return;
    MIDIHDR *header = openIn->buffers.fill(arriving.data(), static_cast<size_t>(length));
    if (header == nullptr) return;
    openIn->notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), openIn->buffers.elapsedMs());
}

}  // extern "C"

UINT midiInGetNumDevs() { return static_cast<UINT>(productNames(0).size()); }

MMRESULT midiInGetDevCapsA(UINT_PTR uDeviceID, LPMIDIINCAPSA pmic, UINT cbmic) {
    MIDIINCAPSA full = {};
    return fillCaps(0, uDeviceID, pmic, cbmic, full);
}

MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance, DWORD fdwOpen) {
    if (phmi == nullptr || !callbackTypeKnown(dwCallback, fdwOpen)) return MMSYSERR_INVALPARAM;
    *phmi = nullptr;
    if (openIn != nullptr) return MMSYSERR_ALLOCATED;
    MMRESULT status = openStatus(tarnwick_open_port(0, static_cast<int>(uDeviceID)));
    if (status != MMSYSERR_NOERROR) return status;
    HMIDIIN handle = new HMIDIIN__;
    if ((fdwOpen & callbackTypeMask) == CALLBACK_FUNCTION) handle->callback = reinterpret_cast<MIDIINPROC>(dwCallback);
    handle->instance = dwInstance;
    openIn = handle;
    *phmi = handle;
    handle->notify(MIM_OPEN, 0, 0);
    return MMSYSERR_NOERROR;
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
    for (MIDIHDR *header : hmi->buffers.reset()) hmi->notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
    return MMSYSERR_NOERROR;
}

// No message reaches the handle once the browser side has let go of the port.
MMRESULT midiInClose(HMIDIIN hmi) {
    if (hmi == nullptr || hmi != openIn) return MMSYSERR_INVALHANDLE;
    if (hmi->buffers.holdsBuffers()) return MIDIERR_STILLPLAYING;
    hmi->buffers.stop();
    tarnwick_close_port(0);
    openIn = nullptr;
    hmi->notify(MIM_CLOSE, 0, 0);
    delete hmi;
    return MMSYSERR_NOERROR;
}

UINT midiOutGetNumDevs() { return static_cast<UINT>(productNames(1).size()); }

MMRESULT midiOutGetDevCapsA(UINT_PTR uDeviceID, LPMIDIOUTCAPSA pmoc, UINT cbmoc) {
    MIDIOUTCAPSA full = {};
    full.wTechnology = midiPortTechnology;
    full.wChannelMask = 0xFFFF;
    return fillCaps(1, uDeviceID, pmoc, cbmoc, full);
}

// Only CALLBACK_NULL: sends complete before midiOutLongMsg returns, so there
// is nothing to report later.
MMRESULT midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR, DWORD_PTR, DWORD fdwOpen) {
    if (phmo == nullptr || (fdwOpen & callbackTypeMask) != CALLBACK_NULL) return MMSYSERR_INVALPARAM;
    *phmo = nullptr;
    if (openOut != nullptr) return MMSYSERR_ALLOCATED;
    MMRESULT status = openStatus(tarnwick_open_port(1, static_cast<int>(uDeviceID)));
    if (status != MMSYSERR_NOERROR) return status;
    openOut = new HMIDIOUT__;
    *phmo = openOut;
    return MMSYSERR_NOERROR;
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

// The whole buffer goes out as one message. The browser copies it before
// send() returns, so the caller may reuse the buffer at once. A send the
// browser refuses (the port gone, a malformed message, no SysEx permission)
// fails.
MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    if (hmo == nullptr || hmo != openOut) return MMSYSERR_INVALHANDLE;
    if (pmh == nullptr || cbmh < sizeof(MIDIHDR) || pmh->lpData == nullptr) return MMSYSERR_INVALPARAM;
    if (!(pmh->dwFlags & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (pmh->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!tarnwick_send(reinterpret_cast<const unsigned char *>(pmh->lpData), static_cast<int>(pmh->dwBufferLength)))
        return MMSYSERR_ERROR;
    pmh->dwFlags |= MHDR_DONE;
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutClose(HMIDIOUT hmo) {
    if (hmo == nullptr || hmo != openOut) return MMSYSERR_INVALHANDLE;
    tarnwick_close_port(1);
    openOut = nullptr;
    delete hmo;
    return MMSYSERR_NOERROR;
}
