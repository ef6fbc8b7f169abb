#!/usr/bin/env python3
"""Debian's nginx as the update server, set up the way docs/nginx/quillon-updates.conf
tells a vendor to: HTTPS with a certificate for 'localhost' from a test CA,
plain HTTP that redirects every request to HTTPS, gzip on, the version file
sent with Cache-Control: no-cache. Only the ports, the served folder and the
certificate files differ from that example.

nginx runs in the foreground as a child of the test, on loopback ports picked
at start, with its configuration, logs, pid file, temporary folders and
certificates in the caller's work directory, so that two test runs (one per
Wine prefix) never share anything.

    with NginxServer(root, work_dir) as server:
        server.https_url, server.http_url, server.ca_certificate
    NginxServer(root, work_dir, plain_http=True)   # plain HTTP serves the files too
        server.requests()   # [(path, status), ...] as nginx logged them

The CA is trusted only inside one Wine prefix, with trust_ca_in_prefix."""
import os
import pathlib
import secrets
import shutil
import socket
import subprocess
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
EXAMPLE_CONFIG = ROOT / "docs" / "nginx" / "quillon-updates.conf"
# Debian installs nginx in /usr/sbin, which a user's search path lacks.
NGINX = shutil.which("nginx", path=os.pathsep.join([os.environ.get("PATH", ""), "/usr/sbin"])) or "nginx"

# What the example names, and what the fixture puts in its place.
EXAMPLE_HTTP_LISTEN = "listen 80;"
EXAMPLE_HTTPS_LISTEN = "listen 443 ssl;"
EXAMPLE_REDIRECT = "return 301 https://$host$request_uri;"
EXAMPLE_CERTIFICATE = "/etc/ssl/quillon-updates/fullchain.pem"
EXAMPLE_KEY = "/etc/ssl/quillon-updates/privkey.pem"
EXAMPLE_ROOT = "root /srv/quillon-updates;"

MAIN_CONFIG = """\
{user}
daemon off;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 64; }}
http {{
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    log_format quillon '$status $request_uri';
    access_log {work}/access.log quillon;
    client_body_temp_path {work}/temp/client_body;
    proxy_temp_path {work}/temp/proxy;
    fastcgi_temp_path {work}/temp/fastcgi;
    uwsgi_temp_path {work}/temp/uwsgi;
    scgi_temp_path {work}/temp/scgi;
{site}
}}
"""

SERVER_EXTENSIONS = """\
[server]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
"""


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], check=True, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(directory):
    """A CA of its own (a random name, so that two such CAs never stand for
    each other) and a server certificate for 'localhost' that it signed. Kept
    when present."""
    directory = pathlib.Path(directory)
    if (directory / "complete").exists():
        return
    directory.mkdir(parents=True, exist_ok=True)
    name = f"/O=Quillon Test Servers/CN=Quillon Test Server CA {secrets.token_hex(4)}"
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
             "-days", "3650", "-subj", name, "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=directory)
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr",
             "-subj", "/CN=localhost", cwd=directory)
    (directory / "server.ext").write_text(SERVER_EXTENSIONS, encoding="ascii")
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
             "-days", "825", "-sha256", "-extfile", "server.ext", "-extensions", "server", "-out", "server.pem",
             cwd=directory)
    # The chain a server sends: its own certificate, then the CA's.
    (directory / "fullchain.pem").write_bytes((directory / "server.pem").read_bytes()
                                              + (directory / "ca.pem").read_bytes())
    (directory / "complete").touch()


def site_config(root, http_port, https_port, certificate, key, https_extra="", plain_http=False):
    """The example config with this machine's ports, folder and certificate;
    https_extra (nginx directives, e.g. test-only locations) goes at the end
    of the HTTPS server block. plain_http: plain HTTP serves the folder
    itself instead of redirecting, as a server set up against the example's
    advice does (where anyone on the way can rewrite the answers)."""
    text = EXAMPLE_CONFIG.read_text(encoding="utf-8")
    replacements = [
        (EXAMPLE_HTTP_LISTEN, f"listen 127.0.0.1:{http_port};"),
        (EXAMPLE_HTTPS_LISTEN, f"listen 127.0.0.1:{https_port} ssl;"),
        (EXAMPLE_REDIRECT, f"root {root};" if plain_http else f"return 301 https://$host:{https_port}$request_uri;"),
        (EXAMPLE_CERTIFICATE, str(certificate)),
        (EXAMPLE_KEY, str(key)),
        (EXAMPLE_ROOT, f"root {root};"),
    ]
    for old, new in replacements:
        if text.count(old) != 1:
            raise AssertionError(f"the example config no longer has exactly one {old!r}")
        text = text.replace(old, new)
    if https_extra:
        end = text.rstrip().rfind("}")
        text = text[:end] + https_extra.rstrip() + "\n" + text[end:]
    return text


class NginxServer:
    def __init__(self, root, work_dir, https_extra="", plain_http=False):
        self.root = pathlib.Path(root).resolve()
        self.work_dir = pathlib.Path(work_dir).resolve()
        self.https_extra = https_extra
        self.plain_http = plain_http
        self.certificates = self.work_dir / "certificates"
        self.ca_certificate = self.certificates / "ca.pem"
        self.process = None
        self.http_port = self.https_port = None
        self.https_url = self.http_url = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def start(self, timeout=20):
        make_certificates(self.certificates)
        for folder in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"):
            (self.work_dir / "temp" / folder).mkdir(parents=True, exist_ok=True)
        self.root.mkdir(parents=True, exist_ok=True)
        # A port picked free can be taken before nginx binds it: try again.
        for _ in range(5):
            if self._start_on(_free_port(), _free_port(), timeout):
                return self
        raise AssertionError(f"nginx did not start: {self._error_log()}")

    def _start_on(self, http_port, https_port, timeout):
        if http_port == https_port:
            return False
        site = site_config(self.root, http_port, https_port, self.certificates / "fullchain.pem",
                           self.certificates / "server.key", self.https_extra, self.plain_http)
        # Started by root, nginx would hand its workers to 'nobody', who may
        # not read the test's folders; as anyone else the line is ignored.
        user = "user root;" if os.geteuid() == 0 else ""
        config = self.work_dir / "nginx.conf"
        config.write_text(MAIN_CONFIG.format(user=user, work=self.work_dir, site=site), encoding="utf-8")
        (self.work_dir / "access.log").write_text("")
        self.process = subprocess.Popen(
            [NGINX, "-p", str(self.work_dir), "-c", str(config), "-e", str(self.work_dir / "error.log")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        end = time.time() + timeout
        while time.time() < end:
            if self.process.poll() is not None:
                self.process = None
                return False
            if _answers(http_port) and _answers(https_port):
                self.http_port, self.https_port = http_port, https_port
                self.http_url = f"http://localhost:{http_port}"
                self.https_url = f"https://localhost:{https_port}"
                return True
            time.sleep(0.05)
        self.stop()
        return False

    def stop(self):
        if self.process is None:
            return
        self.process.terminate()  # a fast shutdown of master and workers
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process = None

    def requests(self):
        """(path, status) of every request nginx answered since start, in order."""
        log = self.work_dir / "access.log"
        entries = []
        for line in log.read_text(encoding="utf-8", errors="replace").splitlines():
            status, _, path = line.partition(" ")
            entries.append((path, int(status)))
        return entries

    def clear_requests(self):
        # nginx keeps the file open and appends: truncating it is enough.
        os.truncate(self.work_dir / "access.log", 0)

    def _error_log(self):
        try:
            return (self.work_dir / "error.log").read_text(encoding="utf-8", errors="replace")[-2000:]
        except OSError:
            return "(no error log)"


def _windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def _trust_root(action, ca_certificate, bin_dir):
    ca_certificate = pathlib.Path(ca_certificate)
    der = ca_certificate.with_suffix(".der")
    subprocess.run(["openssl", "x509", "-in", str(ca_certificate), "-outform", "DER", "-out", str(der)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    # Output through a file, not a pipe: a Wine service that the crypto
    # starts on first use inherits the handles and would hold a pipe open.
    with tempfile.TemporaryFile("w+", encoding="utf-8") as output:
        subprocess.run(["wine", str(pathlib.Path(bin_dir) / "trust_root.exe"), action, _windows_path(der)],
                       stdout=output, stderr=subprocess.DEVNULL, timeout=120)
        output.seek(0)
        answer = output.read().strip()
    if answer != "ok":
        raise AssertionError(f"trust_root.exe {action}: {answer}")


def trust_ca_in_prefix(ca_certificate, bin_dir):
    """Trusts the CA (PEM) for TLS in the current WINEPREFIX's machine root
    store, and nowhere else."""
    _trust_root("add", ca_certificate, bin_dir)


def untrust_ca_in_prefix(ca_certificate, bin_dir):
    _trust_root("remove", ca_certificate, bin_dir)


if __name__ == "__main__":
    import argparse
    parser = argparse.ArgumentParser(description="Serve a folder with nginx as the update server.")
    parser.add_argument("--root", required=True)
    parser.add_argument("--work-dir", required=True)
    arguments = parser.parse_args()
    with NginxServer(arguments.root, arguments.work_dir) as server:
        print(server.https_url, server.http_url, server.ca_certificate, flush=True)
        try:
            server.process.wait()
        except KeyboardInterrupt:
            pass
