#!/usr/bin/env python3
"""The SIP session of ./dev demo over real SIP: starts kamailio and two SIPp
far ends on loopback (tests/wire/wire_services.py), runs the console's
session (sip_wire.tvs.in) on the SIP plug-in beside the wire KIRO.dll, and
shows each SIP message's first line from the library's KIRO_TRACE as it
passes, among the console's own lines. Stops every service it started.

    sip_wire_demo.py WINE_RUN FOLDER   (FOLDER holds tvconsole.exe, the
                                        plug-in, the wire KIRO.dll and res/)
"""
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "wire"))
import wire_services as ws  # noqa: E402


def follow(path, stop):
    """Prints the trace's lines as they come, until stop is set and all is read."""
    while not os.path.exists(path) and not stop.is_set():
        time.sleep(0.02)
    if not os.path.exists(path):
        return
    with open(path, errors="replace") as f:
        while True:
            line = f.readline()
            if line:
                # With the library's own time: the console's lines may come first.
                print("  SIP %s" % line.rstrip(), flush=True)
            elif stop.is_set():
                return
            else:
                time.sleep(0.02)


def main():
    wine_run, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    services = ws.Services(folder)
    try:
        services.start_registrar()
        services.start_far_end("answer.xml", ws.FAR, echo=True, keys={"law": "PCMU", "law_pt": "0"})
        services.start_far_end("busy.xml", ws.CALLER)
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "sip_wire.tvs.in")) as f:
            script = (f.read().replace("@PROXY@", "127.0.0.1:%d" % services.port(ws.PROXY))
                      .replace("@ANSWERS@", "sip:far@127.0.0.1:%d" % services.port(ws.FAR))
                      .replace("@BUSY@", "sip:far@127.0.0.1:%d" % services.port(ws.CALLER)))
        with open(os.path.join(folder, "sip_wire.tvs"), "w") as f:
            f.write(script)
        trace = os.path.join(folder, "trace.txt")
        env = dict(os.environ, WINE_RUN_LIVE="1", KIRO_SIP_ADDR="127.0.0.1:%d" % services.port(ws.AGENT),
                   KIRO_RTP_BASE=str(services.port(ws.AGENT_RTP)), KIRO_TRACE="Z:" + trace.replace("/", "\\"))
        stop = threading.Event()
        follower = threading.Thread(target=follow, args=(trace, stop))
        follower.start()
        rc = subprocess.run([wine_run, "tvconsole.exe", "BRAVIK32.dll", "sip_wire.tvs"], cwd=folder, env=env,
                            stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120).returncode
        stop.set()
        follower.join()
        for scenario, code in services.far_end_results(30):
            print("far end %s: %s" % (scenario, "its scenario completed" if code == 0 else "ended with %s" % code))
        return rc
    finally:
        services.close()


if __name__ == "__main__":
    sys.exit(main())
