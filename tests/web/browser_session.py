#!/usr/bin/env python3
"""The updater's page in headless Chromium, driven as a user drives it.

Chromium takes a minute to start in an emulated machine, so one browser
serves many runs: "serve" starts it, with a private profile, a static HTTP
server on 127.0.0.1 for the page's files and MIDI with SysEx allowed for the
page's origin, and then answers requests on a Unix socket, one at a time.
The other commands are its clients:

  serve --page DIR --socket PATH [--chromium PROGRAM]
        starts both, prints one "ready" line, serves until SIGTERM or "quit"
  run --socket PATH --kit FILE [--timeline FILE] [--screenshot FILE]
        loads the page, chooses the kit, presses start, answers the key-press
        pause and writes every byte the program wrote to standard output;
        status 1, and why on standard error, when the run did not reach its end;
        the timeline, as JSON: {"writes": the page's tarnwickTimeline,
        "sends": its tarnwickSends}
  bench --socket PATH --query QUERY   the page's benchmark figures, as JSON
  quit --socket PATH

Python's standard library only. Every wait is bounded; Chromium and the
server are ended by their own process ids, also when something fails.
"""
import argparse
import base64
import functools
import http.server
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

START_LIMIT_S = 300  # Chromium ready, the page loaded: 35 to 105 s under TCG, seen
STEP_LIMIT_S = 120  # a page load, a file chosen, a click answered, on a loaded machine under TCG
POLL_S = 0.1


class Failure(Exception):
    pass


class Cdp:
    """The DevTools protocol over --remote-debugging-pipe: NUL-terminated
    JSON, ours on the browser's fd 3, its on fd 4."""

    def __init__(self, to_browser, from_browser):
        self.to_browser = to_browser
        self.from_browser = from_browser
        self.next_id = 0
        self.replies = {}
        self.events = []  # (method, params, sessionId) of events kept
        self.closed = False
        self.lock = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        pending = b""
        while True:
            try:
                chunk = os.read(self.from_browser, 1 << 16)
            except OSError:
                chunk = b""
            if not chunk:
                break
            pending += chunk
            *messages, pending = pending.split(b"\0")
            for raw in messages:
                try:
                    message = json.loads(raw.decode("utf-8", "replace"))
                except ValueError:
                    continue  # one bad message must not stop the replies
                with self.lock:
                    if "id" in message:
                        self.replies[message["id"]] = message
                    elif message.get("method") in KEPT_EVENTS:
                        self.events.append(message)
                    self.lock.notify_all()
        with self.lock:
            self.closed = True
            self.lock.notify_all()

    def call(self, method, params=None, session=None, limit=STEP_LIMIT_S):
        with self.lock:
            self.next_id += 1
            ident = self.next_id
        message = {"id": ident, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        try:
            while data:
                data = data[os.write(self.to_browser, data):]
        except OSError as error:
            raise Failure(f"Chromium's pipe is closed ({error}) at {method}") from error
        deadline = time.monotonic() + limit
        with self.lock:
            while ident not in self.replies:
                left = deadline - time.monotonic()
                if self.closed:
                    raise Failure(f"Chromium closed its pipe at {method}")
                if left <= 0:
                    raise Failure(f"Chromium did not answer {method} in {limit} s")
                self.lock.wait(left)
            reply = self.replies.pop(ident)
        if "error" in reply:
            raise Failure(f"{method}: {reply['error'].get('message')}")
        return reply.get("result", {})

    def take_events(self):
        with self.lock:
            events, self.events = self.events, []
        return events


KEPT_EVENTS = ("Runtime.exceptionThrown", "Runtime.consoleAPICalled", "Inspector.targetCrashed")


class QuietFiles(http.server.SimpleHTTPRequestHandler):
    extensions_map = {**http.server.SimpleHTTPRequestHandler.extensions_map,
                      ".wasm": "application/wasm", ".js": "text/javascript", ".mjs": "text/javascript"}

    def end_headers(self):
        # A rebuilt page must never come from the browser's cache.
        self.send_header("Cache-Control", "no-store")
        super().end_headers()

    def log_message(self, *args):
        pass


class Browser:
    def __init__(self, page_dir, work):
        self.work = work
        handler = functools.partial(QuietFiles, directory=page_dir)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.origin = f"http://127.0.0.1:{self.httpd.server_address[1]}"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()
        self.process = None
        self.session = None

    def start(self, program):
        """Chromium started and a page of the origin loaded in it, MIDI with
        SysEx granted there, all within START_LIMIT_S."""
        deadline = time.monotonic() + START_LIMIT_S

        def left():
            return max(1, deadline - time.monotonic())

        # Granted in the profile, as a user's answer to the prompt is kept:
        # the DevTools grant once waited for ever behind a network service
        # that had crashed while starting.
        os.makedirs(os.path.join(self.work, "profile", "Default"))
        granted = {f"{self.origin},*": {"setting": 1}}
        with open(os.path.join(self.work, "profile", "Default", "Preferences"), "w") as out:
            json.dump({"profile": {"content_settings": {"exceptions": {"midi": granted, "midi_sysex": granted}}}}, out)
        ours_read, theirs_write = os.pipe()
        theirs_read, ours_write = os.pipe()
        flags = ["--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--remote-debugging-pipe", f"--user-data-dir={self.work}/profile", "about:blank"]
        env = dict(os.environ, TMPDIR=self.work, HOME=self.work)
        # The shell puts the pipes on fds 3 and 4, then becomes Chromium;
        # a session of its own lets its helpers be ended with it.
        script = f'exec "$0" "$@" 3<&{theirs_read} 4>&{theirs_write} {theirs_read}<&- {theirs_write}>&-'
        log = open(os.path.join(self.work, "chromium.log"), "wb")
        self.process = subprocess.Popen(["sh", "-c", script, program, *flags], stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=log, env=env, pass_fds=(theirs_read, theirs_write),
                                        start_new_session=True)
        log.close()
        os.close(theirs_read)
        os.close(theirs_write)
        self.cdp = Cdp(ours_write, ours_read)
        self.version = self.cdp.call("Browser.getVersion", limit=left())["product"]
        target = self.cdp.call("Target.createTarget", {"url": "about:blank"}, limit=left())["targetId"]
        self.session = self.cdp.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                     limit=left())["sessionId"]
        for domain in ("Page", "Runtime", "DOM"):
            self.call(f"{domain}.enable", limit=left())
        self.load()
        self.await_state("choose", left(), ("",))
        state = self.evaluate("navigator.permissions.query({name: 'midi', sysex: true}).then(s => s.state)",
                              limit=left())
        if state != "granted":
            raise Failure(f"MIDI with SysEx is '{state}' for {self.origin}, not 'granted'")

    def call(self, method, params=None, limit=STEP_LIMIT_S):
        return self.cdp.call(method, params, self.session, limit)

    def evaluate(self, expression, limit=STEP_LIMIT_S):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True, "awaitPromise": True},
                           limit)
        if "exceptionDetails" in result:
            raise Failure(f"the page threw at {expression!r}: {result['exceptionDetails'].get('text')}")
        return result["result"].get("value")

    def state(self):
        return self.evaluate("document.readyState === 'complete' && document.body ? "
                             "document.body.dataset.state || '' : null")

    def await_state(self, wanted, limit, allowed):
        """Polls until the page's state is wanted; a state outside allowed
        ends the wait at once."""
        deadline = time.monotonic() + limit
        while True:
            try:
                state = self.state()
            except Failure:
                state = None  # between documents
            if state == wanted:
                return
            # A start the page refused (no MIDI access, an unreadable kit)
            # returns to "ready" with a notice.
            if state == "ready" and wanted == "paused" and self.notice():
                raise Failure("the page returned to 'ready' after its start")
            if state is not None and state not in allowed:
                raise Failure(f"the page's state is '{state}', not '{wanted}'")
            if time.monotonic() > deadline:
                raise Failure(f"the page's state stayed '{state}' for {limit} s, never '{wanted}'")
            time.sleep(POLL_S)

    def load(self, query=""):
        self.cdp.take_events()
        self.call("Page.navigate", {"url": f"{self.origin}/{'?' + query if query else ''}"})

    def click(self, selector):
        """A real mouse click in the middle of the element, as a user gives it."""
        x, y = self.evaluate(f"(() => {{ const e = document.querySelector({json.dumps(selector)}); "
                             "e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect(); "
                             "return [r.x + r.width / 2, r.y + r.height / 2]; })()")
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent",
                      {"type": kind, "x": x, "y": y, "button": "left", "clickCount": 1})

    def choose_file(self, path):
        root = self.call("DOM.getDocument")["root"]["nodeId"]
        node = self.call("DOM.querySelector", {"nodeId": root, "selector": "input#kit"})["nodeId"]
        if not node:
            raise Failure("the page has no input#kit")
        self.call("DOM.setFileInputFiles", {"nodeId": node, "files": [path]})

    def notice(self):
        return (self.evaluate("document.getElementById('notice')?.innerText ?? ''") or "").strip()

    def written(self):
        return self.evaluate("window.tarnwickWritten === undefined ? null : window.tarnwickWritten") or ""

    def run(self, kit, limit, screenshot=None):
        """One update through the page: what it wrote, its timeline, and
        why it stopped short ("" when it reached its end)."""
        result = {"written": "", "timeline": {"writes": [], "sends": []}, "error": ""}
        try:
            self.load()
            self.await_state("choose", STEP_LIMIT_S, ("",))
            self.choose_file(kit)
            self.await_state("ready", STEP_LIMIT_S, ("choose",))
            self.click("button#start")
            self.await_state("paused", limit, ("ready", "running"))
            result["timeline"] = self.evaluate("({writes: window.tarnwickTimeline || [], sends: window.tarnwickSends || []})")
            if screenshot:
                png = self.call("Page.captureScreenshot", {"format": "png"})["data"]
                with open(screenshot, "wb") as out:
                    out.write(base64.b64decode(png))
            self.click("button#continue")
            self.await_state("ended", STEP_LIMIT_S, ("paused",))
        except Failure as failure:
            result["error"] = str(failure) + self.page_report()
        try:
            result["written"] = self.written()
        except Failure as failure:
            result["error"] = result["error"] or f"the page's output could not be read: {failure}"
        return result

    def bench(self, query, limit):
        self.load(query)
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            try:
                figures = self.evaluate("window.tarnwickBench === undefined ? null : window.tarnwickBench")
            except Failure:
                figures = None
            if figures is not None and self.state() == "ended":
                return figures
            time.sleep(POLL_S * 5)
        raise Failure(f"no window.tarnwickBench with the state 'ended' within {limit} s" + self.page_report())

    def page_report(self):
        try:
            lines = [f"the page's notice: {self.notice()}"] if self.notice() else []
        except Failure:
            lines = []
        for event in self.cdp.take_events():
            params = event.get("params", {})
            if event["method"] == "Runtime.exceptionThrown":
                details = params.get("exceptionDetails", {})
                lines.append("exception: " + (details.get("exception", {}).get("description") or details.get("text", "")))
            elif event["method"] == "Runtime.consoleAPICalled":
                lines.append(f"console.{params.get('type')}: " +
                             " ".join(str(arg.get("value", arg.get("description", ""))) for arg in params.get("args", [])))
            else:
                lines.append(event["method"])
        return "".join("\n  " + line for line in lines[-20:])

    def close(self):
        """Browser.close, then SIGTERM and SIGKILL to Chromium's own process
        group, each after a bounded wait."""
        self.httpd.shutdown()
        if self.process is None or self.process.poll() is not None:
            return
        try:
            self.cdp.call("Browser.close", limit=10)
        except Failure:
            pass
        for sig, grace in ((None, 10), (signal.SIGTERM, 5), (signal.SIGKILL, 5)):
            if sig is not None:
                try:
                    os.killpg(self.process.pid, sig)
                except ProcessLookupError:
                    pass
            try:
                self.process.wait(grace)
                break
            except subprocess.TimeoutExpired:
                continue
        # Helpers left in its group once it has gone.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def tail(work):
    """The end of Chromium's log, without its complaints about D-Bus, which
    no VM has."""
    with open(os.path.join(work, "chromium.log"), errors="replace") as log:
        lines = [line for line in log if "dbus" not in line]
    return "".join(lines[-30:])


def serve(args):
    work = tempfile.mkdtemp(prefix="tarnwick-browser.")
    browser = None
    page = os.path.abspath(args.page)
    stopping = threading.Event()

    def on_signal(signum, frame):
        raise SystemExit(128 + signum)

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    try:
        started = time.monotonic()
        # Chromium once hung at its start under TCG (its network service had
        # crashed): a second one, in a fresh profile, is given the same time.
        for attempt in (1, 2):
            browser = Browser(page, os.path.join(work, str(attempt)))
            try:
                browser.start(args.chromium)
                break
            except Failure as failure:
                browser.close()
                if attempt == 2:
                    raise
                print(f"browser-session: starting again: {failure}; Chromium's log, {browser.work}/chromium.log:",
                      file=sys.stderr)
                print(tail(browser.work), file=sys.stderr)
        listener.bind(args.socket)
        listener.listen(4)
        print(f"browser-session: ready: {browser.version} in {time.monotonic() - started:.0f} s, "
              f"serving {args.page} at {browser.origin}; Chromium's log: {browser.work}/chromium.log", flush=True)
        while not stopping.is_set():
            connection, _ = listener.accept()
            with connection:
                request = json.loads(connection.makefile("rb").readline())
                try:
                    if request["op"] == "run":
                        reply = browser.run(request["kit"], request["limit"], request.get("screenshot"))
                    elif request["op"] == "bench":
                        reply = {"figures": browser.bench(request["query"], request["limit"]), "error": ""}
                    else:
                        stopping.set()
                        reply = {"error": ""}
                except Failure as failure:
                    reply = {"error": str(failure)}
                connection.sendall(json.dumps(reply).encode() + b"\n")
    except Failure as failure:
        print(f"browser-session: {failure}; Chromium's log, {browser.work}/chromium.log:", file=sys.stderr)
        print(tail(browser.work), file=sys.stderr)
        return 1
    finally:
        listener.close()
        if os.path.exists(args.socket):
            os.unlink(args.socket)
        if browser is not None:
            browser.close()
    return 0


def ask(args, request, limit):
    client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    client.settimeout(limit + 2 * STEP_LIMIT_S)
    try:
        client.connect(args.socket)
        client.sendall(json.dumps(request).encode() + b"\n")
        return json.loads(client.makefile("rb").readline())
    except (OSError, ValueError) as error:
        raise Failure(f"no answer from the browser session at {args.socket}: {error}") from error
    finally:
        client.close()


def run(args):
    reply = ask(args, {"op": "run", "kit": os.path.abspath(args.kit), "limit": args.limit,
                       "screenshot": args.screenshot and os.path.abspath(args.screenshot)}, args.limit)
    written = reply["written"]
    if any(ord(char) > 255 for char in written):
        print("browser-session: tarnwickWritten holds a character above 255", file=sys.stderr)
        return 1
    sys.stdout.buffer.write(written.encode("latin-1"))
    if args.timeline:
        with open(args.timeline, "w") as out:
            json.dump(reply["timeline"], out)
    if reply["error"]:
        print(f"browser-session: {reply['error']}", file=sys.stderr)
        return 1
    return 0


def bench(args):
    reply = ask(args, {"op": "bench", "query": args.query, "limit": args.limit}, args.limit)
    if reply["error"]:
        print(f"browser-session: {reply['error']}", file=sys.stderr)
        return 1
    print(json.dumps(reply["figures"]))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "run", "bench", "quit"):
        command = commands.add_parser(name)
        command.add_argument("--socket", required=True)
        if name == "serve":
            command.add_argument("--page", required=True)
            command.add_argument("--chromium", default="chromium")
        if name == "run":
            command.add_argument("--kit", required=True)
            command.add_argument("--timeline")
            command.add_argument("--screenshot")
        if name in ("run", "bench"):
            command.add_argument("--limit", type=float, default=240, help="seconds the run may take")
        if name == "bench":
            command.add_argument("--query", required=True)
    args = parser.parse_args()
    try:
        if args.command == "serve":
            return serve(args)
        if args.command == "quit":
            return 0 if ask(args, {"op": "quit"}, STEP_LIMIT_S)["error"] == "" else 1
        return run(args) if args.command == "run" else bench(args)
    except Failure as failure:
        print(f"browser-session: {failure}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
