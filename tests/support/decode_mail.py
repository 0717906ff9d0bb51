#!/usr/bin/python3
"""Prints what a stored mail says, decoded: envelope recipient, To, Subject, body."""
import email
import email.policy
import json
import sys

with open(sys.argv[1], "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)
print(json.dumps({
    "rcpt": str(msg.get("X-RcptTo", "")),
    "to": str(msg["To"]),
    "subject": str(msg["Subject"]),
    "charset": msg.get_content_charset(),
    "encoding": str(msg["Content-Transfer-Encoding"]),
    "body": msg.get_content(),
}))
