// Keeps the MIDI libraries off the console: the updater's output is its own
// texts and nothing else, whatever the libraries think of the MIDI system.
#pragma once

#include <streambuf>

// Installs silent message handlers in the ALSA and JACK libraries. Once per
// process is enough; later calls do nothing.
void silenceMidiLibraries();

// RtMidi writes to std::cerr from its constructors, before an error callback
// can be set. While one of these lives, std::cerr writes nothing, and counts
// what it was given.
class QuietErrorStream {
  public:
    QuietErrorStream();
    ~QuietErrorStream();
    QuietErrorStream(const QuietErrorStream &) = delete;
    QuietErrorStream &operator=(const QuietErrorStream &) = delete;

    // Whether a library wrote anything since this began.
    bool anythingWritten() const { return sink.written > 0; }

  private:
    struct CountingSink : std::streambuf {
        std::streamsize written = 0;
        int overflow(int c) override;
        std::streamsize xsputn(const char *, std::streamsize count) override;
    };
    CountingSink sink;
    std::streambuf *saved;
};
