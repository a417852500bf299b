#!/usr/bin/env python3
"""Download speed, CPU and memory of the launcher's download job next to curl
and a bare 2048-byte receive loop, all fetching from one nginx on the
loopback of a private network namespace; then the same over a link shaped
like a player's; then the many-small-files update against its tick floor and
the plan benchmark; then a published release of thousands of small files
on a link shaped to 20 Mbit/s, installed by the launcher's update engine
built link-paced (GLIMMERHOLD_LINK_PACED=ON) and built with the default tick
schedule, next to curl fetching the same files one connection per file.

    bench/download_vs_curl.py [--rounds 5] [--small-files 200] [--build build/release]
                              [--paced-files 3000] [--paced-off-files 300] [--only-paced]
                              [--install-root DIR]

Runs itself under `unshare -rn`; no traffic leaves that namespace. Every
client runs once per round, interleaved, and the report gives medians and
ratios, since one time on a shared machine means little."""

import argparse
import hashlib
import os
import random
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


def build(build_dir, targets=("fetch_one", "bare_recv", "update_driver", "plan_bench"), link_paced=False):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DGLIMMERHOLD_SANITIZE=", f"-DGLIMMERHOLD_LINK_PACED={'ON' if link_paced else 'OFF'}"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", build_dir] + list(targets), check=True, stdout=subprocess.DEVNULL)
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


# Where the engine's installations go; None: the benchmark's own folder.
INSTALL_ROOT = None


def write_registry(work, install):
    reg = os.path.join(work, "user.reg")
    with open(reg, "w", encoding="utf-16") as out:
        out.write("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold]\r\n"
                  f"\"InstallPath\"=\"{install}\"\r\n")
    return dict(os.environ, GLIMMERHOLD_REGISTRY_FILE=reg)


def small_release(content, count, seed=21):
    """`count` files of 1 to 16 KiB in folders of 100, the same bytes on
    every run; their relative paths and bytes."""
    rng = random.Random(seed)
    files = {}
    for i in range(count):
        name = f"data/d{i // 100:03d}/f{i:05d}.bin"
        files[name] = rng.randbytes(rng.randint(1024, 16 * 1024))
    for name, body in files.items():
        os.makedirs(os.path.dirname(os.path.join(content, name)), exist_ok=True)
        with open(os.path.join(content, name), "wb") as out:
            out.write(body)
    return files


def installed_exactly(install, files):
    for name, body in files.items():
        path = os.path.join(install, name)
        if not os.path.isfile(path):
            return False
        with open(path, "rb") as data:
            if data.read() != body:
                return False
    return True


def run_engine(label, bin_dir, work, base, files):
    """The update engine (the headless driver at the launcher's 250 ms tick)
    installing the release from nothing, into `work` (or --install-root);
    wall seconds."""
    run = os.path.join(INSTALL_ROOT or work, label)
    install = os.path.join(run, "install")
    os.makedirs(install)
    env = write_registry(run, install)
    wall, _, _ = measured([os.path.join(bin_dir, "update_driver"), "--base", base, "--tick-ms", "250",
                           "--limit-s", str(len(files) + 120)], env)
    if not installed_exactly(install, files):
        sys.exit(f"{label}: the installation is not the release")
    shutil.rmtree(run)
    return wall


def run_curl(work, folder, files):
    """curl fetching every file of the release, HTTP/1.0 as the launcher asks,
    so one connection per file (counted by curl itself); wall seconds."""
    target = os.path.join(work, "curl")
    config = os.path.join(work, "curl.conf")
    with open(config, "w") as out:
        for name in files:
            out.write(f'url = "http://127.0.0.1/{folder}/{name}"\noutput = "{target}/{name}"\n')
    start = time.perf_counter()
    done = subprocess.run(["curl", "-s", "-f", "--http1.0", "--create-dirs", "-w", "%{num_connects}\n", "-K", config],
                          check=True, stdout=subprocess.PIPE, text=True)
    wall = time.perf_counter() - start
    connections = sum(int(n) for n in done.stdout.split())
    if connections != len(files) or not installed_exactly(target, files):
        sys.exit(f"curl: {connections} connections for {len(files)} files, or other bytes")
    shutil.rmtree(target)
    return wall


def link_paced(args, work, site):
    """Thousands of small files on a 20 Mbit/s link: the engine link-paced,
    curl, and (on fewer files, its floor being two ticks a file) the engine
    on the tick schedule, each run in turn while the others wait."""
    off_bin = build(args.build, ("update_driver", "glimmerhold-publish"))
    on_bin = build(args.build + "-paced", ("update_driver",), link_paced=True)
    releases = {}
    for folder, count in (("paced", args.paced_files), ("ticked", args.paced_off_files)):
        releases[folder] = {}
        if count == 0:
            continue
        content = os.path.join(work, "content-" + folder)
        files = small_release(content, count)
        subprocess.run([os.path.join(off_bin, "glimmerhold-publish"), "--out", os.path.join(site, folder), content],
                       check=True, stdout=subprocess.DEVNULL)
        shutil.rmtree(content)
        releases[folder] = files
    size = sum(len(b) for b in releases["paced"].values())
    # tbf shapes the rate only: the kernel here has no netem to add a round
    # trip, so the loopback's own (well under a millisecond) is the only one.
    # Packets of an Ethernet link's size: the loopback's own 64 KiB ones
    # would not fit the bucket (tbf drops what exceeds its burst).
    subprocess.run(["ip", "link", "set", "lo", "mtu", "1500"], check=True)
    subprocess.run(["tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", "20mbit", "burst", "32kb",
                    "latency", "400ms"], check=True)
    try:
        print(f"\n{len(releases['paced'])} files, {size / MIB:.1f} MiB (1 to 16 KiB each), loopback shaped to "
              f"20 Mbit/s (tbf, MTU 1500, no added round trip), {args.rounds} rounds")
        times = {"curl": [], "link-paced": []}
        for _ in range(args.rounds):
            times["curl"].append(run_curl(work, "paced", releases["paced"]))
            times["link-paced"].append(run_engine("on", on_bin, work, "127.0.0.1/paced/", releases["paced"]))
        curl = statistics.median(times["curl"])
        paced = statistics.median(times["link-paced"])
        print(f"  curl (HTTP/1.0, a connection a file): " + " ".join(f"{t:.2f}" for t in times["curl"]) +
              f" s, median {curl:.2f} s; link floor {size * 8 / 20e6:.2f} s")
        print(f"  engine, link-paced:                   " + " ".join(f"{t:.2f}" for t in times["link-paced"]) +
              f" s, median {paced:.2f} s, {paced / curl:.2f}x curl")
        few = releases["ticked"]
        if not few:
            return
        ticked = run_engine("off", off_bin, work, "127.0.0.1/ticked/", few)
        few_curl = run_curl(work, "ticked", few)
        few_paced = run_engine("on", on_bin, work, "127.0.0.1/ticked/", few)
        floor = len(few) * 2 * 0.250
        print(f"  {len(few)} of those files: engine, tick schedule {ticked:.2f} s (floor {floor:.1f} s, two ticks a "
              f"file: {ticked / floor:.3f} of it), link-paced {few_paced:.2f} s, curl {few_curl:.2f} s")
    finally:
        subprocess.run(["tc", "qdisc", "del", "dev", "lo", "root"], check=True)
        subprocess.run(["ip", "link", "set", "lo", "mtu", "65536"], check=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--small-files", type=int, default=200)
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--skip-shaped", action="store_true")
    parser.add_argument("--paced-files", type=int, default=3000)
    parser.add_argument("--paced-off-files", type=int, default=300)
    parser.add_argument("--only-paced", action="store_true")
    # A folder on another file system (a tmpfs: /dev/shm) for the engine's
    # installations, to see what the disk's flushes cost.
    parser.add_argument("--install-root")
    args = parser.parse_args()
    global INSTALL_ROOT
    INSTALL_ROOT = args.install_root
    reexec_in_private_network()
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)

    work = tempfile.mkdtemp(prefix="glimmerhold-bench-", dir=os.path.join(ROOT, "build"))
    site = os.path.join(work, "site")
    os.makedirs(site)
    nginx = None
    try:
        if args.only_paced:
            nginx = start_nginx(work, site)
            link_paced(args, work, site)
            return
        bin_dir = build(args.build)
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
        if args.paced_files > 0:
            link_paced(args, work, site)
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
