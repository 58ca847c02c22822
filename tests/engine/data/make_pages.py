#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the sample front pages (news, shop, blog) beside this script, in the markup styles of today's
# sites; run anchors.py on them afterwards for the anchors an HTML parser sees.
import os
import random
R = random.Random(2026)
words = ("election results budget council climate summit storm warning market rally energy prices school strike "
         "transfer window final league cup museum opening festival review housing plan rail strike vaccine study "
         "startup funding court ruling bridge repair harbour festival wildfire update coach interview").split()
def title(n=None):
    n = n or R.randint(3, 9)
    t = " ".join(R.choice(words) for _ in range(n))
    return t[0].upper() + t[1:]
def slug(t): return t.lower().replace(" ", "-")[:40]
ent = ["l&rsquo;&eacute;quipe", "caf&eacute;", "5&nbsp;&euro;", "Q&amp;A", "&ldquo;quoted&rdquo;", "M&uuml;nchen", "&#8220;live&#8221;", "&#x2014; update", "Men&#39;s", "2&ndash;1"]
def maybe_ent(t):
    return t + " " + R.choice(ent) if R.random() < 0.25 else t
svg = '<svg class="icon" viewBox="0 0 24 24" aria-hidden="true"><path d="' + " ".join("M%d %dL%d %d" % (R.randint(0,24),R.randint(0,24),R.randint(0,24),R.randint(0,24)) for _ in range(40)) + '"/></svg>'

def head(name, extra=""):
    css = "".join(".c%d{margin:%dpx;padding:0 %dpx}a:hover>b{color:#%06x}\n" % (i, i, i, R.randint(0, 0xffffff)) for i in range(120))
    return ('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">'
            '<title>%s</title><link rel="stylesheet" href="/static/main.css"><style>%s</style>'
            '<script type="application/ld+json">{"@context":"https://schema.org","@type":"WebSite","url":"https://%s.example/",'
            '"potentialAction":{"@type":"SearchAction","target":"https://%s.example/search?q={q}"}}</script>%s</head>\n'
            % (name, css, name, name, extra))

def nav(sections):
    out = ['<header class="site-header"><a class="logo" href="/" aria-label="Home">' + svg + '</a><nav><ul class="nav">']
    for s in sections:
        form = R.choice(['<li><a href="/%s">%s</a></li>', "<li><a href='/%s' class=\"nav-link\">%s</a></li>", '<li><a href=/%s>%s</a></li>'])
        out.append(form % (s.lower(), s))
    out.append('</ul></nav><button class="menu"><span>Menu</span></button></header>\n')
    return "".join(out)

def news_card(i):
    t = maybe_ent(title())
    u = "/news/%s-%d" % (slug(t.split("&")[0]), 1000 + i)
    k = R.randrange(12)
    if k == 0:
        return '<article class="card"><a href="%s" class="card__link" data-track="hl"><h3 class="card__title">%s</h3></a><p class="card__summary">%s.</p></article>\n' % (u, t, title(12))
    if k == 1:
        return '<article class="card card--img"><a href="%s"><picture><source srcset="/img/%d.webp 1x, /img/%d@2x.webp 2x" type="image/webp"><img src="/img/%d.jpg" alt="%s" loading="lazy" width="320" height="180"></picture><div class="card__body"><span class="kicker">%s</span>\n  <h2>%s</h2></div></a></article>\n' % (u, i, i, i, title(4), R.choice(["Live", "Analysis", "Exclusive", "Video"]), t)
    if k == 2:
        return '<li class="latest"><a href="%s"><span class="badge">New</span> %s</a> <time datetime="2026-12-07T10:%02d">%d min ago</time></li>\n' % (u, t, i % 60, i % 59 + 1)
    if k == 3:
        return '<div class="video"><a href="%s" class="play">%s <span class="sr-only">Watch:</span> %s</a></div>\n' % (u, svg, t)
    if k == 4:
        return '<h3 class="headline"><a href="%s">%s</a></h3>\n' % (u, t)
    if k == 5:
        return '<div class="promo"><a href="%s" target="_blank" rel="noopener"><strong>%s</strong><br>%s &rarr;</a></div>\n' % (u, t, title(3))
    if k == 6:
        return '<li><a href="%s" class="most-read__link"><span class="rank">%d</span><span class="most-read__title">%s</span></a></li>\n' % (u, i % 10 + 1, t)
    if k == 7:
        return '<div class="teaser"><A HREF="%s"><B>%s</B></A></div>\n' % (u, t)
    if k == 8:
        return '<div class="opinion"><a href="%s"><img class="avatar" src="/a/%d.png" alt=""><em>Opinion</em>\n\t%s</a></div>\n' % (u, i, t)
    if k == 9:
        return '<li class="ticker"><a href="%s"><script>window.t&&t.push(%d)</script>%s</a></li>\n' % (u, i, t)
    if k == 10:
        return '<div class="share"><a href="https://social.example/share?u=%s" aria-label="Share">%s</a></div>\n' % (u, svg)
    return '<p class="related">Related: <a href="%s" data-id="%d">%s</a>, <a href="%s/comments"><span class="count">%d</span> comments</a></p>\n' % (u, i, t, u, i * 3)

def news():
    out = [head("news", '<script>window.__STATE__={"html":"<a href=\\"/bad\\">x</a>"};</script>'), '<body class="home">', nav(["World", "Politics", "Business", "Sport", "Culture", "Science", "Opinion"])]
    out.append('<main><section class="top-stories"><h2 class="section-title"><a href="/top">Top stories</a></h2>\n')
    for i in range(170):
        if i % 40 == 39:
            out.append('</section><section class="more"><!-- ad slot <a href="/ad">Ad</a> --><div class="ad" data-slot="%d"></div>\n' % i)
        out.append(news_card(i))
    out.append('</section></main><footer><ul>')
    for f in ["About us", "Contact", "Privacy", "Cookies", "Terms &amp; conditions", "Accessibility", "Jobs"]:
        out.append('<li><a href="/%s">%s</a></li>' % (slug(f.split("&")[0]).strip("-"), f))
    out.append('</ul><p>&copy; 2026 News Example</p></footer></body></html>\n')
    return "".join(out)

def shop():
    out = [head("shop"), '<body>', nav(["Women", "Men", "Kids", "Sale", "New in", "Brands"])]
    out.append('<main><div class="grid">\n')
    for i in range(110):
        name = maybe_ent(title(R.randint(2, 4)))
        price = "%d,%02d" % (R.randint(5, 300), R.choice([0, 50, 95, 99]))
        u = "/p/%s-%d?color=%s&amp;size=%s" % (slug(name.split("&")[0]), 20000 + i, R.choice(["blue", "black", "red"]), R.choice("SML"))
        k = R.randrange(5)
        if k == 0:
            out.append('<div class="tile"><a class="product-tile" href="%s"><div class="img-wrap"><img src="/img/p%d.jpg" alt="%s" loading="lazy"></div><div class="name">%s</div><div class="price"><span class="amount">&euro;%s</span></div></a></div>\n' % (u, i, name.split("&")[0], name, price))
        elif k == 1:
            out.append('<div class="tile"><a href="%s" class="img"><img src="/img/p%d.jpg" alt=""></a><h3 class="name"><a href="%s">%s</a></h3><span class="price">&euro;%s</span><a href="/cart/add?id=%d" class="btn" data-id="%d"><span>Add to cart</span></a></div>\n' % (u, i, u, name, price, i, i))
        elif k == 2:
            out.append('<li class="deal"><a href=\'%s\'><span class="pct">-%d%%</span> %s <s>&euro;%s</s></a></li>\n' % (u, R.randint(10, 70), name, price))
        elif k == 3:
            out.append('<div class="tile"><a href="%s" title="%s &gt; details"><figure><img src="/p%d.png"><figcaption>%s</figcaption></figure></a></div>\n' % (u, name.split("&")[0], i, name))
        else:
            out.append('<div class="tile"><a href="%s"><div class="labels"><span class="label">Bestseller</span></div>\n<p class="brand">%s</p><p class="name">%s</p></a></div>\n' % (u, title(1), name))
    out.append('</div><nav class="pager"><a href="?page=1">1</a> <a href="?page=2">2</a> <a href="?page=2" rel="next">Next&nbsp;&raquo;</a></nav></main></body></html>\n')
    return "".join(out)

def blog():
    out = [head("blog"), '<body class="blog">', nav(["Home", "Archive", "About", "Projects"])]
    out.append('<div id="content">\n')
    for i in range(45):
        t = maybe_ent(title())
        u = "https://blog.example/2026/%02d/%s/" % (i % 12 + 1, slug(t.split("&")[0]))
        out.append('<article class="post"><h2 class="entry-title"><a href="%s" rel="bookmark">%s</a></h2>\n' % (u, t))
        out.append('<div class="entry-meta"><span class="byline">by <a class="url fn n" href="/author/%s">%s</a></span> <a href="%s"><time class="entry-date" datetime="2026-11-%02d">November %d, 2026</time></a></div>\n' % (slug(title(1)), title(2), u, i % 28 + 1, i % 28 + 1))
        out.append('<div class="entry-summary"><p>%s. <a href="%s" class="more-link">Continue reading<span class="screen-reader-text"> &ldquo;%s&rdquo;</span></a></p></div>\n' % (title(20), u, t.split("&")[0]))
        out.append('<footer>Tags: %s | <a href="%s#comments">%d Comments</a></footer></article>\n' % (", ".join('<a href="/tag/%s" rel="tag">%s</a>' % (w, w) for w in R.sample(words, 3)), u, i))
    out.append('</div><aside><h3>Blogroll</h3><ul><li><a href="http://friend.example/">Friend&#039;s log</a></li><li><a href="https://other.example/feed">Other <b>feed</b></a></li></ul></aside></body></html>\n')
    return "".join(out)

for name, make in [("news", news), ("shop", shop), ("blog", blog)]:
    open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "frontpage-%s.html" % name), "w", encoding="utf-8").write(make())
