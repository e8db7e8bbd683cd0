#include "platform/posix/jack_midi_out.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

// As RtMidi sizes its own: far more than the largest frame.
const size_t ringSize = 16384;
const int drainWaitMs = 1000;

struct JackMidiOut {
    jack_client_t *client = nullptr;
    jack_port_t *port = nullptr;
    jack_ringbuffer_t *ring = nullptr;
    // Counts finished process cycles, so that closing can wait for the one
    // that carried the last message.
    std::atomic<uint32_t> cycles{0};
};

namespace {

// JACK's process thread: every whole message waiting in the ring goes into
// this cycle's port buffer, each as [size][bytes].
int processOut(jack_nframes_t frames, void *arg) {
    JackMidiOut *out = static_cast<JackMidiOut *>(arg);
    void *buffer = jack_port_get_buffer(out->port, frames);
    uint32_t size = 0;
    if (buffer != nullptr) jack_midi_clear_buffer(buffer);
    while (buffer != nullptr && jack_ringbuffer_peek(out->ring, reinterpret_cast<char *>(&size), sizeof size) == sizeof size &&
           jack_ringbuffer_read_space(out->ring) >= sizeof size + size) {
        jack_ringbuffer_read_advance(out->ring, sizeof size);
        jack_midi_data_t *event = jack_midi_event_reserve(buffer, 0, size);
        if (event != nullptr) {
            jack_ringbuffer_read(out->ring, reinterpret_cast<char *>(event), size);
        } else {
            jack_ringbuffer_read_advance(out->ring, size);
        }
    }
    out->cycles.fetch_add(1, std::memory_order_release);
    return 0;
}

void release(JackMidiOut *out) {
    // Stops and joins the process thread before anything it reads is freed.
    if (out->client != nullptr) jack_client_close(out->client);
    if (out->ring != nullptr) jack_ringbuffer_free(out->ring);
    delete out;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

bool jackMidiOutBuilt() { return true; }

JackMidiOut *openJackMidiOut(const char *clientName, const char *portName, const std::string &destination) {
    JackMidiOut *out = new JackMidiOut;
    out->ring = jack_ringbuffer_create(ringSize);
    out->client = jack_client_open(clientName, JackNoStartServer, nullptr);
    if (out->ring == nullptr || out->client == nullptr) {
        release(out);
        return nullptr;
    }
    out->port = jack_port_register(out->client, portName, JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (out->port == nullptr || jack_set_process_callback(out->client, processOut, out) != 0 ||
        jack_activate(out->client) != 0 ||
        (!destination.empty() && jack_connect(out->client, jack_port_name(out->port), destination.c_str()) != 0)) {
        release(out);
        return nullptr;
    }
    return out;
}

bool sendJackMidi(JackMidiOut *out, const unsigned char *data, size_t size) {
    uint32_t length = static_cast<uint32_t>(size);
    if (size == 0 || jack_ringbuffer_write_space(out->ring) < sizeof length + size) return false;
    jack_ringbuffer_write(out->ring, reinterpret_cast<const char *>(&length), sizeof length);
    jack_ringbuffer_write(out->ring, reinterpret_cast<const char *>(data), size);
    return true;
}

void closeJackMidiOut(JackMidiOut *out) {
    if (out == nullptr) return;
    // The cycle that empties the ring has filled the port's buffer, the one
    // after it has surely delivered it.
    int waitedMs = 0;
    while (jack_ringbuffer_read_space(out->ring) > 0 && waitedMs < drainWaitMs) {
        sleepMs(1);
        ++waitedMs;
    }
    uint32_t emptiedBy = out->cycles.load(std::memory_order_acquire);
    while (out->cycles.load(std::memory_order_acquire) - emptiedBy < 2 && waitedMs < drainWaitMs) {
        sleepMs(1);
        ++waitedMs;
    }
    release(out);
}
