#!/usr/bin/env python3
"""Starts the reference printing service; see README.md."""

import sys

from refservice.main import main

if __name__ == "__main__":
    sys.exit(main())
