"""What the scripts that run the built program share: checks counted and reported in the
closing line CI reads, waiting for a condition, and stopping a process by its pid."""
import signal
import subprocess
import time

failures = []
passes = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail), flush=True)
    (passes if ok else failures).append(name)


def wait_until(condition, seconds):
    """The condition's first true value within the time, or None."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        result = condition()
        if result:
            return result
        time.sleep(0.05)
    return None


def stop(process):
    if process is not None and process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(5)


def report():
    """Prints the closing line and gives the exit status."""
    print(f"{len(passes)} passed, {len(failures)} failed", flush=True)
    return 1 if failures else 0
