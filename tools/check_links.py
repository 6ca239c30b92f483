#!/usr/bin/env python3
"""Every relative link of README.md, README.ja.md and docs/*.md resolves:
the file exists, and a #anchor names a heading of the page it points to (as
GitHub makes anchors, Japanese headings too). Links in code and in HTML
comments do not count.

    tools/check_links.py          exit status 1 when a link is broken
"""
import glob
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LINK = re.compile(r'!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)|^\s*\[[^\]]+\]:\s*(\S+)', re.M)


def prose(text):
    """The text without fenced code, code spans and HTML comments."""
    text = re.sub(r'<!--.*?-->', '', text, flags=re.S)
    text = re.sub(r'^(```|~~~).*?^\1[^\n]*$', '', text, flags=re.S | re.M)
    return re.sub(r'(`+).+?\1', '', text, flags=re.S)


def anchors(path):
    """The anchors of a page's headings: lower case, punctuation dropped,
    spaces as hyphens, repeats numbered."""
    seen, found = {}, set()
    with open(path, encoding='utf-8') as f:
        text = re.sub(r'^(```|~~~).*?^\1[^\n]*$', '', f.read(), flags=re.S | re.M)
    for heading in re.findall(r'^#{1,6}[ \t]+(.+?)[ \t#]*$', text, re.M):
        heading = re.sub(r'!?\[([^\]]*)\]\([^)]*\)', r'\1', heading)
        slug = re.sub(r'[^\w\- ]', '', heading.lower()).replace(' ', '-')
        n = seen.get(slug, 0)
        seen[slug] = n + 1
        found.add(slug if n == 0 else f'{slug}-{n}')
    return found


def main():
    pages = [os.path.join(ROOT, name) for name in ('README.md', 'README.ja.md')]
    pages += sorted(glob.glob(os.path.join(ROOT, 'docs', '*.md')))
    broken, checked = [], 0
    for page in pages:
        with open(page, encoding='utf-8') as f:
            text = prose(f.read())
        for m in LINK.finditer(text):
            target = m.group(1) or m.group(2)
            if re.match(r'[A-Za-z][A-Za-z0-9+.-]*:|//', target):
                continue  # another site: not ours to check
            checked += 1
            path, _, anchor = target.partition('#')
            dest = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            where = os.path.relpath(page, ROOT)
            if not os.path.exists(dest):
                broken.append(f'{where}: {target}: no such file')
            elif anchor and dest.endswith('.md') and anchor not in anchors(dest):
                broken.append(f'{where}: {target}: no such heading')
    for line in broken:
        print(line)
    print(f'links: {checked} checked in {len(pages)} pages, {len(broken)} broken')
    return 1 if broken else 0


if __name__ == '__main__':
    sys.exit(main())
