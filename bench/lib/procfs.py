"""Helpers the Python benches share: loopback ports and what /proc says of a process."""

import os
import socket
import subprocess
import sys
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, seconds=5.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.02)
    return False


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_seconds(pid):
    """User and system time the process has had, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def in_private_network(script, flag):
    """Runs script again (with this process's arguments) in a network namespace of its
    own with only loopback up, so that nothing the program under test does (a host
    name in a list handed to it is looked up) can leave the machine; returns only
    inside it. flag names the environment variable that says it is inside."""
    if os.environ.get(flag) == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        return
    env = dict(os.environ, **{flag: "1"})
    unshare = ["unshare", "--net"] + ([] if os.geteuid() == 0 else ["--map-root-user"])
    sys.exit(subprocess.call(unshare + ["--", sys.executable, os.path.abspath(script)] + sys.argv[1:], env=env))
