#!/usr/bin/env python3
# Writes a large mixed proxy page in GBK for the extract benchmark: paragraphs of
# Chinese prose with a proxy here and there, an HTML table of proxies, and plain
# proxy lists (bare, typed with status and remark, and as URLs with a log-on), about
# one proxy in eight seen before.
#
#   make_mixed_page.py OUT [SIZE_MB] [SPARSE]   (MB = 2^20 bytes, default 100)
#
# SPARSE (default 1) divides the proxies per MiB: after each block of proxies comes
# SPARSE - 1 times its size of the same kinds of page without a proxy (prose with
# dates and counts, tables of news and prices, lists of links, a navigation bar on one
# long line), so that a page of SPARSE 8 or 64 is what most real pages look like. With
# SPARSE 1 the page is the same, byte for byte, as before the option existed.
import random
import sys

out_path = sys.argv[1]
target = int(sys.argv[2] if len(sys.argv) > 2 else 100) << 20
sparse = int(sys.argv[3] if len(sys.argv) > 3 else 1)
rng = random.Random(20261208)
# The filler draws from a generator of its own, so that the proxy blocks of a sparse
# page are the first blocks of the dense one.
filler_rng = random.Random(64)

prose = [
    "今天整理了一批可用的代理服务器，速度和稳定性都经过测试，仅供学习交流使用。",
    "以下代理来自网络收集，请勿用于非法用途，如有失效请留言告知，谢谢大家的支持。",
    "国内高匿代理每小时更新一次，透明代理和普通匿名代理请在下方表格中查看。",
    "备注：端口号不同的代理视为不同的条目，验证时间以最后一次检测为准。",
]
types = ["HTTP", "HTTPS", "SOCKS4", "SOCKS5"]
ports = [80, 3128, 8080, 1080, 8888, 9999, 443, 8000, 53281, 4145]
places = ["北京", "上海", "广东深圳", "浙江杭州", "江苏南京", "美国", "日本东京", "德国"]
seen = []


def proxy():
    if seen and rng.random() < 0.125:
        return rng.choice(seen)
    p = "%d.%d.%d.%d:%d" % (rng.randint(1, 223), rng.randint(0, 255), rng.randint(0, 255),
                           rng.randint(1, 254), rng.choice(ports))
    if len(seen) < 100000:
        seen.append(p)
    else:
        seen[rng.randrange(len(seen))] = p
    return p


def block():
    lines = []
    kind = rng.randrange(3)
    if kind == 0:  # prose with a proxy in some sentences
        for _ in range(rng.randint(4, 12)):
            s = rng.choice(prose)
            if rng.random() < 0.4:
                s += " 代理 %s@%s$%s#%s" % (proxy(), rng.choice(types), "%.2f" % rng.uniform(0.1, 9),
                                           rng.choice(places))
            lines.append(s)
    elif kind == 1:  # table rows
        lines.append("<table class=\"list\"><tbody>")
        for _ in range(rng.randint(10, 40)):
            lines.append("<tr><td>%s</td><td>%s</td><td>%s</td><td>%d秒</td></tr>" %
                         (proxy(), rng.choice(types), rng.choice(places), rng.randint(1, 60)))
        lines.append("</tbody></table>")
    else:  # plain lists
        for _ in range(rng.randint(20, 80)):
            r = rng.random()
            if r < 0.6:
                lines.append(proxy())
            elif r < 0.85:
                lines.append("%s@%s$%.1f#%s" % (proxy(), rng.choice(types), rng.uniform(0.1, 9),
                                                 rng.choice(places)))
            else:
                lines.append("%s://user%d:pw%d@%s" % (rng.choice(["http", "socks5"]), rng.randrange(100),
                                                      rng.randrange(100), proxy()))
    return ("\n".join(lines) + "\n").encode("gbk")


filler_prose = [
    "本站新闻频道每日更新，欢迎关注我们的公众号获取最新消息和行业动态。",
    "据统计，今年第%d季度全国共有%d家企业参与了这项调查，同比增长%d%%。",
    "记者从有关部门了解到，%d年%d月%d日起新的规定将正式实施，请大家相互转告。",
    "点击查看更多评论，已有%d人参与讨论，第%d页，共%d页。",
    "更新时间 %d-%02d-%02d %02d:%02d，浏览次数 %d 次，责任编辑：小王。",
    "天气预报：明天多云转晴，气温%d到%d摄氏度，空气质量指数%d，适宜出行。",
    "版本 v%d.%d.%d 发布说明：修复了若干问题，提高了稳定性，下载量已超过%d万次。",
]
columns = ["标题", "日期", "浏览", "价格", "地区", "来源"]


def filler_line():
    s = filler_rng.choice(filler_prose)
    n = s.count("%")
    if "%%" in s:
        n -= 2
    return s % tuple(filler_rng.randint(1, 2024) for _ in range(n)) if n else s


def filler():
    lines = []
    kind = filler_rng.randrange(4)
    if kind == 0:  # prose
        for _ in range(filler_rng.randint(4, 12)):
            lines.append(filler_line())
    elif kind == 1:  # a table of news and prices
        lines.append("<table class=\"news\"><tr><th>%s</th><th>%s</th><th>%s</th></tr>" %
                     tuple(filler_rng.sample(columns, 3)))
        for _ in range(filler_rng.randint(10, 40)):
            lines.append("<tr><td>%d-%02d-%02d</td><td>%s</td><td>%d.%02d元</td><td>%d</td></tr>" %
                         (filler_rng.randint(2015, 2026), filler_rng.randint(1, 12), filler_rng.randint(1, 28),
                          filler_rng.choice(places), filler_rng.randint(1, 9999), filler_rng.randint(0, 99),
                          filler_rng.randint(1, 99999)))
        lines.append("</table>")
    elif kind == 2:  # links
        lines.append("<ul class=\"links\">")
        for _ in range(filler_rng.randint(10, 30)):
            lines.append("<li><a href=\"/news/%d/%d.html\" title=\"%s\">%s</a> <small>%d-%02d-%02d</small></li>" %
                         (filler_rng.randint(2015, 2026), filler_rng.randint(10000, 999999),
                          filler_rng.choice(places), filler_line()[:16], filler_rng.randint(2015, 2026),
                          filler_rng.randint(1, 12), filler_rng.randint(1, 28)))
        lines.append("</ul>")
    else:  # a navigation bar and a script on one long line each
        lines.append("".join("<a class=\"nav\" href=\"https://www.site%d.cn/c/%d\">%s</a>" %
                             (filler_rng.randrange(9), filler_rng.randrange(1000), filler_rng.choice(places))
                             for _ in range(filler_rng.randint(20, 60))))
        lines.append("<script>var cfg={page:%d,size:%d,t:\"%02d:%02d\"};</script>" %
                     (filler_rng.randint(1, 99), filler_rng.randint(10, 50), filler_rng.randint(0, 23),
                      filler_rng.randint(0, 59)))
    return ("\n".join(lines) + "\n").encode("gbk")


with open(out_path, "wb") as f:
    f.write("<html><head><title>免费代理</title></head><body>\n".encode("gbk"))
    written = 0
    owed = 0  # filler bytes still to write; an overshoot is taken off the next block's share
    while written < target:
        b = block()
        f.write(b)
        written += len(b)
        owed += (sparse - 1) * len(b)
        while owed > 0 and written < target:
            b = filler()
            f.write(b)
            written += len(b)
            owed -= len(b)
    f.write(b"</body></html>\n")
