#!/usr/bin/env python3
"""One table: each benchmark corpus (16 MiB) encoded and decoded by tessaly-cli,
every run paired with `iconv -f CP932 -t UTF-16LE` of the corpus's Shift-JIS
text (for an access log: the log with its escapes decoded; from UTF-8 for the
UTF-8 log). Runs alternate tessaly-cli, iconv, tessaly-cli, ...; the table
shows the medians of the wall times and of the pairs' ratios (of the wall
times, and of the processor times, which a busy machine disturbs less), whole
process, output to /dev/null, and the peak memory of tessaly-cli.

    corpus_table.py CLI CORPUS_TOOL RUNS [NAME ...]

CORPUS_TOOL is build/bench/codec/tessaly_bench_corpus. The decode row of the
UTF-8 access log runs when CLI has `decode --charset utf-8`."""
import os, statistics, subprocess, sys, tempfile, time, urllib.parse

cli, tool, runs, only = sys.argv[1], sys.argv[2], int(sys.argv[3]), set(sys.argv[4:])
devnull = os.open(os.devnull, os.O_RDWR)


def once(cmd):
    """Wall seconds and exit status of one run, output thrown away."""
    start = time.perf_counter()
    pid = os.posix_spawnp(cmd[0], cmd, os.environ, file_actions=[
        (os.POSIX_SPAWN_DUP2, devnull, 0), (os.POSIX_SPAWN_DUP2, devnull, 1),
        (os.POSIX_SPAWN_DUP2, devnull, 2)])
    _, status, usage = os.wait4(pid, 0)
    return time.perf_counter() - start, status, usage.ru_utime + usage.ru_stime


def peak_kib(cmd):
    """Peak memory of one more run, as /usr/bin/time sees it (a child spawned
    from this process would report this process's own size)."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *cmd],
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1])


def paired(a, b):
    """Median wall seconds of a and b, medians of the ratios a/b run by run of
    the wall and of the processor seconds (user + system), a's peak KiB."""
    for cmd in (a, b):  # warms the page cache and checks the command
        if once(cmd)[1] != 0:
            sys.exit(f"failed: {' '.join(cmd)}")
    ta, tb, ratios, cpu_ratios = [], [], [], []
    for _ in range(runs):
        ra, rb = once(a), once(b)
        ta.append(ra[0]), tb.append(rb[0]), ratios.append(ra[0] / rb[0]), cpu_ratios.append(ra[2] / rb[2])
    peak = peak_kib(a)
    return (statistics.median(ta), statistics.median(tb), statistics.median(ratios), peak,
            statistics.median(cpu_ratios))


utf8_route = once([cli, "decode", "--charset", "utf-8"])[1] == 0
work = tempfile.mkdtemp()
rows = []
try:
    listing = subprocess.run([tool, "--list"], check=True, capture_output=True, text=True).stdout
    for line in listing.splitlines():
        name, kind, charset, _ = line.split("\t")
        if only and name not in only:
            continue
        data = subprocess.run([tool, name], check=True, capture_output=True).stdout
        if kind == "text":
            text = data
            encoded = urllib.parse.quote_from_bytes(data, safe=bytes(range(32, 127))).encode()
        else:
            text, encoded = urllib.parse.unquote_to_bytes(data), data
        text_file, enc_file = os.path.join(work, name + ".text"), os.path.join(work, name + ".enc")
        for path, content in ((text_file, text), (enc_file, encoded)):
            with open(path, "wb") as f:
                f.write(content)
        peer = ["iconv", "-f", "UTF-8" if charset == "utf-8" else "CP932", "-t", "UTF-16LE", text_file]
        enc = paired([cli, "encode", text_file], peer) if kind == "text" else None
        dec = same = None
        decode = ([cli, "decode", enc_file] if charset == "cp932" else
                  [cli, "decode", "--charset", "utf-8", enc_file] if utf8_route else None)
        if decode:
            dec = paired(decode, peer)
            # iconv on the decoder's own input (ASCII, read as code page 932)
            same = paired(decode, ["iconv", "-f", "CP932", "-t", "UTF-16LE", enc_file])
        rows.append((name, len(text), len(encoded), enc, dec, same))
        for path in (text_file, enc_file):
            os.remove(path)
finally:
    os.rmdir(work) if not os.listdir(work) else None


def mib(n):
    return n / (1 << 20)


print("seconds: median wall time; ratio: of the wall times, cpu: of user + system time, run by run;")
print("iconv converts the corpus's text; for decode also the decoder's own input (last two columns)")
print(f"{'corpus':<12} {'MiB':>4} | {'encode s':>8} {'iconv s':>7} {'ratio':>6} {'cpu':>6} {'MB/s':>5} | "
      f"{'MiB in':>6} {'decode s':>8} {'iconv s':>7} {'ratio':>6} {'cpu':>6} | {'iconv s':>7} {'ratio':>6} | {'peak MiB':>8}")
for name, text_size, enc_size, enc, dec, same in rows:
    e = (f"{enc[0]:8.3f} {enc[1]:7.3f} {enc[2]:5.2f}x {enc[4]:5.2f}x {text_size / enc[0] / 1e6:5.0f}" if enc
         else f"{'-':>8} {'-':>7} {'-':>6} {'-':>6} {'-':>5}")
    d = (f"{mib(enc_size):6.1f} {dec[0]:8.3f} {dec[1]:7.3f} {dec[2]:5.2f}x {dec[4]:5.2f}x | {same[1]:7.3f} {same[2]:5.2f}x"
         if dec else f"{mib(enc_size):6.1f} {'(no UTF-8 route)':>30} | {'-':>7} {'-':>6}")
    peaks = [r[3] for r in (enc, dec) if r]
    peak = f"{max(peaks) / 1024:8.1f}" if peaks else f"{'-':>8}"
    print(f"{name:<12} {mib(text_size):4.1f} | {e} | {d} | {peak}")
