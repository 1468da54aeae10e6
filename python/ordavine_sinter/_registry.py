"""The names sinter's command line looks samplers up by."""

from __future__ import annotations

import sinter

from ordavine_sinter._sampler import OrdavineSampler


def sinter_samplers() -> dict[str, OrdavineSampler]:
    """``{"ordavine+NAME": OrdavineSampler(decoder)}`` for every decoder built into sinter.

    Every built-in decoder is listed, whether or not its package is
    installed: asking for one whose package is missing fails when the task
    is compiled, with sinter's own message naming the package, exactly as
    asking sinter for that decoder directly does.
    """
    return {
        f"ordavine+{name}": OrdavineSampler(decoder)
        for name, decoder in sinter.BUILT_IN_DECODERS.items()
    }
