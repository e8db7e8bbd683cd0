// The web platform's JavaScript side, built into the program's module: the
// C++ in this folder calls these through EM_JS. Whoever makes the module (the
// page, the wait benchmark) gives it Module.tarnwickHost:
//   midi         the MIDIAccess, granted with SysEx, or null: no ports;
//   kit          {name, bytes} of the file the user chose, or null;
//   write(bytes) every byte the program writes to standard output, a
//                Uint8Array per write, in order (a line written by puts may
//                come as its text and its line end);
//   pause()      a promise that settles when the key-press prompt is answered;
//   ended()      the run is over (after the pause); the program calls
//                Module.tarnwickRunEnded(), which tells it;
//   sent(ms)     optional: a SysEx message went out, and port.send held the
//                page for ms (it returns once the browser has the message).
// Nothing thrown here reaches the program: a failure is a status it knows.

// The one folder the program's directory search sees: it holds the chosen
// kit under its own name, or nothing.
Module.preRun = [].concat(Module.preRun || [], function () {
  FS.mkdir("/kit");
  var kit = Module.tarnwickHost.kit;
  if (kit) {
    try {
      FS.writeFile("/kit/" + kit.name, kit.bytes);
    } catch (e) {
      // A name the file system refuses: the search finds nothing, and the
      // program says so.
    }
  }
  FS.chdir("/kit");
  // Emscripten's own console output goes line by line to console.log, line
  // ends dropped; the page needs every byte, carriage returns included.
  addOnPreMain(function () {
    var stream = FS.getStream(1);
    stream.stream_ops = Object.assign({}, stream.stream_ops, {
      write: function (stream, buffer, offset, length) {
        if (length > 0) Module.tarnwickHost.write(new Uint8Array(buffer.buffer, buffer.byteOffset + offset, length).slice());
        return length;
      },
    });
  });
});

// Waits keep their length. A browser holds a timer set from a timer's own
// callback, five deep, to at least 4 ms, which would make 100 sleeps of 1 ms
// last 400: a timer shorter than that is set from a MessageChannel message
// instead, which is no timer and is never held back. A timer may also fire a
// little late, so it covers a wait only up to tarnwickTimerLateness before its
// end; the rest, and every short wait, goes in message steps. A hidden tab's
// timers are slowed to a second or more, so there the whole wait goes in steps.
var tarnwickTimerLateness = 1.5;
var tarnwickUnheldTimer = 4;
var tarnwickStepChannel = new MessageChannel();
var tarnwickSteps = [];
tarnwickStepChannel.port1.onmessage = function () {
  var step = tarnwickSteps.shift();
  if (step) step();
};

function tarnwickNextStep(step) {
  tarnwickSteps.push(step);
  tarnwickStepChannel.port2.postMessage(0);
}

// Even a wait of nothing lets the browser deliver what has arrived. A step
// may come late: the timer it sets is for what is left by then.
Module.tarnwickWaitFor = function (ms) {
  var deadline = performance.now() + ms;
  return new Promise(function (resolve) {
    if (ms <= 0) return tarnwickNextStep(resolve);
    (function check() {
      var left = deadline - performance.now();
      if (left <= 0) {
        resolve();
      } else if (document.hidden || left <= tarnwickTimerLateness) {
        tarnwickNextStep(check);
      } else if (left - tarnwickTimerLateness >= tarnwickUnheldTimer) {
        setTimeout(check, left - tarnwickTimerLateness);
      } else {
        tarnwickNextStep(function () {
          setTimeout(check, Math.max(0, deadline - performance.now() - tarnwickTimerLateness));
        });
      }
    })();
  });
};

// The run is over and waits no more: the channel is closed, as a port that
// listens would keep this module alive after the page has let go of it.
Module.tarnwickRunEnded = function () {
  tarnwickStepChannel.port1.close();
  Module.tarnwickHost.ended();
};

// Ports in the browser's order; none without MIDI access.
Module.tarnwickPorts = function (output) {
  var midi = Module.tarnwickHost.midi;
  if (!midi) return [];
  return Array.from((output ? midi.outputs : midi.inputs).values());
};

// The open port of each direction: [input, output].
Module.tarnwickOpen = [null, null];

// 0 opened, 1 no such port, 2 the browser refused to open it.
Module.tarnwickOpenPort = async function (output, index) {
  var port = Module.tarnwickPorts(output)[index];
  if (!port) return 1;
  try {
    await port.open();
  } catch (e) {
    return 2;
  }
  if (!output) {
    port.onmidimessage = function (event) {
      var data = event.data;
      if (ABORT || !data || !data.length) return;
      var at = Module._tarnwickWebMidiInArea(data.length);
      if (!at) return;
      HEAPU8.set(data, at);
      Module._tarnwickWebMidiIn(data.length);
    };
  }
  Module.tarnwickOpen[output] = port;
  return 0;
};

Module.tarnwickClosePort = function (output) {
  var port = Module.tarnwickOpen[output];
  Module.tarnwickOpen[output] = null;
  if (!port) return;
  if (!output) port.onmidimessage = null;
  port.close().catch(function () {});
};

Module.tarnwickSend = function (bytes) {
  var port = Module.tarnwickOpen[1];
  if (!port) return false;
  var started = performance.now();
  try {
    port.send(bytes);
  } catch (e) {
    return false;
  }
  if (Module.tarnwickHost.sent) Module.tarnwickHost.sent(performance.now() - started);
  return true;
};
