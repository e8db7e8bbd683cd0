#include "platform/posix/rtmidi_quiet.h"

#include <iostream>
#include <mutex>

#ifdef __LINUX_ALSA__
#include <alsa/asoundlib.h>
#endif
#ifdef __UNIX_JACK__
#include <jack/jack.h>
#endif

namespace {

#ifdef __LINUX_ALSA__
// Without /dev/snd/seq, opening the sequencer reports through this handler.
void ignoreAlsaMessage(const char *, int, const char *, int, const char *, ...) {}
#endif

#ifdef __UNIX_JACK__
// A client that finds no server reports it through these, several lines each
// time.
void ignoreJackMessage(const char *) {}
#endif

}  // namespace

void silenceMidiLibraries() {
    static std::once_flag installed;
    std::call_once(installed, [] {
#ifdef __LINUX_ALSA__
        snd_lib_error_set_handler(ignoreAlsaMessage);
#endif
#ifdef __UNIX_JACK__
        jack_set_error_function(ignoreJackMessage);
        jack_set_info_function(ignoreJackMessage);
#endif
    });
}

int QuietErrorStream::CountingSink::overflow(int c) {
    ++written;
    return traits_type::not_eof(c);
}

std::streamsize QuietErrorStream::CountingSink::xsputn(const char *, std::streamsize count) {
    written += count;
    return count;
}

QuietErrorStream::QuietErrorStream() : saved(std::cerr.rdbuf(&sink)) {}

QuietErrorStream::~QuietErrorStream() { std::cerr.rdbuf(saved); }
