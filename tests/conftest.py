import os
import sys

# Lets the tests import the shared helpers as a plain module.
sys.path.insert(0, os.path.dirname(__file__))
