"""What every test script prints, and its exit status.

Each check prints "ok   <name>", or "FAIL <name>" with the detail on the next line; a check
that cannot be made on this kind of machine prints "skip <name>" and why. A script ends with
the closing line "N passed, M failed" (", K skipped" follows when checks were skipped), which
CTest and CI read, and exits with the status summary() returns.

Two ways to make checks: Checks.check(name, ok, detail) for one outcome, or Checks.case(body,
*args), a whole function as one check, which fails at the first check(condition, what) in it
that does not hold (or at anything else it raises).
"""
import sys
import time
import traceback

__all__ = ["Checks", "check", "run_scenarios"]


class Checks:
    """Counts and prints the outcome of each check; a test script ends with its summary."""

    def __init__(self):
        self.passed = 0
        self.failed = 0
        self.skipped = 0

    def check(self, name, ok, detail=""):
        """One check: printed and counted; returns whether it passed."""
        if ok:
            self.passed += 1
            print("ok   " + name)
        else:
            self.failed += 1
            print("FAIL %s\n     %s" % (name, detail))
        sys.stdout.flush()
        return bool(ok)

    def skip(self, name, why):
        """A check that cannot be made on this kind of machine: said and counted, never hidden."""
        self.skipped += 1
        print("skip %s\n     skipped: %s" % (name, why))
        sys.stdout.flush()

    def case(self, body, *args):
        """Runs body(*args) as one check named after the function: it passes when the body
        returns, and fails with what a failed check(...) in it said, or with the traceback of
        anything else it raised."""
        try:
            body(*args)
        except AssertionError as e:
            return self.check(body.__name__, False, e)
        except Exception:  # noqa: BLE001 - every failure is reported and counted
            return self.check(body.__name__, False, traceback.format_exc().rstrip())
        return self.check(body.__name__, True)

    def summary(self):
        """Prints the closing line; returns the exit status: 1 when a check failed or none passed."""
        skipped = ", %d skipped" % self.skipped if self.skipped else ""
        print("%d passed, %d failed%s" % (self.passed, self.failed, skipped))
        sys.stdout.flush()
        return 1 if self.failed or not self.passed else 0


def check(condition, what):
    """Inside a Checks.case: ends the case as failed, saying `what`, unless `condition` holds."""
    if not condition:
        raise AssertionError(what)


def run_scenarios(scenarios, session, only=None):
    """Runs each scenario(session, checks) whose name contains `only`, so that one broken
    scenario never hides the others; closes the session and returns the exit status."""
    checks = Checks()
    try:
        for scenario in scenarios:
            if only and only not in scenario.__name__:
                continue
            began = time.time()
            try:
                scenario(session, checks)
            except Exception as e:  # noqa: BLE001 - reported as a failed check
                checks.check(scenario.__name__, False, "%s: %s" % (type(e).__name__, e))
            print("     (%s: %.1f s)" % (scenario.__name__, time.time() - began))
    finally:
        session.close()
    return checks.summary()
