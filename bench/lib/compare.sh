# shellcheck shell=bash
# What the benches that put one of our commands beside grep share. Sourced by them, not
# run: it sets no shell options of its own.

# The address:port pairs grep and ripgrep pull out of a page.
# shellcheck disable=SC2034  # read by the scripts that source this
address_port_pattern='[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+:[0-9]+'

# Sets tmp to a scratch directory, and mem to one in memory when there is a memory file
# system, so that the matches written there make no command wait for a disk. Both are
# removed when the script ends.
make_scratch_dirs() {
  tmp=$(mktemp -d)
  mem=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
  trap 'rm -rf "$tmp" "$mem"' EXIT
}

# The median of the numbers on standard input, one a line; of an even count, the lower
# of the middle two.
median_of_lines() {
  sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
