// The web platform's JavaScript side, built into the program's module: the
// C++ in this folder calls these through EM_JS. Whoever makes the module (the
// page, the wait benchmark) gives it Module.tarnwickHost:
//   midi         the MIDIAccess, granted with SysEx, or null: no ports;
//   kit          {name, bytes} of the file the user chose, or null;
//   write(bytes) every byte the program writes to standard output, a
//                Uint8Array per write, in order;
//   pause()      a promise that settles when the key-press prompt is answered;
//   ended()      the run is over (after the pause).
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
  addOnPreMain(function () {
    var stream = FS.getStream(1);
    stream.stream_ops = Object.assign({}, stream.stream_ops, {
      write: function (stream, buffer, offset, length) {
        Module.tarnwickHost.write(new Uint8Array(buffer.buffer, buffer.byteOffset + offset, length).slice());
        return length;
      },
    });
  });
});

// Waits keep their length. A browser holds a timer set from a timer's own
// callback, five deep, to at least 4 ms, which would make 100 sleeps of 1 ms
// last 400: every timer here is set from a MessageChannel message instead,
// which is no timer and is never held back. A timer may also fire a little
// late, so it covers a wait only up to timerLateness before its end; the rest,
// and every short wait, goes in message steps. A hidden tab's timers are
// slowed to a second or more, so there the whole wait goes in steps.
Module.tarnwickWaitFor = (function () {
  var timerLateness = 1.5;
  var channel = new MessageChannel();
  var steps = [];
  channel.port1.onmessage = function () {
    var step = steps.shift();
    if (step) step();
  };
  function nextStep(step) {
    steps.push(step);
    channel.port2.postMessage(0);
  }
  return function (ms) {
    var deadline = performance.now() + ms;
    return new Promise(function (resolve) {
      (function check() {
        var left = deadline - performance.now();
        if (left <= 0) {
          resolve();
        } else if (left > timerLateness && !document.hidden) {
          nextStep(function () {
            setTimeout(check, left - timerLateness);
          });
        } else {
          nextStep(check);
        }
      })();
    });
  };
})();

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
  try {
    port.send(bytes);
    return true;
  } catch (e) {
    return false;
  }
};
