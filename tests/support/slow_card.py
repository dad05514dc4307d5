"""The slow memory card of slow_card.c for tests that run outside the linux build tree
(the wine tests of the Windows presets): built with the host's C compiler into a work
folder, then preloaded into the process under test.

    env.update(slow_card.environment(work, "2000,40000,writes", image))
"""

import os
import subprocess

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "slow_card.c")


def build(work):
    """Path of the shim built into `work` with the host's cc."""
    library = os.path.join(work, "slow_card.so")
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", library, SOURCE, "-ldl"], check=True,
                   capture_output=True, timeout=120)
    return library


def environment(work, setting, image):
    """Variables that make a process's reads and writes of the file `image` those of the
    card `setting` describes ("MICROSECONDS,BYTES_PER_SECOND[,writes]")."""
    return {"LD_PRELOAD": build(work), "VEXA_SLOW_CARD": setting, "VEXA_SLOW_CARD_FILE": image}
