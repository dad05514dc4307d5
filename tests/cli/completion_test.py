#!/usr/bin/env python3
"""The bash completion of vexa: a drive letter where a letter goes (the letters the line
maps with --volume, else C to Z), local files only where a file of this computer goes,
and the short options."""
import shutil
import subprocess
import sys

SCRIPT = sys.argv[1]

CASES = [
    (["vexa", ""], "analyze defrag optimize map check contig put options schedule demo help"),
    (["vexa", "defrag", ""], " ".join(chr(c) for c in range(ord("C"), ord("Z") + 1))),
    (["vexa", "defrag", "--volume", "E", "=", "card.img", ""], "E"),
    (["vexa", "--volume", "E", "=", "a.img", "--volume", "g", "=", "b.img", "map", ""], "E G"),
    (["vexa", "check", "--volume", "E", "=", "a.img", "e"], "E"),
    (["vexa", "put", "C", "nosuchprefix-"], ""),
    (["vexa", "contig", "C", ""], ""),
    (["vexa", "schedule", "add", "--volume", "D", "=", "x", ""], "D"),
    (["vexa", "-"], None),
]


def main():
    if shutil.which("bash") is None:
        print("bash is not installed")
        return 77
    failures = 0
    for words, expected in CASES:
        line = " ".join("'%s'" % w for w in words)
        script = ("source '%s'\nCOMP_WORDS=(%s)\nCOMP_CWORD=%d\nCOMPREPLY=()\n_vexa\necho \"${COMPREPLY[*]}\"\n"
                  % (SCRIPT, line, len(words) - 1))
        got = subprocess.run(["bash", "-c", script], capture_output=True, text=True).stdout.strip()
        if expected is None:
            options = got.split()
            if not all(o in options for o in ("-q", "-h", "-V", "--map", "--volume")):
                print("FAIL %s: short options missing: %s" % (words, got))
                failures += 1
        elif got != expected:
            print("FAIL %s: %r, expected %r" % (words, got, expected))
            failures += 1
    # Local files are offered for put's SOURCE: this script's own folder holds one.
    script = ("source '%s'\ncd '%s'\nCOMP_WORDS=(vexa put C vexa.bash)\nCOMP_CWORD=3\n_vexa\necho \"${COMPREPLY[*]}\"\n"
              % (SCRIPT, SCRIPT.rsplit("/", 1)[0]))
    got = subprocess.run(["bash", "-c", script], capture_output=True, text=True).stdout.strip()
    if got != "vexa.bash-completion":
        print("FAIL put's SOURCE: %r" % got)
        failures += 1
    print("%d failures" % failures)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
