"""FTP over TLS for bench/compare.py: a test authority and a server
certificate made with the openssl command, the settings of a vsftpd that
requires explicit TLS, and how curl and lftp are told to use it.

vsftpd keeps its stock protocol versions and ciphers. Its stock ssl_ciphers
(DES-CBC3-SHA) leaves no TLS 1.2 cipher that OpenSSL 3 offers, so every client
negotiates TLS 1.3; the server's log (debug_ssl) names what each connection
negotiated and whether the data connection resumed the control connection's
session, which the server requires (require_ssl_reuse).

A TLS 1.3 server sends session tickets on every connection. A client that
closes an upload's data connection without reading them makes the close a
reset, and the server may lose the end of the file: vsftpd then answers 426.
curl 7.88.1 closes that way, so some of its uploads fail by chance. Such a
run is counted as failed and reported, never retried in silence, and curl is
not moved to TLS 1.2 (it would then be measured with another protocol than
the other clients).
"""

import os
import re
import subprocess

SERVER_CN = "127.0.0.1"


class CertError(Exception):
    pass


OPENSSL_CONFIG = """\
# The benchmark's own: nothing else reads it.
openssl_conf = default_conf_section
[ default_conf_section ]
[ req ]
distinguished_name = req_dn
prompt = no
[ req_dn ]
CN = unused
[ v3_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ v3_server ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
subjectAltName = IP:%s
"""


class Certs:
    """The test authority (`ca`, what every client trusts) and the server's
    certificate and key, all PEM files in one folder."""

    def __init__(self, folder):
        self.folder = folder
        self.ca = os.path.join(folder, "ca.pem")
        self.cert = os.path.join(folder, "server.pem")
        self.key = os.path.join(folder, "server.key")


def make_certs(folder, address):
    """Makes an ECDSA P-256 authority and a certificate it issues for the IP
    address `address` (its only name) in `folder`, which must not exist."""
    os.makedirs(folder, mode=0o700)
    certs = Certs(folder)
    conf = os.path.join(folder, "openssl.cnf")
    with open(conf, "w") as f:
        f.write(OPENSSL_CONFIG % address)
    env = dict(os.environ, OPENSSL_CONF=conf)
    for name in ("RANDFILE", "SSL_CERT_FILE", "SSL_CERT_DIR"):
        env.pop(name, None)
    ca_key = os.path.join(folder, "ca.key")
    csr = os.path.join(folder, "server.csr")
    subject = "/O=zorvexrun benchmark/CN="

    def openssl(*args):
        done = subprocess.run(["openssl"] + list(args), env=env, cwd=folder,
                              stdin=subprocess.DEVNULL, capture_output=True,
                              text=True)
        if done.returncode != 0:
            raise CertError("openssl %s: %s" % (args[0], done.stderr.strip()))

    for key in (ca_key, certs.key):
        openssl("genpkey", "-algorithm", "EC", "-pkeyopt",
                "ec_paramgen_curve:P-256", "-out", key)
        os.chmod(key, 0o600)
    openssl("req", "-new", "-x509", "-key", ca_key, "-sha256", "-days", "30",
            "-subj", subject + "zorvexrun benchmark CA", "-extensions",
            "v3_ca", "-out", certs.ca)
    openssl("req", "-new", "-key", certs.key, "-subj", subject + address,
            "-out", csr)
    openssl("x509", "-req", "-in", csr, "-CA", certs.ca, "-CAkey", ca_key,
            "-set_serial", "0x" + os.urandom(8).hex(), "-sha256", "-days",
            "30", "-extfile", conf, "-extensions", "v3_server", "-out",
            certs.cert)
    openssl("verify", "-CAfile", certs.ca, "-verify_ip", address, certs.cert)
    return certs


def server_settings(certs):
    """vsftpd's settings for explicit TLS, required for the login and for
    every data connection, each data connection resuming the control
    connection's session. Protocol versions and ciphers stay as shipped."""
    return [
        "ssl_enable=YES", "implicit_ssl=NO",
        "rsa_cert_file=" + certs.cert,
        "rsa_private_key_file=" + certs.key,
        "force_local_logins_ssl=YES", "force_local_data_ssl=YES",
        "require_ssl_reuse=YES",
        # One log line per TLS connection: version, cipher, resumption.
        "debug_ssl=YES",
    ]


# vsftpd 3.0.3, debug_ssl: ... DEBUG: Client "127.0.0.1", "SSL version:
# TLSv1.3, SSL cipher: TLS_AES_256_GCM_SHA384, reused, no cert"
NEGOTIATED = re.compile(r'"SSL version: ([^,]+), SSL cipher: ([^,]+), '
                        r'(not reused|reused)')


def negotiated(log_text):
    """What the TLS connections of a stretch of the server's log negotiated:
    one (version, cipher, resumed) per connection, in order."""
    return [(m.group(1), m.group(2), m.group(3) == "reused")
            for m in NEGOTIATED.finditer(log_text)]


def describe(connections):
    """One line: the control connection's version and cipher and, for the
    data connections, whether they resumed its session."""
    if not connections:
        return "no TLS connection in the server's log"
    version, cipher, _ = connections[0]
    data = connections[1:]
    text = "%s %s" % (version, cipher)
    if data:
        resumed = sum(1 for c in data if c[2])
        text += ", %d data connection%s, %d resumed" % (
            len(data), "" if len(data) == 1 else "s", resumed)
        others = {(v, c) for v, c, _ in data} - {(version, cipher)}
        if others:
            text += " (data: %s)" % ", ".join(
                "%s %s" % o for o in sorted(others))
    return text


def curl_argv(netrc, ca, url):
    """curl over explicit TLS, the test authority alone trusted."""
    def argv(op, f, outdir):
        a = ["curl", "-sS", "--ssl-reqd", "--cacert", ca, "--netrc-file",
             netrc]
        if op == "put":
            return a + ["-T", f.up_local, url + f.up_name]
        return a + ["-o", os.path.join(outdir, f.name), url + f.name]
    return argv


def lftp_script(ca, user, password, host, port, action):
    """An lftp script that requires TLS on the login and the data
    connections and trusts the test authority."""
    return ("set ftp:ssl-force true\n"
            "set ftp:ssl-protect-data true\n"
            "set ssl:ca-file %s\n"
            "set ssl:verify-certificate true\n"
            "set net:max-retries 1\n"
            "set cmd:fail-exit yes\n"
            "open -u %s,%s ftp://%s:%d\n%s\n"
            % (ca, user, password, host, port, action))


CUT_UPLOAD_NOTE = (
    "an upload that ends in 426 with the file cut short is the client closing "
    "the TLS data connection without reading the server's TLS 1.3 session "
    "tickets (the close becomes a reset); the run is counted as failed")
