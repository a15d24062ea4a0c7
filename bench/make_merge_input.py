#!/usr/bin/env python3
# Writes the outputs of a large verification as merge reads them: list-file lines
# ("address:port@TYPE$time-or-status#remark", as verify prints them), most with an
# IPv4 address, some with an IPv6 address or a host name; times and failure words;
# a remark on about a fifth, some longer than a row keeps inline; a few with the
# judge's anonymity and exit address after a tab. About 15 % of the lines repeat a
# proxy of an earlier line with another result (a later run of the same proxy), some
# of them still unverified, which never replaces a result.
#
#   make_merge_input.py OUT [ROWS] [DISTINCT] [list]  (default 10,000,000 and 8,500,000)
#
# With "list" it writes a Proxies.pro instead: CR LF line ends, no judge's columns and
# no host names (serve, which reads it in its benchmark, would look them up).
import random
import sys

out_path = sys.argv[1]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 10_000_000
distinct = int(sys.argv[3]) if len(sys.argv) > 3 else rows * 17 // 20
as_list = len(sys.argv) > 4 and sys.argv[4] == "list"
end = "\r\n" if as_list else "\n"
rng = random.Random(20261209)

types = ["HTTP"] * 5 + ["HTTPS"] * 2 + ["SOCKS4"] + ["SOCKS5"] * 3
ports = ["80", "3128", "8080", "1080", "8888", "9999", "443", "8000", "53281", "4145", "9050"]
failures = ["连接失败"] * 6 + ["超时"] * 4 + ["不匹配", "验证异常", "域名无法解析", "TLS被拦截"]
remarks = ["北京", "上海电信", "US", "DE Frankfurt", "日本东京", "广东深圳 移动", "elite", "shared"]
long_remarks = ["a remark that is too long to be kept inside the row itself", "来自代理源 free-list 第三页的长备注文字"]
names = ["gw%d.provider%d.example" % (i, i % 97) for i in range(5000)]


def host(i):
    r = rng.random()
    if r < 0.01:
        return "[2001:db8:%x::%x]" % (i >> 16, i & 0xFFFF)
    # A list for serve has no names: serve would look them up.
    if r < 0.02 and not as_list:
        return rng.choice(names)
    return "%d.%d.%d.%d" % (1 + (i * 7919) % 223, (i >> 16) & 255, (i >> 8) & 255, i & 255)


def result():
    r = rng.random()
    if r < 0.40:
        return "%.2f" % rng.uniform(0.05, 9.5)
    if r < 0.45:
        return "%.1f" % rng.uniform(0.1, 20)
    if r < 0.93:
        return rng.choice(failures)
    return "未验证"


def tail():
    r = rng.random()
    if r < 0.20:
        return "#" + rng.choice(remarks)
    if r < 0.205:
        return "#" + rng.choice(long_remarks)
    return ""


keys = []  # the proxies written so far, for the repeats
repeats = rows - distinct
with open(out_path, "w", encoding="utf-8", newline="") as out:
    batch = []
    made = 0
    for n in range(rows):
        # Repeats spread over the whole file, each of a proxy already written.
        if keys and rng.randrange(rows - n) < repeats:
            repeats -= 1
            key = keys[rng.randrange(len(keys))]
        else:
            key = "%s:%s@%s" % (host(made), rng.choice(ports), rng.choice(types))
            made += 1
            if len(keys) < 2_000_000:
                keys.append(key)
            else:
                keys[rng.randrange(len(keys))] = key
        line = key + "$" + result() + tail()
        if rng.random() < 0.02 and not as_list:
            line += "\t%s\t203.0.%d.%d" % (rng.choice(["elite", "anonymous", "transparent"]), rng.randrange(256),
                                           rng.randrange(256))
        batch.append(line)
        if len(batch) >= 100_000:
            out.write(end.join(batch) + end)
            batch.clear()
    if batch:
        out.write(end.join(batch) + end)
