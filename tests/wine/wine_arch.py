#!/usr/bin/env python3
"""The probe's command where the tools run it (tools/test-all.sh, install-deps.sh, run-maker.sh):
prints which Windows build the Wine tests run here, a tab and why. The probe itself is
tests/support/wine_arch.py.
"""
import os
import runpy

runpy.run_path(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "wine_arch.py"),
               run_name="__main__")
