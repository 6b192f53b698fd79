"""Evaluation of stacks of 17 photographs of a projected, binary-coded dot pattern."""

import os
from typing import Callable, Literal, Optional, Sequence, TypedDict, Union

import numpy as np
import numpy.typing as npt

Channel = Literal["grey", "gray", "red", "green", "blue"]
Level = Union[int, Literal["auto"]]
Path = Union[str, os.PathLike[str]]
Planes = Union[npt.NDArray[np.uint8], npt.NDArray[np.uint16]]

class Error(Exception):
    """An input that cannot be evaluated (a damaged photograph, an incomplete stack)
    or an output that cannot be written; the message names the file and the reason."""

class Suggestion(TypedDict):
    mindif: int
    tolerance: int
    background: int
    noise: float
    noise_floor: int
    lit_spread: int
    unlit_spread: int
    above_floor: float
    no_dots: bool
    mindif_reason: str
    tolerance_reason: str

class Settings(TypedDict):
    mindif: int
    tolerance: int
    channel: str
    bits: Optional[int]
    refine: bool

class SummaryRow(TypedDict):
    pose: str
    input: str
    status: Literal["ok", "kept", "failed"]
    points: int
    flagged: Optional[int]
    mindif: int
    tolerance: int
    seconds: float
    message: str

class Result:
    """What evaluate gave: the points, the settings used, the codes when asked for."""

    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def settings(self) -> Settings: ...
    @property
    def suggestion(self) -> Optional[Suggestion]: ...
    @property
    def points(self) -> np.ndarray:
        """Structured array in points-file order: code, dot, x, y, pixels and, when
        refined, refined_x, refined_y, blob_pixels, stray_pixels, contrast, radius,
        flags."""
    @property
    def codes(self) -> Optional[npt.NDArray[np.int32]]: ...
    def write(self, points: Path, *, bitmap: bool = True, table: Optional[Path] = None) -> None:
        """Writes the files the command line's evaluate writes, each put in place whole."""

def load(source: Path, *, channel: Channel = "grey", bits: Optional[int] = None) -> npt.NDArray[np.uint8]:
    """The (17, height, width) uint8 planes of a list file or a picture set."""

def evaluate(
    source: Union[Path, Planes],
    *,
    channel: Channel = "grey",
    tolerance: Level = 30,
    mindif: Level = 80,
    refine: bool = True,
    codes: bool = False,
    threads: int = 0,
    bits: Optional[int] = None,
) -> Result:
    """Evaluates a stack given by path or as a (17, height, width) array."""

def suggest(
    source: Union[Path, Planes],
    *,
    channel: Channel = "grey",
    threads: int = 0,
    bits: Optional[int] = None,
) -> Suggestion:
    """The settings chosen from a stack, with the figures they were read from."""

def batch(
    sources: Sequence[Path],
    out: Path,
    *,
    channel: Channel = "grey",
    tolerance: Level = 30,
    mindif: Level = 80,
    threads: int = 0,
    bits: Optional[int] = None,
    bitmap: bool = True,
    table: bool = False,
    report: bool = False,
    force: bool = False,
    full_stack: bool = False,
    poses_at_once: int = 0,
    progress: Optional[Callable[[int, int, str], object]] = None,
) -> list[SummaryRow]:
    """Evaluates many stacks into one folder, as the command line's batch does."""
