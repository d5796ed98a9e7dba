#!/usr/bin/env python3
"""Runs a command with the test servers up, and stops them all afterwards.

  with_servers.py --bin <bin dir> -- <command...>

Servers:
  nginx on 127.0.0.1:80     content server and object storage (nginx.conf),
                            serving from a temporary folder a copy of www/
                            with the content set (resources/content/media)
                            as its media/: /media/data/*.json are the feeds,
                            their addresses on the built-in content server
                            turned into addresses on this one
  tinyproxy                 when tinyproxy.conf exists beside this script
  misbehaving_server.py     on 127.0.0.2:80, the faulty answers

The copy of www/ also serves media/radio/tone.mp3, a 440 Hz tone made with
lame for each run (25 s, 44.1 kHz, 128 kbit/s, half of full scale).

The command sees, as Windows paths (drive Z: is the Linux root under Wine):
  ORVELLA_WWW          the served copy of www/, which tests may change
  ORVELLA_ACCESS_LOG   nginx's access log (request line, If-Modified-Since)
  ORVELLA_SERVERS_DIR  the temporary folder of this run
and ORVELLA_FAULTY_HOST, the address of the misbehaving server.

With ORVELLA_CAPTURE_AUDIO=1 in its environment, the command's sound goes
to a file instead of a sound card: it runs with a HOME of its own whose
.asoundrc makes ALSA's default device write raw samples to the file that
ORVELLA_AUDIO_FILE names (Wine plays through ALSA when no sound server runs).

Runs of this script on one machine take turns (a lock file), since they all
need the same ports. The command's exit status is the script's; a server
that cannot start fails the run before the command starts.
"""
import argparse
import array
import fcntl
import math
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CONTENT_MEDIA = os.path.join(HERE, "..", "..", "resources", "content", "media")
# The documents name their pictures (and the radio stream) on the widget's
# built-in content server; the served copies name this server instead, as
# the production documents name the production server.
BUILT_IN_CONTENT_URL = "http://content.orvella.example/"
NGINX_ADDRESS = ("127.0.0.1", 80)
FAULTY_ADDRESS = ("127.0.0.2", 80)
LOCK_PATH = os.path.join(tempfile.gettempdir(), "orvella-test-servers.lock")
LOCK_WAIT_SECONDS = 240
START_SECONDS = 10
# Below CTest's own limit, so that the servers are still stopped here when
# a test program hangs; CTest's kill could not be caught.
DEFAULT_COMMAND_SECONDS = 280


class Failure(Exception):
    pass


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def who_listens(port):
    try:
        out = subprocess.run(["ss", "-Hltnp", "sport = :%d" % port],
                             capture_output=True, text=True, timeout=5).stdout
        return " ".join(out.split()) or "an unknown process"
    except (OSError, subprocess.SubprocessError):
        return "an unknown process"


def ensure_free(address):
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        probe.bind(address)
    except PermissionError:
        raise Failure("cannot listen on port %d of %s: permission denied (run as root)"
                      % (address[1], address[0]))
    except OSError:
        raise Failure("port %d on %s is taken by %s"
                      % (address[1], address[0], who_listens(address[1])))
    finally:
        probe.close()


def wait_listening(address, process, name, log=None):
    deadline = time.monotonic() + START_SECONDS
    while time.monotonic() < deadline:
        if process.poll() is not None:
            detail = ""
            if log and os.path.exists(log):
                with open(log, errors="replace") as f:
                    detail = ":\n" + f.read()[-2000:]
            raise Failure("%s ended at start with status %d%s"
                          % (name, process.returncode, detail))
        try:
            with socket.create_connection(address, timeout=0.5):
                return
        except OSError:
            time.sleep(0.1)
    raise Failure("%s does not answer on %s:%d" % (name, address[0], address[1]))


def copy_content_set(www):
    media = os.path.join(www, "media")
    shutil.copytree(CONTENT_MEDIA, media, dirs_exist_ok=True)
    served_url = "http://%s/" % NGINX_ADDRESS[0]
    data = os.path.join(media, "data")
    for name in os.listdir(data):
        path = os.path.join(data, name)
        if not name.endswith(".json"):
            continue
        with open(path, encoding="utf-8") as f:
            text = f.read()
        # Keep the set's own write time, which nginx answers as
        # Last-Modified, not the time of this copy.
        stat = os.stat(path)
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(text.replace(BUILT_IN_CONTENT_URL, served_url))
        os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))


TONE = {"seconds": 25, "rate": 44100, "hertz": 440, "amplitude": 0.5}


def make_radio_tone(www):
    """The radio's test stream, www/media/radio/tone.mp3: a stereo sine."""
    if not shutil.which("lame"):
        print("with_servers: lame is not installed; no radio stream is served", file=sys.stderr)
        return
    folder = os.path.join(www, "media", "radio")
    os.makedirs(folder, exist_ok=True)
    rate = TONE["rate"]
    # One second holds a whole number of periods, so seconds repeat seamlessly.
    second = array.array("h", (round(TONE["amplitude"] * 32767 *
                                     math.sin(2 * math.pi * TONE["hertz"] * i / rate))
                               for i in range(rate)))
    stereo = array.array("h", bytes(4 * rate))
    stereo[0::2] = second
    stereo[1::2] = second
    raw = os.path.join(folder, "tone.raw")
    with open(raw, "wb") as f:
        f.write(stereo.tobytes() * TONE["seconds"])
    subprocess.run(["lame", "--quiet", "-r", "-s", str(rate / 1000), "--bitwidth", "16",
                    "--signed", "--little-endian", "-m", "j", "-b", "128", raw,
                    os.path.join(folder, "tone.mp3")],
                   check=True, stderr=subprocess.DEVNULL)
    os.remove(raw)


def capture_audio(work, env):
    """Points ALSA's default device of the command at a raw file."""
    home = os.path.join(work, "audio-home")
    os.makedirs(home)
    played = os.path.join(work, "audio", "played.raw")
    os.makedirs(os.path.dirname(played))
    with open(os.path.join(home, ".asoundrc"), "w") as f:
        f.write('pcm.!default { type file; slave.pcm "null"; file "%s"; format "raw" }\n'
                % played)
    # Wine's prefix stays the one it would be without the new HOME.
    env.setdefault("WINEPREFIX", os.path.join(os.path.expanduser("~"), ".wine"))
    env["HOME"] = home
    env["ORVELLA_AUDIO_FILE"] = windows_path(played)
    # Wine prefers a PulseAudio server where one runs; without its driver
    # it takes ALSA, for this command only.
    overrides = [item for item in env.get("WINEDLLOVERRIDES", "").split(";") if item]
    env["WINEDLLOVERRIDES"] = ";".join(overrides + ["winepulse.drv=d"])


def proxy_address(conf):
    port, listen = 8888, "127.0.0.1"
    with open(conf) as f:
        for line in f:
            words = line.split()
            if len(words) >= 2 and words[0] == "Port" and words[1].isdigit():
                port = int(words[1])
            elif len(words) >= 2 and words[0] == "Listen":
                listen = words[1]
    return listen, port


def stop(process):
    """Ends a server and everything it started (its own process group)."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            pass
    try:
        # Workers of nginx may outlive a master that is already gone.
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        pass


def terminated(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="the folder of the test programs")
    parser.add_argument("--timeout", type=float, default=DEFAULT_COMMAND_SECONDS)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command after --")

    for signum in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, terminated)

    lock = open(LOCK_PATH, "w")
    deadline = time.monotonic() + LOCK_WAIT_SECONDS
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except BlockingIOError:
            if time.monotonic() > deadline:
                print("with_servers: another run kept the servers for %d s"
                      % LOCK_WAIT_SECONDS, file=sys.stderr)
                return 1
            time.sleep(0.5)

    work = tempfile.mkdtemp(prefix="orvella-servers-")
    # nginx's workers give up root: they must be able to read the copy.
    os.chmod(work, 0o755)
    servers = []
    status = 1
    try:
        ensure_free(NGINX_ADDRESS)
        ensure_free(FAULTY_ADDRESS)

        www = os.path.join(work, "www")
        shutil.copytree(os.path.join(HERE, "www"), www)
        copy_content_set(www)
        make_radio_tone(www)
        for folder in ("logs", "temp"):
            os.makedirs(os.path.join(work, folder))
        error_log = os.path.join(work, "logs", "error.log")
        access_log = os.path.join(work, "logs", "access.log")
        # Created now, so a test may read it before the first request.
        open(access_log, "w").close()

        nginx = subprocess.Popen(
            ["nginx", "-p", work + "/", "-c", os.path.join(HERE, "nginx.conf"),
             "-e", error_log, "-g", "daemon off;"],
            cwd=work, start_new_session=True, stdin=subprocess.DEVNULL)
        servers.append(nginx)
        wait_listening(NGINX_ADDRESS, nginx, "nginx", error_log)

        proxy_conf = os.path.join(HERE, "tinyproxy.conf")
        if os.path.exists(proxy_conf):
            proxy_log = os.path.join(work, "logs", "tinyproxy.log")
            with open(proxy_log, "w") as log:
                proxy = subprocess.Popen(["tinyproxy", "-d", "-c", proxy_conf], cwd=work,
                                         start_new_session=True, stdin=subprocess.DEVNULL,
                                         stdout=log, stderr=subprocess.STDOUT)
            servers.append(proxy)
            wait_listening(proxy_address(proxy_conf), proxy, "tinyproxy", proxy_log)

        faulty = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "misbehaving_server.py"),
             "--address", FAULTY_ADDRESS[0], "--port", str(FAULTY_ADDRESS[1])],
            cwd=work, start_new_session=True, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL)
        servers.append(faulty)
        wait_listening(FAULTY_ADDRESS, faulty, "misbehaving_server.py")

        env = dict(os.environ)
        env["ORVELLA_WWW"] = windows_path(www)
        env["ORVELLA_ACCESS_LOG"] = windows_path(access_log)
        env["ORVELLA_SERVERS_DIR"] = windows_path(work)
        env["ORVELLA_FAULTY_HOST"] = FAULTY_ADDRESS[0]
        env["ORVELLA_BIN"] = os.path.abspath(args.bin)
        if os.environ.get("ORVELLA_CAPTURE_AUDIO") == "1":
            capture_audio(work, env)

        program = subprocess.Popen(command, cwd=args.bin, env=env, start_new_session=True)
        try:
            status = program.wait(timeout=args.timeout)
        except subprocess.TimeoutExpired:
            print("with_servers: %s did not end within %d s" % (command[0], args.timeout),
                  file=sys.stderr)
            stop(program)
            status = 1
        except KeyboardInterrupt:
            stop(program)
            raise
        if status != 0 and os.path.getsize(error_log) > 0:
            with open(error_log, errors="replace") as f:
                print("with_servers: nginx error log:\n" + f.read()[-3000:], file=sys.stderr)
    except Failure as failure:
        print("with_servers: " + str(failure), file=sys.stderr)
        status = 1
    except KeyboardInterrupt:
        status = 1
    finally:
        for server in reversed(servers):
            stop(server)
        if not os.environ.get("ORVELLA_KEEP_SERVERS_DIR"):
            shutil.rmtree(work, ignore_errors=True)
        else:
            print("with_servers: kept " + work, file=sys.stderr)
        lock.close()
    return status


if __name__ == "__main__":
    sys.exit(main())
