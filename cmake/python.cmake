# The embedded interpreter is Debian's CPython 3.11. A pyenv interpreter may be
# first on PATH with its own pkg-config files: look only in the system's.
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/x86_64-linux-gnu/pkgconfig:/usr/lib/pkgconfig:/usr/share/pkgconfig")
find_package(PkgConfig REQUIRED)
pkg_check_modules(PYEMBED REQUIRED IMPORTED_TARGET python3-embed>=3.11)
set(VORLANE_PYTHON /usr/bin/python3)
