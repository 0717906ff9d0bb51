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
    check(f"the page gives the title {title!r}", f" {title}\n" in source)

# A login without LANG: man renders for the ASCII device, which has no Japanese. The page
# reads sensibly there too: the window's texts transliterated, not dropped, and no warning.
posix = {k: v for k, v in env.items() if not k.startswith("LC_") and k != "LANGUAGE"}
posix.update(LANG="C")
ascii_page = subprocess.run(["man", "-l", PAGE], env=posix, capture_output=True, text=True)
check("man in the POSIX locale renders the page", ascii_page.returncode == 0, ascii_page.stderr)
check("man in the POSIX locale without warnings", ascii_page.stderr == "",
      ascii_page.stderr[:2000])
ascii_text = re.sub(r".\x08", "", ascii_page.stdout)  # any overstriking the pager would do
check("the ASCII rendering is ASCII", ascii_text.isascii(),
      "".join(sorted({c for c in ascii_text if not c.isascii()})))
flat = " ".join(ascii_text.split())
for words in ["With J taiou unticked", "meado hozon and meado yomikomi save",
              "soushin hands the message", "soushin kakunin ticked",
              "Kelmo saabaa hozon ni naru yo zentai", "U+00A5 and U+203E as JIS X 0201"]:
    check(f"the ASCII rendering says {words!r}", words in flat, flat[:400])
groff = subprocess.run(["groff", "-k", "-Tascii", "-ww", "-man", PAGE], capture_output=True,
                       text=True)
check("groff -Tascii -ww without warnings", groff.returncode == 0 and groff.stderr == "",
      groff.stderr[:2000])

# The look-alikes the mail may change are the same in the README and on the page, ¥ and ‾
# (which Claws Mail shows as \ and ~) among them.
with open(os.path.join(os.path.dirname(os.path.abspath(PAGE)), "..", "README.md"),
          encoding="utf-8") as f:
    readme = f.read()
readme_mail = readme.split("## Mail set-up", 1)[-1].split("\n## ", 1)[0]
page_mail = source.split("\n.SH MAIL\n", 1)[-1].split("\n.SH ", 1)[0]
look_alikes = lambda s: set(re.findall(r"[¥‾〜～—―−－]", s))
check("the README's mail look-alikes are the page's",
      look_alikes(readme_mail) == look_alikes(page_mail) and {"¥", "‾"} <= look_alikes(page_mail),
      f"{look_alikes(readme_mail)} {look_alikes(page_mail)}")
check("both say what Claws Mail shows", "Claws Mail" in readme_mail and "Claws Mail" in page_mail)

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
