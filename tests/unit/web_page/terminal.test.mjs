// The page's console area: what it shows for what the program writes.
// Run with: node --test tests/unit/web_page/terminal.test.mjs
import assert from "node:assert/strict";
import { test } from "node:test";

import { createTerminal } from "../../../src/platform/web/page/terminal.js";

const bytes = (text) => Uint8Array.from(text, (character) => character.charCodeAt(0));
const progress = (glyph, percent) => `\r                        \rTransferring.. ${glyph} ${percent}% done`;

const cases = [
  {
    label: "a Windows line end and a plain one both end the line",
    writes: ["MIDI IN DEVICE: USB Device\r\n", "MIDI OUT DEVICE: USB Device\r\n", "next\n"],
    shown: "MIDI IN DEVICE: USB Device\nMIDI OUT DEVICE: USB Device\nnext\n",
  },
  {
    label: "the progress line is redrawn in place, its end overwrites it",
    writes: ["x\r\n", progress("-", 0), progress("-", 48), progress("\\", 96), "\rTransferring.. 100% done.  \n", "Target update successfully!\n\n"],
    shown: "x\nTransferring.. 100% done.  \nTarget update successfully!\n\n",
  },
  {
    label: "a shorter text after a carriage return overwrites only its own width",
    writes: ["Transferring.. | 100% done", "\rTransferring.. 9"],
    shown: "Transferring.. 9 100% done",
  },
  {
    label: "a message after the progress line stands below it",
    writes: [progress("/", 50), "\nThe CRC of the download file is error!\n", progress("/", 50)],
    shown: "Transferring.. / 50% done\nThe CRC of the download file is error!\nTransferring.. / 50% done",
  },
  {
    label: "a UTF-8 name split across two writes is one character",
    writes: ["OK: File 'Tarnwick_Box_\xC3", "\xA9.kit' is open.\n"],
    shown: "OK: File 'Tarnwick_Box_\u00E9.kit' is open.\n",
  },
];

for (const { label, writes, shown } of cases) {
  test(label, () => {
    const terminal = createTerminal();
    for (const write of writes) terminal.write(bytes(write));
    assert.equal(terminal.text(), shown);
  });
}
