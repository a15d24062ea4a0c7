#!/usr/bin/env python3
# Writes a large mixed proxy page in GBK for the extract benchmark: paragraphs of
# Chinese prose with a proxy here and there, an HTML table of proxies, and plain
# proxy lists (bare, typed with status and remark, and as URLs with a log-on), about
# one proxy in eight seen before.
#
#   make_mixed_page.py OUT [SIZE_MB]      (MB = 2^20 bytes, default 100)
import random
import sys

out_path = sys.argv[1]
target = int(sys.argv[2] if len(sys.argv) > 2 else 100) << 20
rng = random.Random(20261208)

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


with open(out_path, "wb") as f:
    f.write("<html><head><title>免费代理</title></head><body>\n".encode("gbk"))
    written = 0
    while written < target:
        b = block()
        f.write(b)
        written += len(b)
    f.write(b"</body></html>\n")
