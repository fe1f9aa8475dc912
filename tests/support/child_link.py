#!/usr/bin/python3
"""Runs a Linux peer program for a test program that runs under Wine, tied to it by one TCP connection.

Under Wine a Windows program can start a Linux program, but gets no handle on it: no exit code, no
TerminateProcess that reaches it, and Windows pipes given as its stdin or stdout do not reach it either.
So the test listens on 127.0.0.1 and starts this script instead:

    child_link.py --port PORT [--group] -- PROGRAM ARGUMENT...

It connects to the test, starts PROGRAM with a pipe as its stdin (the peers end when it closes) and
copies PROGRAM's stdout to the connection. When the test closes its side (it stops the peer, or it
ended, even killed), PROGRAM's stdin is closed and PROGRAM is sent SIGTERM, SIGKILL after 3 s; with
--group PROGRAM leads a process group of its own and the whole group is signalled (a wrapper such as
runuser passes nothing on). The connection is closed once PROGRAM has ended, so a test that waits for
the end of the stream knows the peer is gone. When PROGRAM ends first, its output goes out and the
connection is closed.
"""

import argparse
import os
import selectors
import signal
import socket
import subprocess
import sys

GRACE_SECONDS = 3.0


def stop(program, group):
    """Ends PROGRAM (its group with --group): stdin closed and SIGTERM, then SIGKILL after the grace."""
    try:
        program.stdin.close()
    except OSError:
        pass

    def signal_it(number):
        try:
            if group:
                os.killpg(program.pid, number)
            else:
                program.send_signal(number)
        except (ProcessLookupError, PermissionError):
            pass

    signal_it(signal.SIGTERM)
    try:
        program.wait(GRACE_SECONDS)
    except subprocess.TimeoutExpired:
        pass
    # A group member may outlive its leader: the group goes in any case.
    if group or program.poll() is None:
        signal_it(signal.SIGKILL)
    program.wait()


def main():
    parser = argparse.ArgumentParser(description="a Linux peer program tied to a test by a TCP connection")
    parser.add_argument("--port", type=int, required=True, help="the test's port on 127.0.0.1")
    parser.add_argument("--group", action="store_true", help="the program leads a process group of its own")
    parser.add_argument("program", nargs=argparse.REMAINDER, help="-- PROGRAM ARGUMENT...")
    options = parser.parse_args()
    command = options.program[1:] if options.program[:1] == ["--"] else options.program
    if not command:
        parser.error("no program")

    link = socket.create_connection(("127.0.0.1", options.port), timeout=10)
    link.settimeout(None)
    try:
        program = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   start_new_session=options.group)
    except OSError as error:
        link.sendall(f"FAILED cannot start {command[0]}: {error}\n".encode())
        link.close()
        return 1

    watched = selectors.DefaultSelector()
    watched.register(link, selectors.EVENT_READ, "test")
    watched.register(program.stdout, selectors.EVENT_READ, "program")
    test_gone = False
    while not test_gone:
        for key, _ in watched.select():
            if key.data == "program":
                chunk = os.read(program.stdout.fileno(), 65536)
                if not chunk:
                    # The program closed its stdout, most likely ending: the test reads the end of the stream.
                    watched.unregister(program.stdout)
                    program.wait()
                    link.close()
                    return program.returncode
                try:
                    link.sendall(chunk)
                except OSError:
                    test_gone = True
            else:
                try:
                    test_gone = not link.recv(4096)
                except OSError:
                    test_gone = True
    stop(program, options.group)
    link.close()
    return 0


if __name__ == "__main__":
    # A Ctrl-C at the console must not leave the program behind without this script's clean-up.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    sys.exit(main())
