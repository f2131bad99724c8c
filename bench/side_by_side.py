#!/usr/bin/python3
"""Taskvane beside the terminal monitors, all running in the same time windows.

Each tool refreshes once a second: one or two Taskvane builds under a private X server with
the process page shown, htop (delay 1 s) and btop (update_ms 1000) in terminals of 160 x 50.
The CPU time of every tool's process is read from /proc over three windows; the figure is the
median of the windows, in milliseconds of CPU per second. Measured at the machine's own
processes, with +1,000 and +3,000 sleeping children, then with processes coming and going
(the cost of a new process), and, given --user, all of it again with the tools run as that
user. Start-up: the wall-clock time to the first painted frame (bench_startup --first-frame of
each build, under the same X server) beside htop's first full screen.

Only processes this script started are ever signalled, each by its own identifier.

    bench/side_by_side.py --taskvane after=build-rel [--taskvane before=build-before/out] \\
        [--user nobody] [--window 20] [--windows 3]
"""

import argparse
import fcntl
import os
import pty
import select
import shutil
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

CLK_TCK = os.sysconf('SC_CLK_TCK')
TERM_ROWS, TERM_COLS = 50, 160


def cpu_ticks(pid):
    try:
        with open('/proc/%d/stat' % pid) as f:
            fields = f.read().rsplit(')', 1)[1].split()
        return int(fields[11]) + int(fields[12])  # utime, stime
    except (OSError, IndexError, ValueError):
        return None


def proc_count():
    return sum(1 for n in os.listdir('/proc') if n.isdigit())


class Children:
    """Sleeping children of this script."""

    def __init__(self):
        self.procs = []

    def grow_to(self, n):
        while len(self.procs) < n:
            self.procs.append(subprocess.Popen(['/bin/sleep', '600']))

    def shrink_to(self, n):
        while len(self.procs) > n:
            p = self.procs.pop()
            p.kill()
            p.wait()

    def churn(self, k):
        """Ends the k oldest and starts k new ones."""
        old, self.procs = self.procs[:k], self.procs[k:]
        for p in old:
            p.kill()
        for p in old:
            p.wait()
        self.grow_to(len(self.procs) + k)


def demote(user):
    if not user:
        return None
    import pwd
    pw = pwd.getpwnam(user)

    def run():
        os.setgroups([])
        os.setgid(pw.pw_gid)
        os.setuid(pw.pw_uid)
    return run


class Tool:
    """One monitor started by this script; `pid` is the process whose CPU time counts."""

    def __init__(self, name, popen, pid=None):
        self.name, self.popen = name, popen
        self.pid = pid or popen.pid

    def stop(self):
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGTERM)
            try:
                self.popen.wait(5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait()


def terminal(argv, env, user, log):
    """argv in a pseudo-terminal of TERM_ROWS x TERM_COLS; output is drained into `log`."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', TERM_ROWS, TERM_COLS, 0, 0))
    if user:
        import pwd
        pw = pwd.getpwnam(user)
        os.chown(os.ttyname(slave), pw.pw_uid, -1)
    p = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave, env=env, start_new_session=True,
                         preexec_fn=demote(user), close_fds=True)
    os.close(slave)
    os.set_blocking(master, False)
    log.append(master)
    return p


def drain(fds):
    for fd in list(fds):
        try:
            while os.read(fd, 65536):
                pass
        except BlockingIOError:
            pass
        except OSError:
            fds.remove(fd)


def start_tools(args, home, display, user):
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, 'config'),
               XDG_RUNTIME_DIR=os.path.join(home, 'run'), LANG='C.UTF-8', TERM='xterm-256color',
               DISPLAY=display, TASKVANE_HTTP_CONNECT_TO='127.0.0.1:9')
    env.pop('QT_QPA_PLATFORM', None)
    tools, ptys = [], []
    for label, build in args.taskvane:
        exe = os.path.join(build, 'bin', 'taskvane')
        e = dict(env, TASKVANE_INSTANCE_NAME='side-by-side-' + label)
        p = subprocess.Popen([exe], env=e, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             preexec_fn=demote(user))
        tools.append(Tool('taskvane ' + label, p))
    tools.append(Tool('htop', terminal(['htop', '-d', '10'], env, user, ptys)))
    tools.append(Tool('btop', terminal(['btop'], env, user, ptys)))
    return tools, ptys


def measure(tools, ptys, window, windows):
    """Median over the windows of each tool's CPU milliseconds per second."""
    rates = {t.name: [] for t in tools}
    for _ in range(windows):
        before = {t.name: cpu_ticks(t.pid) for t in tools}
        t0 = time.monotonic()
        while time.monotonic() - t0 < window:
            drain(ptys)
            time.sleep(0.2)
        elapsed = time.monotonic() - t0
        for t in tools:
            after = cpu_ticks(t.pid)
            if after is None or before[t.name] is None:
                continue
            rates[t.name].append((after - before[t.name]) * 1000.0 / CLK_TCK / elapsed)
    return {n: statistics.median(v) if v else float('nan') for n, v in rates.items()}


def churn_measure(tools, ptys, children, per_second, window, windows):
    """CPU microseconds per new process: windows with `per_second` processes ending and starting
    each second, each paired with a quiet window just before it; the median of the pairs."""
    def window_ticks(churn):
        before = {t.name: cpu_ticks(t.pid) for t in tools}
        t0 = time.monotonic()
        while time.monotonic() - t0 < window:
            tick = time.monotonic()
            if churn:
                children.churn(per_second)
            while time.monotonic() - tick < 1.0:
                drain(ptys)
                time.sleep(0.1)
        elapsed = time.monotonic() - t0
        out = {}
        for t in tools:
            after = cpu_ticks(t.pid)
            if after is not None and before[t.name] is not None:
                out[t.name] = (after - before[t.name]) * 1000.0 / CLK_TCK / elapsed
        return out

    costs = {t.name: [] for t in tools}
    for _ in range(windows):
        quiet = window_ticks(False)
        busy = window_ticks(True)
        for n in costs:
            if n in quiet and n in busy:
                costs[n].append((busy[n] - quiet[n]) * 1000.0 / per_second)
    return {n: statistics.median(v) if v else float('nan') for n, v in costs.items()}


def first_frames(args, display, runs=5):
    """Wall-clock ms to the first frame: each Taskvane build's bench_startup, and htop."""
    out = {}
    env = dict(os.environ, DISPLAY=display, TASKVANE_HTTP_CONNECT_TO='127.0.0.1:9')
    env.pop('QT_QPA_PLATFORM', None)
    for label, build in args.taskvane:
        exe = os.path.join(build, 'bench', 'bin', 'bench_startup')
        times = []
        for _ in range(runs):
            e = dict(env, TVBENCH_SPAWNED_NS=str(time.monotonic_ns()))
            r = subprocess.run([exe, '--first-frame'], env=e, capture_output=True, text=True, timeout=60)
            for line in r.stdout.splitlines():
                if line.startswith('first frame:'):
                    times.append(float(line.split()[2]))
        out['taskvane ' + label] = statistics.median(times) if times else float('nan')
    times = []
    for _ in range(runs):
        master, slave = pty.openpty()
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', TERM_ROWS, TERM_COLS, 0, 0))
        t0 = time.monotonic()
        p = subprocess.Popen(['htop', '-d', '10'], stdin=slave, stdout=slave, stderr=slave, start_new_session=True,
                             env=dict(env, TERM='xterm-256color', HOME=tempfile.gettempdir()))
        os.close(slave)
        seen = b''
        while b'Quit' not in seen and time.monotonic() - t0 < 10:
            r, _, _ = select.select([master], [], [], 0.05)
            if r:
                try:
                    seen += os.read(master, 65536)
                except OSError:
                    break
        times.append((time.monotonic() - t0) * 1000.0)
        p.kill()
        p.wait()
        os.close(master)
    out['htop'] = statistics.median(times)
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--taskvane', action='append', default=[], metavar='LABEL=BUILD_DIR', required=True)
    ap.add_argument('--user', help='also run every tool as this user')
    ap.add_argument('--window', type=float, default=20.0, help='seconds per window')
    ap.add_argument('--windows', type=int, default=3)
    ap.add_argument('--counts', default='0,1000,3000', help='sleeping children per step ("" for none)')
    ap.add_argument('--churn', type=int, default=200, help='new processes per second in the churn step')
    args = ap.parse_args()
    args.taskvane = [tuple(s.split('=', 1)) for s in args.taskvane]
    for tool in ('Xvfb', 'htop', 'btop'):
        if not shutil.which(tool):
            sys.exit('%s is missing: run scripts/install-deps.sh' % tool)

    display = ':%d' % (90 + os.getpid() % 100)
    xvfb = subprocess.Popen(['Xvfb', display, '-screen', '0', '1280x1024x24', '-nolisten', 'tcp', '-ac'],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    children = Children()
    results = []
    try:
        # Start-up at ~1,000 processes.
        children.grow_to(1000)
        time.sleep(1.0)
        frames = first_frames(args, display)
        frames_at = proc_count()
        children.shrink_to(0)
        for user in [None] + ([args.user] if args.user else []):
            home = tempfile.mkdtemp(prefix='side-by-side-')
            for sub in ('config/btop', 'run'):
                os.makedirs(os.path.join(home, sub), exist_ok=True)
            with open(os.path.join(home, 'config/btop/btop.conf'), 'w') as f:
                f.write('update_ms = 1000\n')
            os.chmod(os.path.join(home, 'run'), 0o700)
            if user:
                import pwd
                pw = pwd.getpwnam(user)
                for root, dirs, files in os.walk(home):
                    for n in dirs + files + ['.']:
                        os.chown(os.path.join(root, n), pw.pw_uid, pw.pw_gid)
            tools, ptys = start_tools(args, home, display, user)
            try:
                time.sleep(3.0)
                for n in [int(c) for c in args.counts.split(',') if c.strip()]:
                    children.grow_to(n)
                    children.shrink_to(n)
                    time.sleep(5.0)  # every tool has listed the new processes
                    results.append((user or 'root', proc_count(), 'steady',
                                    measure(tools, ptys, args.window, args.windows)))
                children.shrink_to(1000)
                children.grow_to(1000)
                time.sleep(5.0)
                results.append((user or 'root', proc_count(), 'new processes',
                                churn_measure(tools, ptys, children, args.churn, args.window, args.windows)))
            finally:
                for t in tools:
                    t.stop()
                children.shrink_to(0)
                shutil.rmtree(home, ignore_errors=True)
    finally:
        children.shrink_to(0)
        xvfb.terminate()
        xvfb.wait()

    names = [t for t, _ in [('taskvane ' + l, 0) for l, _ in args.taskvane]] + ['htop', 'btop']
    print('\n%-8s %-10s %-16s' % ('user', 'processes', 'what') + ''.join('%16s' % n for n in names))
    for user, count, what, figures in results:
        unit = 'ms CPU per s' if what == 'steady' else 'us per new proc'
        print('%-8s %-10s %-16s' % (user, '~%d' % count, unit) +
              ''.join('%16.1f' % figures.get(n, float('nan')) for n in names))
    print('\nfirst frame at ~%d processes, wall ms (median of 5): ' % frames_at +
          ', '.join('%s %.0f' % (n, v) for n, v in frames.items()))


if __name__ == '__main__':
    main()
