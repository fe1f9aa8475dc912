"""The simulated camera's RTSP side in replay mode (camsim.py --replay FILE).

Instead of one live encoder per stream, brantel-replay-server (tools/replay_server, built with the project)
plays one recorded RTP stream (scripts/make_replay_stream.sh makes it) to every session of every H.264 path
("/rtsph264<anything>"), each session paced by the recording's time stamps and looped with continuous sequence
numbers and time stamps. That keeps the source cheap enough to feed dozens of 1080p streams from one machine.

What differs from the live RTSP side:
- No authentication on RTSP; JPEG paths are not served (404).
- /setstreaming is answered and recorded as usual, but changes nothing: the recording is what it is.
- A session's first packet leaves a random 0 to --replay-stagger-ms (default 1000) after its PLAY: sessions that
  start together would otherwise send their 300 kB key frames in the same instant every second, a burst that
  made the server fall behind at 64 sessions on two busy cores and that no set of real cameras makes.
- "/camsim/rtsp" also answers "replay_pid=N" and "replay_cpu_s=S" (the server's user+system CPU so far), and
  stop|start stop and start the server's listening (every connection and session ends on stop).
- camsim prints "REPLAY-PID <pid>" before its "RTSP <port>" line, and at its end the server's
  "REPLAY-STATS cpu_user_s=U cpu_system_s=S wall_s=W packets=N bytes=B sessions=M dropped=D late=L max_late_ms=X"
  line (late: packets sent more than 20 ms after their time; a run with many is the source's fault).
"""

import glob
import os
import queue
import signal
import subprocess
import threading

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PROGRAM = "brantel-replay-server"


def find_server(explicit):
    """The server program: --replay-server, else $BRANTEL_REPLAY_SERVER, else the newest one under build/."""
    if explicit:
        return explicit
    if os.environ.get("BRANTEL_REPLAY_SERVER"):
        return os.environ["BRANTEL_REPLAY_SERVER"]
    built = glob.glob(os.path.join(REPO, "build", "*", "tools", "replay_server", PROGRAM))
    if not built:
        raise FileNotFoundError(f"no {PROGRAM}: build the target or give --replay-server")
    return max(built, key=os.path.getmtime)


def recording_head(path):
    """The name=value lines of the recording's text head."""
    fields = {}
    with open(path, "rb") as file:
        for raw in file:
            line = raw.decode("ascii", "replace").rstrip("\n")
            if not line:
                break
            name, equals, value = line.partition("=")
            if equals:
                fields[name] = value
    return fields


class ReplayStreams:
    """Stands in for camsim.CameraStreams: the same calls, answered by the replay server."""

    def __init__(self, options):
        self.options = options
        self.recording = options.replay
        self.head = recording_head(self.recording)
        self.program = find_server(options.replay_server)
        self.process = None
        self.lines = queue.Queue()
        self.lock = threading.Lock()
        self.running = False
        self.port = None
        self.last_setstreaming = None

    def start(self, _profile_text, _auth):
        self.process = subprocess.Popen(
            [self.program, "--recording", self.recording, "--bind", self.options.bind,
             "--port", str(self.options.rtsp_port), "--stagger-ms", str(self.options.replay_stagger_ms)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self._read, name="replay-server-output", daemon=True).start()
        line = self._expect(("LISTENING", "FAILED"))
        if not line.startswith("LISTENING"):
            raise OSError(f"replay server: {line}")
        self.port = int(line.split()[1])
        self.running = True
        print(f"REPLAY-PID {self.process.pid}", flush=True)
        return self.port

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())
        self.lines.put("FAILED the replay server ended")

    def _expect(self, prefixes, timeout=10.0):
        while True:
            try:
                line = self.lines.get(timeout=timeout)
            except queue.Empty:
                raise TimeoutError("the replay server did not answer in time") from None
            if line.startswith(prefixes):
                return line

    def control(self, action):
        with self.lock:
            if action == "stop" and self.running:
                self.process.send_signal(signal.SIGUSR1)
                self._expect(("STOPPED",))
                self.running = False
            elif action == "start" and not self.running:
                self.process.send_signal(signal.SIGUSR2)
                line = self._expect(("LISTENING", "FAILED"))
                if not line.startswith("LISTENING"):
                    raise OSError(line)
                self.running = True
            elif action not in ("", "stop", "start"):
                raise ValueError("action must be stop or start")
            return self.running, self.port

    def cpu_seconds(self):
        """User plus system CPU of the server so far, from /proc."""
        with open(f"/proc/{self.process.pid}/stat") as file:
            fields = file.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def control_fields(self):
        return {"replay_pid": self.process.pid, "replay_cpu_s": f"{self.cpu_seconds():.2f}"}

    def close(self):
        """Ends the server and returns its REPLAY-STATS line (None when it does not come)."""
        if self.process is None or self.process.poll() is not None:
            return None
        self.process.stdin.close()
        try:
            return self._expect(("REPLAY-STATS",), timeout=5.0)
        except TimeoutError:
            self.process.kill()
            return None

    # -- the HTTP side's changes: recorded, not followed -------------------------------------------

    def follow_auth(self, _auth):
        pass

    def follow_profiles(self, _profile_text):
        pass

    def apply_setstreaming(self, query):
        self.last_setstreaming = {"query": dict(query), "applied": False, "reason": "replay"}

    def stream_report(self, path):
        if not (path if path.startswith("/") else "/" + path).startswith("/rtsph264"):
            return None
        return {"codec": "h264", "replay": self.recording, "width": self.head.get("width"),
                "height": self.head.get("height"), "fps": self.head.get("fps"), "bitrate": self.head.get("kbit")}

    def snapshot(self):
        return {"port": self.port, "running": self.running, "auth": "none", "replay": self.recording,
                "pid": self.process.pid, "last_setstreaming": self.last_setstreaming}
