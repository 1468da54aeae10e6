"""How many shots one call of a compiled sampler takes.

sinter checks its error and shot budgets, and takes new instructions from
its manager, only between calls, so a call should be about a second of
work: long enough that the per-call costs (the decoder's setup of a batch,
Python) vanish, short enough that a task which has seen its ``max_errors``
stops promptly.  The first batches are small, since nothing is known yet
about the cost of a shot; later ones follow the rate the last one ran at.
"""

from __future__ import annotations

# The most a batch may grow by from one call to the next: the time of a
# very short batch says little about the rate, so growth is gradual.
MAX_GROWTH = 8

# The detection events and observable flips of one batch, packed, are kept
# under this many bytes, however cheap a shot is.
MAX_BATCH_BYTES = 1 << 26


class BatchSizer:
    """Shots per batch, grown from one toward ``target_seconds`` of work per batch."""

    def __init__(self, *, target_seconds: float, bytes_per_shot: int, max_shots: int | None = None):
        limit = MAX_BATCH_BYTES // max(1, bytes_per_shot)
        if max_shots is not None:
            limit = min(limit, max_shots)
        self._target_seconds = target_seconds
        self._limit = max(1, limit)
        self._shots = 1

    def next_shots(self, suggested_shots: int) -> int:
        """The size of the next batch: never more than sinter suggests, at least one shot."""
        return max(1, min(self._shots, suggested_shots))

    def record(self, shots: int, seconds: float) -> None:
        """Takes the time a batch of ``shots`` took into the size of the next one."""
        if shots >= self._shots:
            ceiling = self._shots * MAX_GROWTH
        else:
            # A batch cut short by sinter's suggestion: it may show that
            # batches should shrink, never that they may grow.
            ceiling = self._shots
        if seconds > 0:
            wanted = int(shots * self._target_seconds / seconds)
        else:
            wanted = ceiling
        self._shots = max(1, min(wanted, ceiling, self._limit))
