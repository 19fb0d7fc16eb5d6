"""Building FIT byte strings in tests: definitions and data messages, then a header and CRCs."""

import struct

FIT_EPOCH = 631065600  # 1989-12-31T00:00:00Z in Unix seconds
ENUM, SINT8, UINT8, UINT16, UINT32, UINT32Z = 0x00, 0x01, 0x02, 0x84, 0x86, 0x8C
STRING, FLOAT32 = 0x07, 0x88


def crc16(data: bytes, crc: int = 0) -> int:
    """The FIT checksum (CRC-16/ARC), a bit at a time."""
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


class Records:
    """The records of one FIT file, little-endian throughout."""

    def __init__(self) -> None:
        self.data = bytearray()

    def define(
        self,
        local: int,
        number: int,
        fields: list[tuple[int, int, int]],
        developer: list[tuple[int, int, int]] = (),
    ) -> "Records":
        """A definition message; each field is (number, size, base type byte), each developer
        field (number, size, developer data index)."""
        header = 0x40 | local | (0x20 if developer else 0)
        self.data += struct.pack("<BBBHB", header, 0, 0, number, len(fields))
        for field in fields:
            self.data += bytes(field)
        if developer:
            self.data += bytes([len(developer)])
            for field in developer:
                self.data += bytes(field)
        return self

    def message(self, local: int, body: bytes) -> "Records":
        self.data += bytes([local]) + body
        return self

    def file(self) -> bytes:
        """A whole file: a 14-byte header with its CRC, the records, the file CRC."""
        head = struct.pack("<BBHI4s", 14, 0x20, 21200, len(self.data), b".FIT")
        body = head + struct.pack("<H", crc16(head)) + self.data
        return body + struct.pack("<H", crc16(body))
