#!/usr/bin/python3
"""pe-checksum.py IMAGE: fills in the PE header's checksum, in place."""
import sys

import pefile

image = pefile.PE(sys.argv[1])
image.OPTIONAL_HEADER.CheckSum = image.generate_checksum()
data = image.write()
image.close()
with open(sys.argv[1], "wb") as f:
    f.write(data)
