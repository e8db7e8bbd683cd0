// The console area's model: lines of text and a cursor, as a console shows
// what a program writes. A carriage return takes the cursor back to the start
// of its line, so that what follows overwrites the line in place (the
// progress line is redrawn so); a line feed starts a new line. The bytes are
// UTF-8, and a character may be split across two writes.
export function createTerminal() {
  const lines = [[]];
  let column = 0;
  const decoder = new TextDecoder("utf-8");

  return {
    // bytes: a Uint8Array, as the program wrote it.
    write(bytes) {
      for (const character of decoder.decode(bytes, { stream: true })) {
        if (character === "\r") {
          column = 0;
        } else if (character === "\n") {
          lines.push([]);
          column = 0;
        } else {
          lines[lines.length - 1][column] = character;
          column += 1;
        }
      }
    },
    // What the console shows, lines joined by "\n".
    text() {
      return lines.map((line) => line.join("")).join("\n");
    },
  };
}
