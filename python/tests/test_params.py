"""The parameter block by field name: reading, changing, writing back."""

from __future__ import annotations

import random

import pytest

from qz417link import CONFIG_SIZE, ParamBlock, fields
from qz417link.params import field, load_fields

# Bytes and bits no field names; they must survive every change.
UNINTERPRETED = [3, 4, 13] + list(range(33, CONFIG_SIZE))


def random_block(seed: int) -> bytes:
    rnd = random.Random(seed)
    return bytes(rnd.randrange(256) for _ in range(CONFIG_SIZE))


class TestTable:
    def test_fields_lie_in_the_block_and_do_not_overlap(self):
        owner = {}
        for f in fields():
            bits = [f.bit] if f.kind == "bit" else range(8 * f.width)
            for b in bits:
                key = (f.offset + b // 8, b % 8)
                assert key not in owner, f"{f.name} overlaps {owner.get(key)}"
                owner[key] = f.name
        assert (12, 7) not in owner
        touched = {byte for byte, _ in owner}
        assert touched.isdisjoint(UNINTERPRETED)

    def test_every_field_reads_back_what_was_written_at_both_ends_of_its_range(self):
        for f in fields():
            block = ParamBlock(random_block(1))
            values = ["0.0.0.0", "255.255.255.255"] if f.is_address else [f.min, f.max]
            for v in values:
                block[f.name] = v
                assert block[f.name] == v, f.name

    def test_unknown_field_names_the_known_ones(self):
        with pytest.raises(KeyError, match="laserLevel"):
            ParamBlock()["laserLevl"]


class TestLayout:
    def test_addresses_are_stored_last_octet_first(self):
        block = ParamBlock()
        block["netAddress"] = "192.168.1.30"
        block["netMask"] = "255.255.255.0"
        raw = bytes(block)
        assert list(raw[18:22]) == [30, 1, 168, 192]
        assert list(raw[22:26]) == [0, 255, 255, 255]
        assert ParamBlock(raw)["netAddress"] == "192.168.1.30"

    def test_numbers_are_little_endian_and_angle_is_signed(self):
        block = ParamBlock()
        block["udpPort"] = 6003
        block["angle"] = -32767
        block["integration"] = 65535
        raw = bytes(block)
        assert raw[30:32] == b"\x73\x17"
        assert raw[10:12] == b"\x01\x80"
        assert raw[1:3] == b"\xff\xff"
        block["angle"] = 32767
        assert bytes(block)[10:12] == b"\xff\x7f" and block["angle"] == 32767

    def test_a_sync_bit_changes_only_its_bit(self):
        block = ParamBlock(bytes(12) + b"\x80" + bytes(CONFIG_SIZE - 13))
        block["measureSyncEnable"] = 1
        assert bytes(block)[12] == 0x84
        block["measureSyncEnable"] = 0
        assert bytes(block)[12] == 0x80 and block["resultSyncEnable"] == 0


class TestChangesKeepEverythingElse:
    def test_changing_any_field_leaves_every_other_bit_as_read(self):
        for seed, f in enumerate(fields()):
            original = random_block(seed)
            block = ParamBlock(original)
            new = "10.0.0.1" if f.is_address else (f.max if f.read(original) != f.max else f.min)
            block[f.name] = new
            changed = bytes(block)
            mask = _field_mask(f)
            for i in range(CONFIG_SIZE):
                assert changed[i] & ~mask[i] & 0xFF == original[i] & ~mask[i] & 0xFF, (f.name, i)

    def test_unchanged_block_round_trips_byte_for_byte(self):
        original = random_block(99)
        block = ParamBlock(original)
        for name, value in block.as_dict().items():
            try:
                block[name] = value  # writing the value read back
            except ValueError:
                pass  # a byte outside the field's range stays as read
        assert bytes(block) == original


class TestRejectedValues:
    @pytest.mark.parametrize(
        "name, value",
        [("laserLevel", 32), ("laserLevel", -1), ("angle", -32768), ("analogPoints", 5),
         ("udpPort", 65536), ("laserLevel", "3"), ("laserLevel", True), ("udpAddress", "1.2.3"),
         ("udpAddress", "1.2.3.256"), ("udpAddress", 16909060)],
    )
    def test_bad_value_raises_and_changes_nothing(self, name, value):
        original = random_block(7)
        block = ParamBlock(original)
        with pytest.raises(ValueError):
            block[name] = value
        assert bytes(block) == original

    def test_update_checks_all_values_before_writing_any(self):
        block = ParamBlock()
        with pytest.raises(ValueError):
            block.update({"laserLevel": 5, "syncDelay": 300})
        assert block["laserLevel"] == 0

    @pytest.mark.parametrize("size", [0, 511, 513])
    def test_block_of_another_size(self, size):
        with pytest.raises(ValueError):
            ParamBlock(bytes(size))


class TestLoadingTheTable:
    ENTRY = {"name": "a", "kind": "u8", "offset": 0, "width": 1, "bit": None, "min": 0, "max": 1,
             "unit": "", "caption": ""}

    @staticmethod
    def table(*entries, block_size=CONFIG_SIZE):
        return {"blockSize": block_size, "fields": list(entries)}

    @pytest.mark.parametrize(
        "change",
        [{"offset": 511, "kind": "u16", "width": 2}, {"width": 2}, {"kind": "u32", "width": 4},
         {"kind": "bit", "bit": 8}, {"kind": "bit", "bit": None}, {"bit": 3}, {"max": 256},
         {"kind": "i16", "width": 2, "min": -32769}],
        ids=["past-the-end", "width-of-another-kind", "unknown-kind", "bit-outside-its-byte",
             "bit-without-number", "number-with-bit", "range-beyond-u8", "range-beyond-i16"],
    )
    def test_entry_the_package_could_not_use_is_refused(self, change):
        with pytest.raises(ValueError):
            load_fields(self.table({**self.ENTRY, **change}))

    def test_name_given_twice_is_refused(self):
        with pytest.raises(ValueError):
            load_fields(self.table(self.ENTRY, dict(self.ENTRY, offset=1)))

    def test_table_of_another_block_size_is_refused(self):
        with pytest.raises(ValueError):
            load_fields(self.table(self.ENTRY, block_size=256))

    def test_i16_field_is_signed_on_the_wire(self):
        (f,) = load_fields(self.table({**self.ENTRY, "kind": "i16", "width": 2, "min": -5, "max": 5}))
        raw = bytearray(2)
        f.write(raw, -5)
        assert raw == b"\xfb\xff" and f.read(raw) == -5


def _field_mask(f) -> bytes:
    mask = bytearray(CONFIG_SIZE)
    if f.kind == "bit":
        mask[f.offset] = 1 << f.bit
    else:
        for i in range(f.width):
            mask[f.offset + i] = 0xFF
    return bytes(mask)


def test_field_lookup_is_by_the_tables_name():
    assert field("udpFrequency").offset == 32 and field("udpFrequency").width == 1
