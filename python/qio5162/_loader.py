"""Finding libZqs5162.so and libqio5162target.so.

In this order:

1. the directory named by the environment variable ``QIO5162_LIBRARY_DIR``
   (a build tree's ``lib`` directory, for example ``build/lib``); when it is
   set, nowhere else is looked;
2. the directory recorded beside the package when it was built or installed
   (``_location.py``: the build tree's ``lib``, or the install prefix's
   library directory, relative to the package);
3. the system loader's search path (``LD_LIBRARY_PATH``, the ldconfig cache).

Both libraries come from the same place; they share the platform library
``libqioplatform.so``, which they find through their own rpath.
"""

import ctypes
import os

from .errors import LibraryNotFoundError

ENVIRONMENT_VARIABLE = "QIO5162_LIBRARY_DIR"
LIBRARY = "libZqs5162.so"
HARNESS = "libqio5162target.so"


def _recorded_directory():
    """The library directory recorded at build or install time, or None."""
    try:
        from . import _location
    except ImportError:
        return None
    directory = getattr(_location, "LIBRARY_DIR", None)
    if not directory:
        return None
    if not os.path.isabs(directory):
        directory = os.path.join(os.path.dirname(os.path.abspath(__file__)), directory)
    return os.path.normpath(directory)


def _load_pair(directory):
    """Loads both libraries from `directory` (None: the system loader)."""

    def path(name):
        return name if directory is None else os.path.join(directory, name)

    # The harness first: the library boots a target through the platform on
    # its own when none runs, and both must share that one platform.
    harness = ctypes.CDLL(path(HARNESS))
    library = ctypes.CDLL(path(LIBRARY))
    return library, harness


def search_places():
    """Where :func:`load` looks, as ``(directory or None, description)`` pairs, in order."""
    configured = os.environ.get(ENVIRONMENT_VARIABLE)
    if configured:
        return [(os.path.abspath(configured), "$%s" % ENVIRONMENT_VARIABLE)]
    places = []
    recorded = _recorded_directory()
    if recorded is not None:
        places.append((recorded, "recorded when the package was built or installed"))
    places.append((None, "the system loader's search path (LD_LIBRARY_PATH, ldconfig)"))
    return places


def load():
    """Loads the two libraries; returns ``(library, harness, directory)``.

    Raises :class:`LibraryNotFoundError` naming every place it looked and why
    each one failed.
    """
    tried = []
    for directory, description in search_places():
        if directory is not None and not os.path.isfile(os.path.join(directory, LIBRARY)):
            tried.append("%s (%s): no %s there" % (directory, description, LIBRARY))
            continue
        try:
            library, harness = _load_pair(directory)
        except OSError as error:
            where = directory if directory is not None else description
            tried.append("%s: %s" % (where, error))
            continue
        return library, harness, directory
    if not os.environ.get(ENVIRONMENT_VARIABLE):
        tried.append("$%s is not set" % ENVIRONMENT_VARIABLE)
    raise LibraryNotFoundError(
        "cannot load %s and %s; looked in:\n  %s\nSet %s to the directory that holds them (a build "
        "tree's lib/, or the install prefix's lib/)." % (LIBRARY, HARNESS, "\n  ".join(tried), ENVIRONMENT_VARIABLE)
    )
