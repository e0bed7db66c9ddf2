# The metadata is in pyproject.toml; this lets tools that call setup.py
# (Debian's pybuild without its pyproject plugin) build the package too.
from setuptools import setup

setup()
