#!/usr/bin/env python3
"""Runs the decoder measurements (KivDecodeBench, KivLogBench) beside the ffmpeg tool on the
same files in one run, and prints one table; writes every sample and figure as JSON.

Each figure is measured RUNS times in separate processes, interleaved with its ffmpeg yardstick;
the table shows the median and, in brackets, the spread (min-max) over the runs. CPU time is
the process's own (user + system), which a busy machine disturbs much less than wall time."""

import argparse
import json
import math
import os
import re
import statistics
import subprocess
import sys
import time

CLIPS = ["h264_1080p.mp4", "h264_720p.mp4", "mjpeg_720p.avi"]
H264 = CLIPS[:2]
STEP_POSITIONS = {"h264_1080p.mp4": 6, "h264_720p.mp4": 8, "mjpeg_720p.avi": 12}
JUMP_TARGETS, JUMP_SEED = 20, 2026
MEMORY_BACKSTEPS = {"h264_720p.mp4": 20, "mjpeg_720p.avi": 0}  # 0: back to the start
# Steps back from the last picture: one group of pictures at 1080p, and a steady walk over six
# groups at 720p, where the kept pictures exceed the budget and are dropped on the way.
BACKWALK = {"h264_1080p.mp4": 250, "h264_720p_60s.mp4": 1499}
FFMPEG_DEFAULT_THREADS = ["ffmpeg", "-nostdin", "-hide_banner", "-benchmark"]
FFMPEG = FFMPEG_DEFAULT_THREADS + ["-threads", "1"]
# The RGB yardstick converts on one thread too (ffmpeg's scale filter would use threads).
FFMPEG_BGRA = ["-filter_threads", "1", "-pix_fmt", "bgra"]
# The same with the scaler flags the library's converter uses (exact rows, accurate rounding).
FFMPEG_BGRA_EXACT = FFMPEG_BGRA + ["-sws_flags", "bicubic+accurate_rnd"]
TARGETS = {"decode": 0.95, "rgb": 0.90, "below_level_ns": 10.0, "index_share": 0.05}


def log(text):
    print(text, file=sys.stderr, flush=True)


def run(args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"bench: {' '.join(args)} failed:\n{done.stderr[-2000:]}")
    return done


class Bench:
    def __init__(self, build, media):
        self.decode_bench = os.path.join(build, "bench", "KivDecodeBench")
        self.log_bench = os.path.join(build, "bench", "KivLogBench")
        self.media = media

    def kiv(self, *args):
        args = [str(a) for a in args]
        args[1] = os.path.join(self.media, args[1])
        return json.loads(run([self.decode_bench] + args).stdout)

    def ffmpeg(self, clip, extra, command=FFMPEG):
        err = run(command + ["-i", os.path.join(self.media, clip)] + extra + ["-f", "null", "-"]).stderr
        bench = re.search(r"bench: utime=([\d.]+)s stime=([\d.]+)s rtime=([\d.]+)s", err)
        frames = re.findall(r"frame=\s*(\d+)", err)
        if not bench or not frames:
            sys.exit(f"bench: no figures in the ffmpeg output for {clip}:\n{err[-2000:]}")
        return {"frames": int(frames[-1]), "cpu": float(bench[1]) + float(bench[2]),
                "wall": float(bench[3])}


def spread(values):
    """Median and min-max of a list."""
    return {"median": statistics.median(values), "min": min(values), "max": max(values)}


def p95(values):
    ordered = sorted(values)
    return ordered[max(0, math.ceil(0.95 * len(ordered)) - 1)]


def measure_decode(bench, runs):
    kinds = {  # name: how to run it once
        "kiv_plain": lambda c: bench.kiv("decode", c, "plain"),
        "kiv_ptr": lambda c: bench.kiv("decode", c, "ptr"),
        "kiv_copy": lambda c: bench.kiv("decode", c, "copy"),
        "ffmpeg_null": lambda c: bench.ffmpeg(c, []),
        "ffmpeg_null_threads": lambda c: bench.ffmpeg(c, [], FFMPEG_DEFAULT_THREADS),
        "ffmpeg_bgra": lambda c: bench.ffmpeg(c, FFMPEG_BGRA),
        "ffmpeg_bgra_exact": lambda c: bench.ffmpeg(c, FFMPEG_BGRA_EXACT),
    }
    results = {}
    for clip in CLIPS:
        samples = {k: [] for k in kinds}
        for r in range(runs):
            log(f"  decode {clip} run {r + 1}/{runs}")
            order = list(kinds)
            order = order[r % len(order):] + order[:r % len(order)]  # spread any drift
            for k in order:
                samples[k].append(kinds[k](clip))
        frames = {k: {s["frames"] for s in v} for k, v in samples.items()}
        if len(set().union(*frames.values())) != 1:
            log(f"  note: picture counts differ on {clip}: {frames}")

        def fps(k, clock):
            return [s["frames"] / s[clock] for s in samples[k]]

        def ratio(k, ref, clock):
            # Per run: the two were measured next to each other.
            return [(a["frames"] / a[clock]) / (b["frames"] / b[clock])
                    for a, b in zip(samples[k], samples[ref])]

        figures = {k: {"fps_cpu": spread(fps(k, "cpu")), "fps_wall": spread(fps(k, "wall"))}
                   for k in kinds}
        pairs = {"decode": ("kiv_plain", "ffmpeg_null"),
                 "decode_threads": ("kiv_plain", "ffmpeg_null_threads"),
                 "ptr": ("kiv_ptr", "ffmpeg_bgra"),
                 "copy": ("kiv_copy", "ffmpeg_bgra"),
                 "ptr_exact": ("kiv_ptr", "ffmpeg_bgra_exact"),
                 "copy_exact": ("kiv_copy", "ffmpeg_bgra_exact")}
        ratios = {name: {"cpu": spread(ratio(a, b, "cpu")), "wall": spread(ratio(a, b, "wall"))}
                  for name, (a, b) in pairs.items()}
        results[clip] = {"frames": samples["kiv_plain"][0]["frames"], "figures": figures,
                         "ratios": ratios, "samples": samples}
    return results


def repeat(runs, label, measure):
    """The outputs of RUNS calls of measure, one after the other."""
    outs = []
    for r in range(runs):
        log(f"  {label} run {r + 1}/{runs}")
        outs.append(measure())
    return outs


def op_figures(per_run, clock):
    """Per run median and p95 of one operation's times, over the runs."""
    medians = [statistics.median(s[clock]) for s in per_run]
    p95s = [p95(s[clock]) for s in per_run]
    return {"median": spread(medians), "p95": spread(p95s)}


def measure_step(bench, runs):
    results = {}
    for clip in CLIPS:
        outs = repeat(runs, f"step {clip}", lambda: bench.kiv("step", clip, STEP_POSITIONS[clip]))
        res = {"positions": STEP_POSITIONS[clip], "gop_frames": outs[0]["gop_frames"]}
        for op in ["previous_frame", "next_key_frame", "previous_key_frame", "gop"]:
            res[op] = {c: op_figures([o[op] for o in outs], c) for c in ("cpu", "wall")}
        res["backstep_per_gop"] = {
            c: spread([statistics.median(o["previous_frame"][c]) / o["gop"][c][0] for o in outs])
            for c in ("cpu", "wall")}
        res["samples"] = outs
        results[clip] = res
    return results


def measure_jump(bench, runs):
    results = {}
    for clip in H264:
        outs = repeat(runs, f"jump {clip}",
                      lambda: bench.kiv("jump", clip, JUMP_TARGETS, JUMP_SEED))
        results[clip] = {c: op_figures([o["jump"] for o in outs], c) for c in ("cpu", "wall")}
        results[clip]["samples"] = outs
    return results


def measure_memory(bench, runs):
    results = {}
    for clip, back in MEMORY_BACKSTEPS.items():
        outs = repeat(runs, f"memory {clip}", lambda: bench.kiv("memory", clip, back))
        res = {}
        for phase in ("forward", "backward"):
            growth = [o[phase]["rss_2n_kib"] - o[phase]["rss_n_kib"] for o in outs]
            res[phase] = {"steps": outs[0][phase]["steps"],
                          "rss_n_kib": spread([o[phase]["rss_n_kib"] for o in outs]),
                          "rss_2n_kib": spread([o[phase]["rss_2n_kib"] for o in outs]),
                          "hwm_2n_kib": spread([o[phase]["hwm_2n_kib"] for o in outs]),
                          "growth_kib": spread(growth)}
        res["samples"] = outs
        results[clip] = res
    return results


def measure_index(bench, runs, decode):
    """Building the frame index, against the decode loop of the same clip (same run number)."""
    results = {}
    for clip in CLIPS:
        outs = repeat(runs, f"index {clip}", lambda: bench.kiv("index", clip))
        loops = decode[clip]["samples"]["kiv_plain"]
        share = {c: spread([o[c] / loops[i % len(loops)][c] for i, o in enumerate(outs)])
                 for c in ("cpu", "wall")}
        results[clip] = {"cpu": spread([o["cpu"] for o in outs]),
                         "wall": spread([o["wall"] for o in outs]),
                         "decode_cpu": spread([s["cpu"] for s in loops]),
                         "share": share, "samples": outs}
    return results


def measure_backwalk(bench, runs, step):
    """Steps back from the last picture against forward steps and one GOP's decoding."""
    results = {}
    for clip, steps in BACKWALK.items():
        outs = repeat(runs, f"backwalk {clip}", lambda: bench.kiv("backwalk", clip, steps))
        res = {"steps": steps}
        for c in ("cpu", "wall"):
            fwd = [statistics.median(o["forward"][c]) for o in outs]
            back = [statistics.median(o["backward"][c]) for o in outs]
            res[c] = {"forward_median": spread(fwd), "back_median": spread(back),
                      "back_p95": spread([p95(o["backward"][c]) for o in outs]),
                      "ratio": spread([b / f for b, f in zip(back, fwd)])}
        gop = step.get(clip, {}).get("gop")
        res["gop_wall"] = gop["wall"]["median"]["median"] if gop else None
        res["hwm_mib"] = spread([o["hwm_kib"] / 1024 for o in outs])
        res["peak_growth_mib"] = spread([(o["hwm_kib"] - o["rss_before_kib"]) / 1024 for o in outs])
        res["budget_mib"] = outs[0]["budget_kib"] / 1024
        res["close_delta_mib"] = spread(
            [(o["rss_again_after_close_kib"] - o["rss_again_before_kib"]) / 1024 for o in outs])
        res["first_close_delta_mib"] = spread(
            [(o["rss_after_close_kib"] - o["rss_before_kib"]) / 1024 for o in outs])
        res["samples"] = outs
        results[clip] = res
    return results


def measure_log(bench, runs):
    log("  log path")
    out = json.loads(run([bench.log_bench, f"--benchmark_repetitions={runs}",
                          "--benchmark_format=json", "--benchmark_min_time=0.2"]).stdout)
    per = {}
    for b in out["benchmarks"]:
        if b.get("run_type") == "iteration":
            per.setdefault(b["run_name"], []).append(b)
    res = {}
    for name in ("BM_CallbackBelowLevel", "BM_AvLogBelowLevel"):
        res[name] = {"ns": spread([b["cpu_time"] for b in per[name]])}
    for name in ("BM_AvLogLinesToHandler", "BM_LogToHandler"):
        res[name] = {"lines_per_s": spread([b["items_per_second"] for b in per[name]])}
    return res


def fmt(s, scale=1.0, digits=2):
    return (f"{s['median'] * scale:.{digits}f} [{s['min'] * scale:.{digits}f}-"
            f"{s['max'] * scale:.{digits}f}]")


def verdict(ok):
    return "met" if ok else "MISSED"


def table(res):
    rows = [("figure", "clip", "Kiv", "yardstick", "ratio CPU", "ratio wall", "target")]
    for clip, d in res["decode"].items():
        f, r = d["figures"], d["ratios"]
        rows.append(("decode loop, fps (CPU)", clip, fmt(f["kiv_plain"]["fps_cpu"], digits=0),
                     "ffmpeg " + fmt(f["ffmpeg_null"]["fps_cpu"], digits=0),
                     fmt(r["decode"]["cpu"]), fmt(r["decode"]["wall"]),
                     f">= {TARGETS['decode']} {verdict(r['decode']['cpu']['median'] >= TARGETS['decode'])}"))
        rows.append(("  same, against ffmpeg's default threads (wall)", clip, "",
                     "ffmpeg " + fmt(f["ffmpeg_null_threads"]["fps_wall"], digits=0),
                     "", fmt(r["decode_threads"]["wall"]), ""))
        for mode, label in (("ptr", "Decode+GetBitmapPtr 32"), ("copy", "Decode+CopyToBitmap 32")):
            rows.append((label + ", fps (CPU)", clip, fmt(f["kiv_" + mode]["fps_cpu"], digits=0),
                         "ffmpeg bgra " + fmt(f["ffmpeg_bgra"]["fps_cpu"], digits=0),
                         fmt(r[mode]["cpu"]), fmt(r[mode]["wall"]),
                         f">= {TARGETS['rgb']} {verdict(r[mode]['cpu']['median'] >= TARGETS['rgb'])}"
                         if mode == "ptr" else ""))
            rows.append(("  same, against exact-rounding bgra", clip, "",
                         "ffmpeg bgra+accurate_rnd " + fmt(f["ffmpeg_bgra_exact"]["fps_cpu"], digits=0),
                         fmt(r[mode + "_exact"]["cpu"]), fmt(r[mode + "_exact"]["wall"]), ""))
    for clip, d in res["index"].items():
        ok = d["share"]["cpu"]["median"] < TARGETS["index_share"]
        rows.append(("frame index build, ms (CPU)", clip, fmt(d["cpu"], 1000, 1),
                     "decode loop " + fmt(d["decode_cpu"], 1000, 0),
                     fmt(d["share"]["cpu"], 100, 2) + " %", fmt(d["share"]["wall"], 100, 2) + " %",
                     f"< {TARGETS['index_share'] * 100:.0f} % {verdict(ok)}"))
    for clip, d in res["step"].items():
        gop = d["gop"]["cpu"]["median"]
        rows.append((f"GOP forward ({int(d['gop_frames'])} pictures), ms (CPU)", clip,
                     fmt(gop, 1000, 1), "", "", "", ""))
        for op in ("previous_frame", "next_key_frame", "previous_key_frame"):
            c = d[op]["cpu"]
            rows.append((f"{op} median / p95, ms (CPU)", clip,
                         f"{fmt(c['median'], 1000, 1)} / {fmt(c['p95'], 1000, 1)}",
                         f"wall {d[op]['wall']['median']['median'] * 1000:.1f} / "
                         f"{d[op]['wall']['p95']['median'] * 1000:.1f}",
                         fmt(d["backstep_per_gop"]["cpu"]) if op == "previous_frame" else "",
                         fmt(d["backstep_per_gop"]["wall"]) if op == "previous_frame" else "",
                         "ratio = backstep / GOP" if op == "previous_frame" else ""))
    for clip, d in res["backwalk"].items():
        w = d["wall"]
        gop = d["gop_wall"]
        rows.append((f"{d['steps']} steps back from the end: median / p95, ms (wall)", clip,
                     f"{fmt(w['back_median'], 1000, 1)} / {fmt(w['back_p95'], 1000, 1)}",
                     f"forward {fmt(w['forward_median'], 1000, 1)}"
                     + (f", GOP {gop * 1000:.0f}" if gop else ""),
                     "", fmt(w["ratio"]),
                     f"median <= 2x forward {verdict(w['ratio']['median'] <= 2)}, p95 <= 3x "
                     f"forward {verdict(w['back_p95']['median'] <= 3 * w['forward_median']['median'])}"
                     + (f", p95 <= GOP {verdict(w['back_p95']['median'] <= gop)}" if gop else "")))
        limit = d["budget_mib"] * 1.1
        rows.append(("  resident peak - before, MiB", clip, fmt(d["peak_growth_mib"], 1, 0),
                     f"budget {d['budget_mib']:.0f}, peak {fmt(d['hwm_mib'], 1, 0)}", "", "",
                     f"<= budget + 10 % {verdict(d['peak_growth_mib']['max'] <= limit)}"))
        rows.append(("  after CloseFile - before, MiB: 2nd / 1st file", clip,
                     f"{fmt(d['close_delta_mib'], 1, 1)} / {fmt(d['first_close_delta_mib'], 1, 1)}",
                     "", "", "",
                     f"2nd file within 10 MiB {verdict(d['close_delta_mib']['max'] <= 10)}"))
    for clip, d in res["jump"].items():
        c = d["cpu"]
        rows.append((f"slider jump x{JUMP_TARGETS} median / p95, ms (CPU)", clip,
                     f"{fmt(c['median'], 1000, 1)} / {fmt(c['p95'], 1000, 1)}",
                     f"wall {d['wall']['median']['median'] * 1000:.1f} / "
                     f"{d['wall']['p95']['median'] * 1000:.1f}", "", "", ""))
    lg = res["log"]
    for name in ("BM_CallbackBelowLevel", "BM_AvLogBelowLevel"):
        ns = lg[name]["ns"]
        rows.append((f"log below level, ns ({name[3:]})", "", fmt(ns), "", "", "",
                     f"< {TARGETS['below_level_ns']:.0f} {verdict(ns['median'] < TARGETS['below_level_ns'])}"))
    for name in ("BM_AvLogLinesToHandler", "BM_LogToHandler"):
        rows.append((f"log lines delivered, k/s ({name[3:]})", "",
                     fmt(lg[name]["lines_per_s"], 1e-3, 0), "", "", "", ""))
    for clip, d in res["memory"].items():
        for phase in ("forward", "backward"):
            p = d[phase]
            n = int(p["steps"])
            grew = p["growth_kib"]["max"]
            rows.append((f"RSS {phase} after N / 2N steps (2N={n}), MiB", clip,
                         f"{p['rss_n_kib']['median'] / 1024:.1f} / {p['rss_2n_kib']['median'] / 1024:.1f}",
                         f"peak {p['hwm_2n_kib']['median'] / 1024:.1f}",
                         f"growth {fmt(p['growth_kib'], 1 / 1024, 1)} MiB", "",
                         f"no growth {verdict(grew < 1024)}"))
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    lines = ["  ".join(cell.ljust(w) for cell, w in zip(r, widths)).rstrip() for r in rows]
    lines.insert(1, "-" * len(lines[0]))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True)
    parser.add_argument("--media", required=True)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    if args.runs < 1:
        sys.exit("bench: --runs must be at least 1")
    bench = Bench(args.build, args.media)
    started = time.time()
    res = {"runs": args.runs, "nproc": os.cpu_count(), "loadavg_start": os.getloadavg(),
           "ffmpeg": run(["ffmpeg", "-version"]).stdout.splitlines()[0]}
    for name, step in (("decode", measure_decode), ("step", measure_step), ("jump", measure_jump),
                       ("memory", measure_memory), ("log", measure_log)):
        log(f"bench: {name}")
        res[name] = step(bench, args.runs)
        if name == "decode":
            log("bench: index")
            res["index"] = measure_index(bench, args.runs, res["decode"])
        if name == "step":
            log("bench: backwalk")
            res["backwalk"] = measure_backwalk(bench, args.runs, res["step"])
    res["loadavg_end"] = os.getloadavg()
    res["seconds"] = time.time() - started
    res["table"] = table(res)
    with open(args.out, "w") as out:
        json.dump(res, out, indent=1)
    print(res["table"])
    print(f"\n{args.runs} runs each: median [min-max over the runs]; ratios Kiv / ffmpeg in "
          f"pictures per second; {res['seconds']:.0f} s, load average "
          f"{res['loadavg_start'][0]:.1f} -> {res['loadavg_end'][0]:.1f}")
    print("Kiv decodes on one thread, as ffmpeg -threads 1 does, and keeps one private copy of "
          "every picture (FrameInfo), which ffmpeg does not. p95 is taken per run over the "
          "positions or targets (the slowest of them when there are fewer than 20).")
    print(f"JSON: {os.path.abspath(args.out)}")


if __name__ == "__main__":
    main()
