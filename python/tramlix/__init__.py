"""Fast FIT, GPX and TCX activity files: read, analyse, convert."""

from . import _tramlix
from ._tramlix import *  # noqa: F401,F403

__version__ = _tramlix.__version__
__all__ = list(_tramlix.__all__)
