#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes PAGE.anchors beside each page given: one line per anchor an HTML parser sees with an href and
# visible text, "href<TAB>text". The text runs to the anchor's end tag or the next anchor, script and
# style content left out, references decoded, white space collapsed.
import html.parser
import sys


class Anchors(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.found = []
        self.open = None  # [href, pieces] of the anchor being read
        self.skip = 0     # inside script or style

    def close_anchor(self):
        if self.open:
            text = " ".join("".join(self.open[1]).split())
            if text:
                self.found.append((self.open[0].strip(), text))
        self.open = None

    def handle_starttag(self, tag, attrs):
        if tag == "a":
            self.close_anchor()
            href = dict(attrs).get("href")
            if href is not None:
                self.open = [href, []]
        elif tag in ("script", "style"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag == "a":
            self.close_anchor()
        elif tag in ("script", "style") and self.skip:
            self.skip -= 1

    def handle_data(self, data):
        if self.open and not self.skip:
            self.open[1].append(data)


for path in sys.argv[1:]:
    parser = Anchors()
    parser.feed(open(path, encoding="utf-8").read())
    parser.close()
    parser.close_anchor()
    with open(path + ".anchors", "w", encoding="utf-8") as out:
        for href, text in parser.found:
            out.write(href.replace("\t", " ") + "\t" + text.replace("\t", " ") + "\n")
