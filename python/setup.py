# Builds the compiled module stopbound._core from the glue and the engine's
# own sources (base/, cross2/, bndry/, stopbound/ beside this directory): the
# same C++ functions the command line calls, with the flags that keep every
# multiply and add separately rounded, so the digits are the command line's.
import filecmp
import shutil
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

# The engine's sources compile on every core (NPY_NUM_BUILD_JOBS sets how many).
ParallelCompile("NPY_NUM_BUILD_JOBS").install()

here = Path(__file__).resolve().parent
root = here.parent
if not (root / "stopbound" / "stopbound.h").exists():
    raise SystemExit(f"setup.py: the engine's sources are expected in {root}")

# setuptools takes sources inside this directory only: the engine is copied
# under build/ (a file only when it changed, so rebuilds stay incremental).
engine = Path("build") / "engine"
sources = ["src/core.cpp"]
for module in ("base", "cross2", "bndry", "stopbound"):
    (here / engine / module).mkdir(parents=True, exist_ok=True)
    for source in sorted((root / module).glob("*.[ch]*")):
        copy = here / engine / module / source.name
        if not copy.exists() or not filecmp.cmp(source, copy, shallow=False):
            shutil.copy2(source, copy)
        if source.suffix == ".cpp":
            sources.append((engine / module / source.name).as_posix())

core = Pybind11Extension(
    "stopbound._core",
    sources,
    include_dirs=[engine.as_posix()],
    cxx_std=20,
    # No fused multiply-add and no value-changing optimisation, whatever the
    # interpreter's own flags (or an -march in CFLAGS) would allow.
    extra_compile_args=["-ffp-contract=off", "-fno-fast-math"],
)

setup(ext_modules=[core])
