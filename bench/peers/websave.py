# Loads a web file (settings and cell records, escapes undone, LF made CR LF)
# and saves it again as the web writer does: websave.py IN OUT.
import re
import sys

SETTINGS = ['isrc', 'iname', 'iecho', 'odest', 'oname', 'onewl', 'cfmt', 'citer', 'cdisp',
            'rtype', 'rfmt', 'rall', 'starg', 'srpl', 'scount', 'sout', 'nfmt', 'ndec', 'nang',
            'pltng', 'xmax', 'xmin', 'ymax', 'ymin', 'xintrvls', 'yintrvls', 'xycells']


def unescape(s):
    return s.replace('&lt;', '<').replace('&amp;', '&')


def escape(s):
    return s.replace('&', '&amp;').replace('<', '&lt;')


def load(path):
    with open(path, 'rb') as f:
        data = f.read().decode('latin-1')
    data = re.sub(r'(?<!\r)\n', '\r\n', data)
    settings = {}
    cells = {'home': ['', None, '']}
    rec = None
    parts = re.split(r'<([^>]*)>', data)
    for i in range(1, len(parts), 2):
        tag = parts[i]
        name = tag.replace('/', '')
        if name == 'eof':
            break
        if '/' not in tag:
            continue
        content = unescape(parts[i - 1])
        if name == 'cname':
            rec = cells.setdefault(content, ['', None, ''])
        elif name == 'text':
            rec[0] = content
        elif name == 'val':
            v = content.lstrip(' ')
            rec[1] = float(v) if v and (v[0].isdigit() or v[0] in '.+-') else content
        elif name in ('script', 'form'):
            rec[2] = content
        elif name in SETTINGS:
            settings[name] = content
    return settings, cells


def save(path, settings, cells):
    ndec = int(settings.get('ndec', '2'))
    out = ['\n<opts>']
    for tag in SETTINGS:
        out.append('\n<%s>%s</%s>' % (tag, escape(settings.get(tag, '')), tag))
    out.append('</opts>')
    for name in sorted(cells, key=lambda n: n.upper().replace('_', ' ')):
        text, value, script = cells[name]
        out.append('\n<cell>\n<cname>%s</cname>' % name)
        if text:
            out.append('\n<text>%s</text>' % escape(text))
        if isinstance(value, float):
            out.append('\n<val>%.*g</val>' % (ndec, value))
        elif value:
            out.append('\n<val>%s</val>' % escape(value))
        if script:
            out.append('\n<script>%s</script>' % escape(script))
        out.append('</cell>')
    out.append('</eof>')
    with open(path, 'wb') as f:
        f.write(''.join(out).encode('latin-1'))


settings, cells = load(sys.argv[1])
save(sys.argv[2], settings, cells)
