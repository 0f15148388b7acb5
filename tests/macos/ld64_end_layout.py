#!/usr/bin/env python3
"""A Mach-O linker that lays __TEXT out as Apple's ld64 does: its sections end
at the segment's page-aligned end, the slack left after the load commands.
It runs LLVM's ld64.lld (first argument) with -headerpad grown until the last
__TEXT section ends at the end of the segment. Usage: LD64_LLD ARGS..."""
import re
import subprocess
import sys


def text_slack(image, objdump):
    headers = subprocess.run([objdump, "--macho", "--private-headers", image], capture_output=True,
                             text=True, check=True).stdout
    segment_end, last_end, in_text = None, 0, False
    for command in headers.split("Load command")[1:]:
        fields = dict(re.findall(r"^\s*(\w+) (\S+)$", command, re.M))
        if fields.get("cmd") == "LC_SEGMENT_64":
            in_text = fields.get("segname") == "__TEXT"
            if in_text:
                segment_end = int(fields["vmaddr"], 16) + int(fields["vmsize"], 16)
        for section in re.findall(r"sectname \S+\s+segname (\S+)\s+addr (\S+)\s+size (\S+)", command):
            if section[0] == "__TEXT":
                last_end = max(last_end, int(section[1], 16) + int(section[2], 16))
    return segment_end - last_end


def main():
    lld, objdump, arguments = sys.argv[1], sys.argv[2], sys.argv[3:]
    output = arguments[arguments.index("-o") + 1]
    padding = 0
    for _ in range(6):
        subprocess.run([lld, "-headerpad", hex(padding)] + arguments, check=True)
        slack = text_slack(output, objdump)
        if slack == 0:
            return 0
        padding += slack
    print("ld64_end_layout: __TEXT does not end at its last section", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
