#!/usr/bin/python3
"""pe-pack.py IMAGE: what lld leaves undone, in place. It reserves 0x400 bytes
of headers where 0x200 hold them, and leaves the header's checksum at zero,
where GNU ld fills it in (and signing would, so that the image would no longer
be the same once its signature is removed). Moves the sections down to
0x200 where the headers fit there, then fills in the checksum."""
import sys

import pefile

BLOCK = 0x200
path = sys.argv[1]
image = pefile.PE(path)
headers = image.OPTIONAL_HEADER.SizeOfHeaders
end = image.sections[-1].get_file_offset() + image.sections[-1].sizeof()
sections = [s.get_data() for s in image.sections]
if headers > BLOCK and end <= BLOCK and image.OPTIONAL_HEADER.FileAlignment == BLOCK:
    shift = headers - BLOCK
    image.OPTIONAL_HEADER.SizeOfHeaders = BLOCK
    for section in image.sections:
        section.PointerToRawData -= shift
    data = image.write()
    image = pefile.PE(data=bytes(data[:BLOCK] + data[headers:]))
    moved = [s.get_data() for s in image.sections]
    if moved != sections:
        sys.exit(f"{path}: the sections read differently after the move")
elif headers > BLOCK:
    print(f"{path}: headers end at {end:#x}, past {BLOCK:#x}; left at {headers:#x}")
image.OPTIONAL_HEADER.CheckSum = image.generate_checksum()
data = image.write()
image.close()
with open(path, "wb") as f:
    f.write(data)
