#!/usr/bin/env bash
# The module's benchmarks in one run, printed as one table with the machine on top:
#
#   a. end to end, UDP and interleaved TCP: `brantel-host record --discard` of one 1920x1080 25 fps H.264 stream
#      against `ffmpeg -rtsp_transport T -i URL -c copy -f null -` on the same camera in the same run; user+sys
#      CPU of the receiving process over N long runs and one short run each. Steady state = (median long-run CPU
#      - short-run CPU) / (median long-run frames - short-run frames) per 1000 frames, which takes the start-up
#      (FFmpeg's probing, the module's device open) out, but moves with the start-up's own variation; so the CPU
#      of each running process is also sampled from its 8th second to 4 s before its end (schedstat of all its
#      threads) and given per 1000 frames at 25 fps. Whole-run figures include the start-up.
#   b. the depacketizers on the recorded streams of tests/data, as a multiple of a memcpy of the same bytes
#      (bench/depacketizer_bench).
#   c. scale: the camera opened as 1, 16, 64 ... devices in one brantel-host (`--devices N`), each receiving a
#      1080p 25 fps 8 Mbit/s stream from the simulated camera's replay mode (camsim.py --replay FILE), UDP and TCP:
#      frames lost, CPU per stream, threads and memory of the process, and what the replay source itself cost.
#
#   scripts/bench.sh [--quick] [--long S] [--short S] [--runs N] [--scale-seconds S] [--scale "1 16 64"]
#                    [--e2e-source live|replay|both] [--only a|b|c] [--build-dir DIR] [--replay-file FILE]
#
#   --quick            8 s + 3 s end-to-end runs, 6 s scale steps at 1, 16 and 64 streams, 1 s per recorded stream
#   --long S, --short S   end-to-end run lengths (default 30 and 5); --runs N long runs (default 3)
#   --scale-seconds S  length of each scale step (default 20)
#   --scale "N ..."    stream counts to try (default "1 16 32 64 96 128 192 256"; the steps after the first one that
#                      loses frames are skipped, except those up to 64)
#   --e2e-source       the camera of part a: live (the GStreamer encoder of camsim, whatever bit rate its test
#                      picture comes to), replay (the recorded 8 Mbit/s stream) or both (default)
#   --only a|b|c       run one part
#   --build-dir DIR    build there (default build/default, CMake preset "default")
#   --replay-file FILE the recording for the replay source (default: made once by scripts/make_replay_stream.sh
#                      in the build directory)
#
# Frames lost: the module counts no RTP sequence gaps for the host, so brantel-host counts what a host sees (see
# its --help): H.264 key-frame groups cut short and capture-time gaps of a whole group or more. Smaller gaps in
# the capture times are late deliveries and are shown apart.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

usage()
{
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}

long=30
short=5
runs=3
scale_seconds=20
scale_steps="1 16 32 64 96 128 192 256"
depack_seconds=2
e2e_source=both
only=
build_dir=
replay_file=
while [[ $# -gt 0 ]]; do
    case "$1" in
    --quick)
        long=8 short=3 scale_seconds=6 scale_steps="1 16 64" depack_seconds=1
        shift
        ;;
    --long | --short | --runs | --scale-seconds | --scale | --e2e-source | --only | --build-dir | --replay-file)
        [[ $# -ge 2 ]] || usage
        case "$1" in
        --long) long=$2 ;;
        --short) short=$2 ;;
        --runs) runs=$2 ;;
        --scale-seconds) scale_seconds=$2 ;;
        --scale) scale_steps=$2 ;;
        --e2e-source) e2e_source=$2 ;;
        --only) only=$2 ;;
        --build-dir) build_dir=$2 ;;
        --replay-file) replay_file=$2 ;;
        esac
        shift 2
        ;;
    -h | --help) usage ;;
    *)
        echo "bench.sh: unknown argument '$1'" >&2
        usage
        ;;
    esac
done
for value in "$long" "$short" "$runs" "$scale_seconds"; do
    [[ "$value" =~ ^[1-9][0-9]*$ ]] || {
        echo "bench.sh: durations and counts are whole numbers, not '$value'" >&2
        exit 2
    }
done
[[ "$e2e_source" =~ ^(live|replay|both)$ ]] || usage
[[ -z "$only" || "$only" =~ ^[abc]$ ]] || usage
part()
{
    [[ -z "$only" || "$only" == "$1" ]]
}
note()
{
    echo "bench.sh: $*" >&2
}

# ---- build ----
if [[ -z "$build_dir" ]]; then
    cmake --preset default >/dev/null
    build_dir=$repo/build/default
else
    cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_dir=$(cd "$build_dir" && pwd)
targets=(brantel-host depacketizer_bench)
have_replay=0
# Read whole first: grep -q would stop reading early and fail the pipeline.
known_targets=$(cmake --build "$build_dir" --target help)
if grep -q '^brantel-replay-server:' <<<"$known_targets"; then
    targets+=(brantel-replay-server)
    grep -q -- '--replay' tools/camsim/camsim.py && have_replay=1
fi
note "building ${targets[*]} in $build_dir"
cmake --build "$build_dir" -j2 --target "${targets[@]}" >&2
host_program=$build_dir/tools/host/brantel-host
replay_server=$build_dir/tools/replay_server/brantel-replay-server

work=$(mktemp -d /tmp/brantel-bench-XXXXXX)
# Every program's output of the latest run stays here, to see what a figure came from.
logs=$build_dir/bench/logs
rm -rf "$logs"
mkdir -p "$logs"
camera_pids=()
cleanup()
{
    local pid
    for pid in "${camera_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

rows=()
row()
{
    rows+=("| $1 | $2 | $3 |")
}

# The steady state sampled inside each long run, away from its start and its end: from the 8th second for all but
# the last 4 (30 s runs: 18 s). No window for runs shorter than 20 s.
window_from=8
window_len=$((long >= 20 ? long - window_from - 4 : 0))

# CPU time of a running process, all its threads, in nanoseconds (the scheduler's own count).
process_cpu_ns()
{
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%d\n", s }'
}

# Writes to $2 the CPU-s process $1 spends in the window of a long run; nothing when there is no window or the
# process ended before the window did (its threads' times would be gone).
sample_window()
{
    local pid=$1 out=$2 before after
    : >"$out"
    ((window_len > 0)) || return 0
    sleep "$window_from"
    before=$(process_cpu_ns "$pid")
    sleep "$window_len"
    after=$(process_cpu_ns "$pid")
    if kill -0 "$pid" 2>/dev/null; then
        awk -v a="$before" -v b="$after" 'BEGIN { printf "%.6f\n", (b - a) / 1e9 }' >"$out"
    fi
}

# Starts camsim.py with the given arguments; sets camera_http, camera_rtsp and camera_pid.
start_camera()
{
    local name=$1
    shift
    local log=$work/$name.log
    # With stdin at /dev/null the camera runs until it is killed.
    /usr/bin/python3 tools/camsim/camsim.py "$@" >"$log" 2>&1 </dev/null &
    camera_pid=$!
    camera_pids+=("$camera_pid")
    camera_http= camera_rtsp=
    for _ in $(seq 1 300); do
        if grep -q '^FAILED' "$log" || ! kill -0 "$camera_pid" 2>/dev/null; then
            break
        fi
        if grep -q '^READY ' "$log"; then
            camera_rtsp=$(awk '/^RTSP /{print $2; exit}' "$log")
            camera_http=$(awk '/^READY /{print $2; exit}' "$log")
            break
        fi
        sleep 0.1
    done
    if [[ -z "$camera_rtsp" || -z "$camera_http" ]]; then
        note "the simulated camera ($name) did not start:"
        cat "$log" >&2
        exit 1
    fi
}

# A host installation per camera and transport: the program beside a configuration naming the camera's RTSP
# port and, for TCP, RTP inside the RTSP connection. The device search runs once per camera.
install_host()
{
    local dir=$1 transport=$2
    local mode=
    [[ "$transport" == tcp ]] && mode='<VideoChannel><RTPMode>RTPoverRTSP</RTPMode></VideoChannel>'
    mkdir -p "$dir"
    cp "$host_program" "$dir/brantel-host"
    cat >"$dir/BrantelIPCapture.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<Configuration>
  <Device address="127.0.0.1" port="$camera_http"><RTSPPort value="$camera_rtsp"/>$mode</Device>
</Configuration>
XML
}

probe_camera()
{
    local dir=$1 params=$2
    if ! "$dir/brantel-host" probe --address 127.0.0.1 --port "$camera_http" --out "$params" >"$work/probe.log" 2>&1; then
        note "the device search failed:"
        cat "$work/probe.log" >&2
        exit 1
    fi
}

stream_1080p=h264,kind=main,size=1920x1080,fps=25,quality=100

# One brantel-host record --discard; prints "frames cpu kbit lost gap_frames streams_with_frames streams
# threads rss_kb hwm_kb window_cpu" (frames lost; frames missing in capture-time gaps, late deliveries included;
# window_cpu is "-" but for long runs).
run_module()
{
    local dir=$1 params=$2 seconds=$3 devices=$4
    local out=$work/module.out window=$work/module.window pid sampler
    "$dir/brantel-host" record --address 127.0.0.1 --port "$camera_http" --params-file "$params" \
        --stream "$stream_1080p" --devices "$devices" --discard --duration "$seconds" --status-interval 86400 \
        >"$out" 2>&1 </dev/null &
    pid=$!
    : >"$window"
    if [[ "$seconds" == "$long" ]]; then
        sample_window "$pid" "$window" &
        sampler=$!
    fi
    wait "$pid" || true
    [[ -z "${sampler:-}" ]] || wait "$sampler" || true
    awk -v window="$(cat "$window")" '
        /^  totals: / {
            streams = $2; with = $4; frames = $7
            for (i = 1; i <= NF; i++) {
                if ($(i + 1) == "frames" && $(i + 2) == "lost;") lost = $i
                if ($(i + 1) == "frames" && $(i + 2) == "missing") missing = $i
            }
        }
        /^  process: CPU / {
            cpu = $3
            for (i = 1; i <= NF; i++) {
                if ($(i + 1) == "threads,") threads = $i
                if ($i == "VmRSS") rss = $(i + 1)
                if ($i == "VmHWM") hwm = $(i + 1)
            }
        }
        / kbit\/s, / && /^  (dev1-)?ch0-main-h264: / {
            for (i = 1; i <= NF; i++) if ($(i + 1) == "kbit/s,") kbit = $i
        }
        / fps, / && /^  (dev[0-9]+-)?ch0-main-h264: / {
            for (i = 1; i <= NF; i++) if ($(i + 1) == "fps,") { fps_sum += $i; fps_n++ }
        }
        END {
            if (frames == "") { print "0 0 0 0 0 0 0 0 0 0 - 0"; exit }
            printf "%s %s %s %s %s %s %s %s %s %s %s %.1f\n", frames, cpu, (kbit == "" ? 0 : kbit), lost, missing, with,
                streams, threads, rss, hwm, (window == "" ? "-" : window), (fps_n > 0 ? fps_sum / fps_n : 0)
        }' "$out"
    {
        echo "==== brantel-host $dir --devices $devices --duration $seconds"
            cat "$out"
    } >>"$logs/brantel-host.log"
}

# One FFmpeg receiving the same stream; prints "frames cpu window_cpu".
run_ffmpeg()
{
    local transport=$1 seconds=$2 url=$3
    local out=$work/ffmpeg.out window=$work/ffmpeg.window wrapper ffmpeg_pid= sampler=
    # FFmpeg's own CPU time to the microsecond (GNU time rounds to 10 ms, too coarse for a few seconds of a stream).
    /usr/bin/python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL)
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("BENCH-TIME", usage.ru_utime, usage.ru_stime, file=sys.stderr)
' ffmpeg -nostdin -hide_banner -rtsp_transport "$transport" -i "$url" -t "$seconds" -c copy -f null - \
        >"$out" 2>&1 </dev/null &
    wrapper=$!
    : >"$window"
    if [[ "$seconds" == "$long" ]]; then
        for _ in $(seq 1 50); do
            ffmpeg_pid=$(pgrep -P "$wrapper" -x ffmpeg || true)
            [[ -z "$ffmpeg_pid" ]] || break
            sleep 0.02
        done
        if [[ -n "$ffmpeg_pid" ]]; then
            sample_window "$ffmpeg_pid" "$window" &
            sampler=$!
        fi
    fi
    wait "$wrapper" || true
    [[ -z "$sampler" ]] || wait "$sampler" || true
    {
        echo "==== ffmpeg $transport $seconds s"
        tr '\r' '\n' <"$out" | tail -n 5
    } >>"$logs/ffmpeg.log"
    tr '\r' '\n' <"$out" | awk -v window="$(cat "$window")" '
        /^frame=/ { sub(/^frame= */, ""); frames = $1 }
        /^BENCH-TIME / { cpu = $2 + $3 }
        END { printf "%s %s %s\n", (frames == "" ? 0 : frames), (cpu == "" ? 0 : cpu), (window == "" ? "-" : window) }'
}

median()
{
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

# Part a for one camera: both transports, the module and FFmpeg alternating so both see the same machine.
end_to_end()
{
    local source=$1 url_path=$2
    local transport dir params="$work/$source.params"
    install_host "$work/host-$source-udp" udp
    install_host "$work/host-$source-tcp" tcp
    probe_camera "$work/host-$source-udp" "$params"
    local url=rtsp://127.0.0.1:$camera_rtsp$url_path
    for transport in udp tcp; do
        dir=$work/host-$source-$transport
        local m_frames=() m_cpu=() f_frames=() f_cpu=() m_window=() f_window=() kbit=0 lost=0
        local m_short f_short r
        note "part a, $source camera, $transport: $runs x ${long} s and 1 x ${short} s each, module and FFmpeg"
        read -r m_short_frames m_short_cpu _ <<<"$(run_module "$dir" "$params" "$short" 1)"
        read -r f_short_frames f_short_cpu <<<"$(run_ffmpeg "$transport" "$short" "$url")"
        for ((r = 0; r < runs; r++)); do
            local frames cpu k l window
            read -r frames cpu k l _ _ _ _ _ _ window _ <<<"$(run_module "$dir" "$params" "$long" 1)"
            m_frames+=("$frames") m_cpu+=("$cpu") kbit=$k lost=$((lost + l))
            [[ "$window" == - ]] || m_window+=("$window")
            read -r frames cpu window <<<"$(run_ffmpeg "$transport" "$long" "$url")"
            f_frames+=("$frames") f_cpu+=("$cpu")
            [[ "$window" == - ]] || f_window+=("$window")
        done
        # The window's frames at the camera's 25 fps, the same for both.
        local mwin=- fwin=- wratio=n/a
        if ((${#m_window[@]} > 0 && ${#f_window[@]} > 0)); then
            read -r mwin fwin wratio < <(awk -v m="$(median "${m_window[@]}")" -v f="$(median "${f_window[@]}")" \
                -v frames="$((25 * window_len))" \
                'BEGIN { printf "%.3f %.3f %.2f\n", m * 1000 / frames, f * 1000 / frames, (f > 0 ? m / f : 0) }')
        fi
        local mf mc ff fc
        mf=$(median "${m_frames[@]}") mc=$(median "${m_cpu[@]}")
        ff=$(median "${f_frames[@]}") fc=$(median "${f_cpu[@]}")
        local T=${transport^^}
        awk -v mf="$mf" -v mc="$mc" -v msf="$m_short_frames" -v msc="$m_short_cpu" \
            -v ff="$ff" -v fc="$fc" -v fsf="$f_short_frames" -v fsc="$f_short_cpu" '
            function per(c, f) { return f > 0 ? c * 1000 / f : -1 }
            function fmt(v) { return v < 0 ? "n/a" : sprintf("%.3f", v) }
            function ratio(a, b) { return (a < 0 || b <= 0) ? "n/a" : sprintf("%.2f", a / b) }
            BEGIN {
                ms = per(mc - msc, mf - msf); fs = per(fc - fsc, ff - fsf)
                mw = per(mc, mf); fw = per(fc, ff)
                printf "%s\t%s\t%s\t%s\t%s\t%s\n", fmt(ms), fmt(fs), ratio(ms, fs), fmt(mw), fmt(fw), ratio(mw, fw)
                printf "%s\t%s\n", sprintf("%.3f", msc), sprintf("%.3f", fsc)
            }' >"$work/e2e.txt"
        local steady_m steady_f steady_r whole_m whole_f whole_r start_m start_f
        IFS=$'\t' read -r steady_m steady_f steady_r whole_m whole_f whole_r < <(sed -n 1p "$work/e2e.txt")
        IFS=$'\t' read -r start_m start_f < <(sed -n 2p "$work/e2e.txt")
        local what="$source camera, $T, ${kbit} kbit/s"
        row "a. end to end" "$what: steady state (${long} s runs less the ${short} s run) CPU-s per 1000 frames, module / FFmpeg" \
            "$steady_m / $steady_f = **$steady_r**"
        if [[ "$mwin" != - ]]; then
            row "a. end to end" \
                "$what: steady state sampled from second $window_from to $((window_from + window_len)) of the ${long} s runs (median), CPU-s per 1000 frames, module / FFmpeg" \
                "$mwin / $fwin = **$wratio**"
        fi
        row "a. end to end" "$what: whole ${long} s run CPU-s per 1000 frames, module / FFmpeg" \
            "$whole_m / $whole_f = $whole_r"
        row "a. end to end" "$what: CPU-s of a whole ${short} s run, module / FFmpeg; frames of the median ${long} s run" \
            "$start_m / $start_f; $mf / $ff frames; module lost $lost"
    done
}

# ---- the machine ----
cpu_model=$(awk -F': ' '/^model name/{print $2; exit}' /proc/cpuinfo)
machine="${cpu_model:-unknown CPU}, $(nproc) cores, Linux $(uname -r)"
load_start=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')

# ---- a ----
if part a; then
    if [[ "$e2e_source" != replay ]]; then
        start_camera live --fps 25 --bitrate 8192
        end_to_end live /rtsph2641080p
        # Its encoder would compete with what follows.
        kill "$camera_pid" 2>/dev/null || true
        wait "$camera_pid" 2>/dev/null || true
    fi
fi

# The replay source, for c (and a with --e2e-source replay|both).
replay_ready=0
if { part c || { part a && [[ "$e2e_source" != live ]]; }; } && [[ $have_replay -eq 1 ]]; then
    replay_file=${replay_file:-$build_dir/bench/replay_1080p25_8M.rtpreplay}
    if [[ ! -s "$replay_file" ]]; then
        note "recording the replay stream once: $replay_file"
        mkdir -p "$(dirname "$replay_file")"
        bash scripts/make_replay_stream.sh "$replay_file" >&2
    fi
    start_camera replay --replay "$replay_file" --replay-server "$replay_server"
    replay_ready=1
fi
replay_cpu()
{
    curl -s "http://127.0.0.1:$camera_http/camsim/rtsp" | awk -F= '/^replay_cpu_s=/{print $2}'
}

if part a && [[ "$e2e_source" != live ]]; then
    if [[ $replay_ready -eq 1 ]]; then
        end_to_end replay /rtsph2641080p
    else
        row "a. end to end" "replay camera" "not run: the replay mode of camsim.py is not in this tree"
    fi
fi

# ---- b ----
if part b; then
    note "part b: depacketizers, ${depack_seconds} s per recorded stream"
    "$build_dir/bench/depacketizer_bench" "$depack_seconds" >"$work/depack.txt"
    while read -r codec name packets pps mbs memcpy ratio spread fps; do
        [[ "$codec" == h264 || "$codec" == jpeg ]] || continue
        row "b. depacketizer" "$codec $name ($packets packets): RTP MB per CPU-s, memcpy MB per CPU-s, x memcpy (spread)" \
            "$mbs, $memcpy, **$ratio** $spread"
    done <"$work/depack.txt"
fi

# ---- c ----
if part c; then
    if [[ $replay_ready -eq 1 ]]; then
        install_host "$work/host-scale-udp" udp
        install_host "$work/host-scale-tcp" tcp
        probe_camera "$work/host-scale-udp" "$work/scale.params"
        for transport in udp tcp; do
            best=0
            lossy=
            for n in $scale_steps; do
                if [[ -n "$lossy" && $n -gt 64 ]]; then
                    continue
                fi
                note "part c, $transport: $n streams for ${scale_seconds} s"
                before=$(replay_cpu)
                read -r frames cpu kbit lost gap with streams threads rss hwm _ fps \
                    <<<"$(run_module "$work/host-scale-$transport" "$work/scale.params" "$scale_seconds" "$n")"
                after=$(replay_cpu)
                verdict="no frame lost"
                if [[ "$with" != "$n" || "$lost" != 0 ]]; then
                    verdict="**$lost frames lost, $with of $n streams with frames**"
                    lossy=${lossy:-$n}
                elif [[ -z "$lossy" ]]; then
                    best=$n
                fi
                figures=$(awk -v g="$gap" -v n="$n" -v s="$scale_seconds" -v f="$frames" -v c="$cpu" -v t="$threads" \
                    -v r="$rss" -v h="$hwm" -v b="$before" -v a="$after" -v fps="$fps" 'BEGIN {
                        src = (a != "" && b != "") ? sprintf("%.1f %%", (a - b) * 100 / s / n) : "n/a"
                        printf "%d frames in capture-time gaps; %.1f frames/s a stream, CPU %.1f %% of a core a stream (%.3f CPU-s per 1000 frames), " \
                            "%d threads, VmRSS %.1f MB (VmHWM %.1f MB); source %s of a core a stream",
                            g, fps, c * 100 / s / n, (f > 0 ? c * 1000 / f : 0), t, r / 1024, h / 1024, src }')
                row "c. scale" "${transport^^}, $n stream(s), ${scale_seconds} s, start-up included" "$verdict; $figures"
            done
            row "c. scale" "${transport^^}: most streams without a lost frame (of: $scale_steps)" \
                "**$best**${lossy:+; frames lost from $lossy streams}"
        done
    else
        row "c. scale" "UDP and TCP" "waiting for the replay mode of the simulated camera (camsim.py --replay)"
    fi
fi

# What the replay source sent and dropped over the whole run (it says so when it ends).
if [[ $replay_ready -eq 1 ]]; then
    kill "$camera_pid" 2>/dev/null || true
    wait "$camera_pid" 2>/dev/null || true
    stats=$(awk '/^REPLAY-STATS /{sub(/^REPLAY-STATS /, ""); print; exit}' "$work/replay.log")
    row "source" "replay server over the whole run (every session of a and c)" "${stats:-no REPLAY-STATS line}"
fi

# ---- the table ----
echo
echo "Machine: $machine; load average at start $load_start; started $started, ended $(date -u '+%H:%M UTC')"
echo "Command: scripts/bench.sh --long $long --short $short --runs $runs --scale-seconds $scale_seconds --scale \"$scale_steps\""
echo
echo "| part | measure | figure |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
