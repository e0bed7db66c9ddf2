"""The scanner's 512-byte parameter block with its fields by name.

The fields (name, offset, width, bits, range, unit, caption) are not written
down here: they come from the project's field table, generated at build time
into _fields.json beside this module. A block is always read and written
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
from typing import Any, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

from ._lib import CONFIG_SIZE
from .errors import FieldTableMissing

__all__ = ["CONFIG_SIZE", "Field", "ParamBlock", "fields", "field", "load_fields"]

FieldValue = Union[int, str]
_TABLE = "_fields.json"


@dataclass(frozen=True)
class Field:
    """One named field of the block.

    width is the number of bytes; bits, when given, the bit numbers of the
    field inside its byte (lowest first). Fields of four bytes are IPv4
    addresses, stored last octet first; their value is the dotted text.
    Numbers are signed when the field's minimum is negative.
    """

    name: str
    offset: int
    width: int
    bits: Optional[Tuple[int, ...]]
    min: int
    max: int
    unit: str
    caption: str

    @property
    def is_address(self) -> bool:
        return self.width == 4 and self.bits is None

    @property
    def signed(self) -> bool:
        return self.min < 0

    def read(self, raw: Union[bytes, bytearray]) -> FieldValue:
        if self.is_address:
            # Little-endian u32 whose most significant byte is the first octet.
            return ".".join(str(raw[self.offset + 3 - i]) for i in range(4))
        value = int.from_bytes(raw[self.offset : self.offset + self.width], "little", signed=False)
        if self.bits is not None:
            return (value >> self.bits[0]) & ((1 << len(self.bits)) - 1)
        if self.signed and value >= 1 << (8 * self.width - 1):
            value -= 1 << (8 * self.width)
        return value

    def check(self, value: FieldValue) -> None:
        """Raises ValueError unless value fits the field."""
        if self.is_address:
            if not isinstance(value, str):
                raise ValueError(f"{self.name} takes a dotted IPv4 address, not {value!r}")
            _octets(self.name, value)
            return
        if isinstance(value, bool) or not isinstance(value, int):
            raise ValueError(f"{self.name} takes an integer, not {value!r}")
        if not self.min <= value <= self.max:
            raise ValueError(f"{self.name}={value} is out of range ({self.min}..{self.max})")

    def write(self, raw: bytearray, value: FieldValue) -> None:
        """Checks value and stores it into its own bytes or bits of raw."""
        self.check(value)
        if self.is_address:
            for i, octet in enumerate(_octets(self.name, str(value))):
                raw[self.offset + 3 - i] = octet
            return
        assert isinstance(value, int)
        if self.bits is not None:
            mask = ((1 << len(self.bits)) - 1) << self.bits[0]
            old = int.from_bytes(raw[self.offset : self.offset + self.width], "little")
            new = (old & ~mask) | ((value << self.bits[0]) & mask)
            raw[self.offset : self.offset + self.width] = new.to_bytes(self.width, "little")
            return
        raw[self.offset : self.offset + self.width] = (value % (1 << (8 * self.width))).to_bytes(
            self.width, "little"
        )


def _octets(name: str, text: str) -> List[int]:
    parts = text.split(".")
    if len(parts) != 4 or not all(p.isdigit() and len(p) <= 3 and int(p) <= 255 for p in parts):
        raise ValueError(f"{name}: {text!r} is not a dotted IPv4 address")
    return [int(p) for p in parts]


def _bits(entry: Mapping[str, Any]) -> Optional[Tuple[int, ...]]:
    bits = entry.get("bits")
    if bits is None:
        return None
    numbers = (bits,) if isinstance(bits, int) else tuple(int(b) for b in bits)
    if not numbers or list(numbers) != list(range(numbers[0], numbers[0] + len(numbers))):
        raise ValueError(f"field {entry.get('name')}: bits {bits!r} are not one run of bits")
    return numbers


def load_fields(entries: Sequence[Mapping[str, Any]]) -> Tuple[Field, ...]:
    """Fields from the table's JSON entries, checked against the block's size."""
    result = []
    for entry in entries:
        f = Field(
            name=str(entry["name"]),
            offset=int(entry["offset"]),
            width=int(entry["width"]),
            bits=_bits(entry),
            min=int(entry["min"]),
            max=int(entry["max"]),
            unit=str(entry.get("unit", "")),
            caption=str(entry.get("caption", "")),
        )
        if f.width not in (1, 2, 4) or not 0 <= f.offset <= CONFIG_SIZE - f.width:
            raise ValueError(f"field {f.name}: offset {f.offset}, width {f.width} lie outside the block")
        if f.bits is not None and f.bits[-1] >= 8 * f.width:
            raise ValueError(f"field {f.name}: bits {f.bits} lie outside its {f.width} bytes")
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
        data = json.loads(text)
        _fields = load_fields(data["fields"] if isinstance(data, dict) else data)
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
