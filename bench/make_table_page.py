#!/usr/bin/env python3
# Writes a page of proxy-list tables in GBK for the table bench, and beside it the rows
# it holds ("address:port@TYPE", a tab and its table's layout, one a line), so that what extract --fuzzy prints can be
# counted as found, missed and false. The tables take turns among layouts that sites
# use: "<th>" headers in English, a first row of "<td>" headers in Chinese, data-title
# on every cell and no header, columns in another order, cells with tags inside,
# attributes, upper-case tags and no "</td>", extra columns, and a table without any
# names. Before each table stands a paragraph that ends in a number-like decoy
# ("v7.6.18.77", "1.2.3.4.83 page 2024-05-01", "共 1234 条").
#
#   make_table_page.py OUT TRUTH [TABLES]      (default 20000 tables)
import random
import sys

out_path, truth_path = sys.argv[1], sys.argv[2]
tables = int(sys.argv[3]) if len(sys.argv) > 3 else 20000
rng = random.Random(20261209)

types = ["HTTP", "HTTPS", "SOCKS4", "SOCKS5"]
ports = [80, 3128, 8080, 1080, 8888, 9999, 443, 8000, 53281, 4145]
places = ["北京", "上海", "广东深圳", "美国", "日本东京", "德国"]
levels = ["高匿", "匿名", "透明"]
truth = []


def decoy():
    k = rng.randrange(4)
    if k == 0:
        return "<p>v%d.%d.%d.%d before</p>" % tuple(rng.randint(1, 99) for _ in range(4))
    if k == 1:
        return "<p>%d.%d.%d.%d.%d page %d-%02d-%02d</p>" % (
            tuple(rng.randint(1, 9) for _ in range(5)) + (rng.randint(2015, 2026), rng.randint(1, 12),
                                                          rng.randint(1, 28)))
    if k == 2:
        return "<div class=\"count\">共 %d 条，第 %d 页</div>" % (rng.randint(100, 9999), rng.randint(1, 99))
    return "<p>更新于 %d-%02d-%02d %02d:%02d</p>" % (rng.randint(2015, 2026), rng.randint(1, 12),
                                                  rng.randint(1, 28), rng.randint(0, 23), rng.randint(0, 59))


def row_values():
    addr = "%d.%d.%d.%d" % (rng.randint(1, 223), rng.randint(0, 255), rng.randint(0, 255), rng.randint(1, 254))
    return addr, rng.choice(ports), rng.choice(types), rng.choice(levels), rng.choice(places)


layouts = ["th-english", "td-chinese", "data-title", "reordered", "nested-upper-no-end", "extra-cells",
           "no-names"]


def table(layout):
    lines = ["<table class=\"proxies\">"]
    n = rng.randint(10, 40)
    for r in range(n):
        addr, port, typ, level, place = row_values()
        named_type = typ
        if layout == 0:  # <th> header in English
            if r == 0:
                lines.append("<thead><tr><th>IP</th><th>Port</th><th>Type</th><th>Anonymity</th>"
                             "<th>Country</th></tr></thead><tbody>")
            lines.append("<tr><td>%s</td><td>%d</td><td>%s</td><td>%s</td><td>%s</td></tr>" %
                         (addr, port, typ, level, place))
        elif layout == 1:  # first row of <td> headers in Chinese
            if r == 0:
                lines.append("<tr><td>IP地址</td><td>端口</td><td>类型</td><td>匿名度</td><td>位置</td></tr>")
            lines.append("<tr><td>%s</td><td>%d</td><td>%s</td><td>%s</td><td>%s</td></tr>" %
                         (addr, port, typ.lower(), level, place))
        elif layout == 2:  # data-title on every cell, no header row
            lines.append("<tr><td data-title=\"IP\">%s</td><td data-title=\"PORT\">%d</td>"
                         "<td data-title=\"匿名度\">%s</td><td data-title=\"类型\">%s</td>"
                         "<td data-title=\"位置\">%s</td></tr>" % (addr, port, level, typ, place))
        elif layout == 3:  # another column order
            if r == 0:
                lines.append("<tr><th>端口</th><th>国家</th><th>Host</th><th>协议</th></tr>")
            lines.append("<tr><td>%d</td><td>%s</td><td>%s</td><td>%s</td></tr>" % (port, place, addr, typ))
        elif layout == 4:  # tags inside cells, attributes, upper case, no </td>
            if r == 0:
                lines.append("<TR CLASS=\"head\"><TH>地址<TH>端口号<TH>Protocol<TH>匿名</TR>")
            lines.append("<TR class=\"r%d\"><TD><span class=\"ip\">%s</span><TD style=\"x\"><b>%d</b>"
                         "<TD><a href=\"/t/%s\">%s</a><TD>%s</TR>" % (r % 2, addr, port, typ.lower(), typ, level))
        elif layout == 5:  # extra columns
            if r == 0:
                lines.append("<tr><th>#</th><th>Proxy IP</th><th>速度</th><th>Port</th><th>Type</th>"
                             "<th>最后验证</th></tr>")
            lines.append("<tr><td>%d</td><td>%s</td><td>%.1f秒</td><td>%d</td><td>%s</td><td>%d分钟前</td>"
                         "<td>more</td></tr>" % (r + 1, addr, rng.uniform(0.1, 9), port, typ, rng.randint(1, 59)))
        else:  # no names at all: address and port side by side
            lines.append("<tr><td>%s</td><td>%d</td><td>%s</td></tr>" % (addr, port, place))
            named_type = "HTTP"
        truth.append("%s:%d@%s\t%s" % (addr, port, named_type, layouts[layout]))
    if layout == 0:
        lines.append("</tbody>")
    lines.append("</table>")
    return lines


with open(out_path, "wb") as f:
    f.write("<html><head><title>代理列表</title></head><body>\n".encode("gbk"))
    for t in range(tables):
        f.write(("\n".join([decoy()] + table(t % 7)) + "\n").encode("gbk"))
    f.write(b"</body></html>\n")
with open(truth_path, "w") as f:
    f.write("\n".join(truth) + "\n")
