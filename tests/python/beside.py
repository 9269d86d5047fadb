"""Running a call on another thread while this one keeps going."""
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
