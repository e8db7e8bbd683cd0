// Runs the page's wait benchmark in headless Chromium and prints what it
// measured: node bench/web_bench_chromium.mjs http://localhost:8000/?bench=sleep
// Chromium is driven over its DevTools pipe (no packages needed); it is
// started with a private profile and ended by its own process id.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const url = process.argv[2] ?? "http://localhost:8000/?bench=sleep";
const chromium = process.env.CHROMIUM ?? "chromium";
const limitMs = 120000;

const profile = mkdtempSync(join(tmpdir(), "tarnwick-bench-chromium-"));
const browser = spawn(
  chromium,
  ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
   "--disable-component-update", "--disable-sync", `--user-data-dir=${profile}`, "--remote-debugging-pipe",
   "about:blank"],
  { stdio: ["ignore", "ignore", "ignore", "pipe", "pipe"] },
);

let nextId = 1;
const waiting = new Map();
let received = "";
browser.stdio[4].on("data", (chunk) => {
  received += chunk.toString();
  let end;
  while ((end = received.indexOf("\0")) >= 0) {
    const message = JSON.parse(received.slice(0, end));
    received = received.slice(end + 1);
    const handler = waiting.get(message.id);
    if (handler) {
      waiting.delete(message.id);
      handler(message);
    }
  }
});

function send(method, params = {}, sessionId) {
  const id = nextId++;
  browser.stdio[3].write(JSON.stringify({ id, method, params, sessionId }) + "\0");
  return new Promise((resolve, reject) =>
    waiting.set(id, (message) => (message.error ? reject(new Error(message.error.message)) : resolve(message.result))),
  );
}

function finish(code) {
  browser.once("exit", () => {
    rmSync(profile, { recursive: true, force: true });
    process.exit(code);
  });
  browser.kill();
}

const timer = setTimeout(() => {
  console.error(`no result within ${limitMs / 1000} s`);
  finish(1);
}, limitMs);

try {
  const { targetId } = await send("Target.createTarget", { url });
  const { sessionId } = await send("Target.attachToTarget", { targetId, flatten: true });
  const evaluate = async (expression) =>
    (await send("Runtime.evaluate", { expression, returnByValue: true }, sessionId)).result.value;
  while ((await evaluate("document.body && document.body.dataset.state")) !== "ended") {
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  console.log(await evaluate("document.getElementById('console').textContent"));
  console.log(await evaluate("JSON.stringify(window.tarnwickBench)"));
  console.log("visibility:", await evaluate("document.visibilityState"));
  console.log("notice:", JSON.stringify(await evaluate("document.getElementById('notice').textContent")));
  clearTimeout(timer);
  finish(0);
} catch (failure) {
  console.error(failure.message);
  finish(1);
}
