#!/usr/bin/python3
"""The manual page renders without warnings and names the same options as --help."""
import os
import re
import subprocess
import sys

from harness import check, report, titles

KELMO, PAGE = sys.argv[1], sys.argv[2]

# A UTF-8 locale, as on the desktops Kelmo is for: the page quotes the Japanese titles.
env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", MANWIDTH="80")
env.pop("MANPAGER", None)
env.pop("PAGER", None)
page = subprocess.run(["man", "--warnings", "-l", PAGE], env=env, capture_output=True, text=True)
check("man renders the page", page.returncode == 0, page.stderr)
check("without warnings", page.stderr == "", page.stderr)
text = page.stdout
# groff renders U+3000 as two spaces, so the titles are checked in the page's source.
with open(PAGE, encoding="utf-8") as f:
    source = f.read().replace("\\[u3000]", "\u3000")
for title in list(titles(KELMO).values())[1:]:  # the three warnings
    check(f"the page gives the title {title!r}", f'"{title}"' in source)

help_text = subprocess.run([KELMO, "--help"], capture_output=True, text=True).stdout
options = lambda s: set(re.findall(r"(?<![\w-])(--?[a-z?][a-z-]*)", s))
help_options = options(help_text)
options_section = text.split("\nOPTIONS\n", 1)[-1].split("\nMAIL\n", 1)[0]
page_options = options(options_section)
check("--help lists options", {"--measure", "--own", "--subject"} <= help_options, str(help_options))
check("every option of --help is on the page", help_options <= page_options,
      str(help_options - page_options))
check("every option on the page is in --help", page_options <= help_options,
      str(page_options - help_options))
sys.exit(report())
