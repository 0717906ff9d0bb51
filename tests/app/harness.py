"""What the scripts that run the built program share: checks counted and reported in the
closing line CI reads, waiting for a condition, and stopping a process by its pid."""
import signal
import subprocess
import time

# Texts past each limit, for `kelmo --measure`: own address, subject, body.
_PAST = {"plain": ("", "", ""), "address": ("a" * 56, "", ""),
         "subject": ("", "s" * 41, ""), "message": ("", "", "a" * 334)}

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


def titles(kelmo):
    """The window's four titles as the program gives them, keyed plain, address, subject
    and message, so that the scripts do not copy them."""
    result = {}
    for key, (own, subject, body) in _PAST.items():
        out = subprocess.run([kelmo, "--measure", "--own", own, "--subject", subject],
                             input=body, capture_output=True, encoding="utf-8", check=False).stdout
        result[key] = out.rstrip("\n").split("\t", 1)[1]
    return result


def warning(all_titles, key):
    """The warning of a title (from titles()) as announced: what follows the program's
    name."""
    return all_titles[key][len(all_titles["plain"]):].strip()


def report():
    """Prints the closing line and gives the exit status."""
    print(f"{len(passes)} passed, {len(failures)} failed", flush=True)
    return 1 if failures else 0
