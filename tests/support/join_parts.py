#!/usr/bin/python3
"""Reads mails that carry one message in parts and joins them back.

Each body starts with "(n/N)" and a line break. Prints JSON: the count N every marker
names, the numbers found, the shares in the order of their numbers (markers stripped,
line breaks as LF), and each part's charset.
"""
import email
import email.policy
import json
import re
import sys

MARKER = re.compile(r"\((\d+)/(\d+)\)\r?\n")

parts = []
for name in sys.argv[1:]:
    with open(name, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    body = msg.get_content().replace("\r\n", "\n")
    # A 7bit body ends with the line break that ends its last line.
    if str(msg["Content-Transfer-Encoding"]) == "7bit" and body.endswith("\n"):
        body = body[:-1]
    found = MARKER.match(body)
    if not found:
        print(json.dumps({"error": "no marker in " + name}))
        sys.exit(1)
    parts.append((int(found.group(1)), int(found.group(2)), body[found.end():],
                  msg.get_content_charset()))
parts.sort()
print(json.dumps({
    "counts": sorted({count for _, count, _, _ in parts}),
    "numbers": [number for number, _, _, _ in parts],
    "shares": [share for _, _, share, _ in parts],
    "charsets": [charset for _, _, _, charset in parts],
}))
