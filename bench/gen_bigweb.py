#!/usr/bin/env python3
"""Writes a web of N cells, each with a text of about 100 characters (with
characters the web file escapes) and a number value, for the load/save
benchmark: gen_bigweb.py N FILE."""
import sys


def cell_text(k):
    base = 'Cell %d of the big web: a < b & c > d; ' % k
    return (base + 'lorem ipsum dolor sit amet ' * 4)[:100]


def main():
    n, path = int(sys.argv[1]), sys.argv[2]
    out = ['<opts><nfmt>general</nfmt><ndec>8</ndec></opts>',
           '<cell><cname>home</cname></cell>']
    for k in range(1, n + 1):
        text = cell_text(k).replace('&', '&amp;').replace('<', '&lt;')
        out.append('<cell><cname>c%05d</cname><text>%s</text><val>%d.5</val></cell>'
                   % (k, text, k))
    out.append('</eof>')
    with open(path, 'w', newline='\n') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
