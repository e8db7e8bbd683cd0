// The box's faults written as text, "key=value,key,...", read the same way by
// tarnwick-target's options, the Windows stand-in's environment and the
// tests' tables, so that a fault is named and read in one place:
//
//   silent                   answers nothing
//   write-resends            writes a resent record again
//   latency=MS               delay of every answer
//   abandon-after=MS         a record whose frames stop this long is dropped (0: never)
//   handshake=HH             the code the handshake is answered with
//   handshake-again=MS       every handshake answered a second time this much later
//   verdicts=HH/HH/...       codes for record attempts 1, 2, ...
//   final-size=N             77 once the image holds N bytes
//   silent-after=N           stops answering once N records are written
//   fail-after=N             the input refuses every frame after the Nth
//   long-replies=N:HH        every answer N bytes long, data bytes HH after its code
//   no-reply=N/N/...         record attempts left unanswered
//   no-handshake-reply=N/... handshakes left unanswered
//   late-reply=N:MS/...      record attempt N answered after MS instead
//   late-handshake=N:MS/...  handshake N answered after MS instead; N may be
//                            a range such as 1-19
//
// Codes are hexadecimal (1A or 0x1A); attempts are decimal and count from 1;
// other numbers read as in C (10, 0x0A and 012 alike). In a list, an element
// followed by *N stands for N copies of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device_model.h"

namespace device {

// Sets the fault named key from its value; a list takes one element per call
// and adds it. Throws std::invalid_argument with the reason.
void setFault(Faults &faults, const std::string &key, const std::string &value);

// A whole fault text; "" is a sound box. Throws std::invalid_argument.
Faults parseFaults(const std::string &text);

// "20", "0x20" and "0X20" are all the reply code 0x20. Only SysEx data
// bytes (below 0x80) can be sent. Throws std::invalid_argument.
uint8_t parseReplyCode(const std::string &text);

// The pieces between the separators, empty ones included: "a||b" gives
// "a", "", "b" and "" gives one empty piece.
std::vector<std::string> splitText(const std::string &text, char separator);

}  // namespace device
