"""The golden corpus: frozen digests of documented outputs (see corpus.py and freeze.py)."""
