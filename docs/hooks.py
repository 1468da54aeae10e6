"""Build hook of the documentation site: the benchmark reports as pages.

bench/results/ holds the latest reports and plots, written by bench/run.py
and bench/frames.py.  They are taken into the site under bench/ as they
are, so the site carries them without a copy in docs/.
"""

from __future__ import annotations

from pathlib import Path

from mkdocs.structure.files import File, Files

RESULTS = Path(__file__).resolve().parent.parent / "bench" / "results"


def on_files(files: Files, config) -> Files:
    for path in sorted(RESULTS.iterdir()):
        if path.suffix in {".md", ".png"}:
            files.append(File.generated(config, f"bench/{path.name}", abs_src_path=str(path)))
    return files
