#!/usr/bin/env python3
"""Checks the compiled help file "Lockmere Help.chm" and the two documents.

The help file is listed and unpacked with chmls (Free Pascal utilities), and
then:
  - every page of docs/help is in it, byte for byte, with the style sheet;
  - its contents and its index (the sitemap files and the binary index that
    the viewer uses) point only at pages and anchors that exist, and the
    contents reach every page;
  - every link and style sheet of every page resolves inside the file;
  - the topics that the program's own texts send the user to exist: the help
    is the Start menu's "Lockmere Help", and the keyboard filter prompt's
    "review the Quenvar Lockmere help file" finds guidance on filter drivers;
  - every text that the help quotes from the program (marked class="ui")
    occurs in the program's sources, so help and program agree;
  - ReadMe.rtf and License.rtf are well-formed RTF with the expected content.

With --screenshots DIR the unpacked pages are also rendered by headless
Chromium into DIR, to be looked at.
"""
import argparse
import html
import html.parser
import os
import re
import shutil
import subprocess
import sys
import urllib.parse

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def squeeze(text):
    return re.sub(r"\s+", " ", text).strip()


class Page(html.parser.HTMLParser):
    """Links, anchors, ui texts, headings and sitemap objects of one file."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.links = []        # (tag, url)
        self.anchors = set()
        self.ui_texts = []
        self.title = ""
        self.text = []
        self.objects = []      # sitemap entries: {"Name": ..., "Local": ...}
        self._ui_depth = 0
        self._ui_buffer = []
        self._in_title = False

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.anchors.add(attrs["id"])
        if tag == "a" and "name" in attrs:
            self.anchors.add(attrs["name"])
        if tag == "a" and "href" in attrs:
            self.links.append(("a", attrs["href"]))
        if tag == "link" and "href" in attrs:
            self.links.append(("link", attrs["href"]))
        if tag == "img" and "src" in attrs:
            self.links.append(("img", attrs["src"]))
        if tag == "title":
            self._in_title = True
        if tag == "object" and attrs.get("type", "").lower() == "text/sitemap":
            self.objects.append({})
        if tag == "param" and self.objects is not None and "name" in attrs and self.objects:
            self.objects[-1].setdefault(attrs["name"], attrs.get("value", ""))
        if tag == "span" and "ui" in attrs.get("class", "").split():
            self._ui_depth = 1
            self._ui_buffer = []
        elif self._ui_depth:
            self._ui_depth += 1

    def handle_endtag(self, tag):
        if tag == "title":
            self._in_title = False
        if self._ui_depth:
            self._ui_depth -= 1
            if self._ui_depth == 0:
                self.ui_texts.append(squeeze("".join(self._ui_buffer)))

    def handle_data(self, data):
        self.text.append(data)
        if self._in_title:
            self.title += data
        if self._ui_depth:
            self._ui_buffer.append(data)


def parse(path):
    page = Page()
    with open(path, encoding="utf-8", errors="replace") as f:
        page.feed(f.read())
    page.close()
    return page


# --- the program's texts ---------------------------------------------------

C_STRING = re.compile(r'(?:\bL)?"((?:[^"\\\n]|\\.)*)"')
C_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "'": "'", "\\": "\\", "0": ""}


def c_literals(source):
    """String literals of C/C++/rc source, adjacent ones joined."""
    out = []
    current = None
    last_end = None
    for m in C_STRING.finditer(source):
        between = source[last_end:m.start()] if last_end is not None else None
        value = re.sub(r"\\(.)", lambda e: C_ESCAPES.get(e.group(1), e.group(1)), m.group(1))
        if current is not None and between is not None and re.fullmatch(r"\s*", between):
            current += value
        else:
            if current is not None:
                out.append(current)
            current = value
        last_end = m.end()
    if current is not None:
        out.append(current)
    return out


def rtf_text(source):
    """Plain text of an RTF document (enough to find its sentences)."""
    out = []
    i = 0
    skip_depth = []
    depth = 0
    n = len(source)
    while i < n:
        c = source[i]
        if c == "{":
            depth += 1
            if source.startswith("{\\*", i) or re.match(r"\{\\(fonttbl|colortbl|stylesheet|info)", source[i:]):
                skip_depth.append(depth)
            i += 1
        elif c == "}":
            if skip_depth and skip_depth[-1] == depth:
                skip_depth.pop()
            depth -= 1
            i += 1
        elif c == "\\":
            m = re.match(r"\\([a-zA-Z]+)(-?\d+)? ?", source[i:])
            if m:
                word = m.group(1)
                if not skip_depth:
                    if word in ("par", "line"):
                        out.append("\n")
                    elif word == "tab":
                        out.append("\t")
                    elif word == "u":
                        out.append(chr(int(m.group(2)) % 65536))
                        i += m.end()
                        if i < n and source[i] != "\\":
                            i += 1  # the \uc1 fallback character
                        continue
                    elif word in ("endash", "emdash"):
                        out.append("-")
                    elif word in ("lquote", "rquote"):
                        out.append("'")
                    elif word in ("ldblquote", "rdblquote"):
                        out.append('"')
                    elif word == "bullet":
                        out.append("*")
                i += m.end()
            elif source.startswith("\\'", i):
                if not skip_depth:
                    out.append(bytes([int(source[i + 2:i + 4], 16)]).decode("cp1252"))
                i += 4
            else:
                if not skip_depth and i + 1 < n and source[i + 1] in "{}\\":
                    out.append(source[i + 1])
                i += 2
        elif c in "\r\n":
            i += 1
        else:
            if not skip_depth:
                out.append(c)
            i += 1
    return "".join(out), depth


def program_texts(root):
    texts = []
    for folder in ("service", "client", "console", "resources", "common"):
        for base, _, files in os.walk(os.path.join(root, folder)):
            for name in files:
                path = os.path.join(base, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    source = f.read()
                if name.endswith((".cpp", ".h", ".rc")):
                    texts.extend(c_literals(source))
                elif name.endswith(".rtf"):
                    texts.append(rtf_text(source)[0])
    return [squeeze(t) for t in texts]


# --- the help file -----------------------------------------------------------

def chmls(tool, *args):
    result = subprocess.run([tool, *args], capture_output=True, text=True)
    if result.returncode != 0:
        failures.append("chmls %s failed: %s" % (" ".join(args), result.stderr.strip()))
    return result.stdout


def resolve(base_dir, page_dir, url):
    """File and fragment that a link inside the help file names, or None for outside links."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme or parts.netloc:
        return None
    target = os.path.normpath(os.path.join(page_dir, urllib.parse.unquote(parts.path))) if parts.path else None
    return target, parts.fragment


def check_links(unpacked, name, page, pages):
    page_dir = os.path.dirname(os.path.join(unpacked, name))
    for tag, url in page.links:
        where = "%s: %s %s" % (name, tag, url)
        resolved = resolve(unpacked, page_dir, url)
        if not check(resolved is not None, where + " leaves the help file"):
            continue
        target, fragment = resolved
        if target is None:
            target = os.path.join(unpacked, name)
        if not check(os.path.isfile(target), where + " names a file that is not in the help file"):
            continue
        if fragment:
            rel = os.path.relpath(target, unpacked)
            check(rel in pages and fragment in pages[rel].anchors, where + " names a missing anchor")


def check_sitemap(what, unpacked, sitemap, pages):
    entries = [o for o in sitemap.objects if "Local" in o]
    check(entries, what + " has no entries")
    for entry in entries:
        local = entry["Local"]
        target, fragment = resolve(unpacked, unpacked, local)
        rel = os.path.relpath(target, unpacked)
        if check(rel in pages, "%s entry %r names %s, which is not a page of the help file" % (what, entry.get("Name"), local)):
            if fragment:
                check(fragment in pages[rel].anchors, "%s entry %r names a missing anchor %s" % (what, entry.get("Name"), local))
    return entries


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--chm", required=True)
    parser.add_argument("--chmls", default="chmls")
    parser.add_argument("--sources", required=True, help="the repository")
    parser.add_argument("--work", required=True, help="folder to unpack into (emptied)")
    parser.add_argument("--screenshots", help="render every page into this folder with headless Chromium")
    args = parser.parse_args()

    chm = os.path.abspath(args.chm)
    root = os.path.abspath(args.sources)
    help_sources = os.path.join(root, "docs", "help")
    if not os.path.isfile(chm):
        print("FAIL: no help file at", chm)
        return 1

    # List and unpack.
    listing = chmls(args.chmls, "-n", "-p", "list", chm)
    listed = {line.strip().lstrip("/") for line in listing.splitlines() if line.strip().startswith("/")}
    shutil.rmtree(args.work, ignore_errors=True)
    unpacked = os.path.join(args.work, "unpacked")
    os.makedirs(unpacked)
    chmls(args.chmls, "extractall", chm, unpacked)

    # Every source page is in the help file, unchanged.
    sources = sorted(n for n in os.listdir(help_sources) if n.endswith((".html", ".css")))
    check(len([n for n in sources if n.endswith(".html")]) >= 8, "fewer than eight help pages in docs/help")
    for name in sources:
        check(name in listed, "%s is not listed in the help file" % name)
        packed = os.path.join(unpacked, name)
        if check(os.path.isfile(packed), "%s was not unpacked from the help file" % name):
            with open(packed, "rb") as a, open(os.path.join(help_sources, name), "rb") as b:
                check(a.read() == b.read(), "%s in the help file differs from docs/help/%s" % (name, name))

    pages = {}
    for base, _, files in os.walk(unpacked):
        for name in files:
            if name.endswith(".html"):
                rel = os.path.relpath(os.path.join(base, name), unpacked)
                pages[rel] = parse(os.path.join(base, name))
    for name, page in sorted(pages.items()):
        check(page.title.strip(), name + " has no title")
        check(any(tag == "link" for tag, _ in page.links), name + " does not use the style sheet")
        check_links(unpacked, name, page, pages)

    # The viewer's settings: title, default topic, contents and index.
    system = chmls(args.chmls, "printsystem", chm)
    default = re.search(r"Default topic[^:\n]*:\s*([^\s\x00]+)", system)
    check(default and default.group(1).lstrip("/") in pages, "no default topic among the pages:\n" + system)
    check("Quenvar Lockmere Help" in system, "the help file's title is not 'Quenvar Lockmere Help'")

    contents_file = os.path.join(unpacked, "Lockmere Help.hhc")
    index_file = os.path.join(unpacked, "Lockmere Help.hhk")
    toc = []
    if check(os.path.isfile(contents_file), "no table of contents in the help file"):
        toc = check_sitemap("contents", unpacked, parse(contents_file), pages)
        reached = {os.path.normpath(urllib.parse.urlsplit(e["Local"]).path) for e in toc}
        for name in pages:
            check(name in reached, "the contents do not reach " + name)
    index = []
    if check(os.path.isfile(index_file), "no index in the help file"):
        index = check_sitemap("index", unpacked, parse(index_file), pages)
    # The binary index, which the viewer's Index tab reads.
    binary_index = os.path.join(args.work, "binary-index.hhk")
    chmls(args.chmls, "extractindex", chm, binary_index)
    if check(os.path.isfile(binary_index), "no binary index could be extracted"):
        names = {squeeze(o.get("Name", "")) for o in parse(binary_index).objects}
        for entry in index:
            check(squeeze(entry["Name"]) in names, "index entry %r is missing from the binary index" % entry["Name"])

    toc_names = {squeeze(e["Name"]): e["Local"] for e in toc}
    index_names = {squeeze(e["Name"]).lower(): e["Local"] for e in index}
    def page_of(local):
        return pages.get(os.path.normpath(urllib.parse.urlsplit(local).path))

    # The topics the help must have, each in the contents, found by the texts
    # a user will look for.
    topics = {
        "The three kinds of access": ["Unauthorized Screen Access", "Unauthorized Keyboard Hook", "Unowned Window Read", "How to decide"],
        "Answering an access prompt": ["Allow Access", "Deny Access", "More Information", "Program Details"],
        "Keyboard filter drivers": ["Quenvar Lockmere: Filter Driver Detected", "How to decide", "What a denial does"],
        "The access control list": ["Forget File", "Destroy File", "Can Read Screen", "Can Hook Keyboard", "Can Read Unowned Window"],
        "The activity log": ["Clear Log", "Blocked illegal screen access in"],
        "The tray icon and the main window": ["Log", "Access Control", "Okay"],
        "Uninstalling Quenvar Lockmere": ["Add or Remove Programs", "QuenvarUI.exe /U"],
        "What Quenvar Lockmere cannot stop": ["runs as you and sets out to defeat Quenvar Lockmere",
                                              "write answers of its own", "copied from another computer"],
    }
    for topic, phrases in topics.items():
        if check(topic in toc_names, "the contents have no topic %r" % topic):
            page = page_of(toc_names[topic])
            text = squeeze("".join(page.text)) if page else ""
            for phrase in phrases:
                check(squeeze(phrase) in text, "topic %r does not mention %r" % (topic, phrase))
    for term in ("forget file", "destroy file", "keyboard filter drivers", "activity log", "tray icon", "uninstalling"):
        check(term in index_names, "the index has no entry %r" % term)

    # Where the program's texts send the user.
    texts = program_texts(root)
    need_help = [t for t in texts if t.startswith("NEED HELP?")]
    if check(need_help, "the program's sources have no 'NEED HELP?' line"):
        item = need_help[0].split("->")[-1].strip()
        folder = need_help[0].split("->")[-2].strip()
        check(os.path.basename(chm) == item + ".chm",
              "'NEED HELP?' sends the user to %r, but the help file is %r" % (item, os.path.basename(chm)))
        check(folder == "Quenvar Lockmere", "'NEED HELP?' names the Start menu folder %r" % folder)
    help_file_hint = [t for t in texts if "review the Quenvar Lockmere help file" in t]
    if check(help_file_hint, "no program text sends the user to the help file about filter drivers"):
        check("keyboard filter drivers" in index_names and "filter driver detected" in index_names,
              "the index does not lead to the keyboard filter driver guidance")

    # Every quoted program text exists in the program.
    haystack = "\n".join(texts)
    for name, page in sorted(pages.items()):
        for quoted in page.ui_texts:
            check(quoted in haystack, "%s quotes %r, which no program text contains" % (name, quoted))

    # The documents.
    docs = os.path.join(root, "docs")
    for document, phrases in {
        "ReadMe.rtf": ["Quenvar Lockmere 1.0.7", "Allow Access", "Deny Access", "More Information", "Forget File",
                        "Destroy File", "Clear Log", "QuenvarUI.exe /U",
                        "Start -> All Programs -> Quenvar Lockmere -> Lockmere Help"],
        "License.rtf": ["MIT License", "Copyright (c) 2026 The Quenvar Lockmere developers",
                        "THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND"],
    }.items():
        with open(os.path.join(docs, document), encoding="ascii") as f:
            source = f.read()
        check(source.startswith("{\\rtf1"), document + " does not start as RTF")
        text, depth = rtf_text(source)
        check(depth == 0, "%s has unbalanced braces (%d)" % (document, depth))
        for phrase in phrases:
            check(squeeze(phrase) in squeeze(text), "%s does not say %r" % (document, phrase))

    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)
        profile = os.path.join(args.work, "chromium-profile")
        for name in sorted(pages):
            out = os.path.join(os.path.abspath(args.screenshots), os.path.splitext(name)[0] + ".png")
            subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                            "--no-first-run", "--disable-background-networking", "--disable-component-update",
                            "--disable-sync", "--user-data-dir=" + profile, "--hide-scrollbars",
                            "--window-size=800,1100", "--screenshot=" + out,
                            "file://" + os.path.join(os.path.abspath(unpacked), name)],
                           capture_output=True, timeout=120)
            check(os.path.isfile(out), "no screenshot of " + name)
            print("screenshot:", out)

    for failure in failures:
        print("FAIL:", failure)
    print("%d pages, %d contents entries, %d index entries, %d quoted program texts: %s"
          % (len(pages), len(toc), len(index), sum(len(p.ui_texts) for p in pages.values()),
             "ok" if not failures else "%d failures" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
