#!/usr/bin/env python3
"""Static analysis gate: clang-tidy (checks in .clang-tidy) and cppcheck over every translation unit of
src/ in the native, 64-bit Windows and 32-bit Windows builds, in parallel on the machine's cores.

The units and their flags come from each build's compile database (build/<preset>/compile_commands.json,
written by CMake at configure time and never committed); each preset is configured (quick when it
was already), and the sources generated from the criteria grammar are generated; nothing else is built.
Prints every finding once (with the presets and tools that reported it), then one summary line with
the counts, the wall time and the tools' processor time. Exits 1 when there is any finding or a unit could not be analysed.

clang's path-sensitive analyzer (the clang-analyzer-* checks, most of clang-tidy's time) runs once
per source file, in the first build of ANALYZER_BUILDS that compiles it: the 64-bit Windows build for
the shipped code, portable units included, and the native build for what only it compiles. Every
other check of .clang-tidy and cppcheck run on every build, the 32-bit one included, where its own
narrowing and its own branches are. --analyzer-everywhere runs the analyzer on every build.
The runs are scheduled longest first, by the processor time each took in the previous run (kept in
build/static-analysis-timings.json), else by source size, so that the cores finish together.

  scripts/static-analysis.py                      every unit of all three builds, both tools
  scripts/static-analysis.py -j 1 --presets native --tools clang-tidy src/base/time_source.cpp
                                                  iterate on single units (paths or parts of them)

Generated code (the criteria parser and scanner) is analysed as the units it is, with the same checks.
Findings at lines of a grammar file (.y/.l, through the generators' #line directives) count like any
other. Findings in the generators' own fixed code count too, unless their (generated file, check) pair
is one of the reviewed ones in scripts/static-analysis-skeleton.txt; those are listed, not counted.
"""

import argparse
import concurrent.futures
import json
import os
import re
import resource
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRESETS = ("native", "windows64", "windows")
TOOLS = ("clang-tidy", "cppcheck")
ANALYZER_BUILDS = ("windows64", "native", "windows")
TIMINGS = os.path.join(ROOT, "build", "static-analysis-timings.json")
# Added to a clang-tidy run that keeps every check of .clang-tidy but the analyzer's.
NO_ANALYZER = "--checks=-clang-analyzer-*"
SUPPRESSIONS = os.path.join(ROOT, "scripts", "cppcheck-suppressions.txt")
SKELETON = os.path.join(ROOT, "scripts", "static-analysis-skeleton.txt")
# cppcheck reads neither the MinGW headers nor the C++ library's; its platform and library files
# describe the Windows types and functions instead.
CPPCHECK_PLATFORM = {"native": ("unix64", "posix"), "windows64": ("win64", "windows"),
                     "windows": ("win32A", "windows")}
CPPCHECK_DEFINES = {"native": [], "windows64": ["_WIN32", "_WIN64", "__MINGW32__", "__MINGW64__"],
                    "windows": ["_WIN32", "__MINGW32__"]}
DIAGNOSTIC = re.compile(r"^(?P<file>[^ :][^:]*):(?P<line>\d+):(?P<col>\d+): "
                        r"(?P<severity>warning|error|style|performance|portability|information): "
                        r"(?P<message>.*?)(?: \[(?P<check>[^\]]+)\])?$")


def log(text):
    print(text, flush=True)


def run(args, **kwargs):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


def prepare(preset):
    """Configures the preset when needed and generates its generated sources; returns its database."""
    build = os.path.join(ROOT, "build", preset)
    database = os.path.join(build, "compile_commands.json")
    # Configuring again is quick and brings the database up to date with the sources.
    result = run(["cmake", "--preset", preset], cwd=ROOT)
    if result.returncode != 0:
        sys.exit(f"static-analysis: cmake --preset {preset} failed:\n{result.stdout}{result.stderr}")
    with open(database, encoding="utf-8") as stream:
        entries = json.load(stream)
    generated = [os.path.relpath(entry["file"], build) for entry in entries
                 if entry["file"].startswith(build + os.sep)]
    if generated:
        result = run(["ninja", "-C", build] + sorted(set(generated)))
        if result.returncode != 0:
            sys.exit(f"static-analysis: generating sources in {build} failed:\n{result.stdout}{result.stderr}")
    return build, entries


def cross_arguments(compiler):
    """For a MinGW compiler: clang's target and the C++ library headers that compiler uses."""
    name = os.path.basename(compiler)
    match = re.match(r"^(.*-w64-mingw32)-", name)
    if not match:
        return []
    result = run([compiler, "-x", "c++", "-E", "-v", "-"], input="")
    listing = result.stderr.split("#include <...> search starts here:")[1].split("End of search list.")[0]
    directories = [os.path.normpath(line.strip()) for line in listing.splitlines() if "/include/c++" in line]
    arguments = [f"--target={match.group(1)}", "-nostdinc++"]
    for directory in directories:
        arguments += ["-cxx-isystem", directory]
    return arguments


def unit_arguments(entry):
    arguments = entry.get("arguments") or shlex.split(entry["command"])
    return arguments


def select_units(preset, build, entries, only):
    units = []
    for entry in entries:
        path = entry["file"]
        in_sources = path.startswith(os.path.join(ROOT, "src") + os.sep)
        generated = path.startswith(os.path.join(build, "src") + os.sep)
        # Resource scripts (windres) are in the database too; only C and C++ units are analysed.
        if not (in_sources or generated) or not path.endswith((".c", ".cc", ".cpp", ".cxx")):
            continue
        if only and not any(part in path for part in only):
            continue
        units.append((path, entry))
    return units


def source_key(build, path):
    """A unit's name across builds: its path in the tree, or in the build tree for generated code."""
    if path.startswith(build + os.sep):
        return os.path.join("<build>", os.path.relpath(path, build))
    return os.path.relpath(path, ROOT)


def analyzer_builds(presets, units_of, everywhere):
    """The (preset, source) pairs whose clang-tidy run includes the path-sensitive analyzer."""
    chosen = set()
    seen = set()
    for preset in sorted(presets, key=ANALYZER_BUILDS.index):
        for key in units_of[preset]:
            if everywhere or key not in seen:
                chosen.add((preset, key))
            seen.add(key)
    return chosen


def read_timings():
    try:
        with open(TIMINGS, encoding="utf-8") as stream:
            timings = json.load(stream)
        return timings if isinstance(timings, dict) else {}
    except (OSError, ValueError):
        return {}


def job_name(job):
    tool, preset, path, command, _ = job
    build = os.path.join(ROOT, "build", preset)
    analyzer = " analyzer" if tool == "clang-tidy" and NO_ANALYZER not in command else ""
    return f"{tool}{analyzer} {preset} {source_key(build, path)}"


def estimate(job, timings):
    """Expected seconds of a run: the previous run's, else a guess from the source's size (the
    analyzer's runs first, then the other clang-tidy runs, then cppcheck's)."""
    name = job_name(job)
    if isinstance(timings.get(name), (int, float)):
        return timings[name]
    kind = " ".join(name.split(" ")[:-2])
    weight = {"clang-tidy analyzer": 1e-3, "clang-tidy": 1e-4}.get(kind, 3e-5)
    try:
        return weight * os.path.getsize(job[2])
    except OSError:
        return 0.0


def tidy_database(preset, units, work):
    """A database of the selected units, with the flags clang needs to read MinGW's headers."""
    directory = os.path.join(work, preset)
    os.makedirs(directory, exist_ok=True)
    cache = {}
    rewritten = []
    for path, entry in units:
        arguments = unit_arguments(entry)
        compiler = arguments[0]
        if compiler not in cache:
            cache[compiler] = cross_arguments(compiler)
        # Compiler warnings are findings of their own; -Werror would turn them into parse failures.
        arguments = [arguments[0]] + cache[compiler] + [a for a in arguments[1:] if a != "-Werror"]
        rewritten.append({"directory": entry["directory"], "file": path, "arguments": arguments})
    with open(os.path.join(directory, "compile_commands.json"), "w", encoding="utf-8") as stream:
        json.dump(rewritten, stream, indent=1)
    return directory


def cppcheck_command(preset, path, entry):
    arguments = unit_arguments(entry)
    platform, library = CPPCHECK_PLATFORM[preset]
    command = ["cppcheck", "--quiet", "--language=c++", "--std=c++20", f"--platform={platform}",
               f"--library={library}", "--enable=warning,performance,portability",
               f"--suppressions-list={SUPPRESSIONS}", "--error-exitcode=1",
               "--template={file}:{line}:{column}: {severity}: {message} [{id}]"]
    command += [f"-D{define}" for define in CPPCHECK_DEFINES[preset]]
    index = 0
    while index < len(arguments):
        argument = arguments[index]
        if argument in ("-I", "-D", "-U") and index + 1 < len(arguments):
            argument += arguments[index + 1]
            index += 1
        if argument.startswith("-I"):
            command.append("-I" + os.path.normpath(os.path.join(entry["directory"], argument[2:])))
        elif argument.startswith(("-D", "-U")):
            command.append(argument)
        index += 1
    command.append(path)
    return command


def read_skeleton_list():
    """The reviewed (generated file, check) pairs of the generators' own code."""
    pairs = set()
    with open(SKELETON, encoding="utf-8") as stream:
        for line in stream:
            words = line.split("#", 1)[0].split()
            if len(words) == 2:
                pairs.add((words[0], words[1]))
    return pairs


def analyse(job):
    """Runs one tool over one unit; returns its output and the processor time it took."""
    tool, preset, path, command, cwd = job
    with tempfile.TemporaryFile("w+") as out, tempfile.TemporaryFile("w+") as err:
        process = subprocess.Popen(command, cwd=cwd, stdout=out, stderr=err, text=True)
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(command, process.returncode, out.read(), err.read())
    return job, result, usage.ru_utime + usage.ru_stime


def parse(tool, preset, path, result):
    """Findings (key, text block) of one run; a run that failed without any finding is one itself."""
    findings = []
    current = None
    # clang-tidy reports on standard output, cppcheck on standard error.
    for line in (result.stdout + "\n" + result.stderr).splitlines():
        match = DIAGNOSTIC.match(line)
        if match:
            current = [line]
            findings.append((match, current))
        elif current is not None and line.strip():
            current.append(line)
    if result.returncode != 0 and not findings:
        text = (result.stdout + result.stderr).strip() or f"exit status {result.returncode}"
        findings.append((None, [f"{path}: {tool} failed ({preset}):", text]))
    return findings


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--presets", default=",".join(PRESETS))
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument("--timings", action="store_true", help="list the ten slowest runs")
    parser.add_argument("--analyzer-everywhere", action="store_true",
                        help="run the path-sensitive analyzer on every build, not once per source")
    parser.add_argument("only", nargs="*", help="analyse only units whose path contains one of these")
    options = parser.parse_args()
    presets = [p for p in options.presets.split(",") if p]
    tools = [t for t in options.tools.split(",") if t]
    for name in presets:
        if name not in PRESETS:
            sys.exit(f"static-analysis: unknown preset '{name}' (take {', '.join(PRESETS)})")
    for name in tools:
        if name not in TOOLS:
            sys.exit(f"static-analysis: unknown tool '{name}' (take {', '.join(TOOLS)})")
        if not shutil.which(name):
            sys.exit(f"static-analysis: {name} is not installed (scripts/install-deps.sh installs it)")
    only = [os.path.abspath(p) if os.path.exists(p) else p for p in options.only]

    started = time.monotonic()
    # Databases of this run only, so that runs side by side never read each other's.
    os.makedirs(os.path.join(ROOT, "build"), exist_ok=True)
    work = tempfile.mkdtemp(prefix="static-analysis-", dir=os.path.join(ROOT, "build"))
    jobs = []
    unit_count = 0
    # The presets are configured side by side: each is a short, mostly waiting, CMake run.
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(presets)) as pool:
        prepared = dict(zip(presets, pool.map(prepare, presets)))
    selected = {preset: select_units(preset, *prepared[preset], only) for preset in presets}
    with_analyzer = analyzer_builds(presets, {preset: [source_key(prepared[preset][0], path)
                                                        for path, _ in selected[preset]]
                                              for preset in presets}, options.analyzer_everywhere)
    for preset in presets:
        build = prepared[preset][0]
        units = selected[preset]
        unit_count += len(units)
        if "clang-tidy" in tools and units:
            database = tidy_database(preset, units, work)
            for path, entry in units:
                command = ["clang-tidy", "--quiet", f"-p={database}",
                           f"--header-filter=^{re.escape(os.path.join(ROOT, 'src'))}/", path]
                if (preset, source_key(build, path)) not in with_analyzer:
                    command.insert(2, NO_ANALYZER)
                jobs.append(("clang-tidy", preset, path, command, ROOT))
        if "cppcheck" in tools:
            for path, entry in units:
                jobs.append(("cppcheck", preset, path, cppcheck_command(preset, path, entry), entry["directory"]))
    if not jobs:
        shutil.rmtree(work, ignore_errors=True)
        sys.exit("static-analysis: no unit selected")
    # Longest first, so that no long run starts when the other cores are about to finish.
    previous = read_timings()
    jobs.sort(key=lambda job: estimate(job, previous), reverse=True)
    log(f"static-analysis: {unit_count} units ({', '.join(presets)}), {len(jobs)} runs of "
        f"{' and '.join(tools)} on {options.jobs} cores")

    reviewed_skeleton = read_skeleton_list()
    timings = []
    counted = {}     # key -> (block, set of "preset tool")
    skeleton = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=options.jobs) as pool:
        for job, result, seconds in pool.map(analyse, jobs):
            tool, preset, path, _, _ = job
            timings.append((seconds, job_name(job)))
            for match, block in parse(tool, preset, path, result):
                if match is None:
                    key = (path, tool, preset)
                    target = counted
                else:
                    location = os.path.normpath(os.path.join(job[4], match.group("file")))
                    beside = os.path.join(os.path.dirname(path), match.group("file"))
                    if not os.path.exists(location) and os.path.exists(beside):
                        location = os.path.normpath(beside)  # a #line name relative to the unit
                    block[0] = block[0].replace(match.group("file"), location, 1)
                    key = (location, match.group("line"), match.group("col"), match.group("check"),
                           match.group("message"))
                    in_build = location.startswith(os.path.join(ROOT, "build") + os.sep)
                    reviewed = (os.path.basename(location), match.group("check")) in reviewed_skeleton
                    target = skeleton if in_build and reviewed else counted
                entry = target.setdefault(key, (block, set()))
                entry[1].add(f"{preset} {tool}")

    shutil.rmtree(work, ignore_errors=True)
    # The processor times for the next run's order (runs not made this time keep theirs).
    previous.update({name: round(seconds, 2) for seconds, name in timings})
    with open(TIMINGS, "w", encoding="utf-8") as stream:
        json.dump(previous, stream, indent=0, sort_keys=True)
    for key in sorted(counted):
        block, where = counted[key]
        log(f"{block[0]}  ({'; '.join(sorted(where))})")
        for line in block[1:]:
            log(line)
    if skeleton:
        log(f"static-analysis: {len(skeleton)} reviewed findings in generator skeletons, not counted "
            f"({os.path.relpath(SKELETON, ROOT)}):")
        for key in sorted(skeleton):
            log(f"  {skeleton[key][0][0]}  ({'; '.join(sorted(skeleton[key][1]))})")
    if options.timings:
        log("static-analysis: slowest runs (processor seconds):")
        for seconds, name in sorted(timings, reverse=True)[:10]:
            log(f"  {seconds:6.1f}  {name}")
    elapsed = time.monotonic() - started
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = usage.ru_utime + usage.ru_stime
    log(f"static-analysis: {len(counted)} findings in {unit_count} units; "
        f"wall time {elapsed:.0f} s, {cpu:.0f} s of processor time ({cpu / options.jobs:.0f} s on {options.jobs} idle cores)")
    return 1 if counted else 0


if __name__ == "__main__":
    sys.exit(main())
