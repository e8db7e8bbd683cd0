// The page around the updater: the kit, the start, the console, the pause,
// and the messages of the page's own about the browser.
//
// What a test harness may rely on (keep it so):
// - elements: input#kit (type=file), button#start, pre#console (the console
//   area), #notice (the page's own messages, outside the program's output),
//   button#continue (answers the key-press prompt, as any key does);
// - document.body.dataset.state, set once the page is ready: "choose" (no kit yet), "ready" (a kit
//   chosen), "running", "paused" (at the key-press prompt), "ended" (after
//   the prompt was answered);
// - window.tarnwickWritten: every byte the program wrote to standard output,
//   in order, one character (code 0-255) per byte, whatever the console shows;
// - window.tarnwickTimeline: one {ms, bytes} per write: ms is performance.now()
//   less the moment the start button was pressed, bytes that write's bytes as
//   in tarnwickWritten;
// - window.tarnwickSends: how long each SysEx send held the page, in ms, in
//   order;
// - ?bench=sleep: instead of the updater, measures the program's waits and
//   puts them into pre#console and window.tarnwickBench (name -> {wanted,
//   mean, longest}, in ms).
// Each start runs the program afresh, as a new process: a second run after
// "ended" needs no reload, and starts both globals empty again.
import { createTerminal } from "./terminal.js";

const kitInput = document.getElementById("kit");
const startButton = document.getElementById("start");
const consoleArea = document.getElementById("console");
const noticeArea = document.getElementById("notice");
const continueButton = document.getElementById("continue");

const notices = {
  insecure:
    "This page must be opened from an https:// address or from localhost: browsers give MIDI devices only to such pages.",
  noWebMidi:
    "This browser has no Web MIDI, so it cannot reach the Tarnwick Box. Web MIDI is in Chrome, Edge and Opera, " +
    "and in Firefox on the desktop through its site permission. Safari and every browser on iPhone and iPad have none.",
  refused:
    "The browser did not allow this page to use MIDI devices with SysEx messages, which the update needs. " +
    "Allow MIDI for this site (in the site settings beside the address bar), then start the update again.",
  noMidiSystem:
    "The browser could not reach this computer's MIDI system, so it cannot reach the Tarnwick Box. " +
    "Check that the computer sees the device, then start the update again.",
  hidden:
    "This tab was hidden while the update ran. Browsers slow hidden tabs down, which can upset the update: " +
    "keep this tab in front until the update has ended.",
};

let chosenKit = null;
let midiAccess = null;
let startedAt = 0;
let terminal = null;
let answerPause = null;

window.tarnwickWritten = "";
window.tarnwickTimeline = [];
window.tarnwickSends = [];

function setState(state) {
  document.body.dataset.state = state;
  const busy = state === "running" || state === "paused";
  startButton.disabled = busy || chosenKit === null || !hasWebMidi();
  kitInput.disabled = busy;
  continueButton.hidden = state !== "paused";
}

function showNotice(key, detail) {
  let paragraph = noticeArea.querySelector(`[data-notice="${key}"]`);
  if (!paragraph) {
    paragraph = document.createElement("p");
    paragraph.dataset.notice = key;
    noticeArea.append(paragraph);
  }
  paragraph.textContent = detail ?? notices[key];
  noticeArea.hidden = false;
}

function clearNotice(key) {
  noticeArea.querySelector(`[data-notice="${key}"]`)?.remove();
  noticeArea.hidden = noticeArea.childElementCount === 0;
}

function hasWebMidi() {
  return typeof navigator.requestMIDIAccess === "function";
}

function chooseKit(file) {
  if (!file) return;
  chosenKit = file;
  clearNotice("unreadable");
  setState("ready");
}

// One character per byte, so that the text keeps every byte as written.
function byteText(bytes) {
  let text = "";
  for (const byte of bytes) text += String.fromCharCode(byte);
  return text;
}

function loadScript(src) {
  return new Promise((resolve, reject) => {
    const script = document.createElement("script");
    script.src = src;
    script.onload = resolve;
    script.onerror = () => reject(new Error(`${src} could not be loaded`));
    document.head.append(script);
  });
}

// Each program's script is loaded once; one that failed to load is tried
// again at the next start.
const loadedPrograms = {};
function loadProgram(script, factory) {
  loadedPrograms[script] ??= loadScript(script).then(
    () => window[factory],
    (failure) => {
      delete loadedPrograms[script];
      throw failure;
    },
  );
  return loadedPrograms[script];
}

// Starts one program, as a fresh module; it then runs by itself and reaches
// the page through the host (see web_platform.pre.js).
async function runProgram(script, factory, host) {
  const written = (bytes) => {
    const text = byteText(bytes);
    window.tarnwickWritten += text;
    window.tarnwickTimeline.push({ ms: performance.now() - startedAt, bytes: text });
    terminal.write(bytes);
    consoleArea.textContent = terminal.text();
  };
  const create = await loadProgram(script, factory);
  await create({
    tarnwickHost: Object.assign({ write: written }, host),
    print: () => {},
    printErr: () => {},
    onAbort: (what) => {
      showNotice("stopped", `The update program stopped unexpectedly (${what}). Reload the page to try again.`);
      setState("ended");
    },
  });
}

// A start begins with nothing written, whether the program then runs or not.
function beginStart() {
  startedAt = performance.now();
  terminal = createTerminal();
  consoleArea.textContent = "";
  window.tarnwickWritten = "";
  window.tarnwickTimeline = [];
  window.tarnwickSends = [];
}

function pauseForKey() {
  setState("paused");
  // A long output pushes the button below a small window's edge.
  continueButton.scrollIntoView({ block: "nearest" });
  return new Promise((resolve) => {
    answerPause = resolve;
  });
}

function answerThePause() {
  if (document.body.dataset.state !== "paused" || answerPause === null) return;
  const resolve = answerPause;
  answerPause = null;
  continueButton.hidden = true;
  resolve();
}

async function startUpdate() {
  if (chosenKit === null || !hasWebMidi()) return;
  beginStart();
  setState("running");
  clearNotice("hidden");
  clearNotice("stopped");
  try {
    midiAccess ??= await navigator.requestMIDIAccess({ sysex: true });
    clearNotice("refused");
  } catch (failure) {
    // A refusal is the user's or the site settings'; anything else means the
    // browser found no MIDI system to offer (Linux without the ALSA sequencer).
    if (failure.name === "NotAllowedError" || failure.name === "SecurityError") showNotice("refused");
    else showNotice("refused", `${notices.noMidiSystem} (${failure.name}: ${failure.message})`);
    setState("ready");
    return;
  }
  let bytes;
  try {
    bytes = new Uint8Array(await chosenKit.arrayBuffer());
  } catch (failure) {
    showNotice("unreadable", `The chosen file could not be read (${failure.message}). Choose the kit again.`);
    setState("ready");
    return;
  }
  try {
    await runProgram("tarnwick-update.js", "createTarnwickUpdate", {
      midi: midiAccess,
      kit: { name: chosenKit.name, bytes },
      pause: pauseForKey,
      ended: () => setState("ended"),
      sent: (ms) => window.tarnwickSends.push(ms),
    });
  } catch (failure) {
    showNotice("stopped", `The update program could not be started (${failure.message ?? failure}).`);
    setState("ready");
  }
}

async function runSleepBench() {
  window.tarnwickBench = {};
  beginStart();
  setState("running");
  try {
    await runProgram("tarnwick-web-bench.js", "createTarnwickWebBench", {
      midi: null,
      kit: null,
      pause: () => Promise.resolve(),
      ended: () => setState("ended"),
      benchResult: (name, wanted, mean, longest) => {
        window.tarnwickBench[name] = { wanted, mean, longest };
      },
    });
  } catch (failure) {
    showNotice("stopped", `The wait benchmark could not be started (${failure.message ?? failure}).`);
    setState("ended");
  }
}

const modifierKeys = new Set(["Shift", "Control", "Alt", "AltGraph", "Meta", "CapsLock", "NumLock", "ScrollLock", "Fn"]);
document.addEventListener("keydown", (event) => {
  if (document.body.dataset.state !== "paused" || modifierKeys.has(event.key)) return;
  event.preventDefault();
  answerThePause();
});
continueButton.addEventListener("click", answerThePause);

kitInput.addEventListener("change", () => chooseKit(kitInput.files[0]));
startButton.addEventListener("click", startUpdate);

document.addEventListener("dragover", (event) => {
  event.preventDefault();
  document.body.classList.add("dragging");
});
document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dragging");
  const state = document.body.dataset.state;
  if (state === "running" || state === "paused") return;
  chooseKit(event.dataTransfer.files[0]);
});

document.addEventListener("visibilitychange", () => {
  const state = document.body.dataset.state;
  if (document.hidden && state === "running") showNotice("hidden");
});

if (!window.isSecureContext) showNotice("insecure");
else if (!hasWebMidi()) showNotice("noWebMidi");

if (new URLSearchParams(location.search).get("bench") === "sleep") runSleepBench();
else setState("choose");
