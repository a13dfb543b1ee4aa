"""Where tools/maker_preview.py imports the Wine harness from; the harness itself is
tests/support/harness.py. Importing this file gives that module: it puts tests/support first
on the path and hands its own place in sys.modules over to the real harness."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
del sys.modules[__name__]
import harness  # noqa: E402,F401  (tests/support/harness.py; the importer receives it)
