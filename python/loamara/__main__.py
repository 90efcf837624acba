"""``python -m loamara``: the command line."""
from ._cli import main

if __name__ == "__main__":
    raise SystemExit(main())
