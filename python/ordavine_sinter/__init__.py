"""ordavine as the circuit sampler of sinter's Monte Carlo collection.

``OrdavineSampler(decoder)`` is a ``sinter.Sampler``: per task it samples
detection events and observable flips with ``ordavine.Circuit`` and decodes
them with the given ``sinter.Decoder``.  ``sinter_samplers()`` names one for
every decoder built into sinter, as ``"ordavine+NAME"``; on the command line::

    sinter collect --circuits c.stim --decoders ordavine+pymatching \\
        --custom_decoders_module_function ordavine_sinter:sinter_samplers ...

The core module never imports this package; it needs sinter, stim and numpy.
"""

from ordavine_sinter._sampler import OrdavineSampler
from ordavine_sinter._registry import sinter_samplers

__all__ = ["OrdavineSampler", "sinter_samplers"]
