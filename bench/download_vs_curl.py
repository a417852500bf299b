#!/usr/bin/env python3
"""Download speed, CPU and memory of the launcher's download job next to curl
and a bare 2048-byte receive loop, all fetching from one nginx on the
loopback of a private network namespace; then the same over a link shaped
like a player's; then the many-small-files update against its tick floor and
the plan benchmark.

    bench/download_vs_curl.py [--rounds 5] [--small-files 200] [--build build/release]

Runs itself under `unshare -rn`; no traffic leaves that namespace. Every
client runs once per round, interleaved, and the report gives medians and
ratios, since one time on a shared machine means little."""

import argparse
import hashlib
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MIB = 1024 * 1024


def reexec_in_private_network():
    if os.environ.get("GLIMMERHOLD_BENCH_NETNS") == "1":
        return
    env = dict(os.environ, GLIMMERHOLD_BENCH_NETNS="1")
    os.execvpe("unshare", ["unshare", "-rn", sys.executable] + sys.argv, env)


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DGLIMMERHOLD_SANITIZE="], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", build_dir, "fetch_one", "bare_recv", "update_driver", "plan_bench"],
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "bin")


def start_nginx(work, root):
    conf = os.path.join(work, "nginx.conf")
    temp = " ".join(f"{kind}_temp_path {work}/{kind};" for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(conf, "w") as out:
        out.write(f"""daemon off; master_process off; user root root; worker_processes 1;
pid {work}/nginx.pid; error_log {work}/error.log;
events {{ worker_connections 64; }}
http {{ access_log off; sendfile on; default_type application/octet-stream; {temp}
  server {{ listen 127.0.0.1:80; root {root}; }} }}
""")
    nginx = subprocess.Popen(["/usr/sbin/nginx", "-p", work + "/", "-c", conf, "-e", f"{work}/error.log"])
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if subprocess.run(["curl", "-s", "-o", "/dev/null", "http://127.0.0.1/"]).returncode == 0:
            return nginx
        time.sleep(0.05)
    nginx.kill()
    sys.exit("nginx did not start")


def measured(command, env=None):
    """Wall seconds, CPU seconds (user + system) and peak resident KiB of one
    child process."""
    start = time.perf_counter()
    child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command[0]} failed")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def compare(label, clients, rounds, out_file, size):
    """Runs every client once per round, interleaved; prints medians and the
    ratios to curl and to the bare loop."""
    results = {name: [] for name in clients}
    for _ in range(rounds):
        for name, command in clients.items():
            if os.path.exists(out_file):
                os.remove(out_file)
            results[name].append(measured(command))
            if os.path.getsize(out_file) != size:
                sys.exit(f"{name} fetched {os.path.getsize(out_file)} bytes, not {size}")
    print(f"\n{label} ({rounds} rounds, medians)")
    print(f"  {'client':<10} {'wall s':>8} {'cpu s':>8} {'MiB/s':>8}  wall/curl  cpu/curl  wall/bare")
    med = {name: (statistics.median(r[0] for r in rs), statistics.median(r[1] for r in rs)) for name, rs in results.items()}
    for name, (wall, cpu) in med.items():
        print(f"  {name:<10} {wall:8.3f} {cpu:8.3f} {size / MIB / wall:8.1f}  {wall / med['curl'][0]:9.3f}"
              f" {cpu / med['curl'][1]:9.3f} {wall / med['bare'][0]:10.3f}")
    # Per-round ratios of the job, so the spread shows too.
    per_round = [j[0] / c[0] for j, c in zip(results["job"], results["curl"])]
    print(f"  job/curl wall per round: " + " ".join(f"{r:.3f}" for r in per_round))
    signed = [(s[0] / j[0], s[1] / j[1]) for s, j in zip(results["job+sha"], results["job"])]
    print(f"  job+sha/job wall per round: " + " ".join(f"{w:.3f}" for w, _ in signed))
    print(f"  job+sha/job cpu per round:  " + " ".join(f"{c:.3f}" for _, c in signed))
    return results


def small_files(bin_dir, work, site, count):
    """Updates `count` small files with the launcher's 250 ms tick and
    compares the time with the floor of two ticks a file."""
    install = os.path.join(work, "install")
    os.makedirs(install)
    os.makedirs(os.path.join(site, "small"))
    with open(os.path.join(site, "small", "version_list.txt"), "w") as listing:
        for i in range(count):
            body = f"small file {i}\n" * 20
            with open(os.path.join(site, "small", f"f{i}.txt"), "w") as f:
                f.write(body)
            listing.write(f"f{i}.txt 1 {len(body)}\n")
    reg = os.path.join(work, "user.reg")
    with open(reg, "w", encoding="utf-16") as out:
        out.write("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold]\r\n"
                  f"\"InstallPath\"=\"{install}\"\r\n")
    env = dict(os.environ, GLIMMERHOLD_REGISTRY_FILE=reg)
    wall, cpu, _ = measured([os.path.join(bin_dir, "update_driver"), "--base", "127.0.0.1/small/",
                             "--tick-ms", "250", "--limit-s", str(count + 60)], env)
    floor = count * 2 * 0.250
    fetched = sum(1 for name in os.listdir(install) if name.startswith("f"))
    print(f"\n{count} small files at the 250 ms tick: {wall:.2f} s wall, {cpu:.2f} s CPU, "
          f"floor {floor:.1f} s (two ticks a file), ratio {wall / floor:.3f}; {fetched} files fetched")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--small-files", type=int, default=200)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--skip-shaped", action="store_true")
    args = parser.parse_args()
    reexec_in_private_network()
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    bin_dir = build(args.build)

    work = tempfile.mkdtemp(prefix="glimmerhold-bench-", dir=os.path.join(ROOT, "build"))
    site = os.path.join(work, "site")
    os.makedirs(site)
    nginx = None
    try:
        big = os.path.join(site, "big.bin")
        with open(big, "wb") as out:
            for _ in range(256):
                out.write(os.urandom(MIB))
        with open(os.path.join(site, "huge.bin"), "wb") as out:
            out.truncate(1024 * MIB)
        # In pieces: a child's peak resident size counts what this process
        # held when it forked.
        sha = hashlib.sha256()
        with open(big, "rb") as data:
            for piece in iter(lambda: data.read(MIB), b""):
                sha.update(piece)
        digest = sha.hexdigest()[:32]
        nginx = start_nginx(work, site)
        out_file = os.path.join(work, "fetched.bin")
        clients = {
            "curl": ["curl", "-s", "-o", out_file, "http://127.0.0.1/big.bin"],
            "bare": [os.path.join(bin_dir, "bare_recv"), "/big.bin", out_file],
            "job": [os.path.join(bin_dir, "fetch_one"), "127.0.0.1/big.bin", out_file],
            # The same job as a launcher with an update key runs it: the body
            # hashed as it arrives and checked before the file is put in place.
            "job+sha": [os.path.join(bin_dir, "fetch_one"), "127.0.0.1/big.bin", out_file, digest],
        }
        print(f"{time.strftime('%Y-%m-%d %H:%M')}, {os.cpu_count()} cores, 256 MiB from nginx")
        compare("bare loopback", clients, args.rounds, out_file, 256 * MIB)
        if not args.skip_shaped:
            subprocess.run(["tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", "800mbit", "burst", "256kb",
                            "latency", "50ms"], check=True)
            compare("loopback shaped to 800 Mbit/s (tbf)", clients, args.rounds, out_file, 256 * MIB)
            subprocess.run(["tc", "qdisc", "del", "dev", "lo", "root"], check=True)

        peaks = {}
        for name, size in (("big.bin", 256), ("huge.bin", 1024)):
            os.remove(out_file) if os.path.exists(out_file) else None
            peaks[size] = measured([os.path.join(bin_dir, "fetch_one"), f"127.0.0.1/{name}", out_file])[2]
        print(f"\npeak resident size of the job: {peaks[256] / 1024:.1f} MiB for 256 MiB, "
              f"{peaks[1024] / 1024:.1f} MiB for 1 GiB")
        os.remove(out_file)

        if args.small_files > 0:
            small_files(bin_dir, work, site, args.small_files)
    finally:
        if nginx is not None:
            nginx.terminate()
            nginx.wait()
        shutil.rmtree(work, ignore_errors=True)

    print("\nplan of 100,000 server entries against 100,000 local entries:")
    subprocess.run([os.path.join(bin_dir, "plan_bench"), "--benchmark_repetitions=5",
                    "--benchmark_report_aggregates_only=true"], check=True)


if __name__ == "__main__":
    main()
