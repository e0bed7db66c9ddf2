"""The scanner's 512-byte parameter block with its fields by name.

The fields (name, kind, offset, width, bit, range, unit, caption) are not
written down here: they come from the project's field table (the model
library), generated at build time into _fields.json beside this module. A block is always read and written
whole; changing a field changes only that field's bytes or bits, so every
byte the table does not name goes back to the scanner as it was read.

    block = scanner.read_params()
    block["laserLevel"] = 20
    block["udpAddress"] = "127.0.0.1"
    scanner.write_params(block)
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from importlib import resources
from typing import Any, Dict, Iterator, List, Mapping, Optional, Tuple, Union

from ._lib import CONFIG_SIZE
from .errors import FieldTableMissing

__all__ = ["CONFIG_SIZE", "Field", "ParamBlock", "fields", "field", "load_fields"]

FieldValue = Union[int, str]
_TABLE = "_fields.json"


_KINDS = {"u8": 1, "u16": 2, "i16": 2, "bit": 1, "ipv4": 4}  # kind: width in bytes


@dataclass(frozen=True)
class Field:
    """One named field of the block, as the field table gives it.

    kind: "u8", "u16", "i16" (little-endian numbers), "bit" (bit number `bit`
    of the byte at offset) or "ipv4" (four bytes, last octet first; the value
    is the dotted text, min and max bound each octet).
    """

    name: str
    kind: str
    offset: int
    width: int
    bit: Optional[int]
    min: int
    max: int
    unit: str
    caption: str

    @property
    def is_address(self) -> bool:
        return self.kind == "ipv4"

    def read(self, raw: Union[bytes, bytearray]) -> FieldValue:
        if self.kind == "ipv4":
            # A little-endian u32 whose most significant byte is the first octet.
            return ".".join(str(raw[self.offset + 3 - i]) for i in range(4))
        if self.kind == "bit":
            assert self.bit is not None
            return (raw[self.offset] >> self.bit) & 1
        return int.from_bytes(raw[self.offset : self.offset + self.width], "little",
                              signed=self.kind == "i16")

    def check(self, value: FieldValue) -> None:
        """Raises ValueError unless value fits the field."""
        if self.kind == "ipv4":
            if not isinstance(value, str):
                raise ValueError(f"{self.name} takes a dotted IPv4 address, not {value!r}")
            octets = _octets(self.name, value)
            if not all(self.min <= o <= self.max for o in octets):
                raise ValueError(f"{self.name}: an octet of {value} is out of range ({self.min}..{self.max})")
            return
        if isinstance(value, bool) or not isinstance(value, int):
            raise ValueError(f"{self.name} takes an integer, not {value!r}")
        if not self.min <= value <= self.max:
            raise ValueError(f"{self.name}={value} is out of range ({self.min}..{self.max})")

    def write(self, raw: bytearray, value: FieldValue) -> None:
        """Checks value and stores it into the field's own bytes or bit of raw."""
        self.check(value)
        if self.kind == "ipv4":
            for i, octet in enumerate(_octets(self.name, str(value))):
                raw[self.offset + 3 - i] = octet
            return
        assert isinstance(value, int)
        if self.kind == "bit":
            assert self.bit is not None
            mask = 1 << self.bit
            raw[self.offset] = (raw[self.offset] | mask) if value else (raw[self.offset] & ~mask)
            return
        raw[self.offset : self.offset + self.width] = value.to_bytes(
            self.width, "little", signed=self.kind == "i16"
        )


def _octets(name: str, text: str) -> List[int]:
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isdigit() and len(p) <= 3 and int(p) <= 255 for p in parts):
        raise ValueError(f"{name}: {text!r} is not a dotted IPv4 address")
    return [int(p) for p in parts]


def load_fields(table: Mapping[str, Any]) -> Tuple[Field, ...]:
    """Fields from the field table's JSON: {"blockSize": 512, "fields": [...]}.
    Refuses a table this package could not use correctly."""
    if int(table["blockSize"]) != CONFIG_SIZE:
        raise ValueError(f"the field table is for a block of {table['blockSize']} bytes, not {CONFIG_SIZE}")
    result = []
    for entry in table["fields"]:
        bit = entry.get("bit")
        f = Field(
            name=str(entry["name"]),
            kind=str(entry["kind"]),
            offset=int(entry["offset"]),
            width=int(entry["width"]),
            bit=None if bit is None else int(bit),
            min=int(entry["min"]),
            max=int(entry["max"]),
            unit=str(entry.get("unit", "")),
            caption=str(entry.get("caption", "")),
        )
        if _KINDS.get(f.kind) != f.width:
            raise ValueError(f"field {f.name}: kind {f.kind!r} with width {f.width} is unknown")
        if not 0 <= f.offset <= CONFIG_SIZE - f.width:
            raise ValueError(f"field {f.name}: offset {f.offset} lies outside the block")
        if (f.kind == "bit") != (f.bit is not None) or (f.bit is not None and not 0 <= f.bit <= 7):
            raise ValueError(f"field {f.name}: bit {f.bit!r} does not fit kind {f.kind!r}")
        limits = {"u8": (0, 255), "u16": (0, 65535), "i16": (-32768, 32767), "bit": (0, 1), "ipv4": (0, 255)}
        low, high = limits[f.kind]
        if not low <= f.min <= f.max <= high:
            raise ValueError(f"field {f.name}: range {f.min}..{f.max} does not fit kind {f.kind!r}")
        result.append(f)
    names = [f.name for f in result]
    if len(set(names)) != len(names):
        raise ValueError("the field table names a field twice")
    return tuple(result)


_fields: Optional[Tuple[Field, ...]] = None
_by_name: Dict[str, Field] = {}


def fields() -> Tuple[Field, ...]:
    """Every named field, in block order, from the installed table."""
    global _fields, _by_name
    if _fields is None:
        try:
            text = resources.files(__package__).joinpath(_TABLE).read_text(encoding="utf-8")
        except (FileNotFoundError, OSError):
            raise FieldTableMissing(
                f"{_TABLE} is missing from the qz417link package; it is generated by the "
                "build (target qz417link_python) and installed with python3-qz417link"
            ) from None
        _fields = load_fields(json.loads(text))
        _by_name = {f.name: f for f in _fields}
    return _fields


def field(name: str) -> Field:
    """The field called name; KeyError names the known ones when there is none."""
    fields()
    try:
        return _by_name[name]
    except KeyError:
        raise KeyError(f"no parameter field {name!r}; known: {', '.join(_by_name)}") from None


class ParamBlock:
    """A copy of the 512-byte block, its fields by name.

    block["name"] reads a field, block["name"] = value checks and writes it
    (ValueError when out of range); bytes(block) is the whole block. Bytes no
    field names are kept exactly as they came.
    """

    __slots__ = ("_raw",)

    def __init__(self, raw: Union[bytes, bytearray, memoryview, None] = None) -> None:
        if raw is None:
            self._raw = bytearray(CONFIG_SIZE)
        else:
            data = bytes(raw)
            if len(data) != CONFIG_SIZE:
                raise ValueError(f"the parameter block has {CONFIG_SIZE} bytes, not {len(data)}")
            self._raw = bytearray(data)

    def __getitem__(self, name: str) -> FieldValue:
        return field(name).read(self._raw)

    def __setitem__(self, name: str, value: FieldValue) -> None:
        field(name).write(self._raw, value)

    def __contains__(self, name: object) -> bool:
        return isinstance(name, str) and any(f.name == name for f in fields())

    def __iter__(self) -> Iterator[str]:
        return (f.name for f in fields())

    def __len__(self) -> int:
        return len(fields())

    def __bytes__(self) -> bytes:
        return bytes(self._raw)

    def __eq__(self, other: object) -> bool:
        return isinstance(other, ParamBlock) and self._raw == other._raw

    __hash__ = None  # type: ignore[assignment]

    def update(self, values: Mapping[str, FieldValue]) -> None:
        """Writes several fields; checks them all first, so a bad value changes nothing."""
        for name, value in values.items():
            field(name).check(value)
        for name, value in values.items():
            self[name] = value

    def as_dict(self) -> Dict[str, FieldValue]:
        return {f.name: f.read(self._raw) for f in fields()}

    def copy(self) -> "ParamBlock":
        return ParamBlock(self._raw)

    @property
    def raw(self) -> bytes:
        return bytes(self._raw)

    def __repr__(self) -> str:
        return f"ParamBlock({self.as_dict()!r})"
