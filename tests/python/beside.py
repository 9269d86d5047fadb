"""Running a call on another thread: beside this one, or on a small stack."""
import threading
import time


def run_beside(work):
    """Runs `work` on a new thread and returns its result together with how
    many times this thread got to run Python code meanwhile. An error of
    `work` is raised here."""
    done = threading.Event()
    outcome = {}

    def target():
        try:
            outcome["result"] = work()
        except BaseException as error:  # raised again below
            outcome["error"] = error
        done.set()

    worker = threading.Thread(target=target)
    ticks = 0
    worker.start()
    while not done.is_set():
        ticks += 1
        time.sleep(0)
    worker.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["result"], ticks


def on_small_stack(work, stack_size=256 * 1024):
    """Runs `work` on a new thread whose stack holds `stack_size` bytes, and
    returns {"value": result} or {"error": exception}."""
    outcome = {}

    def target():
        try:
            outcome["value"] = work()
        except BaseException as error:  # reported to the caller
            outcome["error"] = error

    previous = threading.stack_size(stack_size)
    try:
        worker = threading.Thread(target=target)
        worker.start()
        worker.join()
    finally:
        threading.stack_size(previous)
    return outcome
