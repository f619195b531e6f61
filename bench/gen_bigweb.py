#!/usr/bin/env python3
"""Writes a web of N cells c00001..cN, each with a number value and a text
(with characters the web file escapes), for the load/save and big-web
benchmarks:

    gen_bigweb.py [--text LEN] [--links K] [--touch K] [--report TYPE] N FILE

Each text is about LEN characters (default 100). With --links K it starts by
naming K other cells: the first is always c00001, so that one cell has an
in-link from every other, and the rest are spread over the web the same way
every run. The names come before the filler, so a text shorter than its
links is cut after them. --touch K gives home a script that adds 1 to
c00002..cK, counting in c00001; --report sets the report type (fmt, inptr, outptr)."""
import argparse


def cell_name(k):
    return 'c%05d' % k


def cell_text(k, n, length, links):
    named = []
    if links > 0 and n > 1:
        named.append(cell_name(1) if k != 1 else cell_name(2))
        seed = k
        for _ in range(links - 1):
            seed = (seed * 1103515245 + 12345) % 2147483648
            named.append(cell_name(seed % n + 1))
    head = ('See ' + ', '.join(named) + '. ') if named else ''
    base = head + 'Cell %d of the big web: a < b & c > d; ' % k
    return (base + 'lorem ipsum dolor sit amet ' * (length // 27 + 2))[:max(length, len(head))]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--text', type=int, default=100, help='characters of each text')
    ap.add_argument('--links', type=int, default=0, help='cells each text names')
    ap.add_argument('--touch', type=int, default=0, help='cells home\'s script adds 1 to')
    ap.add_argument('--report', help='the report type')
    ap.add_argument('n', type=int)
    ap.add_argument('path')
    a = ap.parse_args()
    report = '<rtype>%s</rtype>' % a.report if a.report else ''
    # c00001 sorts first: c00001[k] is the cell k places after it. It counts
    # too: home sorts after the c cells, out of a full cell table's reach.
    script = ('<script>for (c00001 = 1 to %d) {set c00001[c00001] to c00001[c00001] + 1}'
              '</script>' % (a.touch - 1)) if a.touch > 0 else ''
    out = ['<opts><nfmt>general</nfmt><ndec>8</ndec>%s</opts>' % report,
           '<cell><cname>home</cname>%s</cell>' % script]
    for k in range(1, a.n + 1):
        text = cell_text(k, a.n, a.text, a.links).replace('&', '&amp;').replace('<', '&lt;')
        out.append('<cell><cname>%s</cname><text>%s</text><val>%d.5</val></cell>'
                   % (cell_name(k), text, k))
    out.append('</eof>')
    with open(a.path, 'w', newline='\n') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
