#!/bin/sh
# Regenerates the Intel HEX fixtures with the standard tools (GNU objcopy, srec_cat) and the
# bytes those tools read back from them. The tests load each .hex with the base address given in
# the file name and expect exactly the bytes of the matching .bin.
set -eu
cd "$(dirname "$0")"

# Deterministic payloads.
python3 -c 'import sys; sys.stdout.buffer.write(bytes((k * 7 + 3) & 0xFF for k in range(300)))' > counting-300.bin
python3 -c 'import sys; sys.stdout.buffer.write(bytes((k * 131 + 17) >> 1 & 0xFF for k in range(256)))' > block-256.bin

# Address 0, 16-byte data records and an end record.
objcopy -I binary -O ihex counting-300.bin objcopy-0.hex
# Type-02 (extended segment address) records, the block crossing 0x20000.
objcopy -I binary -O ihex --change-section-address .data=0x1FF80 block-256.bin objcopy-segment-1ff80.hex
srec_cat block-256.bin -binary -offset 0x1FFC0 -o srec-segment-1ffc0.hex -intel -address-length=3
# Type-04 (extended linear address) records, the block crossing a 64 KiB boundary.
objcopy -I binary -O ihex --change-section-address .data=0x10FF80 block-256.bin objcopy-linear-10ff80.hex
srec_cat block-256.bin -binary -offset 0x2FFF0 -o srec-linear-2fff0.hex -intel
# Moving the whole file also moves its entry point, which objcopy writes as a start-address
# record (type 03): the tool's loaders refuse such a file.
objcopy -I binary -O ihex --change-addresses 0x1FF80 block-256.bin objcopy-start-1ff80.hex

# What the tools read back from each file (objcopy's binary output starts at the lowest address).
read_back() { objcopy -I ihex -O binary "$1.hex" "$1.out" && cmp "$1.out" "$2" && rm "$1.out"; }
read_back objcopy-0 counting-300.bin
for hex in objcopy-segment-1ff80 srec-segment-1ffc0 objcopy-linear-10ff80 srec-linear-2fff0; do
  read_back "$hex" block-256.bin
done
