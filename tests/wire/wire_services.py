"""The wire suites' services: a kamailio registrar and proxy and SIPp far
ends, each started here by PID on loopback ports of this process's own and
stopped again, with bounded runs (SIPp gets -m and -timeout; kamailio is
stopped by PID at the end, killed if it does not go).

Ports: one block of BLOCK consecutive UDP ports, free when chosen, picked
from this process's PID so that two suites running at once use different
blocks. Offsets in the block: PROXY kamailio, FAR the SIPp far end that
answers, CALLER the SIPp far end that calls in, AGENT the wire KIRO.dll's
SIP port, FAR_MEDIA and CALLER_MEDIA the two far ends' media ports (SIPp
takes the next few too), and AGENT_RTP onward the library's RTP ports.
"""
import os
import signal
import socket
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BLOCK = 50
PROXY, FAR, CALLER, AGENT, FAR_MEDIA, CALLER_MEDIA, AGENT_RTP = 0, 1, 2, 3, 4, 10, 16
ACCOUNTS = {"agent1": "secret1", "agent2": "secret2"}


def udp_port_free(port):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def choose_block():
    start = 20000 + (os.getpid() * BLOCK) % 30000
    for attempt in range(200):
        base = 20000 + (start - 20000 + attempt * BLOCK) % 30000
        if all(udp_port_free(base + i) for i in range(BLOCK)):
            return base
    raise RuntimeError("no block of %d free UDP ports on 127.0.0.1" % BLOCK)


def port_bound(port):
    """True once a socket of any process is bound to the UDP port."""
    needle = ":%04X " % port
    with open("/proc/net/udp") as f:
        return any(needle in line.split("\n")[0][:40] for line in f)


def wait_until(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.02)
    raise RuntimeError("gave up after %d s waiting for %s" % (seconds, what))


class Services:
    def __init__(self, folder):
        self.folder = folder
        self.base = choose_block()
        self.kamailio = None
        self.sipps = []

    def port(self, offset):
        return self.base + offset

    def start_registrar(self):
        cfg = os.path.join(self.folder, "kamailio.cfg")
        with open(os.path.join(HERE, "kamailio.cfg.in")) as f:
            text = f.read().replace("@PORT@", str(self.port(PROXY)))
        with open(cfg, "w") as f:
            f.write(text)
        log = open(os.path.join(self.folder, "kamailio.log"), "ab")
        # -DD: stays in the foreground, so its PID is the one to stop; its
        # children go with it.
        self.kamailio = subprocess.Popen(
            ["kamailio", "-DD", "-E", "-f", cfg, "-Y", self.folder, "-m", "32", "-M", "4"],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
        wait_until(lambda: port_bound(self.port(PROXY)) or self.kamailio.poll() is not None, 20,
                   "kamailio to listen on port %d" % self.port(PROXY))
        if self.kamailio.poll() is not None:
            raise RuntimeError("kamailio exited at start; see %s" % log.name)

    def stop_registrar(self):
        if self.kamailio is None:
            return
        stop(self.kamailio, 10)
        self.kamailio = None
        wait_until(lambda: not port_bound(self.port(PROXY)), 10, "kamailio's port to close")

    def start_far_end(self, scenario, offset, calls_to=None, echo=False, keys={}, args=(), calls=1, seconds=30):
        """SIPp with one of our scenarios; ends after `calls` calls or `seconds`."""
        # A far end on the same port must have gone (a caller of the last call
        # may still be finishing its exit).
        for earlier in self.sipps:
            if earlier.offset == offset:
                wait_until(lambda: earlier.poll() is not None, 20, "SIPp (%s) to exit" % earlier.scenario)
        wait_until(lambda: not port_bound(self.port(offset)), 20, "port %d to be free" % self.port(offset))
        extra = args
        args = ["sipp", "-sf", os.path.join(HERE, scenario), "-i", "127.0.0.1",
                "-p", str(self.port(offset)), "-m", str(calls), "-timeout", "%ds" % seconds, "-timeout_error",
                "-nostdin", "-trace_err", "-mp", str(self.port(FAR_MEDIA if offset == FAR else CALLER_MEDIA)),
                "-mi", "127.0.0.1"]
        if echo:
            args.append("-rtp_echo")
        for key, value in keys.items():
            args += ["-key", key, value]
        args += list(extra)
        if calls_to:
            args.append(calls_to)
        log = open(os.path.join(self.folder, "sipp-%s.log" % scenario), "ab")
        sipp = subprocess.Popen(args, cwd=self.folder, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                start_new_session=True)
        sipp.scenario = scenario
        sipp.offset = offset
        self.sipps.append(sipp)
        if not calls_to:
            wait_until(lambda: port_bound(self.port(offset)) or sipp.poll() is not None, 20,
                       "SIPp (%s) to listen on port %d" % (scenario, self.port(offset)))
        return sipp

    def far_end_results(self, seconds):
        """Each far end's scenario and exit code, waiting for each in turn."""
        results = []
        for sipp in self.sipps:
            try:
                results.append((sipp.scenario, sipp.wait(timeout=seconds)))
            except subprocess.TimeoutExpired:
                stop(sipp, 5)
                results.append((sipp.scenario, "still running after %d s" % seconds))
        self.sipps = []
        return results

    def close(self):
        for sipp in self.sipps:
            stop(sipp, 5)
        self.sipps = []
        if self.kamailio is not None:
            stop(self.kamailio, 10)
            self.kamailio = None


def stop(process, seconds):
    """Stops a process we started, by its PID (and its process group)."""
    if process.poll() is not None:
        return
    try:
        os.killpg(process.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(timeout=seconds)
