"""The independent side of the MAT-file cross-check, with SciPy from Debian.

  scipy_check.py load FILE   prints every matrix of FILE as read by scipy.io.loadmat:
                             "name kind rows cols v1 v2 ..." (values row by row; characters as codes)
  scipy_check.py save FILE   writes known matrices with scipy.io.savemat(..., format='4')
"""
import sys

import numpy as np
import scipy.io


def load(path):
    data = scipy.io.loadmat(path, chars_as_strings=False, squeeze_me=False)
    for name in sorted(k for k in data if not k.startswith("__")):
        a = np.atleast_2d(data[name])
        if a.dtype.kind == "U":
            values = [str(ord(c) if c else 0) for c in a.flatten()]  # numpy holds a NUL as ""
        else:
            values = [repr(float(v)) for v in a.flatten()]
        print(name, a.dtype.kind + str(a.dtype.itemsize), a.shape[0], a.shape[1], " ".join(values))


def save(path):
    scipy.io.savemat(path, {
        "d": np.array([[1.5, -2.0, 3.0], [4.0, 5.25, -6.0]]),
        "f": np.array([[0.5, 2.0]], dtype=np.float32),
        "i": np.array([[7], [-8]], dtype=np.int32),
        "s": np.array(["ab", "cd"]),
        "h": np.array([[1, 2]], dtype=np.int16),
    }, format="4")


if __name__ == "__main__":
    {"load": load, "save": save}[sys.argv[1]](sys.argv[2])
