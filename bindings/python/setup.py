"""A wheel that carries the built libraries is tagged for their platform (any Python 3); without
them it is a pure one that loads the installed library."""
import os

from setuptools import setup

try:
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:  # setuptools before 70.1
    from wheel.bdist_wheel import bdist_wheel

LIBRARIES = ("libvudaduv.so.1", "VUDADUV.dll")


class PlatformWheel(bdist_wheel):
    def finalize_options(self):
        super().finalize_options()
        here = os.path.dirname(os.path.abspath(__file__))
        self.root_is_pure = not any(os.path.exists(os.path.join(here, "vudaduv", library))
                                    for library in LIBRARIES)

    def get_tag(self):
        python, abi, platform = super().get_tag()
        return (python, abi, platform) if self.root_is_pure else ("py3", "none", platform)


setup(cmdclass={"bdist_wheel": PlatformWheel})
