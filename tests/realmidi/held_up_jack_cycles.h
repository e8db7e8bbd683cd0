// A busy machine, made to order: while one of these lives, every JACK
// process cycle that takes a port's buffer is held up inside, and the caller
// that unregisters a port is held up right after, so that a cycle is under
// way whenever whoever closed that port goes on to free what the cycle
// reads. Without load, such a close is right a thousand times in a row;
// with these, a close that does not wait for the cycle fails in a few.
#pragma once

class HeldUpJackCycles {
  public:
    HeldUpJackCycles();
    ~HeldUpJackCycles();
    HeldUpJackCycles(const HeldUpJackCycles &) = delete;
    HeldUpJackCycles &operator=(const HeldUpJackCycles &) = delete;
};
