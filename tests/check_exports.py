"""Fails when libvorlane.so exports a name outside its interface, or lacks one
that this build provides."""
import subprocess
import sys

ALLOWED = {
    "service_startup", "wrapper_startup", "parseCmdLine", "orvelRegistryGetNum",
    "_output_to_logfile", "cvdir", "eat_spaces", "find_and_eat_spaces",
    "readnumber", "readnumbers", "serverNum", "HInstance", "DisableHeapChecking",
    "vorlane_register_modules",
}
# Present in every build.
REQUIRED = {"serverNum", "HInstance", "DisableHeapChecking", "vorlane_register_modules"}
REQUIRED |= {"cvdir", "eat_spaces", "find_and_eat_spaces", "readnumber", "readnumbers"}
REQUIRED |= {"service_startup", "wrapper_startup", "parseCmdLine", "orvelRegistryGetNum", "_output_to_logfile"}


def exported(library):
    out = subprocess.run(["nm", "-D", "--defined-only", "-C", library],
                         check=True, capture_output=True, text=True).stdout
    names = []
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3:
            names.append(parts[2])
    return names


def allowed(name):
    return name in ALLOWED or name.startswith("CharMapper::") or name in (
        "typeinfo for CharMapper", "typeinfo name for CharMapper")


def main():
    names = exported(sys.argv[1])
    extra = sorted(n for n in names if not allowed(n))
    missing = sorted(REQUIRED - set(names))
    if not any(n.startswith("CharMapper::") for n in names):
        missing.append("CharMapper::*")
    for n in extra:
        print("unexpected export:", n)
    for n in missing:
        print("missing export:", n)
    print(f"{len(names)} exported names")
    return 1 if extra or missing else 0


if __name__ == "__main__":
    sys.exit(main())
